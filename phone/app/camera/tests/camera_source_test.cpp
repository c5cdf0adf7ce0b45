#include "camera/camera_source.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <numeric>
#include <string>
#include <thread>
#include <vector>

#include "fake_camera.h"
#include "fake_system_encoder.h"
#include "memory_key_store.h"
#include "platform/event.h"
#include "settings/settings_store.h"

namespace camera {
namespace {

using namespace sources;
using testing::FakeCamera;
using testing::RecordingClock;
using testing::mode;

std::u16string str(const char16_t* s) { return s ? std::u16string(s) : std::u16string(u"(null)"); }

// What the preview callback saw: the normalised frame.
struct Seen {
  int calls = 0;
  FrameDescriptor frame{};
  std::vector<uint8_t> bytes;
  uint32_t rotation = 0;
};
bool remember(void* user, const FrameDescriptor* frame, uint32_t rotation, uint8_t*) {
  auto* seen = static_cast<Seen*>(user);
  ++seen->calls;
  seen->frame = *frame;
  seen->bytes.assign(frame->data, frame->data + frame->sizeBytes);
  seen->rotation = rotation;
  return true;
}

class CameraSourceTest : public ::testing::Test {
 protected:
  void SetUp() override { testing::FakeSystemEncoder::reset(); }
  std::unique_ptr<FakeCamera> make(std::vector<PictureMode> modes) {
    CameraEnvironment env;
    env.clock = &clock_;
    env.systemEncoder = testing::FakeSystemEncoder::factory;
    auto camera = std::make_unique<FakeCamera>(env, std::move(modes));
    camera->Init();
    return camera;
  }
  StartParams preview() {
    StartParams p;
    p.mode = kModePreview;
    p.preview = remember;
    p.user = &seen_;
    return p;
  }
  StartParams capture() {
    StartParams p;
    p.mode = kModeCapture;
    p.frameReady = &frameReady_;
    return p;
  }

