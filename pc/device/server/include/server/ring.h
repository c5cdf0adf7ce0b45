#pragma once

#include <cstddef>
#include <cstdint>

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

// Copies `n` bytes (n <= kRingSize) starting at absolute position `pos` out of the ring,
// across its end if need be.
void copyFromRing(const uint8_t* ring, uint64_t pos, size_t n, uint8_t* dst);

// True when bytes [pos, pos + n) are still intact in the ring given that the listener has
// written up to `written` (and may be writing up to kMaxReceiveChunk bytes past it).
inline bool ringBytesIntact(uint64_t pos, uint64_t n, uint64_t written) {
  return pos + n <= written && written + kMaxReceiveChunk - pos <= kRingSize;
}

}  // namespace server
