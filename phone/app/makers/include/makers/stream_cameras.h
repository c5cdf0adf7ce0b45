#pragma once

// The cameras behind the makers' stream drivers "CAM1:", "CAM2:" and "DSC1:" (display
// name "Camera"), on the common camera pipeline. The driver is opened when the modes are
// listed and stays open until CloseDevice; OpenDevice starts a producer thread that hands
// every picture to DeliverFrame; HaltDevice sets its stop flag and waits up to 2048 ms.
// A control request that fails inside the producer loop is tried again after a short
// sleep; a failing open or start request fails the start ("Could not start source.").
//
// Threading: as camera::CameraSource. The producer thread and the window thread share
// the driver handle one request at a time.
//
// Method names follow the capture-source interface the device program's modules share;
// they keep its spelling.

#include <array>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include "camera/camera_source.h"
#include "makers/driver_port.h"
#include "makers/producer.h"
#include "sources/source_builder.h"

namespace makers {

inline constexpr uint32_t kStreamJoinMs = 2048;

// A driver handle shared by a camera and its producer thread.
class SharedDriver {
 public:
  explicit SharedDriver(std::unique_ptr<DriverHandle> handle) : handle_(std::move(handle)) {}
  bool control(uint32_t code, void* in = nullptr, uint32_t inSize = 0, void* out = nullptr,
               uint32_t outSize = 0, uint32_t* returned = nullptr);
  // A request carrying one byte.
  bool controlByte(uint32_t code, uint8_t value);
  bool read(void* buffer, uint32_t size, uint32_t* got);

 private:
  std::mutex mutex_;
  std::unique_ptr<DriverHandle> handle_;
};

// Behaviour shared by the three drivers: the port, the open driver, the producer, the
// clock the producer sleeps on.
class StreamCamera : public camera::CameraSource {
 public:
  StreamCamera(camera::CameraEnvironment environment, DriverPort& port);
  ~StreamCamera() override;
  uint32_t NameTextId() override;
  bool HaltDevice() override;
  bool streaming() const { return producer_.running(); }

 protected:
  platform::Clock& clock() { return *clock_; }
  // Sleeps `ms` unless the stop flag is set; true when the loop should go on.
  bool pause(const Producer::StopFlag& stop, uint32_t ms);
  // Called by HaltDevice after the producer ended.
  virtual void afterHalt() {}

  DriverPort& port_;
  std::shared_ptr<SharedDriver> driver_;
  Producer producer_;

 private:
  platform::Clock* clock_;
};

// ---- "CAM1:" ----

// Control requests of the driver.
namespace cam1 {
inline constexpr uint32_t kOpen = 0x22223355;
inline constexpr uint32_t kSensorType = 0x2222336A;
inline constexpr uint32_t kPrepare = 0x22223361;
inline constexpr uint32_t kStartStream = 0x2222334F;
inline constexpr uint32_t kReadyIndex = 0x22223352;
inline constexpr uint32_t kStopStream = 0x22223350;
inline constexpr uint32_t kCapture = 0x22223354;
inline constexpr uint32_t kClose = 0x22223356;
inline constexpr uint32_t kResetDone = 0x22223367;
inline constexpr uint32_t kBrightness = 0x22223337;
inline constexpr uint32_t kRed = 0x2222333F;
inline constexpr uint32_t kBlue = 0x22223343;
inline constexpr uint32_t kExposure = 0x2222335F;
inline constexpr uint32_t kWhiteBalance = 0x22223359;
inline constexpr uint32_t kGainControl = 0x2222335D;
inline constexpr uint32_t kFlicker = 0x22223369;
inline constexpr uint32_t kEffect = 0x22223365;
inline constexpr uint32_t kZoom = 0x22223358;
// One RGB 5-6-5 picture of 320 x 240, the stride of the frame area's streaming slots and
// the offset of a captured picture in it.
inline constexpr uint32_t kSlotBytes = 153600;
inline constexpr uint32_t kSlots = 4;
// The frame area: its address by sensor type, and its extent (the largest capture).
inline constexpr uint32_t kAreaSensors3To7 = 0xA3B00000u;
inline constexpr uint32_t kAreaOther = 0xA3C00000u;
inline constexpr uint32_t kAreaBytes = kSlotBytes + 1600 * 1200 * 2;
inline constexpr uint32_t kStreamWarmUpMs = 300;
inline constexpr uint32_t kStreamPollMs = 5;
inline constexpr uint32_t kCaptureRetryMs = 5;
}  // namespace cam1

class Cam1Camera final : public StreamCamera {
 public:
  Cam1Camera(camera::CameraEnvironment environment, DriverPort& port);
  ~Cam1Camera() override;
  void Reset() override;
  bool ApplyDeviceSetting(sources::SourceSetting* setting, int32_t index) override;
  uint32_t EnumerateModes(sources::PictureMode* modes, uint32_t flag) override;
  bool OpenDevice(uint32_t quality, uint32_t mode) override;
  void CloseDevice() override;
  sources::SourceSetting* AppendSettings(const sources::SettingChoice* lastChoices,
                                         uint32_t lastTextId) override;

