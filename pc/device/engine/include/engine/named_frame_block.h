#pragma once

#include <cstdint>
#include <memory>

#include "platform/named_objects.h"
#include "server/shared_frame_block.h"

namespace engine {

inline constexpr char kFrameMappingName[] = "_VistrelOBJ1_";
inline constexpr char kFrameEventName[] = "_VistrelOBJ2_";
inline constexpr char kFrameMutexName[] = "_VistrelOBJ3_";
inline constexpr size_t kFrameViewSize = 0x200000;  // 2 MiB

// The block through which the serving process hands every video frame to the others:
// the named 2 MiB view holding the last published message (header included), guarded by
// the named mutex, and the named frame event pulsed after each publication. Any local user
// can write the view, so readers check everything they take from it.
//
// Threading: publication on the frame server's parser thread; reads, waits and pulses from
// any thread.
class NamedFrameBlock final : public server::SharedFrameBlock {
 public:
  // Creates or opens the three objects; null when any of them cannot be made.
  static std::unique_ptr<NamedFrameBlock> open();

  uint8_t* lockView(size_t& viewSize) override;
  void unlockAndPulse() override;

  // The JPEG length of the video message in the view, 0 when there is none; with a
  // destination (at least 2 MiB), its payload with the JFIF start restored.
  uint32_t readFrame(uint8_t* destination);
  // True when the frame event was pulsed within timeoutMs.
  bool waitFrame(uint32_t timeoutMs);
  void pulse();

 private:
  NamedFrameBlock() = default;
  std::unique_ptr<platform::SharedMemory> view_;
  std::unique_ptr<platform::NamedEvent> event_;
  std::unique_ptr<platform::NamedMutex> mutex_;
};

}  // namespace engine
