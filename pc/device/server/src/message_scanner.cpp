#include "server/message_scanner.h"

#include <cstring>
#include <initializer_list>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "platform/byte_order.h"
#include "server/ring.h"

namespace server {
namespace {

// The first two bytes of STREAM_MAGIC_0 as they lie in the stream (little-endian).
constexpr uint8_t kMagicFirstByte = static_cast<uint8_t>(protocol::STREAM_MAGIC_0 & 0xFF);
constexpr uint8_t kMagicSecondByte = static_cast<uint8_t>((protocol::STREAM_MAGIC_0 >> 8) & 0xFF);

#if defined(__SSE2__)
// Marks the positions of p[0, 16) where the first two bytes of the magic start.
__attribute__((no_sanitize("thread"), always_inline)) inline __m128i pairsAt(const uint8_t* p,
                                                                             __m128i first,
                                                                             __m128i second) {
  const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
  const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 1));
  return _mm_and_si128(_mm_cmpeq_epi8(a, first), _mm_cmpeq_epi8(b, second));
}
#endif

// The first position i in p[0, n) where the magic's first two bytes start; at the last
// position, whose second byte lies beyond p[n - 1], the first byte alone counts. Reads
// p[0, n) only. Returns n when there is none. Entropy-coded JPEG data holds the first
// byte about once in 256 bytes but the pair about once in 65,536, so looking for the pair
// leaves the caller almost nothing but true headers to check.
// The ring's bytes are read while the listener may be receiving into them, by design
// (the scanner only acts on headers before the write position). The vector loads are left
// out of the thread sanitizer's instrumentation, which would cost a call each; the caller
// holds a RacingRingRead for the rest (memchr's range check).
__attribute__((no_sanitize("thread"))) size_t findMagicPair(const uint8_t* p, size_t n) {
  size_t i = 0;
#if defined(__SSE2__)
  const __m128i first = _mm_set1_epi8(static_cast<char>(kMagicFirstByte));
  const __m128i second = _mm_set1_epi8(static_cast<char>(kMagicSecondByte));
  // 64 positions a round (reading 65 bytes), one test for all four vectors.
  for (; i + 65 <= n; i += 64) {
    const __m128i q0 = pairsAt(p + i, first, second);
    const __m128i q1 = pairsAt(p + i + 16, first, second);
    const __m128i q2 = pairsAt(p + i + 32, first, second);
    const __m128i q3 = pairsAt(p + i + 48, first, second);
    if (_mm_movemask_epi8(_mm_or_si128(_mm_or_si128(q0, q1), _mm_or_si128(q2, q3))) == 0) continue;
    for (const __m128i q : {q0, q1, q2, q3}) {
      const unsigned mask = static_cast<unsigned>(_mm_movemask_epi8(q));
      if (mask != 0) return i + static_cast<size_t>(__builtin_ctz(mask));
      i += 16;
    }
  }
  for (; i + 17 <= n; i += 16) {
    const unsigned mask = static_cast<unsigned>(_mm_movemask_epi8(pairsAt(p + i, first, second)));
    if (mask != 0) return i + static_cast<size_t>(__builtin_ctz(mask));
  }
#endif
  while (i < n) {
    const void* hit = std::memchr(p + i, kMagicFirstByte, n - i);
    if (hit == nullptr) return n;
    i = static_cast<size_t>(static_cast<const uint8_t*>(hit) - p);
    if (i + 1 == n || p[i + 1] == kMagicSecondByte) return i;
    ++i;
  }
  return n;
}

// True when a magic pair starts in [from, end) of the ring, where end <= written and
// written - from < 32 (the scan stopped there); at the last positions, whose eight bytes
// have not all arrived, the beginning of the pair counts.
bool headerMayStart(const uint8_t* ring, uint64_t from, uint64_t end, uint64_t written) {
  if (end <= from || written - from > protocol::kHeaderSize) return false;
  uint8_t bytes[protocol::kHeaderSize];
  const size_t n = static_cast<size_t>(written - from);
  copyFromRing(ring, from, n, bytes);
  uint8_t magic[8];
  platform::store32(magic, protocol::STREAM_MAGIC_0);
  platform::store32(magic + 4, protocol::STREAM_MAGIC_1);
  for (size_t i = 0; i < static_cast<size_t>(end - from); ++i) {
    const size_t have = n - i < sizeof magic ? n - i : sizeof magic;
    if (std::memcmp(bytes + i, magic, have) == 0) return true;
  }
  return false;
}

bool stopsScan(const RingMessage& m) {
  return m.hasType(protocol::MSG_PROPERTY_LIST) || m.isAudio();
}

}  // namespace

void MessageScanner::complete(const RingMessage& m) {
  latest_ = m;
  if (m.hasType(protocol::MSG_VIDEO_JPEG)) {
    latestVideo_ = m;
    newVideo_ = true;
  }
}

bool MessageScanner::scan(const uint8_t* ring, uint64_t written) {
  using protocol::kHeaderSize;
  newVideo_ = false;
  stoppedEarly_ = false;
  // Bytes older than one ring were overwritten before they could be scanned.
  if (written - position_ > kRingSize) position_ = written - kRingSize;

  bool completed = false;
  uint8_t header[kHeaderSize];
  while (written - position_ >= kHeaderSize) {
    // Candidate positions are those with a whole header's room before `written`. Look for
    // the magic's first two bytes over the contiguous stretch, then compare all eight.
    const uint64_t candidates = written - position_ - kHeaderSize + 1;
    const uint32_t at = static_cast<uint32_t>(position_ & kRingMask);
    const uint64_t stretch = candidates < kRingSize - at ? candidates : kRingSize - at;
    const size_t hit = [&] {
      const RacingRingRead racing;
      return findMagicPair(ring + at, static_cast<size_t>(stretch));
    }();
    if (hit == stretch) {
      position_ += stretch;
      continue;
    }
    position_ += hit;
    const uint32_t candidate = static_cast<uint32_t>(position_ & kRingMask);
    const uint8_t* magic = ring + candidate;
    if (candidate > kRingSize - 8) {  // the pair lies across the ring's end
      copyFromRing(ring, position_, 8, header);
      magic = header;
    }
    const bool isMagic = [&] {
      const RacingRingRead racing;
      return protocol::isMagicAt(magic);
    }();
    if (!isMagic) {
      ++position_;
      continue;
    }
    copyFromRing(ring, position_, kHeaderSize, header);
    bool stop = false;
    if (pending_.present()) {
      const uint64_t distance = position_ - pending_.start;
      if (distance < pending_.length) pending_.length = static_cast<uint32_t>(distance);
      complete(pending_);
      completed = true;
      stop = stopsScan(latest_);
    }
    pending_.start = position_;
    pending_.header = protocol::decodeHeader(header);
    pending_.length = pending_.header.effectiveLength();
    position_ += kHeaderSize;
    if (stop) {
      stoppedEarly_ = true;
      break;
    }
  }
  if (!completed && pending_.present() && written - pending_.start >= pending_.length &&
      !headerMayStart(ring, position_, pending_.start + pending_.length, written)) {
    complete(pending_);
    pending_ = RingMessage{};
    completed = true;
  }
  return completed;
}

}  // namespace server
