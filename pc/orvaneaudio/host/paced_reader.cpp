#include "orvaneaudio/paced_reader.h"

#include <algorithm>
#include <cstring>

#include "orvaneaudio/feed_ring.h"

namespace orvaneaudio {

PacedReader::PacedReader(Limits limits) : limits_(limits), target_(limits.initialTargetBytes) {}

void PacedReader::restart() {
  readOffset_ = 0;
  priming_ = true;
  played_ = false;
  playedSinceDry_ = 0;
  windowMin_ = UINT32_MAX;
  distanceAfterRead_ = 0;
  largestArrival_ = 0;
}

void PacedReader::read(StreamSource& source, uint8_t* destination, uint32_t length) {
  uint32_t distance = ringDistance(source.position(), readOffset_);
  if (distance > distanceAfterRead_) {
    largestArrival_ = std::max(largestArrival_, distance - distanceAfterRead_);
  }
  if (!priming_ && distance < windowMin_) windowMin_ = distance;
  if (priming_) {
    // A feed seen arriving in bursts needs at least a burst of margin, from the start.
    target_ = std::min(limits_.maxTargetBytes, std::max(target_, largestArrival_ & ~1u));
    // Start with the whole request in hand plus the target as margin.
    if (distance < target_ + length) {
      distanceAfterRead_ = distance;
      std::memset(destination, 0, length);
      return;
    }
    priming_ = false;
  }
  if (distance > maxDistanceBytes(length)) {
    const uint32_t drop = (distance - target_ - length) & ~1u;  // keep whole samples
    readOffset_ = (readOffset_ + drop) % kRingBytes;
    distance -= drop;
    ++skips_;
  }
  const uint32_t n = std::min(distance, length) & ~1u;
  source.copy(destination, readOffset_, n);
  std::memset(destination + n, 0, length - n);
  readOffset_ = (readOffset_ + n) % kRingBytes;
  distanceAfterRead_ = distance - n;
  if (n < length) {
    // Ran dry. Only count it once sound had been flowing, not while waiting for a feed.
    // The feed comes in bursts of up to the largest arrival seen: hold at least that.
    if (played_) {
      ++underruns_;
      const uint32_t wanted = std::max(target_ * 2, (largestArrival_ + length) & ~1u);
      target_ = std::min(limits_.maxTargetBytes, wanted);
    }
    priming_ = true;
    playedSinceDry_ = 0;
    windowMin_ = UINT32_MAX;
    return;
  }
  played_ = true;
  playedSinceDry_ += n;
  if (playedSinceDry_ >= limits_.relaxAfterBytes) {
    // The distance never came down to the target in a long stretch: more is kept than
    // the feed needs, so lower the target (and with it the bound on the distance).
    if (windowMin_ != UINT32_MAX && windowMin_ > target_ + length &&
        target_ > limits_.initialTargetBytes) {
      target_ = std::max(limits_.initialTargetBytes, (target_ * 3 / 4) & ~1u);
    }
    playedSinceDry_ = 0;
    windowMin_ = UINT32_MAX;
    largestArrival_ = 0;
  }
}

}  // namespace orvaneaudio
