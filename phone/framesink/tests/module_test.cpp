// The module as the device program sees it: framesink.so loaded by name, its table, and
// the capture tool on top of it.

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "formats.h"
#include "framesink/framesink_table.h"
#include "framesink/test_pattern.h"
#include "platform/module.h"
#include "test_support.h"

namespace framesink::testing {
namespace {

class ScopedEnv {
 public:
  ScopedEnv(const char* name, const char* value) : name_(name) {
    if (const char* old = std::getenv(name)) old_ = old, hadOld_ = true;
    setenv(name, value, 1);
  }
  ~ScopedEnv() {
    if (hadOld_)
      setenv(name_, old_.c_str(), 1);
    else
      unsetenv(name_);
  }

 private:
  const char* name_;
  std::string old_;
  bool hadOld_ = false;
};

class FramesinkModule : public ::testing::Test {
 protected:
  void SetUp() override {
    module_ = platform::loadModuleFrom(FRAMESINK_MODULE_DIR, kFramesinkModuleName);
    ASSERT_NE(module_, nullptr);
    auto getData = reinterpret_cast<FramesinkGetDataFunction>(module_->symbol("DllGetData"));
    ASSERT_NE(getData, nullptr);
    ASSERT_EQ(getData(&table_), 1u);
  }
  void TearDown() override {
    if (table_.SinkClose) table_.SinkClose();
  }
  std::unique_ptr<platform::Module> module_;
  FramesinkTable table_{};
  // Keeps the machine's own settings out of the test.
  ScopedEnv store_{"VISTREL_KEY_STORE", "/nonexistent/framesink-test.reg"};
};

TEST_F(FramesinkModule, TestPatternThroughTheTable) {
  ScopedEnv device(kFramesinkDeviceEnvironment, "test-pattern");
  const FramesinkTable& t = table_;
  // Without a graph every entry but the close fails.
  EXPECT_EQ(t.SinkSetState(kSinkRunning), 0u);
  uint32_t count = 4;
  FormatEntry formats[16];
  EXPECT_EQ(t.SinkGetFormats(formats, &count, kSinkCapture), 0u);

  ASSERT_EQ(t.SinkOpen(kSinkPreview | kSinkCapture | kSinkStill), kSinkCapture | kSinkStill);
  EXPECT_EQ(t.SinkOpen(kSinkCapture), kSinkCapture);  // a second open replaces the graph
  count = 16;
  ASSERT_EQ(t.SinkGetFormats(formats, &count, kSinkCapture), 1u);
  EXPECT_EQ(count, 10u);
  EXPECT_EQ(formats[0].format, kFormatUyvy);
  count = 16;
  EXPECT_EQ(t.SinkGetFormats(formats, &count, kSinkStill), 0u);  // not asked for this time

  const FormatEntry chosen{-320, -240, kFormatYv12};  // sizes count as absolute values
  ASSERT_EQ(t.SinkSetFormat(&chosen, kSinkCapture), 1u);
  const FormatEntry unknown{333, 240, kFormatYv12};
  EXPECT_EQ(t.SinkSetFormat(&unknown, kSinkCapture), 0u);
  PictureSink sink;
  const SampleCallback cb = sink.callback();
  EXPECT_EQ(t.SinkSetCallback(&cb, 3), 0u);
  ASSERT_EQ(t.SinkSetCallback(&cb, kSinkCapture), 1u);
  ASSERT_EQ(t.SinkSetState(kSinkRunning), 1u);
  ASSERT_TRUE(sink.waitFor(3));
  EXPECT_EQ(t.SinkSetState(kSinkStopped), 1u);
  TestPatternStamp first, third;
  const auto p = sink.pictures();
  ASSERT_TRUE(readTestPatternStamp(p[0].data(), static_cast<uint32_t>(p[0].size()), 320, 240, kFormatYv12, first));
  ASSERT_TRUE(readTestPatternStamp(p[2].data(), static_cast<uint32_t>(p[2].size()), 320, 240, kFormatYv12, third));
  EXPECT_EQ(third.frameNumber, first.frameNumber + 2);

  ValueEntry v{kPictureBrightness, 6, kControlManual, 0xFF};
  EXPECT_EQ(t.SinkGetSetValues(&v, 1, kSinkPictureControls, 1), 1u);
  EXPECT_EQ(t.SinkClose(), 1u);
  EXPECT_EQ(t.SinkGetSetValues(&v, 1, kSinkPictureControls, 1), 0u);
}

TEST_F(FramesinkModule, OpenFailsWithoutACamera) {
  {
    ScopedEnv device(kFramesinkDeviceEnvironment, "/nonexistent/video0");
    EXPECT_EQ(table_.SinkOpen(7), 0u);
    EXPECT_EQ(table_.SinkSetState(kSinkRunning), 0u);
  }
  if (!std::filesystem::exists("/dev/video0")) {
    for (const char* selection : {"v4l2", "auto"}) {
      ScopedEnv device(kFramesinkDeviceEnvironment, selection);
      EXPECT_EQ(table_.SinkOpen(7), 0u) << selection;
    }
    // The user is told why: the automatic choice does not fall back to the test pattern.
    const std::string out = ::testing::TempDir() + "framesink-none.txt";
    const std::string command = "VISTREL_KEY_STORE=/nonexistent/x.reg VISTREL_FRAMESINK_DEVICE=auto " +
                                std::string(FRAMESINK_CAPTURE_TOOL) + " --frames 1 --out " +
                                ::testing::TempDir() + " > " + out + " 2>&1";
    EXPECT_NE(std::system(command.c_str()), 0);
    std::ifstream in(out);
    const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_NE(text.find("framesink: no camera found"), std::string::npos) << text;
  }
}

TEST_F(FramesinkModule, SettingSelectsTheTestPattern) {
  const std::string path = ::testing::TempDir() + "framesink-setting.reg";
  {
    std::ofstream f(path);
    f << "Windows Registry Editor Version 5.00\n\n"
         "[HKEY_LOCAL_MACHINE\\Software\\Orvane\\Vistrel\\Framesink]\n"
         "\"Device\"=\"test-pattern\"\n";
  }
  ScopedEnv store("VISTREL_KEY_STORE", path.c_str());
  unsetenv(kFramesinkDeviceEnvironment);
  // KeyStore::machine() is made once per process with the path of that moment; the test
  // therefore runs the tool, a process of its own.
  const std::string dir = ::testing::TempDir() + "framesink-setting";
  std::filesystem::create_directories(dir);
  const std::string command = std::string(FRAMESINK_CAPTURE_TOOL) + " --size 160x120 --format UYVY --frames 1 --out " +
                              dir + " > " + dir + "/out.txt 2>&1";
  ASSERT_EQ(std::system(command.c_str()), 0);
  std::ifstream out(dir + "/out.txt");
  const std::string text((std::istreambuf_iterator<char>(out)), std::istreambuf_iterator<char>());
  EXPECT_NE(text.find("(stamp: frame 1 at"), std::string::npos) << text;
  std::filesystem::remove(path);
}

TEST(CaptureTool, WritesFramesAndPrintsHelp) {
  const std::string dir = ::testing::TempDir() + "framesink-capture";
  std::filesystem::remove_all(dir);
  std::filesystem::create_directories(dir);
  const std::string tool = FRAMESINK_CAPTURE_TOOL;
  ASSERT_EQ(std::system((tool + " --help > " + dir + "/help.txt").c_str()), 0);
  EXPECT_GT(std::filesystem::file_size(dir + "/help.txt"), 100u);
  EXPECT_NE(std::system((tool + " --bogus 2> /dev/null").c_str()), 0);

  const std::string command = "VISTREL_KEY_STORE=/nonexistent/x.reg " + tool +
                              " --device test-pattern --list --size 176x144 --format YV12 --frames 2 --out " + dir +
                              " > " + dir + "/out.txt";
  ASSERT_EQ(std::system(command.c_str()), 0);
  EXPECT_EQ(std::filesystem::file_size(dir + "/frame-0002.yv12"), 176u * 144 * 3 / 2);
  EXPECT_TRUE(std::filesystem::exists(dir + "/frame-0001.ppm"));
  std::ifstream out(dir + "/out.txt");
  const std::string text((std::istreambuf_iterator<char>(out)), std::istreambuf_iterator<char>());
  EXPECT_NE(text.find("1280x960 YV12"), std::string::npos) << text;
  EXPECT_NE(text.find("property 0: 0..8 step 1 default 4"), std::string::npos) << text;
  EXPECT_NE(text.find("(stamp: frame 2 at"), std::string::npos) << text;

  EXPECT_NE(std::system(("VISTREL_KEY_STORE=/nonexistent/x.reg " + tool +
                         " --device /nonexistent/video9 --frames 1 2> /dev/null > /dev/null").c_str()),
            0);
}

}  // namespace
}  // namespace framesink::testing
