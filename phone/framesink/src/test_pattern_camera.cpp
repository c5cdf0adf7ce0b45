#include "test_pattern_camera.h"

#include <atomic>
#include <vector>

#include "formats.h"
#include "framesink/test_pattern.h"

namespace framesink {
namespace {

class TestPatternCamera final : public CameraDevice {
 public:
  explicit TestPatternCamera(platform::Clock& clock) : clock_(clock) {}

  uint32_t categories() const override { return kSinkCapture | kSinkStill; }

  bool listFormats(uint32_t category, std::vector<FormatEntry>& out) override {
    if (category != kSinkCapture && category != kSinkStill) return false;
    for (uint32_t format : {kFormatUyvy, kFormatYv12})
      for (const auto& size : kTestPatternSizes)
        out.push_back({static_cast<int32_t>(size[0]), static_cast<int32_t>(size[1]), format});
    return true;
  }

  bool startStream(const FormatEntry& format) override {
    std::vector<FormatEntry> formats;
    listFormats(kSinkCapture, formats);
    bool known = false;
    for (const FormatEntry& f : formats)
      known = known || (f.width == format.width && f.height == format.height && f.format == format.format);
    if (!known) return false;
    format_ = format;
    const size_t bytes = size_t(format.width) * format.height * (format.format == kFormatUyvy ? 2 : 3) /
                         (format.format == kFormatUyvy ? 1 : 2);
    picture_.assign(bytes, 0);
    due_ = clock_.nowMs();
    streaming_ = true;
    return true;
  }

  void stopStream() override { streaming_ = false; }

  FrameResult nextFrame(uint32_t timeoutMs, CapturedFrame& frame) override {
    if (!streaming_) return FrameResult::kFailed;
    const uint32_t now = clock_.nowMs();
    const int32_t wait = static_cast<int32_t>(due_ - now);
    if (wait > 0) {
      if (static_cast<uint32_t>(wait) > timeoutMs) {
        clock_.sleepMs(timeoutMs);
        return FrameResult::kNone;
      }
      clock_.sleepMs(static_cast<uint32_t>(wait));
    }
    // A late consumer does not get a burst of pictures afterwards.
    const uint32_t after = clock_.nowMs();
    due_ = static_cast<int32_t>(after - due_) > static_cast<int32_t>(kTestPatternPeriodMs)
               ? after + kTestPatternPeriodMs
               : due_ + kTestPatternPeriodMs;
    TestPatternStamp stamp{++frameNumber_, after == 0 ? 1 : after};
    renderTestPattern(picture_.data(), static_cast<uint32_t>(format_.width),
                      static_cast<uint32_t>(format_.height), format_.format, stamp,
                      brightness_.load(std::memory_order_relaxed));
    frame.data = picture_.data();
    frame.sizeBytes = static_cast<uint32_t>(picture_.size());
    frame.slot = 0;
    return FrameResult::kFrame;
  }

  void releaseFrame(const CapturedFrame&) override {}

  void getRange(int32_t which, RangeEntry& entry) override {
    if (which == 0 || entry.property != kPictureBrightness) {
      entry.result = kSinkPropUnsupported;
      return;
    }
    entry.minimum = kTestPatternBrightnessMin;
    entry.maximum = kTestPatternBrightnessMax;
    entry.step = 1;
    entry.defaultValue = kTestPatternBrightnessDefault;
    entry.capabilityFlags = kControlManual;
    entry.result = kSinkOk;
  }

  void getValue(int32_t which, ValueEntry& entry) override {
    if (which == 0 || entry.property != kPictureBrightness) {
      entry.result = kSinkPropUnsupported;
      return;
    }
    entry.value = brightness_.load(std::memory_order_relaxed);
    entry.flags = kControlManual;
    entry.result = kSinkOk;
  }

  void setValue(int32_t which, ValueEntry& entry) override {
    if (which == 0 || entry.property != kPictureBrightness) {
      entry.result = kSinkPropUnsupported;
      return;
    }
    if ((entry.flags & kControlAuto) || entry.value < kTestPatternBrightnessMin ||
        entry.value > kTestPatternBrightnessMax) {
      entry.result = kSinkInvalidArg;
      return;
    }
    brightness_.store(entry.value, std::memory_order_relaxed);
    entry.result = kSinkOk;
  }

 private:
  platform::Clock& clock_;
  FormatEntry format_{};
  std::vector<uint8_t> picture_;
  uint32_t due_ = 0;
  uint32_t frameNumber_ = 0;
  bool streaming_ = false;
  std::atomic<int32_t> brightness_{kTestPatternBrightnessDefault};
};

}  // namespace

std::unique_ptr<CameraDevice> openTestPatternCamera(platform::Clock& clock) {
  return std::make_unique<TestPatternCamera>(clock);
}

}  // namespace framesink
