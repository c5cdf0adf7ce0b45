#include "screen/screen_source.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <thread>
#include <vector>

#include "fake_screen.h"
#include "fake_system_encoder.h"
#include "memory_key_store.h"
#include "platform/event.h"
#include "protocol/stream_header.h"
#include "screen/screen_picture.h"
#include "settings/settings_store.h"
#include "texts/text_ids.h"
#include "wait_until.h"

namespace screen {
namespace {

using platform::FakeScreen;
using platform::ScreenImage;

// The sum of the concatenated visible bytes, the long way.
uint32_t referenceSum(const ScreenImage& image) {
  std::vector<uint8_t> bytes;
  const size_t row = size_t{image.width} * image.layout.bitsPerPixel / 8;
  for (uint32_t y = 0; y < image.height; ++y)
    bytes.insert(bytes.end(), image.pixels + size_t{y} * image.strideBytes,
                 image.pixels + size_t{y} * image.strideBytes + row);
  while (bytes.size() % 4) bytes.push_back(0);
  uint32_t sum = 0;
  for (size_t i = 0; i < bytes.size(); i += 4)
    sum += uint32_t{bytes[i]} | uint32_t{bytes[i + 1]} << 8 | uint32_t{bytes[i + 2]} << 16 |
           uint32_t{bytes[i + 3]} << 24;
  return sum;
}

TEST(wordSum, ReadsVisibleBytesAsOneStreamAcrossPaddedRows) {
  // Rows of 6 and 9 bytes: words straddle the rows; padding must not count.
  for (const auto& [width, bits] : {std::pair{3u, 16u}, std::pair{3u, 24u}, std::pair{5u, 32u}}) {
    FakeScreen screen(width, 4, bits);
    for (uint32_t y = 0; y < 4; ++y)
      for (uint32_t x = 0; x < width; ++x) screen.setPixel(x, y, 0x9E3779B9u * (y * width + x + 1));
    auto reader = screen.openReader();
    ScreenImage a;
    ASSERT_TRUE(reader->read(a));
    const uint32_t sum = wordSum(a);
    EXPECT_EQ(sum, referenceSum(a)) << width << "x4 at " << bits;
    screen.touchPadding(1, 0x55);
    ScreenImage b;
    ASSERT_TRUE(reader->read(b));
    EXPECT_EQ(wordSum(b), sum) << "padding counted";
    screen.setPixel(width - 1, 3, 0x01020304);
    ScreenImage c;
    ASSERT_TRUE(reader->read(c));
    EXPECT_NE(wordSum(c), sum) << "the last pixel not counted";
  }
}

TEST(convertToRgb565, EachLayoutKeepsTheTopBitsOfEachColour) {
  struct Case {
    uint32_t bits, red, green, blue, pixel;
    uint16_t expected;
  } cases[] = {
      {16, 0xF800, 0x07E0, 0x001F, 0xA5C3, 0xA5C3},                // copied
      {16, 0x7C00, 0x03E0, 0x001F, 0x7FFF, 0xFFDF},                // 5-5-5: green widened
      {32, 0xFF0000, 0x00FF00, 0x0000FF, 0x00FF8040, 0xFC08},      // 8-8-8 in 32 bits
      {24, 0xFF0000, 0x00FF00, 0x0000FF, 0x123456, 0x11AA},        // packed 24 bits
      {32, 0x0000FF, 0x00FF00, 0xFF0000, 0x00FF8040, 0x441F},      // blue high (BGR order)
      {32, 0x3FF00000, 0x000FFC00, 0x000003FF, 0x3FFFFFFF, 0xFFFF},  // 10 bits a colour
  };
  for (const Case& c : cases) {
    std::vector<uint8_t> row(4 * 2);
    for (uint32_t i = 0; i < 2; ++i)
      for (uint32_t b = 0; b < c.bits / 8; ++b) row[i * (c.bits / 8) + b] = static_cast<uint8_t>(c.pixel >> (8 * b));
    ScreenImage image;
    image.pixels = row.data();
    image.width = 2;
    image.height = 1;
    image.strideBytes = 8;
    image.layout = {c.bits, c.red, c.green, c.blue};
    uint16_t out[2] = {};
    ASSERT_TRUE(convertToRgb565(image, out)) << std::hex << c.pixel;
    EXPECT_EQ(out[0], c.expected) << std::hex << c.pixel << " in " << std::dec << c.bits << " bits";
    EXPECT_EQ(out[1], c.expected);
  }
  // Unusable layouts write nothing.
  uint8_t pixels[8] = {};
  for (const platform::PixelLayout& bad : {platform::PixelLayout{8, 0xE0, 0x1C, 0x03},
                                           platform::PixelLayout{16, 0xF800, 0, 0x1F},
                                           platform::PixelLayout{16, 0xF8000, 0x07E0, 0x1F}}) {
    ScreenImage image{pixels, 2, 1, 8, bad};
    uint16_t out[2] = {0x1234, 0x1234};
    EXPECT_FALSE(convertToRgb565(image, out)) << bad.bitsPerPixel;
    EXPECT_EQ(out[0], 0x1234);
  }
}

TEST(mapTap, UndoesTheTurnAndTheFlipOfThePictureSent) {
  // A 320 x 240 screen; the point is given in the picture the PC received.
  struct Case {
    uint32_t x, y, rotation;
    bool flipped;
    uint32_t expectX, expectY;
  } cases[] = {
      {32768, 32768, 0, false, 160, 120},  // the centre stays the centre, whatever the turn
      {32768, 32768, 1, false, 159, 120},
      {32768, 32768, 3, true, 160, 120},
      {0, 0, 0, false, 0, 0},
      {65535, 65535, 0, false, 319, 239},
      {0, 0, 0, true, 0, 239},              // upside down: the top row is the screen's last
      {0, 0, 1, false, 319, 0},             // a quarter turn: the picture's top left is the screen's top right
      {0, 0, 2, false, 319, 239},
      {0, 0, 3, false, 0, 239},
  };
  for (const Case& c : cases) {
    uint32_t x = 0, y = 0;
    mapTap(c.y << 16 | c.x, 320, 240, c.rotation, c.flipped, x, y);
    EXPECT_EQ(x, c.expectX) << c.x << "," << c.y << " r" << c.rotation << " flip " << c.flipped;
    EXPECT_EQ(y, c.expectY) << c.x << "," << c.y << " r" << c.rotation << " flip " << c.flipped;
  }
}

class ScreenSourceTest : public ::testing::Test {
 protected:
  void SetUp() override { camera::testing::FakeSystemEncoder::reset(); }

