#include "makers/htc_camera.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "camera_rig.h"
#include "fake_htc_library.h"
#include "texts/text_ids.h"

namespace makers::testing {
namespace {

using sources::PictureMode;
using sources::SourceSetting;

std::string describe(const PictureMode* modes, uint32_t n) {
  std::string out;
  for (uint32_t i = 0; i < n; ++i) {
    const PictureMode& m = modes[i];
    std::string format = "-";
    if (m.format == sources::kFormatJpeg) format = "JPEG";
    else if (m.format != 0) format = std::string(reinterpret_cast<const char*>(&m.format), 4);
    char line[64];
    std::snprintf(line, sizeof line, "%s%ux%u %s %u", i ? ", " : "", m.width, m.height, format.c_str(),
                  m.modeClass);
    out += line;
  }
  return out;
}

TEST(HtcModes, PerModelCodeAndSensor) {
  const struct {
    uint32_t code;
    bool smartphone, front;
    const char* modes;
    uint8_t swap;
    uint32_t turn;
  } cases[] = {
      {35, false, false,
       "160x120 UYVY 2, 176x144 UYVY 2, 320x240 UYVY 2, 352x288 UYVY 2, 640x480 UYVY 2, 1280x1024 UYVY 4", 0, 1},
      {35, true, false,
       "160x120 UYVY 2, 176x144 UYVY 2, 320x240 UYVY 2, 352x288 UYVY 2, 640x480 UYVY 4, 1280x1024 UYVY 4", 1, 0},
      {0, false, false,
       "160x120 UYVY 2, 176x144 UYVY 2, 320x240 UYVY 2, 352x288 UYVY 2, 640x480 UYVY 2, 1280x960 UYVY 2", 0, 1},
      {2, false, false,
       "160x120 JPEG 2, 176x144 JPEG 2, 320x240 JPEG 2, 352x288 JPEG 2, 640x480 JPEG 2, 1280x960 JPEG 4, "
       "1600x1200 JPEG 4, 2048x1536 JPEG 4, 320x240 - 2", 0, 1},
      {2, false, true,
       "160x120 JPEG 2, 176x144 JPEG 2, 320x240 JPEG 2, 352x288 JPEG 2, 640x480 JPEG 2, 320x240 - 2", 0, 1},
      {12, false, false, "320x240 JPEG 2, 640x480 JPEG 2, 1280x1024 JPEG 2, 1600x1200 JPEG 2, 320x240 - 2", 0, 3},
      {12, true, true, "320x240 JPEG 2, 320x240 - 2", 1, 3},
      {18, false, false,
       "160x120 NV12 2, 176x144 NV12 2, 320x240 NV12 2, 352x288 NV12 2, 640x480 NV12 2, 1280x960 NV12 4, "
       "1600x1200 NV12 4, 2048x1536 NV12 4", 0, 1},
      {8, true, false, "160x120 UYVY 2, 176x144 UYVY 2, 320x240 UYVY 2, 352x288 UYVY 2, 640x480 UYVY 4", 1, 0},
      {5, false, false,
       "160x120 UYVY 2, 176x144 UYVY 2, 320x240 UYVY 2, 352x288 UYVY 2, 640x480 UYVY 2, 1280x1024 UYVY 4, "
       "1600x1200 UYVY 4", 1, 1},
      {4, false, true, "160x120 UYVY 2, 176x144 UYVY 2, 320x240 UYVY 2, 352x288 UYVY 2", 0, 3},
      {20, false, false,
       "160x120 YV16 2, 176x144 YV16 2, 320x240 YV16 2, 352x288 YV16 2, 640x480 YV16 2, 1280x1024 YV16 4", 0, 1},
  };
  uint32_t overlay[2] = {0, 1};
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::Message() << "code " << c.code << (c.front ? " front" : " main")
                                    << (c.smartphone ? " smartphone" : ""));
    PictureMode modes[sources::kMaxPictureModes];
    const uint32_t n = htc::listModes(c.code, c.smartphone, c.front, overlay, modes);
    EXPECT_EQ(describe(modes, n), c.modes);
    for (uint32_t i = 0; i < n; ++i) {
      EXPECT_EQ(modes[i].nativeSwap, c.swap);
      EXPECT_EQ(modes[i].rotationOffset, c.turn);
      EXPECT_EQ(modes[i].overlay, modes[i].format == 0 ? overlay : nullptr);
    }
  }
}

