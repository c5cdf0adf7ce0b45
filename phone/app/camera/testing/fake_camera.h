#pragma once

// A camera interface for the pipeline's tests: it announces chosen modes, records every
// device call, and lets the test deliver chosen pictures through DeliverFrame.
//
// Method names follow the capture-source interface the device program's modules share;
// they keep its spelling.

#include <atomic>
#include <cstdint>
#include <mutex>
#include <vector>

#include "camera/camera_source.h"
#include "platform/clock.h"

namespace camera::testing {

inline sources::PictureMode mode(uint32_t w, uint32_t h, uint32_t format = sources::kFormatUyvy,
                                 uint32_t modeClass = 0) {
  sources::PictureMode m;
  m.width = w;
  m.height = h;
  m.format = format;
  m.modeClass = modeClass;
  return m;
}

class FakeCamera final : public CameraSource {
 public:
  FakeCamera(CameraEnvironment environment, std::vector<sources::PictureMode> modes)
      : CameraSource(std::move(environment)), announced_(std::move(modes)) {}
  ~FakeCamera() override { Stop(); }

  uint32_t EnumerateModes(sources::PictureMode* out, uint32_t) override {
    ++enumerations;
    for (size_t i = 0; i < announced_.size(); ++i) out[i] = announced_[i];
    return static_cast<uint32_t>(announced_.size());
  }
  bool OpenDevice(uint32_t quality, uint32_t startMode) override {
    ++opens;
    openQuality = quality;
    openMode = startMode;
    return openResult;
  }
  bool HaltDevice() override {
    ++halts;
    return true;
  }
  void CloseDevice() override { ++closes; }
  SourceSetting* AppendSettings(const SettingChoice* lastChoices, uint32_t lastTextId) override {
    appendedAfter = lastTextId;
    appendedChoices = lastChoices;
    extra.textId = 61;
    extra.count = 2;
    extra.step = 1;
    return withExtra ? &extra : nullptr;
  }
  uint32_t NameTextId() override { return 11; }
  void Reset() override {}
  bool ApplyDeviceSetting(SourceSetting* setting, int32_t) override {
    applied.push_back(setting);
    return true;
  }

  using CameraSource::currentFormat;
  using CameraSource::currentModeIndex;
  using CameraSource::modes;
  using CameraSource::modeCount;

  std::vector<sources::PictureMode> announced_;
  int enumerations = 0, opens = 0, halts = 0, closes = 0;
  uint32_t openQuality = 0, openMode = 0;
  bool openResult = true;
  bool withExtra = false;
  SourceSetting extra;
  uint32_t appendedAfter = 0;
  const SettingChoice* appendedChoices = nullptr;
  std::vector<SourceSetting*> applied;
};

// A clock whose sleeps are recorded and move the time on by exactly the time slept.
class RecordingClock final : public platform::Clock {
 public:
  explicit RecordingClock(uint32_t startMs = 0) : now_(startMs) {}
  uint32_t nowMs() override { return now_.load(); }
  void sleepMs(uint32_t ms) override {
    {
      std::lock_guard lock(mutex_);
      sleeps_.push_back(ms);
    }
    now_.fetch_add(ms);
  }
  void advanceMs(uint32_t ms) { now_.fetch_add(ms); }
  std::vector<uint32_t> sleeps() {
    std::lock_guard lock(mutex_);
    return sleeps_;
  }

 private:
  std::atomic<uint32_t> now_;
  std::mutex mutex_;
  std::vector<uint32_t> sleeps_;
};

}  // namespace camera::testing
