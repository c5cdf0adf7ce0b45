#pragma once

// The camera reached through the framesink module ("Camera", text id 11). Its picture
// modes are the capture formats plus the still formats larger than every capture format
// (class 4, never the default). A capture mode runs the capture stream into DeliverFrame;
// a still-only mode runs a still loop on a thread of its own: trigger one still, run the
// graph, wait until that still went through DeliverFrame, again.
//
// Device settings exist only for flavour 1 ("Brightness", "Zoom", "White Balance",
// "Effect"); each is written to one camera or picture control of framesink.
//
// Threading: as camera::CameraSource. The capture and still callbacks run on framesink's
// capture thread; the still loop on its own thread, ended by HaltDevice.
//
// Method names follow the capture-source interface the device program's modules share;
// they keep its spelling.

#include <array>
#include <cstdint>
#include <memory>

#include "camera/camera_source.h"
#include "framesink/framesink_table.h"
#include "platform/thread.h"
#include "sources/source_builder.h"

namespace dshow {

// The fixed control position of each device setting: below 8 a camera control with that
// property, from 8 on the picture control p - 8.
inline constexpr uint32_t kPositionZoom = 3;
inline constexpr uint32_t kPositionBrightness = 8;
inline constexpr uint32_t kPositionEffect = 12;
inline constexpr uint32_t kPositionWhiteBalance = 15;

// How long HaltDevice waits for the still loop to end.
inline constexpr uint32_t kStillLoopJoinMs = 5120;

// framesink's nine entries as the source list holds them.
FramesinkTable tableOf(const sources::FramesinkLibrary& library);

class DirectShowCamera final : public camera::CameraSource {
 public:
  // `library` keeps the module loaded for the source's whole life.
  DirectShowCamera(camera::CameraEnvironment environment, sources::FramesinkLibrary library);
  // For tests: a table without a module.
  DirectShowCamera(camera::CameraEnvironment environment, const FramesinkTable& table, uint32_t flavour);
  ~DirectShowCamera() override;

  uint32_t NameTextId() override;
  void Reset() override;
  bool ApplyDeviceSetting(sources::SourceSetting* setting, int32_t index) override;

  uint32_t EnumerateModes(sources::PictureMode* modes, uint32_t flag) override;
  bool OpenDevice(uint32_t quality, uint32_t mode) override;
  bool HaltDevice() override;
  void CloseDevice() override;
  sources::SourceSetting* AppendSettings(const sources::SettingChoice* lastChoices,
                                         uint32_t lastTextId) override;

  uint64_t largestCaptureArea() const { return largestCaptureArea_; }
  bool stillLoopRunning() const { return stillThread_.running(); }

  struct StillLoop;

 private:
  static void onCapture(uint8_t* data, uint32_t size, void* user);
  uint32_t positionOf(const sources::SourceSetting* setting) const;

  sources::FramesinkLibrary library_;  // declared first: unloaded last
  FramesinkTable table_{};
  uint32_t flavour_ = 0;
  uint64_t largestCaptureArea_ = 0;

  // Device settings, linked in list order (flavour 1 only).
  std::array<sources::SourceSetting, 4> device_{};

  std::shared_ptr<StillLoop> still_;
  platform::Thread stillThread_;
};

// The source for row 7 of the source list.
std::unique_ptr<sources::CaptureSource> makeDirectShowCamera(camera::CameraEnvironment environment,
                                                             sources::FramesinkLibrary library);

}  // namespace dshow
