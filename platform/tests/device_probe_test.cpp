#include "platform/device_probe.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

namespace platform {
namespace {

namespace fs = std::filesystem;

// Answers everything with fixed values, so that a test sees which answers were replaced.
struct BaseProbe final : DeviceProbe {
  std::optional<std::string> oemInfo() override { return "Base OEM"; }
  std::optional<uint32_t> osMajorVersion() override { return 6; }
  std::optional<std::string> platformType() override { return "Linux"; }
  std::optional<ProcessorInfo> processor() override { return ProcessorInfo{"base core", "base cpu"}; }
  std::optional<FrameBufferDescription> rawFrameBuffer() override { return screen(800); }
  std::optional<FrameBufferDescription> displayInformation() override { return screen(801); }
  std::optional<FrameBufferDescription> displayProperties() override { return screen(802); }
  static FrameBufferDescription screen(uint32_t width) {
    FrameBufferDescription d;
    d.width = width;
    d.height = 600;
    d.bitsPerPixel = 32;
    return d;
  }
};

std::unique_ptr<DeviceProbe> present(std::string_view text, std::vector<std::string>* problems = nullptr) {
  return presentedDevice(std::make_unique<BaseProbe>(), text, [problems](const std::string& m) {
    if (problems) problems->push_back(m);
  });
}

TEST(PresentedDevice, GivenAnswersReplaceTheMachinesOthersStay) {
  std::vector<std::string> problems;
  auto probe = present(
      "# an HTC phone\n"
      "oem = HTC TyTN II TRIN100\n"
      "  os-major=5\r\n"
      "processor = PXA270\n"
      "\n",
      &problems);
  EXPECT_TRUE(problems.empty());
  EXPECT_EQ(probe->oemInfo(), "HTC TyTN II TRIN100");
  EXPECT_EQ(probe->osMajorVersion(), 5u);
  EXPECT_EQ(probe->platformType(), "Linux");  // not given: the machine's
  ASSERT_TRUE(probe->processor());
  EXPECT_EQ(probe->processor()->name, "PXA270");
  EXPECT_EQ(probe->processor()->core, "base core");
  EXPECT_EQ(probe->rawFrameBuffer()->width, 800u);
  EXPECT_FALSE(probe->streamDrivers());  // the machine has no stream camera drivers
  EXPECT_EQ(present("stream-drivers = CAM2: DSC1:\n")->streamDrivers(), "CAM2: DSC1:");
  EXPECT_FALSE(probe->cameraLibraries());  // nor the makers' camera libraries
  EXPECT_EQ(present("camera-libraries = GFSDK.dll HTCcamera1.dll\n")->cameraLibraries(),
            "GFSDK.dll HTCcamera1.dll");
}

TEST(PresentedDevice, ProcessorArchitectureAndFeatures) {
  auto arm = present(
      "processor-core = Cortex-A72\nprocessor-architecture = aarch64\n"
      "processor-features = fp asimd crc32\n");
  ASSERT_TRUE(arm->processor());
  EXPECT_EQ(arm->processor()->core, "Cortex-A72");
  EXPECT_EQ(arm->processor()->name, "base cpu");  // not given: the machine's
  EXPECT_EQ(arm->processor()->architecture, "aarch64");
  EXPECT_EQ(arm->processor()->features, "fp asimd crc32");
  EXPECT_FALSE(present("processor-features = (failed)\n")->processor());
}

TEST(PresentedDevice, FailedQueriesAndScreens) {
  auto probe = present(
      "oem = (failed)\nplatform=(failed)\nprocessor-core = (failed)\nos-major = (failed)\n"
      "screen = 240x320x16\n");
  EXPECT_FALSE(probe->oemInfo());
  EXPECT_FALSE(probe->platformType());
  EXPECT_FALSE(probe->processor());
  EXPECT_FALSE(probe->osMajorVersion());
  // A presented screen is a geometry only; the frame buffer answers fail.
  EXPECT_FALSE(probe->rawFrameBuffer());
  EXPECT_FALSE(probe->displayInformation());
  auto screen = probe->displayProperties();
  ASSERT_TRUE(screen);
  EXPECT_EQ(screen->width, 240u);
  EXPECT_EQ(screen->height, 320u);
  EXPECT_EQ(screen->bitsPerPixel, 16u);
  EXPECT_EQ(screen->yStrideBytes, 480);
  EXPECT_EQ(screen->frame, nullptr);

  auto none = present("screen = (failed)\n");
  EXPECT_FALSE(none->rawFrameBuffer());
  EXPECT_FALSE(none->displayProperties());
}

TEST(PresentedDevice, MalformedLinesAreReportedAndIgnored) {
  std::vector<std::string> problems;
  auto probe = present(
      "oem HTC\n"            // no '='
      "colour = blue\n"      // unknown key
      "os-major = five\n"    // not a number
      "os-major = 5x\n"
      "os-major = \n"
      "os-major = 99999999999\n"
      "screen = 240x320\n"   // two parts
      "screen = 240xx16\n"
      "screen = -1x320x16\n"
      "platform = SmartPhone\n",
      &problems);
  ASSERT_EQ(problems.size(), 9u);
  EXPECT_NE(problems[0].find("line 1"), std::string::npos);
  EXPECT_NE(problems[8].find("line 9"), std::string::npos);
  EXPECT_EQ(probe->oemInfo(), "Base OEM");
  EXPECT_EQ(probe->osMajorVersion(), 6u);
  EXPECT_EQ(probe->displayProperties()->width, 802u);
  EXPECT_EQ(probe->platformType(), "SmartPhone");  // the good line still counts
}

TEST(PresentedDevice, EmptyOrMissingFileLeavesTheMachine) {
  auto empty = present("");
  EXPECT_EQ(empty->oemInfo(), "Base OEM");
  EXPECT_EQ(empty->processor()->name, "base cpu");

  std::vector<std::string> problems;
  auto missing = presentedDeviceFromFile(std::make_unique<BaseProbe>(), "/nonexistent/device.txt",
                                         [&](const std::string& m) { problems.push_back(m); });
  EXPECT_EQ(missing->oemInfo(), "Base OEM");
  EXPECT_EQ(problems.size(), 1u);
}

TEST(PresentedDevice, FromTheFileNamedInTheEnvironment) {
  const fs::path file = fs::temp_directory_path() / ("vistrel_device_" + std::to_string(getpid()));
  std::ofstream(file) << "oem = GIGABYTE GSmart\n";
  setenv(kDeviceFileVariable, file.c_str(), 1);
  auto probe = systemDeviceProbe();
  unsetenv(kDeviceFileVariable);
  fs::remove(file);
  EXPECT_EQ(probe->oemInfo(), "GIGABYTE GSmart");
}

// A folder that stands in for the system's own files.
class MachineProbe : public ::testing::Test {
 protected:
  void SetUp() override {
    root_ = fs::temp_directory_path() / ("vistrel_root_" + std::to_string(getpid()));
    fs::remove_all(root_);
    fs::create_directories(root_);
  }
  void TearDown() override { fs::remove_all(root_); }
  void write(const std::string& path, std::string_view content) {
    const fs::path full = root_ / path;
    fs::create_directories(full.parent_path());
    std::ofstream(full, std::ios::binary) << content;
  }
  std::unique_ptr<DeviceProbe> probe() { return machineDeviceProbe(root_.string()); }
  fs::path root_;
};

TEST_F(MachineProbe, NothingToReadGivesNoAnswers) {
  auto p = probe();
  EXPECT_FALSE(p->oemInfo());
  EXPECT_FALSE(p->osMajorVersion());
  EXPECT_FALSE(p->processor());
  EXPECT_FALSE(p->rawFrameBuffer());
  EXPECT_FALSE(p->displayInformation());
  EXPECT_EQ(p->platformType(), kOwnPlatformType);
}

TEST_F(MachineProbe, OemTextFromTheDeviceTreeModelElseTheDmiNames) {
  write("sys/class/dmi/id/sys_vendor", "GIGABYTE\n");
  write("sys/class/dmi/id/product_name", "GSmart MS800\n");
  EXPECT_EQ(probe()->oemInfo(), "GIGABYTE GSmart MS800");
  write("proc/device-tree/model", std::string("HTC TyTN II\0", 12));
  EXPECT_EQ(probe()->oemInfo(), "HTC TyTN II");
}

TEST_F(MachineProbe, OneDmiNameAlone) {
  write("sys/class/dmi/id/product_name", "Laptop 13\n");
  EXPECT_EQ(probe()->oemInfo(), "Laptop 13");
}

TEST_F(MachineProbe, KernelMajorVersion) {
  struct Case {
    const char* release;
    std::optional<uint32_t> major;
  } cases[] = {{"6.1.0-18-amd64\n", 6}, {"2.6.21-omap1\n", 2}, {"10.0\n", 10},
               {"linux\n", std::nullopt}, {"\n", std::nullopt}};
  for (const Case& c : cases) {
    write("proc/sys/kernel/osrelease", c.release);
    EXPECT_EQ(probe()->osMajorVersion(), c.major) << c.release;
  }
}

TEST_F(MachineProbe, ProcessorFromCpuinfo) {
  write("proc/cpuinfo",
        "Processor\t: XScale-PXA270 rev 7 (v5l)\n"
        "BogoMIPS\t: 415.33\n"
        "Hardware\t: HTC Trinity\n");
  auto arm = probe()->processor();
  ASSERT_TRUE(arm);
  EXPECT_EQ(arm->core, "XScale-PXA270 rev 7 (v5l)");
  EXPECT_EQ(arm->name, "HTC Trinity");

  write("proc/cpuinfo",
        "processor\t: 0\nvendor_id\t: AuthenticAMD\nmodel name\t: AMD EPYC 7B13\n"
        "processor\t: 1\nmodel name\t: AMD EPYC 7B13\n");
  auto pc = probe()->processor();
  ASSERT_TRUE(pc);
  EXPECT_EQ(pc->core, "AMD EPYC 7B13");
  EXPECT_EQ(pc->name, "AMD EPYC 7B13");
  EXPECT_EQ(pc->architecture, "");  // no proc/sys/kernel/arch under this root

  // An AArch64 kernel names no model: the core comes from the Arm part number.
  write("proc/cpuinfo",
        "processor\t: 0\nBogoMIPS\t: 108.00\nFeatures\t: fp asimd evtstrm crc32 cpuid\n"
        "CPU implementer\t: 0x41\nCPU architecture: 8\nCPU variant\t: 0x0\n"
        "CPU part\t: 0xd08\nCPU revision\t: 3\n");
  write("proc/sys/kernel/arch", "aarch64\n");
  auto board = probe()->processor();
  ASSERT_TRUE(board);
  EXPECT_EQ(board->core, "Cortex-A72");
  EXPECT_EQ(board->name, "Cortex-A72");
  EXPECT_EQ(board->architecture, "aarch64");
  EXPECT_EQ(board->features, "fp asimd evtstrm crc32 cpuid");

  write("proc/cpuinfo", "CPU implementer\t: 0x51\nCPU part\t: 0x800\nflags\t: x\n");
  EXPECT_EQ(probe()->processor()->core, "implementer 0x51 part 0x800");
}

TEST_F(MachineProbe, AFileThatIsNoFrameBufferDevice) {
  write("dev/fb0", "not a device");
  auto p = probe();
  EXPECT_FALSE(p->rawFrameBuffer());
  EXPECT_FALSE(p->displayInformation());
}

// The X11 root window, with a virtual X server when the machine has one.
TEST(MachineProbeDisplay, X11RootWindowGeometry) {
  if (access("/usr/bin/Xvfb", X_OK) != 0) GTEST_SKIP() << "no Xvfb";
  int ready[2];
  ASSERT_EQ(pipe(ready), 0);
  const pid_t server = fork();
  ASSERT_GE(server, 0);
  if (server == 0) {
    close(ready[0]);
    const int null = open("/dev/null", O_WRONLY);
    dup2(null, 2);
    const std::string fd = std::to_string(ready[1]);
    execl("/usr/bin/Xvfb", "Xvfb", "-displayfd", fd.c_str(), "-screen", "0", "320x240x16",
          "-nolisten", "tcp", static_cast<char*>(nullptr));
    _exit(127);
  }
  close(ready[1]);
  std::string number;
  char c;
  while (read(ready[0], &c, 1) == 1 && c != '\n') number += c;
  close(ready[0]);

  std::optional<FrameBufferDescription> screen;
  if (!number.empty()) {
    const char* old = std::getenv("DISPLAY");
    const std::string saved = old ? old : "";
    setenv("DISPLAY", (":" + number).c_str(), 1);
    screen = machineDeviceProbe("/nonexistent")->displayProperties();
    if (old) setenv("DISPLAY", saved.c_str(), 1);
    else unsetenv("DISPLAY");
  }
  kill(server, SIGTERM);
  waitpid(server, nullptr, 0);
  ASSERT_FALSE(number.empty()) << "Xvfb did not start";
  ASSERT_TRUE(screen);
  EXPECT_EQ(screen->width, 320u);
  EXPECT_EQ(screen->height, 240u);
  EXPECT_EQ(screen->bitsPerPixel, 16u);
  EXPECT_EQ(screen->frame, nullptr);
}

}  // namespace
}  // namespace platform
