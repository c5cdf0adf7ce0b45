#include "makers/stream_cameras.h"

#include <gtest/gtest.h>

#include <mutex>
#include <thread>

#include "device_settings.h"
#include "camera_rig.h"
#include "fake_driver_port.h"
#include "texts/text_ids.h"

namespace makers::testing {
namespace {

using sources::PictureMode;
using sources::SourceSetting;

class StreamCameraTest : public CameraRig {
 protected:
  // The calls after the first call that starts with `prefix`, up to `n` of them.
  std::vector<std::string> callsFrom(const std::string& prefix, size_t n) {
    const auto all = port.calls();
    std::vector<std::string> out;
    bool found = false;
    for (const std::string& c : all) {
      found = found || c.rfind(prefix, 0) == 0;
      if (found && out.size() < n) out.push_back(c);
    }
    return out;
  }
  FakeDriverPort port;
};

// ---- "CAM1:" ----

TEST_F(StreamCameraTest, Cam1OpensListsItsModesAndCloses) {
  Cam1Camera source(environment(), port);
  source.Init();
  PictureMode modes[sources::kMaxPictureModes];
  ASSERT_EQ(source.EnumerateModes(modes, 0), 6u);
  const std::vector<std::string> opening = {
      "open CAM1: 80000000 0 3 0", "event CAMERAAPPEVENT", "event CAMERACODECEVENT",
      "control 22223355", "control 2222336A out 1", "control 22223361 in 00",
      "map A3C00000 3993600",
      // Every device setting at its default, then the end of the reset.
      "control 2222335F in 00", "control 22223337 in 20", "control 2222333F in 80",
      "control 22223343 in 80", "control 22223359 in 01", "control 2222335D in 01",
      "control 22223369 in 00", "control 22223365 in 00", "control 22223358 in 00",
      "control 22223367 in 00"};
  EXPECT_EQ(port.calls(), opening);

  const struct { uint32_t w, h, format, modeClass, swap; } expected[] = {
      {176, 144, sources::kFormatYv16, 4, 1},   {352, 288, sources::kFormatYv16, 4, 1},
      {320, 240, sources::kFormatRgb565, 2, 0}, {640, 480, sources::kFormatYv16, 4, 1},
      {1280, 960, sources::kFormatYv16, 4, 1},  {1600, 1200, sources::kFormatYv16, 4, 1}};
  for (size_t i = 0; i < 6; ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(modes[i].width, expected[i].w);
    EXPECT_EQ(modes[i].height, expected[i].h);
    EXPECT_EQ(modes[i].format, expected[i].format);
    EXPECT_EQ(modes[i].modeClass, expected[i].modeClass);
    EXPECT_EQ(modes[i].nativeSwap, expected[i].swap);
    EXPECT_EQ(modes[i].rotationOffset, 3u);
  }

  port.clearCalls();
  source.CloseDevice();
  const std::vector<std::string> closing = {"control 22223356", "close", "close event CAMERAAPPEVENT",
                                            "close event CAMERACODECEVENT"};
  EXPECT_EQ(port.calls(), closing);
}

TEST_F(StreamCameraTest, Cam1FrameAreaFollowsTheSensorType) {
  const struct { bool fails; uint8_t type; const char* map; } cases[] = {
      {false, 3, "map A3B00000 3993600"}, {false, 7, "map A3B00000 3993600"},
      {false, 2, "map A3C00000 3993600"}, {false, 8, "map A3C00000 3993600"},
      {true, 5, "map A3C00000 3993600"},  // a failed query reads as 255
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.type);
    FakeDriverPort fresh;
    fresh.lastAnswer[cam1::kSensorType] = {c.type};
    fresh.fail(cam1::kSensorType, c.fails);
    Cam1Camera source(environment(), fresh);
    source.Init();
    PictureMode modes[sources::kMaxPictureModes];
    ASSERT_EQ(source.EnumerateModes(modes, 0), 6u);
    EXPECT_EQ(fresh.count(c.map), 1u);
    EXPECT_EQ(source.sensorType(), c.fails ? 255 : c.type);
  }
}

size_t handlesClosed(FakeDriverPort& port) { return port.count("close") - port.count("close event"); }

TEST_F(StreamCameraTest, Cam1FailingOpenStepsFailTheStartAndReleaseTheDriver) {
  enum Step { kNoDriver, kNoEvent, kOpenRefused, kNoArea, kSensorFails, kPrepareFails };
  const struct { Step step; bool starts; size_t closes; } cases[] = {
      {kNoDriver, false, 0}, {kNoEvent, false, 1}, {kOpenRefused, false, 1},
      {kNoArea, false, 1},   {kSensorFails, true, 0}, {kPrepareFails, true, 0}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.step);
    FakeDriverPort fresh;
    fresh.openFails = c.step == kNoDriver;
    fresh.eventFails = c.step == kNoEvent;
    fresh.mapFails = c.step == kNoArea;
    fresh.fail(cam1::kOpen, c.step == kOpenRefused);
    fresh.fail(cam1::kSensorType, c.step == kSensorFails);
    fresh.fail(cam1::kPrepare, c.step == kPrepareFails);
    {
      Cam1Camera source(environment(), fresh);
      source.Init();
      EXPECT_EQ(startPreview(source), c.starts);
      EXPECT_EQ(source.IsStarted(), c.starts);
      if (!c.starts) {
        EXPECT_EQ(handlesClosed(fresh), c.closes);
      }
    }
    // Whatever happened, the driver and its events are closed in the end.
    EXPECT_EQ(handlesClosed(fresh), c.step == kNoDriver ? 0u : 1u);
    EXPECT_EQ(fresh.count("close event"), c.step == kNoDriver || c.step == kNoEvent ? 0u : 2u);
  }
}

