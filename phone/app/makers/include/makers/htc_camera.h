#pragma once

// The camera behind the HTC camera library ("HTCcamera.dll" or "HTCcamera1.dll"): the
// main sensor ("Camera") or the second sensor ("Front Sensor"), on the common camera
// pipeline. The library is started for the source's sensor when the modes are listed
// (Camera_Init) and ended by CloseDevice (Camera_Deinit). A mode within the streaming
// limit streams through Camera_Begin with the frame callback until Camera_End; a wider
// mode (class 4) is taken one picture at a time by a thread of its own.
//
// Threading: as camera::CameraSource. The frame callback runs on the library's thread
// (streaming) or on the still thread.
//
// Method names follow the capture-source interface the device program's modules share;
// they keep its spelling.

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>

#include "camera/camera_source.h"
#include "makers/producer.h"
#include "platform/event.h"
#include "sources/source_builder.h"

namespace makers {

// The library's entry points as this program calls them. Truth values: non-zero is
// success.
namespace htc {
// Hands one picture of the current mode: `size` bytes at `data`, writable until return.
using FrameCallback = void (*)(void* user, uint8_t* data, uint32_t size);
using InitFn = int32_t (*)(uint32_t sensor);  // kMainSensor or kFrontSensor
// Starts delivering pictures of width x height to `callback`: a stream until Camera_End,
// or with `still` set one picture, after which Camera_End is called.
using BeginFn = int32_t (*)(uint32_t width, uint32_t height, uint32_t still, FrameCallback callback,
                            void* user);
using EndFn = int32_t (*)();
using DeinitFn = int32_t (*)();
// The argument is the value on a Smartphone and the address of a 32-bit value otherwise.
using SetPropertyFn = int32_t (*)(uint32_t property, uintptr_t argument);
using GetPropertyFn = int32_t (*)(uint32_t property, uint32_t* value);

inline constexpr uint32_t kMainSensor = 1;
inline constexpr uint32_t kFrontSensor = 2;
inline constexpr uint32_t kJoinMs = 5120;
// How long the still thread waits for one picture before asking again.
inline constexpr uint32_t kStillWaitMs = 2000;

// Properties.
inline constexpr uint32_t kPropFlicker = 1;
inline constexpr uint32_t kPropWhiteBalance = 2;
inline constexpr uint32_t kPropExposure = 3;
inline constexpr uint32_t kPropContrast = 4;
inline constexpr uint32_t kPropBrightness = 5;
inline constexpr uint32_t kPropSaturation = 6;
inline constexpr uint32_t kPropHue = 7;
inline constexpr uint32_t kPropGamma = 8;
inline constexpr uint32_t kPropSharpness = 9;
inline constexpr uint32_t kPropEffect = 10;
inline constexpr uint32_t kPropQuality = 65;

// The picture modes of a sensor of a model (room for kMaxPictureModes); `overlay` is
// the record the extra overlay mode of codes 2, 12 and 13 carries. Returns the count.
uint32_t listModes(uint32_t modelCode, bool smartphone, bool frontSensor, uint32_t* overlay,
                   sources::PictureMode* modes);

// The format the frame callback passes on for a picture of `size` bytes announced as
// `format`, and, for model code 0, the black right columns of 320 x 240 and 160 x 120
// pictures (painted into `data`).
uint32_t correctFrame(uint32_t modelCode, uint32_t format, uint32_t width, uint32_t height,
                      uint8_t* data, uint32_t size);

// The JPEG quality as the level of property 65.
uint32_t qualityLevel(uint32_t quality);
}  // namespace htc

class HtcCamera final : public camera::CameraSource {
 public:
  HtcCamera(camera::CameraEnvironment environment, std::shared_ptr<const sources::HtcCameraLibrary> library,
            bool frontSensor);
  ~HtcCamera() override;

  uint32_t NameTextId() override;
  void Reset() override;
  bool ApplyDeviceSetting(sources::SourceSetting* setting, int32_t index) override;
  uint32_t EnumerateModes(sources::PictureMode* modes, uint32_t flag) override;
  bool OpenDevice(uint32_t quality, uint32_t mode) override;
  bool HaltDevice() override;
  void CloseDevice() override;
  sources::SourceSetting* AppendSettings(const sources::SettingChoice* lastChoices,
                                         uint32_t lastTextId) override;

  const uint32_t* overlayRecord() const { return overlay_; }

 private:
  static void onFrame(void* user, uint8_t* data, uint32_t size);
  bool setProperty(uint32_t property, int32_t value);
  uint32_t propertyOf(const sources::SourceSetting* setting);

  std::shared_ptr<const sources::HtcCameraLibrary> library_;
  const bool front_;
  const uint32_t code_;
  bool open_ = false;
  bool streaming_ = false;

  // Exposure, White Balance, Flicker, Night Mode, Effect, Contrast, Brightness,
  // Saturation, Hue, Gamma, Sharpness; linked in the model's order.
  std::array<sources::SourceSetting, 11> device_{};
  uint32_t overlay_[2] = {0, 1};

  // The still thread's signal that its picture went through.
  std::shared_ptr<platform::Event> stillTaken_;
  std::atomic<bool> stillMode_{false};
  Producer still_;
};

// The source for rows 2 and 3 of the source list.
std::unique_ptr<sources::CaptureSource> makeHtcCamera(camera::CameraEnvironment environment,
                                                      std::shared_ptr<const sources::HtcCameraLibrary> library,
                                                      bool frontSensor);

}  // namespace makers
