#include "dshow/directshow_camera.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <thread>

#include "fake_framesink.h"
#include "framesink/test_pattern.h"
#include "platform/event.h"
#include "platform/module.h"
#include "texts/text_ids.h"

namespace dshow::testing {
namespace {

using sources::kFormatJpeg;
using sources::kFormatUyvy;
using sources::kFormatYv12;

class DirectShowCameraTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fake().reset();
    fake().capture = {{640, 480, kFormatUyvy}, {320, 240, kFormatUyvy}};
    fake().still = {{1280, 1024, kFormatJpeg}, {640, 480, kFormatJpeg}};
  }
  static FakeFramesink& fake() { return FakeFramesink::instance(); }
};

std::vector<std::string> valueWrites(const std::vector<std::string>& calls) {
  std::vector<std::string> out;
  for (const std::string& c : calls)
    if (c.rfind("SinkGetSetValues", 0) == 0) out.push_back(c);
  return out;
}

TEST_F(DirectShowCameraTest, ModesAreTheCaptureFormatsAndTheLargerStills) {
  DirectShowCamera source({}, FakeFramesink::table(), 1);
  source.Init();
  sources::PictureMode modes[sources::kMaxPictureModes];
  ASSERT_EQ(source.EnumerateModes(modes, 0), 3u);
  EXPECT_EQ(modes[0].width, 640u);
  EXPECT_EQ(modes[0].modeClass, 2u);
  EXPECT_EQ(modes[1].height, 240u);
  EXPECT_EQ(modes[1].format, kFormatUyvy);
  // 1280 x 1024 is larger than every capture format; the 640 x 480 still is not.
  EXPECT_EQ(modes[2].width, 1280u);
  EXPECT_EQ(modes[2].height, 1024u);
  EXPECT_EQ(modes[2].format, kFormatJpeg);
  EXPECT_EQ(modes[2].modeClass, sources::kModeClassNeverDefault);
  EXPECT_EQ(source.largestCaptureArea(), 640u * 480);
  const auto calls = fake().calls();
  ASSERT_GE(calls.size(), 3u);
  EXPECT_EQ(calls[0], "SinkOpen 7");
  EXPECT_EQ(calls[1], "SinkGetFormats 16 2");
  EXPECT_EQ(calls[2], "SinkGetFormats 16 4");
  // The device settings were applied after the modes were listed.
  EXPECT_EQ(valueWrites(calls).size(), 4u);
}

TEST_F(DirectShowCameraTest, FailingQueries) {
  DirectShowCamera source({}, FakeFramesink::table(), 0);
  source.Init();
  sources::PictureMode modes[sources::kMaxPictureModes];
  fake().stillFormatsFail = true;
  EXPECT_EQ(source.EnumerateModes(modes, 0), 2u);  // the capture modes only

  fake().openResult = false;
  EXPECT_EQ(source.EnumerateModes(modes, 0), 0u);
  // Without a camera the source cannot start.
  platform::Event ready;
  sources::StartParams params;
  params.frameReady = &ready;
  params.mode = sources::kModeCapture;
  EXPECT_FALSE(source.Start(params));
  EXPECT_FALSE(source.IsStarted());
}

TEST_F(DirectShowCameraTest, StillCountIsBounded) {
  fake().capture = {{160, 120, kFormatUyvy}};
  fake().still.clear();
  for (int i = 1; i <= 16; ++i) fake().still.push_back({160 * i, 120 * i, kFormatUyvy});
  DirectShowCamera source({}, FakeFramesink::table(), 0);
  source.Init();
  sources::PictureMode modes[sources::kMaxPictureModes];
  EXPECT_EQ(source.EnumerateModes(modes, 0), 15u);
}

TEST_F(DirectShowCameraTest, FlavourOneSettingsWriteTheirControls) {
  DirectShowCamera source({}, FakeFramesink::table(), 1);
  source.Init();
  sources::SourceSetting* s = source.DeviceSettingList();
  ASSERT_NE(s, nullptr);
  const uint32_t order[] = {texts::kTextBrightness, texts::kTextZoom, texts::kTextWhiteBalance, texts::kTextEffect};
  for (uint32_t id : order) {
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(s->textId, id);
    s = s->next;
  }
  EXPECT_EQ(s, nullptr);

  const struct {
    uint32_t textId;
    int32_t index;
    const char* write;
  } cases[] = {
      {texts::kTextZoom, 2, "SinkGetSetValues 0 3=300 f2 set1"},          // camera control 3, zoom
      {texts::kTextBrightness, 8, "SinkGetSetValues 1 0=8 f2 set1"},      // picture control 0
      {texts::kTextEffect, 3, "SinkGetSetValues 1 4=3 f2 set1"},          // picture control 4
      {texts::kTextWhiteBalance, 4, "SinkGetSetValues 1 7=4 f2 set1"},    // picture control 7
  };
  for (const auto& c : cases) {
    sources::SourceSetting* setting = source.DeviceSettingList();
    while (setting && setting->textId != c.textId) setting = setting->next;
    ASSERT_NE(setting, nullptr);
    setting->current = c.index;
    fake().reset();
    EXPECT_TRUE(source.SetSetting(setting, c.index));
    EXPECT_EQ(fake().calls(), std::vector<std::string>{c.write});
  }

  // Reset writes all four in list order with their current values.
  fake().reset();
  source.Reset();
  EXPECT_EQ(valueWrites(fake().calls()),
            (std::vector<std::string>{"SinkGetSetValues 1 0=8 f2 set1", "SinkGetSetValues 0 3=300 f2 set1",
                                      "SinkGetSetValues 1 7=4 f2 set1", "SinkGetSetValues 1 4=3 f2 set1"}));
}