TEST_F(StreamCameraTest, Cam1StreamsTheReadySlotOfTheFrameArea) {
  // Ready slots 2, then 9 (out of range: slot 0), then 1 for ever; a failing index query
  // is tried again.
  port.answers[cam1::kReadyIndex] = {{2, 0, 0, 0}, {9, 0, 0, 0}};
  port.lastAnswer[cam1::kReadyIndex] = {1, 0, 0, 0};
  Cam1Camera source(environment(), port);
  source.Init();
  PictureMode modes[sources::kMaxPictureModes];
  ASSERT_EQ(source.EnumerateModes(modes, 0), 6u);
  for (uint32_t slot = 0; slot < cam1::kSlots; ++slot)
    std::fill_n(port.area.begin() + slot * cam1::kSlotBytes, cam1::kSlotBytes, 0x10 + slot);
  port.clearCalls();

  ASSERT_TRUE(startPreview(source));  // preview streams the 320 x 240 mode
  ASSERT_TRUE(preview.waitFor(4));
  EXPECT_TRUE(source.Halt());
  {
    std::lock_guard lock(preview.mutex);
    EXPECT_EQ(preview.firstBytes[0], 0x12);
    EXPECT_EQ(preview.firstBytes[1], 0x10);
    EXPECT_EQ(preview.firstBytes[2], 0x11);
    EXPECT_EQ(preview.sizes[0], cam1::kSlotBytes);
    EXPECT_EQ(preview.formats[0], sources::kFormatRgb565);
  }
  const auto calls = port.calls();
  ASSERT_GE(calls.size(), 3u);
  EXPECT_EQ(calls[0], "control 2222334F");
  EXPECT_EQ(calls[1], "control 22223352 out 4");
  EXPECT_EQ(calls.back(), "control 22223350");  // stop, after the loop ended

  // A failing index query is tried again; the loop goes on once it answers.
  const size_t before = preview.count();
  port.fail(cam1::kReadyIndex);
  ASSERT_TRUE(startPreview(source));
  ASSERT_TRUE(port.waitFor("control 22223352", port.count("control 22223352") + 3));
  EXPECT_EQ(preview.count(), before);
  port.fail(cam1::kReadyIndex, false);
  EXPECT_TRUE(preview.waitFor(before + 2));
  source.Stop();
  EXPECT_EQ(port.calls().back(), "close event CAMERACODECEVENT");
}