TEST(HtcFrames, FormatCorrectionsBySize) {
  const uint32_t w = 8, h = 4;
  const struct { uint32_t announced, size, passed; } cases[] = {
      {sources::kFormatNv12, w * h * 2, sources::kFormatUyvy},
      {sources::kFormatYv12, w * h * 2, sources::kFormatUyvy},
      {sources::kFormatNv12, w * h * 3 / 2, sources::kFormatNv12},
      {sources::kFormatYv16, w * h * 3 / 2, sources::kFormatNv12},
      {sources::kFormatUyvy, w * h * 3 / 2, sources::kFormatNv12},
      {sources::kFormatUyvy, w * h * 2, sources::kFormatUyvy},
      {sources::kFormatYv16, w * h * 2, sources::kFormatYv16},
      {sources::kFormatJpeg, w * h * 2, sources::kFormatJpeg},
  };
  for (const auto& c : cases) {
    std::vector<uint8_t> picture(c.size, 0x55);
    EXPECT_EQ(htc::correctFrame(35, c.announced, w, h, picture.data(), c.size), c.passed);
    EXPECT_EQ(picture, std::vector<uint8_t>(c.size, 0x55));  // nothing painted
  }
}

TEST(HtcFrames, ModelZeroPaintsTheRightColumnsBlack) {
  const struct { uint32_t code, w, h, format, size, blackPixels; } cases[] = {
      {0, 320, 240, sources::kFormatUyvy, 320 * 240 * 2, 4},
      {0, 160, 120, sources::kFormatUyvy, 160 * 120 * 2, 6},
      {0, 640, 480, sources::kFormatUyvy, 640 * 480 * 2, 0},
      {0, 176, 144, sources::kFormatUyvy, 176 * 144 * 2, 0},
      {35, 320, 240, sources::kFormatUyvy, 320 * 240 * 2, 0},
      {0, 320, 240, sources::kFormatUyvy, 320 * 240 * 3 / 2, 0},  // passed on as NV12
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::Message() << c.code << " " << c.w << "x" << c.h << " " << c.size);
    std::vector<uint8_t> picture(c.size, 0x55);
    htc::correctFrame(c.code, c.format, c.w, c.h, picture.data(), c.size);
    if (c.blackPixels == 0) {
      EXPECT_EQ(picture, std::vector<uint8_t>(c.size, 0x55));
      continue;
    }
    for (uint32_t y = 0; y < c.h; ++y) {
      const uint8_t* row = picture.data() + size_t{y} * c.w * 2;
      const uint32_t edge = (c.w - c.blackPixels) * 2;
      ASSERT_EQ(row[edge - 1], 0x55) << "row " << y;
      for (uint32_t b = edge; b < c.w * 2; ++b) ASSERT_EQ(row[b], b % 2 ? 0x00 : 0x80) << "row " << y;
    }
  }
}

TEST(HtcQuality, LevelsOfProperty65) {
  const struct { uint32_t quality, level; } cases[] = {
      {30, 1}, {40, 1}, {50, 2}, {60, 2}, {70, 4}, {80, 4}, {90, 8}, {100, 8}};
  for (const auto& c : cases) EXPECT_EQ(htc::qualityLevel(c.quality), c.level) << c.quality;
}

class HtcCameraTest : public CameraRig {
 protected:
  void SetUp() override {
    CameraRig::SetUp();
    fake().reset();
  }
  static FakeHtc& fake() { return FakeHtc::instance(); }
  static std::vector<uint32_t> textIds(HtcCamera& source) {
    std::vector<uint32_t> ids;
    for (SourceSetting* s = source.DeviceSettingList(); s; s = s->next) ids.push_back(s->textId);
    return ids;
  }
};

