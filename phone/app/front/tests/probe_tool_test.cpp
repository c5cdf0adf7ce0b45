// vistrel-probe on a presented device with stand-in modules.

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

namespace {

namespace fs = std::filesystem;

std::string run(const std::string& arguments, const std::string& environment = {}) {
  const std::string command =
      environment + " " + VISTREL_PROBE_TOOL + " " + arguments + " 2>&1";
  FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) return {};
  std::string output;
  char buffer[4096];
  size_t n;
  while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) output.append(buffer, n);
  pclose(pipe);
  return output;
}

class ProbeTool : public ::testing::Test {
 protected:
  void SetUp() override {
    file_ = fs::temp_directory_path() / ("vistrel_probe_device_" + std::to_string(getpid()));
  }
  void TearDown() override { fs::remove(file_); }
  void present(const std::string& text) { std::ofstream(file_) << text; }
  static std::string modules(std::initializer_list<const char*> folders) {
    std::string out;
    for (const char* f : folders) out += std::string(" --modules ") + VISTREL_FAKE_MODULES + "/" + f;
    return out;
  }
  fs::path file_;
};

TEST_F(ProbeTool, PrintsTheProbeAndTheSourcesOfAPresentedDevice) {
  present("oem = HTC TyTN II TRIN100\nos-major = 5\nprocessor = PXA270\nscreen = 240x320x16\n"
          "processor-architecture = armv5tel\ncamera-libraries = HTCcamera.dll\n");
  const std::string out =
      run("--device " + file_.string() + modules({"htc", "jpegpress", "framesink"}));
  EXPECT_NE(out.find("OEM text:         \"HTC TYTN II TRIN100\""), std::string::npos) << out;
  EXPECT_NE(out.find("as returned:      \"HTC TyTN II TRIN100\""), std::string::npos) << out;
  EXPECT_NE(out.find("OS major version: 5"), std::string::npos) << out;
  EXPECT_NE(out.find("PXA27x:           yes"), std::string::npos) << out;
  EXPECT_NE(out.find("jpegpress:        bound, portable kernels"), std::string::npos) << out;
  const char* candidates =
      "candidates\n"
      "  1 GoForce camera: GFSDK.dll not named by the device\n"
      "  2 HTC camera: HTCcamera.dll, model code 12\n"
      "  3 HTC front sensor: model code 12\n";
  EXPECT_NE(out.find(candidates), std::string::npos) << out;
  EXPECT_NE(out.find("  7 DirectShow camera: framesink.dll bound, flavour 0\n"
                     "  8 screen: 240x320, 16 bits\n"),
            std::string::npos)
      << out;
  const char* sources =
      "sources\n"
      "  1. Camera (kind 0, camera)\n"
      "  2. Front Sensor (kind 0, camera)\n"
      "  3. Camera (kind 0, camera)\n"
      "  4. Screen (kind 1, screen)\n"
      "  5. Sound (kind 2, sound): capture device \"default\", ";
  EXPECT_NE(out.find(sources), std::string::npos) << out;
}

TEST_F(ProbeTool, ABrokenDeviceFileIsReportedAndTheRestUsed) {
  present("oem = ASUS G50V04\nos-major five\nstream-drivers = CAM1:\n");
  const std::string out = run(modules({}), "VISTREL_DEVICE=" + file_.string());
  EXPECT_NE(out.find("device file line 2: ignored"), std::string::npos) << out;
  EXPECT_NE(out.find("4 \"CAM1:\" camera: named by the OEM text\n"), std::string::npos) << out;
  EXPECT_NE(out.find("sources\n  1. Camera (kind 0, camera)\n"), std::string::npos) << out;
}

TEST_F(ProbeTool, NamesTheKernelsJpegpressRuns) {
  struct Case {
    const char* device;
    const char* environment;
    const char* state;
  } cases[] = {
      {"processor-core = Cortex-A72\nprocessor-architecture = aarch64\n", "",
       "jpegpress:        bound, neon kernels\n"},
      {"processor-architecture = x86_64\nprocessor-features = sse2 avx2 bmi1 bmi2 abm\n",
       "VISTREL_JPEGPRESS_PORTABLE=1",
       "jpegpress:        bound, portable (VISTREL_JPEGPRESS_PORTABLE is set; avx2 available) kernels\n"},
      {"processor-architecture = x86_64\nprocessor-features = sse2\n", "VISTREL_JPEGPRESS_PORTABLE=0",
       "jpegpress:        bound, sse2 kernels\n"},
      {"processor-core = ARMv7\nprocessor-architecture = armv7l\n", "",
       "jpegpress:        not loaded (no kernels for this processor)\n"},
  };
  for (const Case& c : cases) {
    present(c.device);
    const std::string out =
        run("--device " + file_.string() + modules({"jpegpress"}), c.environment);
    EXPECT_NE(out.find(c.state), std::string::npos) << out;
  }
}

TEST_F(ProbeTool, AMissingDeviceFileLeavesThisMachine) {
  const std::string out = run("--device /nonexistent/device.txt" + modules({}));
  EXPECT_NE(out.find("cannot be read"), std::string::npos) << out;
  EXPECT_NE(out.find("Sound (kind 2, sound)"), std::string::npos) << out;
}

}  // namespace
