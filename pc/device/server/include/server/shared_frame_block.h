#pragma once

#include <cstddef>
#include <cstdint>

namespace server {

// The serving process's block through which every video frame is published to the other
// processes: a view guarded by a cross-process mutex, and an event pulsed after each
// publication. Implemented by the engine.
//
// Threading: called by the parser thread of the frame server.
class SharedFrameBlock {
 public:
  virtual ~SharedFrameBlock() = default;
  // Takes the block's mutex (no time-out) and returns the view and its size, or null
  // (mutex not taken) when the block has no view.
  virtual uint8_t* lockView(size_t& viewSize) = 0;
  // Releases the mutex taken by lockView() and pulses the frame event.
  virtual void unlockAndPulse() = 0;
};

}  // namespace server