TEST_F(StreamCameraTest, Cam1CapturesOtherModesByTheirDriverPosition) {
  Cam1Camera source(environment(), port);
  source.Init();
  // Sorted by area: 176x144, 320x240, 352x288, 640x480, 1280x960, 1600x1200.
  const struct { int32_t sorted; const char* request; } cases[] = {
      {0, "control 22223354 in 00"}, {2, "control 22223354 in 01"},
      {3, "control 22223354 in 03"}, {5, "control 22223354 in 05"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.request);
    source.common(camera::kSettingResolution).current = c.sorted;
    ASSERT_TRUE(startCapture(source));
    EXPECT_TRUE(takeFrame(source));
    EXPECT_TRUE(source.Halt());
    EXPECT_GE(port.count(c.request), 1u);
  }
  EXPECT_EQ(port.count("control 2222334F"), 0u);  // no streaming request ...
  EXPECT_EQ(port.count("control 22223350"), 0u);  // ... and no stop for captured pictures
}

TEST_F(StreamCameraTest, Cam1SettingsWriteOneByteEach) {
  Cam1Camera source(environment(), port);
  source.Init();
  PictureMode modes[sources::kMaxPictureModes];
  ASSERT_EQ(source.EnumerateModes(modes, 0), 6u);
  const struct { uint32_t textId; int32_t index; const char* write; } cases[] = {
      {texts::kTextExposure, 10, "control 2222335F in 1E"},
      {texts::kTextBrightness, 15, "control 22223337 in 3C"},
      {texts::kTextRed, 3, "control 2222333F in 30"},
      {texts::kTextBlue, 15, "control 22223343 in F0"},
      {texts::kTextWhiteBalance, 0, "control 22223359 in 00"},
      {texts::kTextGainControl, 0, "control 2222335D in 00"},
      {texts::kTextFlicker, 1, "control 22223369 in 01"},
      {texts::kTextEffect, 5, "control 22223365 in 05"},
      {texts::kTextZoom, 6, "control 22223358 in 06"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.write);
    SourceSetting* s = setting(source, c.textId);
    ASSERT_NE(s, nullptr);
    s->current = c.index;
    port.clearCalls();
    EXPECT_TRUE(source.SetSetting(s, c.index));
    EXPECT_EQ(port.calls(), std::vector<std::string>{c.write});
  }

  // A zoom change while streaming halts the driver first and restarts it after.
  ASSERT_TRUE(startPreview(source));
  ASSERT_TRUE(port.waitFor("control 22223352", 1));
  SourceSetting* zoom = setting(source, texts::kTextZoom);
  zoom->current = 2;
  port.clearCalls();
  EXPECT_TRUE(source.SetSetting(zoom, 2));
  EXPECT_TRUE(source.IsStarted());
  const auto calls = callsFrom("control 22223350", 3);
  const std::vector<std::string> expected = {"control 22223350", "control 22223358 in 02",
                                             "control 2222334F"};
  EXPECT_EQ(calls, expected);
}

// ---- "CAM2:" ----

