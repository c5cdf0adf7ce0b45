#pragma once

// A camera for tests and benchmarks: in capture mode its own thread draws moving colour
// bars, encodes them with the system's JPEG library into one of two output buffers (at
// offset 32, as every camera keeps the front free for the link's header), publishes the
// frame, signals the target and waits until the frame is taken. Each picture carries
// its running number in a comment segment ("vistrel-frame 000042") so that a receiver
// can check order and loss. Settings "Resolution" (320x240, 640x480, 1280x960) and
// "Frame Rate" (MAX, 30, 15, 5); MAX produces as fast as frames are taken. It shows
// no preview.
//
// Method names follow the capture-source interface the device program's modules share;
// they keep its spelling.

#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "sources/capture_source.h"

namespace testing_sources {

// Encodes the test picture `number` at `width` x `height` into `out` (capacity bytes);
// the JPEG length, 0 when it did not fit. `rgb` is scratch of width * height * 3 bytes.
size_t encodeTestPicture(uint32_t number, uint32_t width, uint32_t height, uint8_t* out,
                         size_t capacity, std::vector<uint8_t>& rgb, int quality = 75);

// The running number in a picture made by encodeTestPicture, or -1.
long pictureNumber(const uint8_t* jpeg, size_t size);

class SyntheticCamera final : public sources::CaptureSource {
 public:
  SyntheticCamera();
  ~SyntheticCamera() override;

  void Init() override;
  bool Start(sources::StartParams& params) override;
  bool Stop() override;
  bool Halt() override;
  bool IsStarted() override;
  uint32_t NameTextId() override;
  sources::SourceKind Kind() override { return sources::SourceKind::kCamera; }
  void Reset() override {}
  settings::SourceSetting* Settings() override { return &resolution_; }
  bool SetSetting(settings::SourceSetting* setting, int32_t index) override;
  uint32_t TakeFrame(sources::FrameDescriptor* out) override;
  settings::SourceSetting* DeviceSettingList() override { return nullptr; }
  bool ApplyDeviceSetting(settings::SourceSetting*, int32_t) override { return false; }

  uint32_t framesProduced() const;

 private:
  void produce(uint32_t width, uint32_t height, uint32_t intervalMs, platform::Event* frameReady);

  settings::SettingChoice resolutionChoices_[3];
  settings::SettingChoice rateChoices_[4];
  settings::SourceSetting resolution_;
  settings::SourceSetting rate_;

  mutable std::mutex mutex_;
  std::condition_variable taken_;
  std::thread thread_;
  bool running_ = false;
  bool halt_ = false;
  bool waiting_ = false;
  sources::FrameDescriptor frame_;
  uint32_t produced_ = 0;
  std::vector<uint8_t> buffers_[2];
};

}  // namespace testing_sources
