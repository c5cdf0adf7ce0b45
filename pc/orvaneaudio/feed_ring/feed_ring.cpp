#include "orvaneaudio/feed_ring.h"

#include <algorithm>
#include <cstring>

namespace orvaneaudio {

void copyOutOfRing(const uint8_t* ring, uint32_t startPosition, uint32_t sourceOffset,
                   uint8_t* destination, uint32_t length) {
  uint32_t offset = static_cast<uint32_t>(
      (static_cast<uint64_t>(startPosition) + sourceOffset) % kRingBytes);
  while (length > 0) {
    const uint32_t chunk = std::min(length, kRingBytes - offset);
    std::memcpy(destination, ring + offset, chunk);
    destination += chunk;
    length -= chunk;
    offset = 0;
  }
}

FeedRing::FeedRing(FeedRingHost& host, std::function<void()> notify, uint8_t* storage)
    : host_(host), notify_(std::move(notify)) {
  if (storage == nullptr) {
    ownStorage_ = std::make_unique<uint8_t[]>(kRingBytes);
    storage = ownStorage_.get();
  }
  ring_ = storage;
}

void FeedRing::storeLocked(const uint8_t* bytes, uint32_t length) {
  while (length > 0) {
    const uint32_t chunk = std::min(length, kRingBytes - writePosition_);
    if (bytes != nullptr) {
      std::memcpy(ring_ + writePosition_, bytes, chunk);
      bytes += chunk;
    } else {
      std::memset(ring_ + writePosition_, 0, chunk);
    }
    writePosition_ = (writePosition_ + chunk) % kRingBytes;
    length -= chunk;
  }
}

bool FeedRing::write(const uint8_t* bytes, uint32_t length) {
  {
    std::lock_guard guard(lock_);
    if (bytes != nullptr) lastFeedTime_ = host_.interruptTime();
    storeLocked(bytes, length);
  }
  if (notify_) notify_();
  return true;
}

void FeedRing::tick(uint64_t now) {
  if (!notify_) return;
  {
    // The check and the silence are one step, so a feed cannot slip in between.
    std::lock_guard guard(lock_);
    if (now - lastFeedTime_ <= kSilenceAfter100ns) return;
    storeLocked(nullptr, kSilenceChunkBytes);
  }
  notify_();
}

uint32_t FeedRing::streamPosition(const FeedStream& stream) const {
  if (stream.state == StreamState::Stop) return 0;
  std::lock_guard guard(lock_);
  return ringDistance(writePosition_, stream.startPosition);
}

void FeedRing::copyOut(const FeedStream& stream, uint8_t* destination, uint32_t sourceOffset,
                       uint32_t length) const {
  std::lock_guard guard(lock_);
  copyOutOfRing(ring_, stream.startPosition, sourceOffset, destination, length);
}

void FeedRing::setStreamState(FeedStream& stream, StreamState newState) {
  if (newState == StreamState::Acquire) newState = StreamState::Stop;
  if (newState == stream.state) return;
  std::lock_guard guard(lock_);
  // The count is kept equal to the number of streams in run, whichever state a stream
  // leaves run for or enters it from.
  if (stream.state == StreamState::Run) {
    if (runningStreams_ > 0) --runningStreams_;
    if (runningStreams_ == 0) host_.cancelPacingTimer();
  }
  if (newState == StreamState::Run) {
    stream.startPosition = writePosition_;
    if (++runningStreams_ == 1) {
      lastFeedTime_ = host_.interruptTime();
      host_.armPacingTimer();
    }
  }
  stream.state = newState;
}

uint32_t FeedRing::sampleRate() const {
  std::lock_guard guard(rateLock_);
  return sampleRate_;
}

void FeedRing::setSampleRate(uint32_t hz) {
  std::lock_guard guard(rateLock_);
  sampleRate_ = hz;
}

uint32_t FeedRing::writePosition() const {
  std::lock_guard guard(lock_);
  return writePosition_;
}

uint64_t FeedRing::lastFeedTime() const {
  std::lock_guard guard(lock_);
  return lastFeedTime_;
}

uint32_t FeedRing::runningStreams() const {
  std::lock_guard guard(lock_);
  return runningStreams_;
}

}  // namespace orvaneaudio