  uint8_t sensorType() const { return sensorType_; }

 private:
  void afterHalt() override;
  bool write(const sources::SourceSetting& setting);

  std::array<sources::SourceSetting, 9> device_{};
  std::unique_ptr<NamedEvent> appEvent_, codecEvent_;
  uint8_t sensorType_ = 255;
  uint8_t* area_ = nullptr;
  std::shared_ptr<std::vector<uint8_t>> private_;
  bool streamingMode_ = false;
};

// ---- "CAM2:" ----

namespace cam2 {
inline constexpr uint32_t kPrepare = 100013;
inline constexpr uint32_t kMode = 100029;
inline constexpr uint32_t kStop = 100014;
inline constexpr uint32_t kRecordBytes = 108;
inline constexpr uint32_t kBufferBytes = 3840000;
inline constexpr uint32_t kCaptureCommand = 66;
inline constexpr uint32_t kModeWord = 7;
inline constexpr uint32_t kPollMs = 1;
// The capture request of a picture width; 0 for a width the driver has none for.
uint32_t captureCode(uint32_t width);
}  // namespace cam2

class Cam2Camera final : public StreamCamera {
 public:
  Cam2Camera(camera::CameraEnvironment environment, DriverPort& port);
  ~Cam2Camera() override;
  void Reset() override {}
  bool ApplyDeviceSetting(sources::SourceSetting*, int32_t) override { return true; }
  uint32_t EnumerateModes(sources::PictureMode* modes, uint32_t flag) override;
  bool OpenDevice(uint32_t quality, uint32_t mode) override;
  void CloseDevice() override;
  sources::SourceSetting* AppendSettings(const sources::SettingChoice*, uint32_t) override {
    return nullptr;
  }

 private:
  void afterHalt() override;
  std::shared_ptr<std::vector<uint8_t>> buffer_;
};

// ---- "DSC1:" ----

namespace dsc1 {
inline constexpr uint32_t kSet = 2;
inline constexpr uint32_t kRun = 6;
inline constexpr uint32_t kBrightnessItem = 4;
inline constexpr uint32_t kContrastItem = 5;
inline constexpr uint32_t kBufferBytes = 2457600;
inline constexpr uint32_t kRetryMs = 5;
// The size code of a picture width; 0 for a width the driver has none for.
uint32_t sizeCode(uint32_t width);
}  // namespace dsc1

class Dsc1Camera final : public StreamCamera {
 public:
  Dsc1Camera(camera::CameraEnvironment environment, DriverPort& port);
  ~Dsc1Camera() override;
  void Reset() override;
  bool ApplyDeviceSetting(sources::SourceSetting* setting, int32_t index) override;
  uint32_t EnumerateModes(sources::PictureMode* modes, uint32_t flag) override;
  bool OpenDevice(uint32_t quality, uint32_t mode) override;
  void CloseDevice() override;
  sources::SourceSetting* AppendSettings(const sources::SettingChoice* lastChoices,
                                         uint32_t lastTextId) override;

 private:
  bool setPair(uint32_t item, int32_t value);
  std::array<sources::SourceSetting, 2> device_{};
  std::shared_ptr<std::vector<uint8_t>> buffer_;
};

// The source for rows 4 to 6 of the source list.
std::unique_ptr<sources::CaptureSource> makeStreamCamera(camera::CameraEnvironment environment,
                                                         sources::StreamDriver driver, DriverPort& port);

}  // namespace makers