TEST_F(HtcCameraTest, DeviceSettingsPerModel) {
  using namespace texts;
  const std::vector<uint32_t> all = {kTextExposure, kTextWhiteBalance, kTextFlicker, kTextNightMode,
                                     kTextEffect,   kTextContrast,     kTextBrightness, kTextSaturation,
                                     kTextHue,      kTextGamma,        kTextSharpness};
  const std::vector<uint32_t> fromWhiteBalance(all.begin() + 1, all.end());
  const struct {
    uint32_t code;
    bool front;
    uint32_t reported;
    std::vector<uint32_t> ids;
    uint32_t brightnessCount, saturationCount, hueCount;
  } cases[] = {
      {35, false, 10, all, 9, 9, 8},
      {35, false, 16, all, 18, 9, 8},  // the library reports a finer brightness
      {2, false, 10, fromWhiteBalance, 9, 9, 8},
      {12, true, 10, {kTextBrightness, kTextFlicker}, 9, 0, 0},
      {6, false, 10, all, 18, 9, 8},
      {10, false, 10, all, 18, 10, 10},
      {4, true, 10, all, 9, 9, 8},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.code);
    fake().reset();
    auto lib = FakeHtc::library(c.code, false);
    fake().reportedBrightness = c.reported;
    HtcCamera source(environment(), lib, c.front);
    source.Init();
    EXPECT_EQ(textIds(source), c.ids);
    SourceSetting* brightness = setting(source, kTextBrightness);
    ASSERT_NE(brightness, nullptr);
    EXPECT_EQ(brightness->count, c.brightnessCount);
    EXPECT_EQ(brightness->defaultIndex, c.brightnessCount == 18 ? 8 : 4);
    EXPECT_EQ(brightness->step, c.brightnessCount == 18 ? 15 : 1);
    if (SourceSetting* s = setting(source, kTextSaturation)) {
      EXPECT_EQ(s->count, c.saturationCount);
    }
    if (SourceSetting* s = setting(source, kTextHue)) {
      EXPECT_EQ(s->count, c.hueCount);
    }
    if (SourceSetting* s = setting(source, kTextSharpness)) {
      EXPECT_EQ(s->count, 15u);
      EXPECT_EQ(settings::settingValue(*s), 1);  // from 1
    }
  }
}

