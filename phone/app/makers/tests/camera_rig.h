#pragma once

// What the maker camera tests share: a pipeline environment with the recording system
// encoder and a manual clock, starting a camera in preview or capture mode, the frames
// the preview callback saw, and taking a compressed frame.

#include <gtest/gtest.h>

#include <chrono>
#include <mutex>
#include <thread>
#include <vector>

#include "camera/camera_source.h"
#include "fake_system_encoder.h"
#include "manual_clock.h"
#include "platform/event.h"
#include "wait_until.h"

namespace makers::testing {

// Frames seen by the preview callback: first byte, size and format of each, and the
// bytes of the last one.
struct PreviewLog {
  std::mutex mutex;
  std::vector<uint8_t> firstBytes;
  std::vector<uint32_t> sizes;
  std::vector<uint32_t> formats;
  std::vector<uint8_t> last;  // the bytes of the last frame
  static bool onFrame(void* user, const sources::FrameDescriptor* frame, uint32_t, uint8_t*) {
    auto* log = static_cast<PreviewLog*>(user);
    std::lock_guard lock(log->mutex);
    log->firstBytes.push_back(frame->data[0]);
    log->sizes.push_back(frame->sizeBytes);
    log->formats.push_back(frame->format);
    log->last.assign(frame->data, frame->data + frame->sizeBytes);
    return true;
  }
  size_t count() {
    std::lock_guard lock(mutex);
    return firstBytes.size();
  }
  bool waitFor(size_t n) {
    return platform::testing::waitUntil([&] { return count() >= n; });
  }
};

class CameraRig : public ::testing::Test {
 protected:
  void SetUp() override { camera::testing::FakeSystemEncoder::reset(); }
  camera::CameraEnvironment environment() {
    camera::CameraEnvironment env;
    env.systemEncoder = &camera::testing::FakeSystemEncoder::factory;
    env.clock = &clock;
    return env;
  }
  bool startPreview(camera::CameraSource& source) {
    params = {};
    params.frameReady = &ready;
    params.mode = sources::kModePreview;
    params.preview = &PreviewLog::onFrame;
    params.user = &preview;
    return source.Start(params);
  }
  bool startCapture(camera::CameraSource& source) {
    params = {};
    params.frameReady = &ready;
    params.mode = sources::kModeCapture;
    return source.Start(params);
  }
  // Takes one compressed frame in capture mode.
  bool takeFrame(camera::CameraSource& source) {
    if (!ready.wait(5000)) return false;
    sources::FrameDescriptor frame;
    return source.TakeFrame(&frame) != 0 && frame.format == sources::kFormatJpeg;
  }
  static sources::SourceSetting* setting(camera::CameraSource& source, uint32_t textId) {
    for (sources::SourceSetting* s = source.DeviceSettingList(); s; s = s->next)
      if (s->textId == textId) return s;
    return nullptr;
  }

  platform::ManualClock clock;
  platform::Event ready;
  sources::StartParams params;
  PreviewLog preview;
};

}  // namespace makers::testing