TEST_F(DirectShowCameraTest, OtherFlavoursHaveNoDeviceSettings) {
  DirectShowCamera source({}, FakeFramesink::table(), 2);
  source.Init();
  EXPECT_EQ(source.DeviceSettingList(), nullptr);
  source.Reset();
  EXPECT_TRUE(valueWrites(fake().calls()).empty());
}

TEST_F(DirectShowCameraTest, StillOnlyModeRunsTheStillLoop) {
  DirectShowCamera source({}, FakeFramesink::table(), 0);
  source.Init();
  source.common(camera::kSettingResolution).current = 2;  // 1280 x 1024, after sorting
  platform::Event ready;
  sources::StartParams params;
  params.frameReady = &ready;
  params.mode = sources::kModeCapture;
  ASSERT_TRUE(source.Start(params));
  EXPECT_TRUE(source.stillLoopRunning());
  ASSERT_TRUE(fake().waitFor("SinkTriggerStill", 1));
  ASSERT_TRUE(fake().waitFor("SinkSetState 2", 1));
  EXPECT_EQ(fake().countOf("SinkSetFormat 1280x1024 IJPG 4"), 1u);
  EXPECT_EQ(fake().countOf("SinkSetCallback none 2"), 1u);
  EXPECT_EQ(fake().countOf("SinkSetFormat 1280x1024 IJPG 2"), 0u);

  // One still goes through the pipeline; the loop then asks for the next one.
  std::vector<uint8_t> jpeg(5000, 0x55);
  const uint8_t head[] = {0xFF, 0xD8, 0xFF, 0xE0};
  std::copy(std::begin(head), std::end(head), jpeg.begin());
  SampleCallback still;
  {
    std::lock_guard<std::mutex> lock(fake().mutex);
    still = fake().stillCallback;
  }
  ASSERT_NE(still.function, nullptr);
  std::thread camera([&] { still.function(jpeg.data(), static_cast<uint32_t>(jpeg.size()), still.user); });
  ASSERT_TRUE(ready.wait(5000));
  sources::FrameDescriptor frame;
  ASSERT_NE(source.TakeFrame(&frame), 0u);
  camera.join();
  EXPECT_EQ(frame.format, kFormatJpeg);
  EXPECT_EQ(frame.width, 1280u);
  EXPECT_EQ(frame.sizeBytes, jpeg.size());
  EXPECT_TRUE(fake().waitFor("SinkTriggerStill", 2));

  EXPECT_TRUE(source.Halt());
  EXPECT_FALSE(source.stillLoopRunning());
  EXPECT_EQ(fake().countOf("SinkSetState 0"), 1u);
  EXPECT_TRUE(source.Stop());
  EXPECT_EQ(fake().countOf("SinkClose"), 1u);
}

TEST_F(DirectShowCameraTest, CaptureModeRunsTheCaptureStream) {
  DirectShowCamera source({}, FakeFramesink::table(), 0);
  source.Init();
  platform::Event ready;
  sources::StartParams params;
  params.frameReady = &ready;
  params.mode = sources::kModePreview;
  struct Seen {
    std::atomic<int> frames{0};
    std::atomic<uint32_t> width{0};
  } seen;
  params.preview = [](void* user, const sources::FrameDescriptor* f, uint32_t, uint8_t*) {
    auto* s = static_cast<Seen*>(user);
    s->width = f->width;
    ++s->frames;
    return true;
  };
  params.user = &seen;
  ASSERT_TRUE(source.Start(params));
  EXPECT_FALSE(source.stillLoopRunning());
  const auto calls = fake().calls();
  // The default mode 320 x 240 on the capture pin, with a callback, then run.
  const std::vector<std::string> tail(calls.end() - 3, calls.end());
  EXPECT_EQ(tail, (std::vector<std::string>{"SinkSetFormat 320x240 UYVY 2", "SinkSetCallback set 2",
                                            "SinkSetState 2"}));
  SampleCallback capture;
  {
    std::lock_guard<std::mutex> lock(fake().mutex);
    capture = fake().captureCallback;
  }
  std::vector<uint8_t> picture(320 * 240 * 2, 128);
  capture.function(picture.data(), static_cast<uint32_t>(picture.size()), capture.user);
  EXPECT_EQ(seen.frames.load(), 1);
  EXPECT_EQ(seen.width.load(), 320u);
  EXPECT_TRUE(source.Stop());
  EXPECT_EQ(fake().countOf("SinkSetState 0"), 1u);
}

