#include "server/message_scanner.h"

#include <cstring>

#include "server/ring.h"

namespace server {
namespace {

// The first byte of STREAM_MAGIC_0 as it lies in the stream (little-endian).
constexpr uint8_t kMagicFirstByte = static_cast<uint8_t>(protocol::STREAM_MAGIC_0 & 0xFF);

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
    // the magic's first byte with memchr over the contiguous stretch, then compare.
    const uint64_t candidates = written - position_ - kHeaderSize + 1;
    const uint32_t at = static_cast<uint32_t>(position_ & kRingMask);
    const uint64_t stretch = candidates < kRingSize - at ? candidates : kRingSize - at;
    const void* hit = std::memchr(ring + at, kMagicFirstByte, stretch);
    if (hit == nullptr) {
      position_ += stretch;
      continue;
    }
    position_ += static_cast<const uint8_t*>(hit) - (ring + at);
    const uint32_t candidate = static_cast<uint32_t>(position_ & kRingMask);
    const uint8_t* magic = ring + candidate;
    if (candidate > kRingSize - 8) {  // the pair lies across the ring's end
      copyFromRing(ring, position_, 8, header);
      magic = header;
    }
    if (!protocol::isMagicAt(magic)) {
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
  if (!completed && pending_.present() && written - pending_.start >= pending_.length) {
    complete(pending_);
    pending_ = RingMessage{};
    completed = true;
  }
  return completed;
}

}  // namespace server