  std::unique_ptr<ScreenSource> make(uint32_t width = 320, uint32_t height = 240, bool overlay = false,
                                     platform::ScreenKind kind = platform::ScreenKind::kDisplayServer) {
    store_.setMainPath(settings::kSettingsPath);
    camera::CameraEnvironment env;
    env.systemEncoder = camera::testing::FakeSystemEncoder::factory;
    env.store = &store_;
    env.text = [](uint32_t id) -> const char16_t* { return id == texts::kTextScreen ? u"Screen" : nullptr; };
    ScreenAccess access;
    access.openReader = [this, kind](platform::ScreenPreference p) {
      preferences_.push_back(p);
      return screen_.openReader(kind);
    };
    access.openInjector = [this](platform::ScreenKind, uint32_t, uint32_t) { return screen_.openInjector(); };
    auto source = std::make_unique<ScreenSource>(env, access, ScreenGeometry{width, height, 32}, overlay);
    source->Init();
    // No pacing: the tests look at what the change rule lets through.
    source->common(camera::kSettingFrameRate).current = 10;
    return source;
  }
  sources::StartParams capture() {
    sources::StartParams p;
    p.mode = sources::kModeCapture;
    p.frameReady = &frameReady_;
    return p;
  }
  // Waits up to `ms` for a frame and takes it.
  bool takeFrame(ScreenSource& source, uint32_t ms = 2000) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (std::chrono::steady_clock::now() < end) {
      sources::FrameDescriptor out;
      if (source.TakeFrame(&out) != 0) {
        last_ = out;
        return true;
      }
      frameReady_.wait(20);
    }
    return false;
  }
  // Waits until the reader was asked `more` more times.
  void waitForReads(uint32_t more) {
    const uint32_t target = screen_.reads() + more;
    ASSERT_TRUE(platform::testing::waitUntil([&] { return screen_.reads() >= target; }))
        << "the screen is no longer looked at";
  }
  void writeRemoteInput(uint32_t value) {
    settings::writeDword(store_.OpenKey(u"Screen", true), kRemoteInputValue, value);
  }