// The real module with its test-pattern camera, through the pipeline's preview path.
TEST(DirectShowCameraModule, TestPatternFramesReachThePipeline) {
  setenv(kFramesinkDeviceEnvironment, "test-pattern", 1);
  setenv("VISTREL_KEY_STORE", "/nonexistent/dshow-test.reg", 1);
  sources::FramesinkLibrary library;
  library.module = platform::loadModuleFrom(FRAMESINK_MODULE_DIR, kFramesinkModuleName);
  ASSERT_NE(library.module, nullptr);
  auto getData = reinterpret_cast<uint32_t (*)(void*)>(library.module->symbol("DllGetData"));
  ASSERT_NE(getData, nullptr);
  ASSERT_EQ(getData(library.table.data()), 1u);
  library.flavour = 1;

  auto source = makeDirectShowCamera({}, std::move(library));
  source->Init();
  struct Seen {
    std::mutex mutex;
    std::vector<uint32_t> numbers;
    uint32_t width = 0, height = 0, format = 0;
  } seen;
  platform::Event ready;
  sources::StartParams params;
  params.frameReady = &ready;
  params.mode = sources::kModePreview;
  params.user = &seen;
  params.preview = [](void* user, const sources::FrameDescriptor* f, uint32_t, uint8_t*) {
    auto* s = static_cast<Seen*>(user);
    framesink::TestPatternStamp stamp;
    std::lock_guard<std::mutex> lock(s->mutex);
    s->width = f->width;
    s->height = f->height;
    s->format = f->format;
    if (framesink::readTestPatternStamp(f->data, f->sizeBytes, f->width, f->height, f->format, stamp))
      s->numbers.push_back(stamp.frameNumber);
    return true;
  };
  ASSERT_TRUE(source->Start(params));
  for (int i = 0; i < 200; ++i) {
    {
      std::lock_guard<std::mutex> lock(seen.mutex);
      if (seen.numbers.size() >= 3) break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  EXPECT_TRUE(source->Stop());
  std::lock_guard<std::mutex> lock(seen.mutex);
  ASSERT_GE(seen.numbers.size(), 3u);
  EXPECT_EQ(seen.width, 320u);  // the default mode
  EXPECT_EQ(seen.height, 240u);
  EXPECT_EQ(seen.format, kFormatUyvy);
  for (size_t i = 1; i < seen.numbers.size(); ++i) EXPECT_GT(seen.numbers[i], seen.numbers[i - 1]);
  unsetenv(kFramesinkDeviceEnvironment);
}

}  // namespace
}  // namespace dshow::testing

#if VISTREL_HAVE_FALLBACK_ENCODER
namespace dshow::testing {
namespace {

// The tool runs the source in capture mode: test-pattern pictures compressed by the
// pipeline into JFIF files.
TEST(PhoneCameraTool, WritesJpegFramesFromTheTestPattern) {
  // A folder of this run's own, removed at the end.
  std::string dir = ::testing::TempDir() + "vistrel-phone-camera.XXXXXX";
  ASSERT_NE(::mkdtemp(dir.data()), nullptr);
  struct RemoveAtEnd {
    std::string path;
    ~RemoveAtEnd() { std::filesystem::remove_all(path); }
  } removeAtEnd{dir};
  const std::string command = std::string("VISTREL_KEY_STORE=/nonexistent/x.reg ") + VISTREL_CAMERA_TOOL +
                              " --device test-pattern --mode 2 --frames 2 --out " + dir + " > " + dir + "/out.txt";
  ASSERT_EQ(std::system(command.c_str()), 0);
  std::ifstream out(dir + "/out.txt");
  const std::string text((std::istreambuf_iterator<char>(out)), std::istreambuf_iterator<char>());
  EXPECT_NE(text.find("2: 176x144 UYVY  (chosen)"), std::string::npos) << text;
  for (const char* name : {"/frame-0001.jpg", "/frame-0002.jpg"}) {
    std::ifstream f(dir + name, std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
    ASSERT_GT(bytes.size(), 100u) << name;
    EXPECT_EQ(bytes.substr(0, 10), std::string("\xFF\xD8\xFF\xE0\x00\x10JFIF", 10));
    EXPECT_EQ(bytes.substr(bytes.size() - 2), std::string("\xFF\xD9"));
  }
  EXPECT_NE(std::system((std::string(VISTREL_CAMERA_TOOL) + " --bogus 2> /dev/null").c_str()), 0);
}

}  // namespace
}  // namespace dshow::testing
#endif