TEST_F(StreamCameraTest, Cam2StartsCapturesAndStops) {
  Cam2Camera source(environment(), port);
  source.Init();
  PictureMode modes[sources::kMaxPictureModes];
  ASSERT_EQ(source.EnumerateModes(modes, 0), 6u);
  EXPECT_EQ(port.calls(), std::vector<std::string>{"open CAM2: 80000000 0 3 0"});
  const uint32_t widths[] = {160, 320, 640, 800, 1280, 1600};
  for (size_t i = 0; i < 6; ++i) {
    EXPECT_EQ(modes[i].width, widths[i]);
    EXPECT_EQ(modes[i].height, widths[i] * 3 / 4);
    EXPECT_EQ(modes[i].format, sources::kFormatYv16);
    EXPECT_EQ(modes[i].modeClass, 2u);
  }

  port.clearCalls();
  ASSERT_TRUE(startPreview(source));  // 320 x 240
  ASSERT_TRUE(preview.waitFor(2));
  source.Halt();
  const auto calls = port.calls();
  ASSERT_GE(calls.size(), 4u);
  EXPECT_EQ(calls[0], "control 186AD in " + FakeDriverPort::hex(std::vector<uint8_t>(24).data(), 24) +
                          " ... (108) out 1");
  EXPECT_EQ(calls[1].substr(0, 50), "control 186BD in 00 00 00 00 07 00 00 00 00 00 00 ");
  EXPECT_EQ(calls[2].substr(0, 41), "control 186CA in 42 00 00 00 07 00 00 00 ");
  EXPECT_NE(calls[2].find("out 153600"), std::string::npos);
  EXPECT_EQ(calls.back(), "control 186AE");

  // Each size has its capture request.
  const struct { int32_t index; const char* code; } sizes[] = {
      {0, "control 186C3 "}, {1, "control 186CA "}, {2, "control 186B1 "},
      {3, "control 186B2 "}, {4, "control 186B3 "}, {5, "control 186B4 "}};
  for (const auto& s : sizes) {
    SCOPED_TRACE(s.code);
    source.common(camera::kSettingResolution).current = s.index;
    ASSERT_TRUE(startCapture(source));
    EXPECT_TRUE(takeFrame(source));
    source.Halt();
    EXPECT_GE(port.count(s.code), 1u);
  }
}

TEST_F(StreamCameraTest, Cam2DeliversOnlyPicturesWithAGoodStatus) {
  // The driver reports a negative status for every other picture.
  std::atomic<int> captures{0};
  port.onControl = [&](uint32_t code, uint8_t* in, uint32_t inSize) {
    if (code != 100042 || inSize < 12) return;
    const int n = captures.fetch_add(1);
    platform::store32(in + 8, n % 2 ? 0xFFFFFFFFu : 0);
  };
  Cam2Camera source(environment(), port);
  source.Init();
  ASSERT_TRUE(startPreview(source));
  ASSERT_TRUE(preview.waitFor(3));
  source.Halt();
  // The halt may come between a good picture and its delivery.
  const size_t good = static_cast<size_t>((captures.load() + 1) / 2);
  EXPECT_LE(preview.count(), good);
  EXPECT_GE(preview.count() + 1, good);
}

TEST_F(StreamCameraTest, Cam2FailingRequests) {
  for (uint32_t code : {cam2::kPrepare, cam2::kMode}) {
    FakeDriverPort fresh;
    fresh.fail(code);
    Cam2Camera source(environment(), fresh);
    source.Init();
    EXPECT_FALSE(startPreview(source));
  }
  FakeDriverPort absent;
  absent.openFails = true;
  Cam2Camera none(environment(), absent);
  none.Init();
  EXPECT_FALSE(startPreview(none));

  // A failing capture request delivers nothing and is tried again.
  port.fail(100042);
  Cam2Camera source(environment(), port);
  source.Init();
  ASSERT_TRUE(startPreview(source));
  ASSERT_TRUE(port.waitFor("control 186CA", 3));
  EXPECT_EQ(preview.count(), 0u);
  port.fail(100042, false);
  EXPECT_TRUE(preview.waitFor(1));
}

// ---- "DSC1:" ----

std::string pair(uint32_t item, uint32_t value) {
  uint8_t bytes[8];
  platform::store32(bytes, item);
  platform::store32(bytes + 4, value);
  return "control 2 in " + FakeDriverPort::hex(bytes, 8);
}