  FakeScreen screen_{320, 240, 32};
  std::shared_ptr<platform::testing::MemoryKeyStoreStorage::State> keyState_;
  std::unique_ptr<platform::KeyStore> keyStore_ = platform::testing::makeMemoryKeyStore(keyState_);
  settings::SettingsStore store_{*keyStore_};
  platform::Event frameReady_{platform::Event::Reset::kAuto};
  std::vector<platform::ScreenPreference> preferences_;
  sources::FrameDescriptor last_{};
};

TEST_F(ScreenSourceTest, OneModeOfTheScreenAndItsSettings) {
  for (bool overlay : {false, true}) {
    auto source = make(240, 320, overlay);
    sources::PictureMode modes[sources::kMaxPictureModes];
    ASSERT_EQ(source->EnumerateModes(modes, 0), 1u);
    EXPECT_EQ(modes[0].width, 240u);
    EXPECT_EQ(modes[0].height, 320u);
    EXPECT_EQ(modes[0].format, sources::kFormatRgb565);
    EXPECT_EQ(modes[0].modeClass, 2u);
    EXPECT_EQ(source->Kind(), sources::SourceKind::kScreen);
    EXPECT_EQ(source->NameTextId(), texts::kTextScreen);
    sources::SourceSetting* device = source->DeviceSettingList();
    ASSERT_NE(device, nullptr);
    EXPECT_EQ(device->textId, texts::kTextDuplicate);
    EXPECT_EQ(device->count, 2u);
    EXPECT_EQ(settings::settingValue(*device), 0);
    if (overlay) {
      ASSERT_NE(device->next, nullptr);
      EXPECT_EQ(device->next->textId, texts::kTextOverlay);
      EXPECT_EQ(device->next->next, nullptr);
    } else {
      EXPECT_EQ(device->next, nullptr) << "Overlay listed without jpegpress";
    }
  }
}

TEST_F(ScreenSourceTest, DuplicateOffSendsAPictureOnlyWhenTheScreenChanged) {
  auto source = make();
  auto p = capture();
  ASSERT_TRUE(source->Start(p));
  ASSERT_TRUE(takeFrame(*source)) << "no first picture";
  EXPECT_EQ(last_.format, sources::kFormatJpeg);
  EXPECT_EQ(last_.width, 320u);
  EXPECT_EQ(last_.height, 240u);

  // Still: the screen is looked at again and again, nothing goes out.
  waitForReads(5);
  EXPECT_EQ(source->TakeFrame(nullptr), 0u);
  // A change outside the picture (row padding) is no change.
  screen_.touchPadding(10, 0x77);
  waitForReads(3);
  EXPECT_EQ(source->TakeFrame(nullptr), 0u);

  screen_.setPixel(160, 120, 0x00FFFFFF);
  ASSERT_TRUE(takeFrame(*source)) << "no picture after the screen changed";
  waitForReads(3);
  EXPECT_EQ(source->TakeFrame(nullptr), 0u);
  source->Stop();
}

TEST_F(ScreenSourceTest, DuplicateOnSendsEveryRound) {
  auto source = make();
  sources::SourceSetting* duplicate = source->DeviceSettingList();
  duplicate->current = 1;
  source->SetSetting(duplicate, 1);
  auto p = capture();
  ASSERT_TRUE(source->Start(p));
  for (int i = 0; i < 4; ++i) ASSERT_TRUE(takeFrame(*source)) << "picture " << i << " of a still screen";
  // Off again while running: the still screen stops going out. True once the source has
  // looked at the screen five more times with no picture to send.
  duplicate->current = 0;
  source->SetSetting(duplicate, 0);
  const auto quiet = [&] {
    const uint32_t target = screen_.reads() + 5;
    platform::testing::waitUntil(
        [&] { return screen_.reads() >= target || source->TakeFrame(nullptr) != 0; });
    return source->TakeFrame(nullptr) == 0 && screen_.reads() >= target;
  };
  for (int onTheirWay = 0; onTheirWay < 2 && !quiet(); ++onTheirWay) {
    ASSERT_TRUE(takeFrame(*source));  // taken before the setting changed
  }
  EXPECT_TRUE(quiet()) << "the still screen keeps going out";
  source->Stop();
}

TEST_F(ScreenSourceTest, PreviewOpensNothing) {
  auto source = make();
  sources::StartParams p;
  p.mode = sources::kModePreview;
  ASSERT_TRUE(source->Start(p));
  EXPECT_TRUE(source->IsStarted());
  std::this_thread::sleep_for(
      std::chrono::milliseconds(50));  // room for a reader that must not come
  EXPECT_EQ(screen_.readersOpened(), 0u);
  EXPECT_EQ(source->TakeFrame(nullptr), 0u);
  source->Stop();
}

TEST_F(ScreenSourceTest, AScreenThatCannotBeReadOrHasAnotherSizeFailsTheStart) {
  {
    screen_.setAvailable(false);
    auto source = make();
    auto p = capture();
    EXPECT_FALSE(source->Start(p));
    EXPECT_FALSE(source->IsStarted());
    screen_.setAvailable(true);
  }
  {
    screen_.setReadable(false);
    auto source = make();
    auto p = capture();
    EXPECT_FALSE(source->Start(p));
    screen_.setReadable(true);
  }
  {
    // The screen is not the size the probe saw.
    screen_.resize(640, 480, 32);
    auto source = make(320, 240);
    auto p = capture();
    EXPECT_FALSE(source->Start(p));
  }
  {
    // Outside the device's bounds, even when the screen agrees.
    screen_.resize(800, 480, 32);
    auto source = make(800, 480);
    auto p = capture();
    EXPECT_FALSE(source->Start(p));
    sources::PictureMode modes[sources::kMaxPictureModes];
    EXPECT_EQ(source->EnumerateModes(modes, 0), 0u);
  }
}

TEST_F(ScreenSourceTest, ASizeChangeIsSkippedAndALostScreenOpenedAgain) {
  auto source = make();
  auto p = capture();
  ASSERT_TRUE(source->Start(p));
  ASSERT_TRUE(takeFrame(*source));

  screen_.resize(480, 320, 32);
  screen_.setPixel(5, 5, 0xFF);
  waitForReads(5);
  EXPECT_EQ(source->TakeFrame(nullptr), 0u) << "a picture of another size went out";
  screen_.resize(320, 240, 32);
  screen_.setPixel(7, 7, 0xFF00);
  ASSERT_TRUE(takeFrame(*source)) << "nothing after the size came back";

  // The display goes away and comes back.
  const uint32_t opened = screen_.readersOpened();
  const uint32_t refused = screen_.refusedReads();
  screen_.setReadable(false);
  screen_.setAvailable(false);
  ASSERT_TRUE(platform::testing::waitUntil([&] { return screen_.refusedReads() > refused; }))
      << "the source meets the display gone";
  EXPECT_TRUE(source->IsStarted());
  screen_.setReadable(true);
  screen_.setAvailable(true);
  screen_.setPixel(9, 9, 0xFF0000);
  ASSERT_TRUE(takeFrame(*source, 3000)) << "nothing after the display came back";
  EXPECT_GT(screen_.readersOpened(), opened);
  source->Stop();
}

TEST_F(ScreenSourceTest, OverlayPrefersTheDisplayServer) {
  auto source = make(320, 240, true);
  source->DeviceSettingList()->next->current = 1;
  auto p = capture();
  ASSERT_TRUE(source->Start(p));
  ASSERT_FALSE(preferences_.empty());
  EXPECT_EQ(preferences_.back(), platform::ScreenPreference::kDisplayServerFirst);
  source->Halt();
  source->DeviceSettingList()->next->current = 0;
  ASSERT_TRUE(source->Start(p));
  EXPECT_EQ(preferences_.back(), platform::ScreenPreference::kFrameBufferFirst);
  source->Stop();
}

TEST_F(ScreenSourceTest, TapsAndKeysReachTheScreenWhileCapturing) {
  auto source = make();
  EXPECT_FALSE(source->remoteInput(protocol::CMD_TAP, 0x80008000u)) << "input while stopped";
  auto p = capture();
  ASSERT_TRUE(source->Start(p));
  EXPECT_TRUE(source->remoteInput(protocol::CMD_TAP, 0x80008000u));
  EXPECT_TRUE(source->remoteInput(protocol::CMD_KEY, 0x41));
  EXPECT_FALSE(source->remoteInput(protocol::CMD_KEY, 0xFF)) << "a code without a key";
  EXPECT_FALSE(source->remoteInput(7, 0)) << "a property command is no input";
  auto inputs = screen_.inputs();
  ASSERT_EQ(inputs.size(), 2u);
  EXPECT_EQ(inputs[0].what, "tap");
  EXPECT_EQ(inputs[0].a, 160u);
  EXPECT_EQ(inputs[0].b, 120u);
  EXPECT_EQ(inputs[1].what, "key");
  EXPECT_EQ(inputs[1].a, 0x41u);
  source->Halt();
  EXPECT_FALSE(source->remoteInput(protocol::CMD_TAP, 0));
  EXPECT_EQ(screen_.inputs().size(), 2u);
  source->Stop();
}

TEST_F(ScreenSourceTest, TheRemoteInputValueDecidesAndAFrameBufferTakesNoneByDefault) {
  struct Case {
    platform::ScreenKind kind;
    int value;  // -1: not written
    bool taken;
  } cases[] = {
      {platform::ScreenKind::kDisplayServer, -1, true},
      {platform::ScreenKind::kDisplayServer, 0, false},
      {platform::ScreenKind::kFrameBuffer, -1, false},
      {platform::ScreenKind::kFrameBuffer, 1, true},
  };
  for (const Case& c : cases) {
    if (c.value >= 0) writeRemoteInput(static_cast<uint32_t>(c.value));
    auto source = make(320, 240, false, c.kind);
    auto p = capture();
    ASSERT_TRUE(source->Start(p));
    EXPECT_EQ(source->remoteInput(protocol::CMD_TAP, 0), c.taken)
        << "kind " << static_cast<int>(c.kind) << " value " << c.value;
    source->Stop();
    keyState_->text.clear();
  }
}

}  // namespace
}  // namespace screen
