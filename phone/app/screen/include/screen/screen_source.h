#pragma once

// The device's own display as a capture source ("Screen", kind 1) on the camera
// pipeline. It announces one picture mode, the probed screen size in RGB 5-6-5 (a 24- or
// 32-bit screen is converted), and in capture mode runs a thread that reads the screen
// and hands pictures to DeliverFrame: every round with "Duplicate" on; with it off only
// when the picture's 32-bit word sum differs from that of the last picture delivered
// (else it sleeps 20 ms). In preview mode it opens nothing and produces nothing.
//
// While it captures, the PC's tap and key commands (remoteInput) are injected into the
// same display, unless the "RemoteInput" value of the source's settings key is 0 (on
// by default for a display server, off for a frame buffer).
//
// A screen that cannot be read, or whose size is not the mode's, fails the start. During
// capture a screen that cannot be read is opened again every kReopenMs; pictures of
// another size than the mode's are skipped until the size is back.
//
// Threading: as camera::CameraSource; remoteInput runs on the delivery target's thread.
//
// Method names follow the capture-source interface the device program's modules share;
// they keep its spelling.

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>

#include "camera/camera_source.h"
#include "platform/screen.h"
#include "platform/thread.h"

namespace screen {

// The screen's size bounds of the device probe, kept again when the screen opens.
inline constexpr uint32_t kMinSide = 176;
inline constexpr uint32_t kMaxSide = 640;
// A still screen is looked at again after this long.
inline constexpr uint32_t kStillMs = 20;
// A screen that could not be read is opened again after this long.
inline constexpr uint32_t kReopenMs = 500;
// HaltDevice waits this long for the capture thread.
inline constexpr uint32_t kHaltWaitMs = 2048;
// The value in the source's settings key that switches input from the PC on (1) or off (0).
inline constexpr char16_t kRemoteInputValue[] = u"RemoteInput";

// How the source reaches the screen; tests give fakes.
struct ScreenAccess {
  std::function<std::unique_ptr<platform::ScreenReader>(platform::ScreenPreference)> openReader;
  std::function<std::unique_ptr<platform::InputInjector>(platform::ScreenKind, uint32_t width,
                                                         uint32_t height)>
      openInjector;
};
// The platform's screen and injectors.
ScreenAccess systemScreenAccess();

struct ScreenGeometry {
  uint32_t width = 0;
  uint32_t height = 0;
  uint32_t bitsPerPixel = 0;
};

class ScreenSource final : public camera::CameraSource {
 public:
  // `overlayListed`: "Overlay" is offered (jpegpress is bound).
  ScreenSource(camera::CameraEnvironment environment, ScreenAccess access, ScreenGeometry geometry,
               bool overlayListed);
  ~ScreenSource() override;

  uint32_t NameTextId() override;
  sources::SourceKind Kind() override { return sources::SourceKind::kScreen; }
  void Reset() override;
  bool ApplyDeviceSetting(sources::SourceSetting* setting, int32_t index) override;
  bool remoteInput(uint32_t command, uint32_t argument) override;

  uint32_t EnumerateModes(sources::PictureMode* modes, uint32_t flag) override;
  bool OpenDevice(uint32_t quality, uint32_t mode) override;
  bool HaltDevice() override;
  void CloseDevice() override;
  sources::SourceSetting* AppendSettings(const sources::SettingChoice* lastChoices,
                                         uint32_t lastTextId) override;

 private:
  struct Capture;
  struct Knobs;
  void capture(const std::shared_ptr<Capture>& c);
  bool remoteInputWanted(platform::ScreenKind kind);

  camera::CameraEnvironment environment_;
  ScreenAccess access_;
  const ScreenGeometry geometry_;
  const bool overlayListed_;
  sources::SourceSetting duplicate_{};
  sources::SourceSetting overlay_{};
  std::shared_ptr<Knobs> knobs_;

  std::shared_ptr<Capture> capture_;
  platform::Thread thread_;

  // Input from the PC, while capturing.
  std::mutex inputMutex_;
  std::unique_ptr<platform::InputInjector> injector_;
  bool inputOn_ = false;
  platform::ScreenKind inputKind_ = platform::ScreenKind::kDisplayServer;
  uint32_t inputWidth_ = 0, inputHeight_ = 0;
  // How the picture sent was made from the screen: the encoder's quarter turns, and
  // whether the rows were turned upside down ("Mirror").
  std::atomic<uint32_t> turn_{0};
  std::atomic<bool> mirrored_{false};
};

}  // namespace screen