TEST_F(HtcCameraTest, PropertiesSentWhenTheModesAreListed) {
  const struct {
    uint32_t code;
    bool smartphone, front;
    std::vector<std::pair<uint32_t, int32_t>> chosen;  // text id, index
    std::vector<std::string> calls;
  } cases[] = {
      {2, false, false,
       {{texts::kTextWhiteBalance, 2}, {texts::kTextEffect, 0}, {texts::kTextBrightness, 3}},
       {"Init 1", "SetProperty 35 16", "SetProperty 11 2", "SetProperty 69 0", "SetProperty 75 0",
        "SetProperty 10 1", "SetProperty 2 2", "SetProperty 5 3"}},
      {18, true, true,
       {{texts::kTextNightMode, 1}, {texts::kTextSharpness, 0}, {texts::kTextExposure, 1}},
       {"Init 2", "SetProperty 15 1", "SetProperty 10 1", "SetProperty 10 6", "SetProperty 9 1"}},
      {35, false, false,
       {{texts::kTextEffect, 2}, {texts::kTextFlicker, 1}, {texts::kTextContrast, 0}, {texts::kTextHue, 7},
        {texts::kTextSaturation, 8}, {texts::kTextGamma, 10}},
       {"Init 1", "SetProperty 10 1", "SetProperty 1 1", "SetProperty 10 3", "SetProperty 4 0",
        "SetProperty 6 8", "SetProperty 7 7", "SetProperty 8 10"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.code);
    fake().reset();
    HtcCamera source(environment(), FakeHtc::library(c.code, c.smartphone), c.front);
    source.Init();
    for (const auto& [id, index] : c.chosen) setting(source, id)->current = index;
    fake().clearCalls();
    PictureMode modes[sources::kMaxPictureModes];
    EXPECT_GT(source.EnumerateModes(modes, 0), 0u);
    EXPECT_EQ(fake().calls(), c.calls);
    // A changed setting goes to its property while the library runs.
    fake().clearCalls();
    SourceSetting* flicker = setting(source, texts::kTextFlicker);
    flicker->current = 2;
    EXPECT_TRUE(source.SetSetting(flicker, 2));
    EXPECT_EQ(fake().calls(), std::vector<std::string>{"SetProperty 1 2"});
  }
}

TEST_F(HtcCameraTest, StreamsThroughTheCallbackAndEnds) {
  HtcCamera source(environment(), FakeHtc::library(0, false), false);
  source.Init();
  ASSERT_TRUE(startPreview(source));  // 320 x 240 UYVY
  // The brightness range is asked when the settings are built.
  const std::vector<std::string> opened = {"GetProperty 5", "Init 1", "SetProperty 10 1", "Begin 320x240 0"};
  EXPECT_EQ(fake().calls(), opened);
  ASSERT_TRUE(fake().deliver(std::vector<uint8_t>(320 * 240 * 2, 0x55)));
  ASSERT_TRUE(fake().deliver(std::vector<uint8_t>(320 * 240 * 3 / 2, 0x55)));
  ASSERT_EQ(preview.count(), 2u);
  {
    std::lock_guard lock(preview.mutex);
    EXPECT_EQ(preview.formats[0], sources::kFormatUyvy);
    EXPECT_EQ(preview.formats[1], sources::kFormatYv12);  // announced UYVY, sized as NV12
    EXPECT_EQ(preview.sizes[0], 320u * 240 * 2);
  }
  fake().clearCalls();
  source.Halt();
  EXPECT_EQ(fake().calls(), std::vector<std::string>{"End"});
  EXPECT_FALSE(fake().deliver(std::vector<uint8_t>(16)));
  source.Stop();
  EXPECT_EQ(fake().calls().back(), "Deinit");
}

TEST_F(HtcCameraTest, BlackColumnsReachThePipeline) {
  HtcCamera source(environment(), FakeHtc::library(0, false), false);
  source.Init();
  ASSERT_TRUE(startPreview(source));
  ASSERT_TRUE(fake().deliver(std::vector<uint8_t>(320 * 240 * 2, 0x55)));
  std::lock_guard lock(preview.mutex);
  ASSERT_EQ(preview.last.size(), 320u * 240 * 2);
  for (uint32_t y = 0; y < 240; y += 37) {
    const uint8_t* row = preview.last.data() + y * 640;
    EXPECT_EQ(row[631], 0x55);
    for (int b = 632; b < 640; ++b) EXPECT_EQ(row[b], b % 2 ? 0x00 : 0x80) << y << " " << b;
  }
}

TEST_F(HtcCameraTest, WideModesTakeOnePictureAtATime) {
  fake().stillPicture.assign(1280 * 1024 * 2, 0x40);
  HtcCamera source(environment(), FakeHtc::library(35, false), false);
  source.Init();
  source.common(camera::kSettingResolution).current = 5;  // 1280 x 1024, class 4
  ASSERT_TRUE(startCapture(source));
  EXPECT_TRUE(takeFrame(source));
  EXPECT_TRUE(takeFrame(source));
  source.Halt();
  EXPECT_GE(fake().count("Begin 1280x1024 1"), 2u);
  EXPECT_EQ(fake().count("Begin 1280x1024 1"), fake().count("End"));
  EXPECT_EQ(fake().count("Begin 1280x1024 0"), 0u);
}

TEST_F(HtcCameraTest, QualityGoesToProperty65ForJpegModels) {
  for (uint32_t code : {13u, 35u}) {
    SCOPED_TRACE(code);
    fake().reset();
    HtcCamera source(environment(), FakeHtc::library(code, false), false);
    source.Init();
    source.common(camera::kSettingQuality).current = 5;  // 80
    if (code == 35) source.common(camera::kSettingResolution).current = 0;
    ASSERT_TRUE(startCapture(source));
    const auto calls = fake().calls();
    ASSERT_GE(calls.size(), 2u);
    if (code == 13) {
      EXPECT_EQ(calls[calls.size() - 2], "SetProperty 65 4");
      EXPECT_EQ(calls.back(), "Begin 320x240 0");
    } else {
      EXPECT_EQ(fake().count("SetProperty 65 4"), 0u);
    }
    source.Stop();
  }
}

TEST_F(HtcCameraTest, FailuresFailTheStart) {
  fake().initResult = 0;
  {
    HtcCamera source(environment(), FakeHtc::library(35, false), false);
    source.Init();
    EXPECT_FALSE(startPreview(source));
    EXPECT_EQ(fake().count("Begin 320x240 0"), 0u);
  }
  fake().reset();
  fake().beginResult = 0;
  {
    HtcCamera source(environment(), FakeHtc::library(35, false), false);
    source.Init();
    EXPECT_FALSE(startPreview(source));
    EXPECT_FALSE(source.IsStarted());
  }
  EXPECT_EQ(fake().count("Deinit"), 1u);
  // Without the optional property entries the camera still runs; settings cannot be sent.
  fake().reset();
  HtcCamera source(environment(), FakeHtc::library(35, false, false), false);
  source.Init();
  ASSERT_TRUE(startPreview(source));
  SourceSetting* hue = setting(source, texts::kTextHue);
  hue->current = 1;
  EXPECT_FALSE(source.SetSetting(hue, 1));
}

}  // namespace
}  // namespace makers::testing
