#pragma once

#include <cstddef>
#include <cstdint>

#if defined(__SANITIZE_THREAD__)
#define VISTREL_THREAD_SANITIZER 1
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define VISTREL_THREAD_SANITIZER 1
#endif
#endif
#if defined(VISTREL_THREAD_SANITIZER)
// The thread sanitizer's runtime, names as it has them: reads between these two calls are not recorded.
extern "C" void AnnotateIgnoreReadsBegin(const char* file, int line);
extern "C" void AnnotateIgnoreReadsEnd(const char* file, int line);
#endif

namespace server {

// The receive ring: 4 MiB, allocated once, never moved. Positions handed around are
// absolute 64-bit byte counts since the listener started; the byte at position p lives
// at ring[p & kRingMask]. Absolute positions let a reader tell whether the bytes it
// copied could have been overwritten meanwhile, which ring offsets alone cannot.
inline constexpr uint32_t kRingSize = 0x400000;
inline constexpr uint32_t kRingMask = kRingSize - 1;

// The listener never receives more than this in one call, so that a reader knows how far
// past the write position the bytes may already be changing.
inline constexpr uint32_t kMaxReceiveChunk = 0x100000;

// Readers read the ring while the listener may be receiving into it, by design: they never
// lock it, and check afterwards with ringBytesIntact() whether what they read may have been
// overwritten meanwhile. A reader holds one of these around exactly those reads; under the
// thread sanitizer they are not recorded, so that the designed race is not reported while
// every other access to the ring, and everything else the thread does, still is. In other
// builds it is nothing.
class RacingRingRead {
 public:
#if defined(VISTREL_THREAD_SANITIZER)
  RacingRingRead() { AnnotateIgnoreReadsBegin(__FILE__, __LINE__); }
  ~RacingRingRead() { AnnotateIgnoreReadsEnd(__FILE__, __LINE__); }
#else
  RacingRingRead() {}  // not defaulted: a scope marker, not an unused variable
#endif
  RacingRingRead(const RacingRingRead&) = delete;
  RacingRingRead& operator=(const RacingRingRead&) = delete;
};

// Copies `n` bytes (n <= kRingSize) starting at absolute position `pos` out of the ring,
// across its end if need be.
void copyFromRing(const uint8_t* ring, uint64_t pos, size_t n, uint8_t* dst);

// True when bytes [pos, pos + n) are still intact in the ring given that the listener has
// written up to `written` (and may be writing up to kMaxReceiveChunk bytes past it).
inline bool ringBytesIntact(uint64_t pos, uint64_t n, uint64_t written) {
  return pos + n <= written && written + kMaxReceiveChunk - pos <= kRingSize;
}

}  // namespace server