  RecordingClock clock_{1000};
  platform::Event frameReady_{platform::Event::Reset::kAuto};
  Seen seen_;
};

TEST_F(CameraSourceTest, CommonSettingsInTheirOrderWithTheirChoices) {
  auto camera = make({mode(320, 240)});
  camera->withExtra = true;
  camera->Init();
  struct Expected {
    uint32_t textId;
    int32_t defaultIndex;
    uint32_t count;
    int32_t value;  // at the default
  };
  const Expected expected[] = {{22, 0, 16, 0}, {23, 3, 8, 60}, {60, 5, 11, 100},
                               {24, 0, 4, 0},  {25, 0, 2, 0},  {26, 0, 4, 0}};
  const SourceSetting* s = camera->Settings();
  for (const Expected& e : expected) {
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(s->textId, e.textId);
    EXPECT_EQ(s->current, -1) << e.textId;
    EXPECT_EQ(s->defaultIndex, e.defaultIndex) << e.textId;
    EXPECT_EQ(s->count, e.count) << e.textId;
    EXPECT_EQ(settings::settingValue(*s), e.value) << e.textId;
    EXPECT_NE(s->key, 0u);
    s = s->next;
  }
  // The camera's own settings follow "Swap Colors"; it was told the last common setting.
  EXPECT_EQ(s, &camera->extra);
  EXPECT_EQ(camera->DeviceSettingList(), &camera->extra);
  EXPECT_EQ(camera->appendedAfter, 26u);
  ASSERT_NE(camera->appendedChoices, nullptr);
  EXPECT_EQ(camera->appendedChoices[3].value, 3);

  const SourceSetting& quality = camera->common(kSettingQuality);
  EXPECT_EQ(quality.choices[0].value, 30);
  EXPECT_EQ(str(quality.choices[0].label), u"30");
  EXPECT_EQ(quality.choices[7].value, 100);
  EXPECT_EQ(quality.choices[7].textId, 14u);  // "Best"

  const SourceSetting& rate = camera->common(kSettingFrameRate);
  const int32_t periods[] = {1000, 500, 332, 250, 200, 100, 80, 66, 50, 40, 0};
  const char16_t* labels[] = {u"1", u"2", u"3", u"4", u"5", u"10", u"12", u"15", u"20", u"25"};
  for (int i = 0; i < 11; ++i) EXPECT_EQ(rate.choices[i].value, periods[i]) << i;
  for (int i = 0; i < 10; ++i) EXPECT_EQ(str(rate.choices[i].label), labels[i]) << i;
  EXPECT_EQ(rate.choices[10].textId, 1u);  // "MAX"

  const SourceSetting& rotation = camera->common(kSettingRotation);
  EXPECT_EQ(str(rotation.choices[1].label), u"90");
  EXPECT_EQ(str(rotation.choices[3].label), u"270");
  const SourceSetting& mirror = camera->common(kSettingMirror);
  EXPECT_EQ(mirror.choices, nullptr);
  EXPECT_EQ(mirror.step, 1);
}

struct ModeCase {
  const char* name;
  std::vector<PictureMode> modes;
  std::vector<uint32_t> sortedWidths;
  uint32_t defaultMode;
};

TEST_F(CameraSourceTest, ModesSortByAreaAndTheDefaultIs320x240OrTheLargestAllowed) {
  const ModeCase cases[] = {
      {"ascending", {mode(160, 120), mode(320, 240), mode(640, 480)}, {160, 320, 640}, 1},
      {"descending", {mode(640, 480), mode(320, 240), mode(160, 120)}, {160, 320, 640}, 1},
      {"mixed", {mode(320, 240), mode(640, 480), mode(160, 120)}, {160, 320, 640}, 1},
      {"no 320x240", {mode(176, 144), mode(640, 480, kFormatUyvy, 4), mode(352, 288)}, {176, 352, 640}, 1},
      {"320x240 of class 4 is skipped",
       {mode(320, 240, kFormatUyvy, 4), mode(160, 120), mode(640, 480)}, {160, 320, 640}, 2},
      {"all class 4", {mode(640, 480, kFormatUyvy, 4), mode(160, 120, kFormatUyvy, 4)}, {160, 640}, 0},
      {"240x320 also sums to 560", {mode(640, 480), mode(240, 320)}, {240, 640}, 0},
  };
  for (const ModeCase& c : cases) {
    auto camera = make(c.modes);
    StartParams p = preview();
    ASSERT_TRUE(camera->Start(p)) << c.name;
    ASSERT_EQ(camera->modeCount(), c.sortedWidths.size()) << c.name;
    for (size_t i = 0; i < c.sortedWidths.size(); ++i)
      EXPECT_EQ(camera->modes()[i].width, c.sortedWidths[i]) << c.name << " " << i;
    const SourceSetting& resolution = camera->common(kSettingResolution);
    EXPECT_EQ(resolution.defaultIndex, static_cast<int32_t>(c.defaultMode)) << c.name;
    EXPECT_EQ(resolution.count, c.sortedWidths.size()) << c.name;
    // Preview of a raw camera uses the default mode.
    EXPECT_EQ(camera->currentModeIndex(), c.defaultMode) << c.name;
  }
}

TEST_F(CameraSourceTest, ModesAreLabelledAndAnIndexBeyondThemFallsBackToTheDefault) {
  auto camera = make({mode(640, 480), mode(160, 120, 0), mode(320, 240)});
  camera->common(kSettingResolution).current = 9;  // saved for a camera with more modes
  StartParams p = capture();
  ASSERT_TRUE(camera->Start(p));
  const SourceSetting& resolution = camera->common(kSettingResolution);
  EXPECT_EQ(resolution.choices[0].label, nullptr);  // format 0: no label
  EXPECT_EQ(str(resolution.choices[1].label), u"320x240");
  EXPECT_EQ(str(resolution.choices[2].label), u"640x480");
  EXPECT_EQ(resolution.choices[2].value, 2);
  EXPECT_EQ(settings::effectiveIndex(resolution), 1);
  EXPECT_EQ(camera->currentModeIndex(), 1u);
  EXPECT_EQ(camera->enumerations, 1);
  // A second start asks no more.
  camera->Halt();
  ASSERT_TRUE(camera->Start(p));
  EXPECT_EQ(camera->enumerations, 1);
  EXPECT_TRUE(camera->IsStarted());
  EXPECT_EQ(camera->openMode, kModeCapture);
  EXPECT_EQ(camera->openQuality, 60u);
}

TEST_F(CameraSourceTest, ASizeOfferedInTwoFormatsCarriesTheFormatInItsLabel) {
  auto camera = make({mode(640, 480, kFormatUyvy), mode(640, 480, kFormatJpeg), mode(320, 240),
                      mode(320, 240, kFormatRgb565)});
  StartParams p = preview();
  ASSERT_TRUE(camera->Start(p));
  const SourceSetting& resolution = camera->common(kSettingResolution);
  std::vector<std::u16string> labels;
  for (uint32_t i = 0; i < resolution.count; ++i) labels.push_back(str(resolution.choices[i].label));
  EXPECT_EQ(labels, (std::vector<std::u16string>{u"320x240 UYVY", u"320x240 RGB565",
                                                 u"640x480 UYVY", u"640x480 JPEG"}));
}

TEST_F(CameraSourceTest, NoModesOrAFailingDeviceFailTheStart) {
  auto none = make({});
  StartParams p = preview();
  EXPECT_FALSE(none->Start(p));
  EXPECT_EQ(none->opens, 0);
  auto failing = make({mode(320, 240)});
  failing->openResult = false;
  EXPECT_FALSE(failing->Start(p));
  EXPECT_FALSE(failing->IsStarted());
  std::vector<uint8_t> picture(320 * 240 * 2);
  EXPECT_FALSE(failing->DeliverFrame(nullptr, picture.data(), static_cast<uint32_t>(picture.size())));
}

TEST_F(CameraSourceTest, JpegOnlyResolutionPreviewsThroughTheLastModeWithAnOverlay) {
  uint32_t overlayA[2] = {0x123456, 1};
  uint32_t overlayB[2] = {0x654321, 0};
  std::vector<PictureMode> modes = {mode(1280, 960, kFormatJpeg), mode(320, 240), mode(640, 480)};
  modes[1].overlay = overlayA;
  modes[2].overlay = overlayB;
  auto camera = make(modes);
  camera->common(kSettingResolution).current = 2;  // 1280x960, sorted last
  StartParams p = preview();
  ASSERT_TRUE(camera->Start(p));
  EXPECT_EQ(overlayA[0], kOverlayPreviewColour);
  EXPECT_EQ(overlayB[0], 0x654321u);
  EXPECT_EQ(camera->currentFormat().width, 640u);  // the last mode with an overlay
  EXPECT_EQ(p.background, overlayB);
  camera->Halt();
  // Capture takes the "Resolution" mode itself; a JPEG mode needs no encoder.
  StartParams c = capture();
  ASSERT_TRUE(camera->Start(c));
  EXPECT_EQ(camera->currentFormat().width, 1280u);
  EXPECT_EQ(c.background, nullptr);
  EXPECT_TRUE(testing::FakeSystemEncoder::created.empty());
}

// Delivers one picture in preview mode and returns what the preview callback saw.
Seen deliverOnce(FakeCamera& camera, Seen& seen, StartParams params, std::vector<uint8_t> picture,
                 const FrameDescriptor* record = nullptr) {
  seen = Seen{};
  EXPECT_TRUE(camera.Start(params));
  EXPECT_TRUE(camera.DeliverFrame(record, picture.data(), static_cast<uint32_t>(picture.size())));
  camera.Halt();
  return seen;
}

// A planar picture of w x h whose luma rows count up, U bytes are 100 + row and V bytes
// 200 + row of their plane (rows of w/2).
std::vector<uint8_t> planes(uint32_t w, uint32_t h, uint32_t chromaRows) {
  std::vector<uint8_t> p(w * h + 2 * (w / 2) * chromaRows);
  for (uint32_t y = 0; y < h; ++y) std::fill_n(&p[y * w], w, static_cast<uint8_t>(y));
  uint8_t* u = &p[w * h];
  uint8_t* v = u + (w / 2) * chromaRows;
  for (uint32_t y = 0; y < chromaRows; ++y) {
    std::fill_n(u + y * (w / 2), w / 2, static_cast<uint8_t>(100 + y));
    std::fill_n(v + y * (w / 2), w / 2, static_cast<uint8_t>(200 + y));
  }
  return p;
}

TEST_F(CameraSourceTest, Yv16AndNv12BecomeYv12) {
  const uint32_t w = 32, h = 16;
  // With the default colour order (no native swap, "Swap Colors" 0) the two chroma planes
  // of a "YV12" picture are exchanged; with native swap they stay.
  for (uint8_t nativeSwap : {0, 1}) {
    PictureMode yv16 = mode(w, h, kFormatYv16);
    yv16.nativeSwap = nativeSwap;
    auto camera = make({yv16});
    Seen seen = deliverOnce(*camera, seen_, preview(), planes(w, h, h));
    ASSERT_EQ(seen.calls, 1);
    EXPECT_EQ(seen.frame.format, kFormatYv12);
    ASSERT_EQ(seen.frame.sizeBytes, w * h * 3 / 2);
    const uint8_t* u = &seen.bytes[w * h];
    const uint8_t* v = u + w * h / 4;
    if (!nativeSwap) std::swap(u, v);
    for (uint32_t row = 0; row < h / 2; ++row) {
      EXPECT_EQ(u[row * (w / 2)], 100 + 2 * row) << "every second row";
      EXPECT_EQ(v[row * (w / 2) + w / 2 - 1], 200 + 2 * row);
    }
    EXPECT_EQ(seen.bytes[(h - 1) * w], h - 1);  // luma untouched
  }

  PictureMode nv12 = mode(w, h, kFormatNv12);
  nv12.nativeSwap = 1;
  auto camera = make({nv12});
  std::vector<uint8_t> picture(w * h * 3 / 2);
  for (size_t i = 0; i < w * h; ++i) picture[i] = static_cast<uint8_t>(i);
  for (size_t i = 0; i < w * h / 4; ++i) {
    picture[w * h + 2 * i] = static_cast<uint8_t>(i);
    picture[w * h + 2 * i + 1] = static_cast<uint8_t>(255 - i);
  }
  Seen seen = deliverOnce(*camera, seen_, preview(), picture);
  EXPECT_EQ(seen.frame.format, kFormatYv12);
  for (size_t i = 0; i < w * h / 4; ++i) {
    ASSERT_EQ(seen.bytes[w * h + i], static_cast<uint8_t>(i)) << i;
    ASSERT_EQ(seen.bytes[w * h + w * h / 4 + i], static_cast<uint8_t>(255 - i)) << i;
  }
}

TEST_F(CameraSourceTest, SwapColorsBitOneRelabelsTheFormat) {
  const uint32_t w = 16, h = 16;
  // A camera that says "YV12" but delivers NV12 is mended by bit 1.
  PictureMode m = mode(w, h, kFormatYv12);
  m.nativeSwap = 1;
  auto camera = make({m});
  camera->common(kSettingSwapColors).current = 2;
  std::vector<uint8_t> picture(w * h * 3 / 2, 0);
  for (size_t i = 0; i < w * h / 4; ++i) {
    picture[w * h + 2 * i] = 10;
    picture[w * h + 2 * i + 1] = 20;
  }
  // Bit 1 alone: bit 0 clear and native swap set gives swap true, so no plane exchange.
  Seen seen = deliverOnce(*camera, seen_, preview(), picture);
  EXPECT_EQ(seen.bytes[w * h], 10);
  EXPECT_EQ(seen.bytes[w * h + w * h / 4], 20);
}

struct SwapFlipCase {
  const char* name;
  int32_t swapColors;
  uint8_t nativeSwap;
  int32_t mirror;
  uint8_t nativeFlip;
  bool swapped;
  bool flipped;
};

TEST_F(CameraSourceTest, SwapAndFlipFollowTheSettingsAgainstTheNativeOrder) {
  const SwapFlipCase cases[] = {
      {"plain", 0, 0, 0, 0, false, false},
      {"swap asked", 1, 0, 0, 0, true, false},
      {"swap native", 0, 1, 0, 0, true, false},
      {"swap asked on native swap", 1, 1, 0, 0, false, false},
      {"mirror asked", 0, 0, 1, 0, false, true},
      {"flip native", 0, 0, 0, 1, false, true},
      {"mirror asked on native flip", 0, 0, 1, 1, false, false},
  };
  const uint32_t w = 16, h = 4;
  std::vector<uint8_t> picture(w * h * 2);
  for (size_t i = 0; i < picture.size(); ++i) picture[i] = static_cast<uint8_t>(i);
  for (const SwapFlipCase& c : cases) {
    PictureMode m = mode(w, h, kFormatUyvy);
    m.nativeSwap = c.nativeSwap;
    m.nativeFlip = c.nativeFlip;
    auto camera = make({m});
    camera->common(kSettingSwapColors).current = c.swapColors;
    camera->common(kSettingMirror).current = c.mirror;
    Seen seen = deliverOnce(*camera, seen_, preview(), picture);
    ASSERT_EQ(seen.bytes.size(), picture.size()) << c.name;
    std::vector<uint8_t> expected = picture;
    if (c.flipped)
      for (uint32_t y = 0; y < h; ++y)
        std::copy_n(&picture[(h - 1 - y) * w * 2], w * 2, &expected[y * w * 2]);
    if (c.swapped)
      for (size_t i = 0; i < expected.size(); i += 4) {
        std::swap(expected[i], expected[i + 2]);
        std::swap(expected[i + 1], expected[i + 3]);
      }
    EXPECT_EQ(seen.bytes, expected) << c.name;
  }

  // Planar flip turns each plane by itself; RGB 8-8-8 rows are three bytes a pixel.
  PictureMode planar = mode(w, h, kFormatYv12);
  planar.nativeSwap = 1;
  planar.nativeFlip = 1;
  auto camera = make({planar});
  Seen seen = deliverOnce(*camera, seen_, preview(), planes(w, h, h / 2));
  EXPECT_EQ(seen.bytes[0], h - 1);
  EXPECT_EQ(seen.bytes[w * h], 100 + h / 2 - 1);
  EXPECT_EQ(seen.bytes[w * h + w * h / 4 + w / 2], 200 + h / 2 - 2);

  PictureMode rgb = mode(w, h, kFormatRgb24);
  rgb.nativeFlip = 1;
  auto rgbCamera = make({rgb});
  std::vector<uint8_t> bgr(w * h * 3);
  for (uint32_t y = 0; y < h; ++y) std::fill_n(&bgr[y * w * 3], w * 3, static_cast<uint8_t>(y));
  seen = deliverOnce(*rgbCamera, seen_, preview(), bgr);
  EXPECT_EQ(seen.bytes[0], h - 1);
  EXPECT_EQ(seen.bytes[w * h * 3 - 1], 0);
}

TEST_F(CameraSourceTest, SmallJpegInARawModePassesUnchanged) {
  const uint32_t w = 32, h = 32;
  auto camera = make({mode(w, h, kFormatUyvy)});
  std::vector<uint8_t> jpeg = {0xFF, 0xD8, 0xFF, 0xE0, 0x00, 0x10, 'J', 'F', 'I', 'F', 0, 1, 2, 3,
                               0xFF, 0xD9};
  StartParams p = capture();
  ASSERT_TRUE(camera->Start(p));
  std::thread producer([&] { EXPECT_TRUE(camera->DeliverFrame(nullptr, jpeg.data(), 16)); });
  ASSERT_TRUE(frameReady_.wait(5000));
  FrameDescriptor out;
  EXPECT_NE(camera->TakeFrame(&out), 0u);
  producer.join();
  EXPECT_EQ(out.format, kFormatJpeg);
  EXPECT_EQ(out.width, w);
  ASSERT_EQ(out.sizeBytes, 16u);
  EXPECT_EQ(std::vector<uint8_t>(out.data, out.data + 16), jpeg);
  EXPECT_NE(out.data, jpeg.data());  // copied into the source's own buffer
}

TEST_F(CameraSourceTest, UnusablePicturesAreRefused) {
  auto camera = make({mode(32, 32, kFormatUyvy)});
  StartParams p = preview();
  ASSERT_TRUE(camera->Start(p));
  std::vector<uint8_t> big(64 * 64 * 2);
  // Too few bytes for the format and size.
  EXPECT_FALSE(camera->DeliverFrame(nullptr, big.data(), 32 * 32 * 2 - 2));
  // Larger than the mode the buffers were made for.
  FrameDescriptor record{big.data(), static_cast<uint32_t>(big.size()), kFormatUyvy, 64, 64, 0, 0};
  EXPECT_FALSE(camera->DeliverFrame(&record, big.data(), 0));
  // Odd sizes of a YUV layout.
  FrameDescriptor odd{big.data(), 31 * 31 * 2, kFormatUyvy, 31, 31, 0, 0};
  EXPECT_FALSE(camera->DeliverFrame(&odd, big.data(), 0));
  EXPECT_EQ(seen_.calls, 0);
  EXPECT_TRUE(camera->DeliverFrame(nullptr, big.data(), 32 * 32 * 2));
  EXPECT_EQ(seen_.calls, 1);
  EXPECT_EQ(seen_.frame.timestampMs, 1000u);
}

TEST_F(CameraSourceTest, PreviewCallbackGetsTheTurnOfTheModeAndScreen) {
  PictureMode m = mode(32, 32);
  m.rotationOffset = 3;
  auto camera = make({m});
  camera->common(kSettingRotation).current = 2;  // (2 + 3) & 3 = 1
  StartParams p = preview();
  p.screenOrientation = 3;
  std::vector<uint8_t> picture(32 * 32 * 2);
  Seen seen = deliverOnce(*camera, seen_, p, picture);
  EXPECT_EQ(seen.rotation, 4u);  // screen + turn; the callback takes it AND 3
}

// ---- pacing ----

struct PacingCase {
  const char* name;
  uint32_t startMs;
  int32_t frameRateIndex;
  std::vector<uint32_t> advanceBetween;  // real time passing before each later frame
  std::vector<uint32_t> sleeps;
};

TEST_F(CameraSourceTest, PacingSleepsUntilTheNextPeriodButNeverForMAXOr2048msOrMore) {
  const PacingCase cases[] = {
      {"MAX never sleeps", 0, 10, {0, 0, 5}, {}},
      {"200 ms from a clock reset to 0", 0, 4, {50, 0}, {200, 150, 200}},
      {"late frames do not sleep", 0, 4, {250, 300}, {200}},
      {"1000 ms just before the tick wraps is more than 2048 ms ahead", 0xFFFFF000u, 0, {}, {}},
      {"1000 ms a little before the wrap", 0xFFFFFF00u, 0, {}, {1256}},
  };
  for (const PacingCase& c : cases) {
    RecordingClock clock(c.startMs);
    CameraEnvironment env;
    env.clock = &clock;
    FakeCamera camera(env, {mode(32, 32)});
    camera.Init();
    camera.common(kSettingFrameRate).current = c.frameRateIndex;
    StartParams p = preview();
    ASSERT_TRUE(camera.Start(p));
    std::vector<uint8_t> picture(32 * 32 * 2);
    ASSERT_TRUE(camera.DeliverFrame(nullptr, picture.data(), static_cast<uint32_t>(picture.size())));
    for (uint32_t advance : c.advanceBetween) {
      clock.advanceMs(advance);
      ASSERT_TRUE(camera.DeliverFrame(nullptr, picture.data(), static_cast<uint32_t>(picture.size())));
    }
    EXPECT_EQ(clock.sleeps(), c.sleeps) << c.name;
  }
}

TEST_F(CameraSourceTest, FrameRateChangeTakesEffectWithoutARestart) {
  auto camera = make({mode(32, 32)});
  camera->common(kSettingFrameRate).current = 10;  // MAX
  StartParams p = preview();
  ASSERT_TRUE(camera->Start(p));
  std::vector<uint8_t> picture(32 * 32 * 2);
  ASSERT_TRUE(camera->DeliverFrame(nullptr, picture.data(), static_cast<uint32_t>(picture.size())));
  SourceSetting& rate = camera->common(kSettingFrameRate);
  rate.current = 0;  // 1000 ms
  ASSERT_TRUE(camera->SetSetting(&rate, 0));
  EXPECT_EQ(camera->opens, 1);
  ASSERT_TRUE(camera->DeliverFrame(nullptr, picture.data(), static_cast<uint32_t>(picture.size())));
  EXPECT_EQ(clock_.sleeps(), std::vector<uint32_t>{1000});
  ASSERT_EQ(camera->applied.size(), 1u);
  EXPECT_EQ(camera->applied[0], &rate);

  // Quality restarts the device with the new value.
  SourceSetting& quality = camera->common(kSettingQuality);
  quality.current = 7;
  ASSERT_TRUE(camera->SetSetting(&quality, 7));
  EXPECT_EQ(camera->opens, 2);
  EXPECT_EQ(camera->halts, 1);
  EXPECT_EQ(camera->openQuality, 100u);
  EXPECT_TRUE(camera->IsStarted());
}

TEST_F(CameraSourceTest, RestartingSettingsLeaveAStoppedSourceAlone) {
  auto camera = make({mode(32, 32)});
  SourceSetting& quality = camera->common(kSettingQuality);
  quality.current = 1;
  EXPECT_TRUE(camera->SetSetting(&quality, 1));
  EXPECT_EQ(camera->opens, 0);
  EXPECT_FALSE(camera->IsStarted());
}

TEST_F(CameraSourceTest, StopSavesEverySettingUnderTheSourceName) {
  std::shared_ptr<platform::testing::MemoryKeyStoreStorage::State> state;
  auto keyStore = platform::testing::makeMemoryKeyStore(state);
  settings::SettingsStore store(*keyStore);
  store.setMainPath(settings::kSettingsPath);
  CameraEnvironment env;
  env.clock = &clock_;
  env.store = &store;
  env.systemEncoder = testing::FakeSystemEncoder::factory;
  env.text = [](uint32_t id) -> const char16_t* { return id == 11 ? u"Camera" : nullptr; };
  FakeCamera camera(env, {mode(320, 240), mode(640, 480)});
  camera.Init();
  const char16_t* names[] = {u"Resolution", u"Quality", u"Frame Rate", u"Rotation", u"Mirror",
                             u"Swap Colors"};
  for (uint32_t i = 0; i < kCommonSettingCount; ++i) camera.common(CommonSetting(i)).name = names[i];
  camera.common(kSettingQuality).current = 6;
  StartParams p = capture();
  ASSERT_TRUE(camera.Start(p));
  ASSERT_TRUE(camera.Stop());
  EXPECT_EQ(camera.closes, 1);
  EXPECT_FALSE(camera.IsStarted());
  auto key = store.OpenKey(u"Camera", false);
  ASSERT_NE(key, nullptr);
  EXPECT_EQ(settings::readDword(key, u"Quality"), 6u);
  EXPECT_EQ(settings::readDword(key, u"Resolution"), 0xFFFFFFFFu);
  // The modes are asked again after a stop.
  ASSERT_TRUE(camera.Start(p));
  EXPECT_EQ(camera.enumerations, 2);
}

}  // namespace
}  // namespace camera
