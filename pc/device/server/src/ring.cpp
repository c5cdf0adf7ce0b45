#include "server/ring.h"

#include <cstring>

namespace server {

void copyFromRing(const uint8_t* ring, uint64_t pos, size_t n, uint8_t* dst) {
  const uint32_t at = static_cast<uint32_t>(pos & kRingMask);
  const size_t first = n < kRingSize - at ? n : kRingSize - at;
  const RacingRingRead racing;
  std::memcpy(dst, ring + at, first);
  if (first < n) std::memcpy(dst + first, ring, n - first);
}

}  // namespace server