TEST_F(StreamCameraTest, Dsc1StartSequence) {
  Dsc1Camera source(environment(), port);
  source.Init();
  PictureMode modes[sources::kMaxPictureModes];
  ASSERT_EQ(source.EnumerateModes(modes, 0), 7u);
  EXPECT_EQ(port.calls(), std::vector<std::string>{"open DSC1: C0000000 3 3 80"});
  for (uint32_t i = 0; i < 7; ++i) {
    EXPECT_EQ(modes[i].format, sources::kFormatUyvy);
    EXPECT_EQ(modes[i].modeClass, 2u);
  }

  source.common(camera::kSettingResolution).current = 2;  // 176 x 144
  port.clearCalls();
  ASSERT_TRUE(startCapture(source));
  EXPECT_TRUE(takeFrame(source));
  source.Halt();
  uint8_t size[24];
  const uint32_t words[] = {1, 1, 7, 2, 144, 176};
  for (int i = 0; i < 6; ++i) platform::store32(size + 4 * i, words[i]);
  const std::vector<std::string> start = {
      pair(4, 6), pair(5, 3), pair(7, 27), pair(6, 3), pair(13, 4), pair(14, 0), "control 6",
      "control 2 in " + FakeDriverPort::hex(size, 24), pair(16, 100), "read 50688"};
  EXPECT_EQ(callsFrom("control 2", start.size()), start);

  // Each size has its size code.
  const struct { int32_t index; uint32_t w, h, code; } sizes[] = {
      {0, 88, 72, 5}, {1, 160, 120, 1}, {3, 320, 240, 2}, {4, 352, 288, 8}, {5, 640, 480, 3}, {6, 1280, 960, 4}};
  for (const auto& s : sizes) {
    SCOPED_TRACE(s.w);
    const uint32_t w[] = {1, 1, s.code, 2, s.h, s.w};
    for (int i = 0; i < 6; ++i) platform::store32(size + 4 * i, w[i]);
    source.common(camera::kSettingResolution).current = s.index;
    ASSERT_TRUE(startCapture(source));
    EXPECT_TRUE(takeFrame(source));
    source.Halt();
    EXPECT_EQ(port.count("control 2 in " + FakeDriverPort::hex(size, 24)), 1u);
  }
}

TEST_F(StreamCameraTest, Dsc1SettingsAndFailures) {
  Dsc1Camera source(environment(), port);
  source.Init();
  PictureMode modes[sources::kMaxPictureModes];
  ASSERT_EQ(source.EnumerateModes(modes, 0), 7u);
  SourceSetting* brightness = setting(source, texts::kTextBrightness);
  SourceSetting* contrast = setting(source, texts::kTextContrast);
  ASSERT_NE(brightness, nullptr);
  ASSERT_NE(contrast, nullptr);
  EXPECT_EQ(brightness->count, 9u);
  EXPECT_EQ(contrast->count, 7u);
  brightness->current = 8;
  contrast->current = 0;
  port.clearCalls();
  source.SetSetting(brightness, 8);
  source.SetSetting(contrast, 0);
  EXPECT_EQ(port.calls(), (std::vector<std::string>{pair(4, 8), pair(5, 0)}));
  // The start keeps the chosen values.
  port.clearCalls();
  ASSERT_TRUE(startPreview(source));
  source.Halt();
  EXPECT_EQ(callsFrom("control 2", 2), (std::vector<std::string>{pair(4, 8), pair(5, 0)}));

  // A failing start request fails the start; failing reads deliver nothing.
  port.fail(dsc1::kRun);
  EXPECT_FALSE(startPreview(source));
  port.fail(dsc1::kRun, false);
  port.readFails = true;
  const size_t before = preview.count();
  ASSERT_TRUE(startPreview(source));
  ASSERT_TRUE(port.waitFor("read", port.count("read") + 3));
  EXPECT_EQ(preview.count(), before);
  source.Stop();
  EXPECT_EQ(port.calls().back(), "close");
}

}  // namespace
}  // namespace makers::testing
