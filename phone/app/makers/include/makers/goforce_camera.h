#pragma once

// The camera behind the GoForce resource manager ("GFSDK.dll", display name "Camera"),
// on the common camera pipeline. Its pictures come as finished JPEG images from the
// chip's encoder; it produces only in capture mode.
//
// The resource manager's entry points are called with the signatures below (status
// codes: 0 is success). A component is a pointer to its table of operations.
//
// Threading: as camera::CameraSource; the fetch loop runs on a thread of its own.
//
// Method names follow the capture-source interface the device program's modules share;
// they keep its spelling.

#include <array>
#include <cstdint>
#include <memory>

#include "camera/camera_source.h"
#include "makers/producer.h"
#include "sources/source_builder.h"

namespace makers {

namespace goforce {
using OpenFn = int32_t (*)(void** manager);
using CloseFn = void (*)(void** manager);
using GetAttributeFn = int32_t (*)(void* manager, uint32_t attribute, uint32_t* value);
using ComponentGetFn = int32_t (*)(void* manager, void** component, uint32_t id);
using ComponentReleaseFn = void (*)(void* manager, void** component);
using SurfaceAllocFn = int32_t (*)(void* manager, void** surface, uint32_t width, uint32_t height);
using SurfaceFreeFn = void (*)(void* manager, void** surface);

// The first word of the camera component.
struct CameraOps {
  // The size of sensor mode `index`; non-zero when there is none.
  int32_t (*SensorProbe)(void* camera, uint32_t index, uint32_t* width, uint32_t* height);
  int32_t (*Start)(void* camera, void* surface, uint32_t width, uint32_t height);
  int32_t (*Stop)(void* camera);
};
// The first word of the JPEG encoder component.
struct EncoderOps {
  int32_t (*Setup)(void* encoder, void* camera, uint32_t width, uint32_t height, uint32_t level,
                   uint32_t bufferKiB);
  // Copies a finished JPEG image of up to `limit` bytes; its size goes to `*size`.
  int32_t (*Fetch)(void* encoder, uint8_t* buffer, uint32_t limit, uint32_t* size);
  int32_t (*Stop)(void* encoder);
};

inline constexpr uint32_t kJpegEncoder = 0x4A584520;
inline constexpr uint32_t kCamera = 0x43414D20;
inline constexpr uint32_t kVideo = 0x56582020;
inline constexpr uint32_t kBus = 0x49324320;
inline constexpr uint32_t kBufferLimit = 0x280000;
inline constexpr uint32_t kWarmUpMs = 500;
inline constexpr uint32_t kRetryMs = 20;
inline constexpr uint32_t kJoinMs = 2048;

// The JPEG quality as the chip's level (0 best .. 5).
uint32_t qualityLevel(uint32_t quality);
}  // namespace goforce

class GoForceCamera final : public camera::CameraSource {
 public:
  GoForceCamera(camera::CameraEnvironment environment, sources::GoForceLibrary library);
  ~GoForceCamera() override;

  uint32_t NameTextId() override;
  void Reset() override {}
  bool ApplyDeviceSetting(sources::SourceSetting*, int32_t) override { return true; }
  uint32_t EnumerateModes(sources::PictureMode* modes, uint32_t flag) override;
  bool OpenDevice(uint32_t quality, uint32_t mode) override;
  bool HaltDevice() override;
  void CloseDevice() override;
  sources::SourceSetting* AppendSettings(const sources::SettingChoice* lastChoices,
                                         uint32_t lastTextId) override;

 private:
  bool openSession();
  void releaseSession();

  sources::GoForceLibrary library_;
  void* manager_ = nullptr;
  std::array<void*, 4> components_{};  // encoder, camera, and the two others
  void* surface_ = nullptr;
  bool running_ = false;
  sources::SourceSetting buffer_{};
  Producer fetch_;
};

std::unique_ptr<sources::CaptureSource> makeGoForceCamera(camera::CameraEnvironment environment,
                                                          sources::GoForceLibrary library);

}  // namespace makers
