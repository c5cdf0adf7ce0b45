#pragma once

// The program's side of the ring: the ring itself (optionally in memory shared with the
// ALSA plugin), the system clock, the 100 ms pacing timer and its thread, and the control
// endpoint that feeders write into.
//
// Threading: everything here may be used from any thread; the pacing thread calls
// FeedRing::tick, the endpoint's thread FeedRing::write.

#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "orvaneaudio/control_endpoint.h"
#include "orvaneaudio/feed_ring.h"

namespace orvaneaudio {

class MicrophoneHost final : public FeedRingHost {
 public:
  // `ringStorage`: kRingBytes owned by the caller, or null for the ring's own memory.
  // `onWrite` runs after every write into the ring (any thread).
  MicrophoneHost(uint8_t* ringStorage, std::function<void()> onWrite);
  ~MicrophoneHost() override;

  // Serves the control device; false with a reason when that fails.
  bool serve(std::string_view devicePath, std::string* error);

  FeedRing& ring() { return *ring_; }

  uint64_t interruptTime() override;
  void armPacingTimer() override;
  void cancelPacingTimer() override;

 private:
  void pace();

  int timerFd_ = -1;
  int wakeFd_ = -1;
  std::unique_ptr<FeedRing> ring_;
  std::unique_ptr<ControlEndpoint> endpoint_;
  std::thread pacer_;
};

// 100-ns units of the monotonic clock.
uint64_t monotonic100ns();

}  // namespace orvaneaudio
