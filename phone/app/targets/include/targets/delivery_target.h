#pragma once

// The delivery target interface of the device program: where finished frames go. A
// target has one fixed table of operations (below, in slot order) and owns an auto-reset
// frame-ready event that the capture sources signal when a frame is waiting.
//
// Threading: every operation runs on the window thread. A target that sends from a thread
// of its own calls the fetch and control functions of TargetStartParams on that thread.
//
// Method names follow the delivery-target interface the device program's modules share;
// they keep its spelling.

#include <cstdint>
#include <memory>

#include "platform/event.h"
#include "settings/source_setting.h"
#include "sources/capture_source.h"

namespace targets {

// Hands the oldest waiting frame of all started sources to the target: fills `out` and
// returns its timestamp, or 0 when no frame waits. Called on the target's thread.
using FetchFunction = uint32_t (*)(void* user, sources::FrameDescriptor* out);
// Receives a command from the PC (its code and argument). Called on the target's thread.
using ControlFunction = uint32_t (*)(void* user, uint32_t code, uint32_t argument);

// Handed to DeliveryTarget::Start: three words.
struct TargetStartParams {
  FetchFunction fetch = nullptr;
  ControlFunction control = nullptr;
  void* user = nullptr;  // the capture context
};

class DeliveryTarget {
 public:
  DeliveryTarget() : frameReady_(std::make_shared<platform::Event>(platform::Event::Reset::kAuto)) {}
  // Slot 0.
  virtual ~DeliveryTarget() = default;
  DeliveryTarget(const DeliveryTarget&) = delete;
  DeliveryTarget& operator=(const DeliveryTarget&) = delete;

  // Slot 1: loads the target's settings and readies it; when the window becomes active.
  virtual bool Prepare() = 0;
  // Slot 2: when capture starts.
  virtual bool Start(const TargetStartParams& params) = 0;
  // Slot 3: when capture stops, on deactivation and at exit.
  virtual void Stop() = 0;
  // Slot 4: saves the settings and frees what Prepare took.
  virtual void Release() = 0;
  // Slot 5: the name saved as "Mode".
  virtual const char16_t* Name() = 0;
  // Slot 6: the target's settings dialog; `owner` is the front's window.
  virtual int ShowSettings(void* owner) {
    (void)owner;
    return 0;
  }
  // Slot 7: asked every 512 ms while capturing; false stops capture.
  virtual bool IsAlive() { return false; }
  // Slot 8: a source setting changed while capturing.
  virtual bool SettingChanged(const settings::SourceSetting* setting) {
    (void)setting;
    return false;
  }
  // Slot 9: publishes a setting list (its first setting) to the receiver.
  virtual bool PublishSettings(const settings::SourceSetting* first) {
    (void)first;
    return false;
  }
  // Slot 10: a command line; true asks the caller to start capture.
  virtual bool Command(const char16_t* text, uint32_t number) {
    (void)text;
    (void)number;
    return false;
  }
  // Slot 11: a send call is running.
  virtual bool IsSending() { return false; }
  // Slot 12: whether sources of `kind` are started for this target.
  virtual bool AcceptsKind(sources::SourceKind kind) {
    (void)kind;
    return true;
  }

  // The auto-reset frame-ready event. Shared, so that a sending thread that outlives its
  // target (abandoned by Stop) still holds a valid event.
  platform::Event& frameReady() { return *frameReady_; }
  const std::shared_ptr<platform::Event>& frameReadyShared() const { return frameReady_; }

 private:
  std::shared_ptr<platform::Event> frameReady_;
};

}  // namespace targets
