#include "warden/device_installer.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>

#include "test_support.h"
#include "warden/device_definition.h"
#include "warden/service_manager.h"

namespace fs = std::filesystem;

namespace warden {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using warden::testing::readFile;
using warden::testing::writeFile;

class FakeUnits : public DeviceUnits {
 public:
  bool enable(const std::string& unit, std::string& error) override {
    calls.push_back("enable " + unit);
    if (failEnable) error = "refused";
    return !failEnable;
  }
  void disable(const std::string& unit) override { calls.push_back("disable " + unit); }
  Restart restart(const std::string& unit, std::string& error) override {
    calls.push_back("restart " + unit);
    if (restartResult == Restart::kFailed) error = "unit failed";
    return restartResult;
  }
  void stop(const std::string& unit) override { calls.push_back("stop " + unit); }
  std::vector<std::string> calls;
  bool failEnable = false;
  Restart restartResult = Restart::kDone;
};

constexpr const char* kDefinition = R"(# test microphone
[Definition]
Format = 1
Class = AudioInput

[Driver mic]
Description = Test Microphone
HardwareId = ROOT\TestMic
Unit = testmic.service
UnitFile = testmic.service
AlsaFile = 50-testmic.conf
)";

// Every regular file below `dir`, relative to it.
std::vector<std::string> filesBelow(const fs::path& dir) {
  std::vector<std::string> out;
  std::error_code ec;
  for (auto it = fs::recursive_directory_iterator(dir, ec); it != fs::recursive_directory_iterator(); ++it) {
    if (it->is_regular_file()) out.push_back(fs::relative(it->path(), dir).string());
  }
  std::sort(out.begin(), out.end());
  return out;
}

class DeviceInstallerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/warden-dev-XXXXXX";
    base = mkdtemp(pattern);
    root = base / "root";
    fs::create_directories(root);
    layout = DeviceLayout::under(root.string());
    source = base / "src";
    writeSource(kDefinition, "[Unit]\nDescription=test mic\n[Service]\nExecStart=/bin/true\n",
                "pcm.testmic { type null }\n");
  }
  void TearDown() override { fs::remove_all(base); }

  void writeSource(const std::string& def, const std::string& unit, const std::string& alsa) {
    writeFile(source / "testmic.vdef", def);
    writeFile(source / "testmic.service", unit);
    writeFile(source / "50-testmic.conf", alsa);
  }
  int install(const std::string& id = "ROOT\\TestMic") {
    return installDevice(layout, units, id, (source / "testmic.vdef").string(), stderr);
  }
  int remove(const std::string& id) { return removeDevice(layout, units, id, stderr); }

  fs::path base, root, source;
  DeviceLayout layout;
  FakeUnits units;
};

TEST_F(DeviceInstallerTest, InstallUpdateAndRemove) {
  ASSERT_EQ(install(), kExitDone);
  EXPECT_THAT(filesBelow(root),
              ElementsAre("etc/alsa/conf.d/50-testmic.conf", "etc/systemd/user/testmic.service",
                          "var/lib/vistrel/devices/definitions/testmic/50-testmic.conf",
                          "var/lib/vistrel/devices/definitions/testmic/testmic.service",
                          "var/lib/vistrel/devices/definitions/testmic/testmic.vdef",
                          "var/lib/vistrel/devices/nodes/AUDIOINPUT-0000/node"));
  const std::string node = readFile(root / "var/lib/vistrel/devices/nodes/AUDIOINPUT-0000/node");
  EXPECT_THAT(node, HasSubstr("InstanceId = ROOT\\AUDIOINPUT\\0000\n"));
  EXPECT_THAT(node, HasSubstr("HardwareId = ROOT\\TestMic\n"));
  EXPECT_THAT(units.calls, ElementsAre("enable testmic.service", "restart testmic.service"));

  // The same ID in another case with a changed definition: the present device is updated.
  writeSource(kDefinition, "[Unit]\nDescription=test mic 2\n[Service]\nExecStart=/bin/true\n",
              "pcm.testmic { type null }\n# v2\n");
  units.calls.clear();
  ASSERT_EQ(install("root\\testmic"), kExitDone);
  EXPECT_FALSE(fs::exists(root / "var/lib/vistrel/devices/nodes/AUDIOINPUT-0001"));
  EXPECT_EQ(readFile(root / "etc/alsa/conf.d/50-testmic.conf"), "pcm.testmic { type null }\n# v2\n");
  EXPECT_THAT(readFile(root / "etc/systemd/user/testmic.service"), HasSubstr("test mic 2"));
  // A changed definition of the same name is a second copy in the store.
  EXPECT_TRUE(fs::exists(root / "var/lib/vistrel/devices/definitions/testmic-2/testmic.vdef"));
  EXPECT_THAT(units.calls, ElementsAre("enable testmic.service", "restart testmic.service"));

  // The same definition again reuses its copy.
  ASSERT_EQ(install(), kExitDone);
  EXPECT_FALSE(fs::exists(root / "var/lib/vistrel/devices/definitions/testmic-3"));

  units.calls.clear();
  EXPECT_EQ(remove("ROOT\\TESTMIC"), kExitDone);
  EXPECT_THAT(units.calls, ElementsAre("stop testmic.service", "disable testmic.service"));
  EXPECT_FALSE(fs::exists(root / "etc/alsa/conf.d/50-testmic.conf"));
  EXPECT_FALSE(fs::exists(root / "etc/systemd/user/testmic.service"));
  EXPECT_FALSE(fs::exists(root / "var/lib/vistrel/devices/nodes/AUDIOINPUT-0000"));
  EXPECT_EQ(remove("ROOT\\TestMic"), kExitFailed);  // nothing left to remove
}

TEST_F(DeviceInstallerTest, RemovingAnUnknownIdFails) {
  ASSERT_EQ(install(), kExitDone);
  EXPECT_EQ(remove("ROOT\\Other"), kExitFailed);
  EXPECT_TRUE(fs::exists(root / "var/lib/vistrel/devices/nodes/AUDIOINPUT-0000/node"));
}

TEST_F(DeviceInstallerTest, BadInputLeavesNothingBehind) {
  struct Case {
    const char* what;
    std::string definition;  // empty: no definition file at all
    bool dropAlsaFile;
    std::string id;
  } cases[] = {
      {"no definition file", "", false, "ROOT\\TestMic"},
      {"no driver for the ID", kDefinition, false, "ROOT\\OtherMic"},
      {"a named file missing", kDefinition, true, "ROOT\\TestMic"},
      {"no format", "[Definition]\nClass = A\n[Driver d]\nHardwareId = X\nUnit = x.service\n", false, "X"},
      {"unknown key", "[Definition]\nFormat = 1\nClass = A\nColour = red\n", false, "X"},
      {"file outside its folder", "[Definition]\nFormat = 1\nClass = A\n[Driver d]\nHardwareId = X\n"
                                  "Unit = x.service\nAlsaFile = ../../etc/passwd\n", false, "X"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    fs::remove_all(source);
    if (!c.definition.empty()) writeSource(c.definition, "[Unit]\n", "pcm.x {}\n");
    if (c.dropAlsaFile) fs::remove(source / "50-testmic.conf");
    EXPECT_EQ(install(c.id), kExitFailed);
    EXPECT_TRUE(filesBelow(root).empty());
    EXPECT_TRUE(fs::is_empty(root));
  }
  EXPECT_TRUE(units.calls.empty());
}

TEST_F(DeviceInstallerTest, FailedStartRemovesWhatTheRunCreated) {
  units.restartResult = DeviceUnits::Restart::kFailed;
  EXPECT_EQ(install(), kExitFailed);
  EXPECT_TRUE(fs::is_empty(root));
  EXPECT_THAT(units.calls, ElementsAre("enable testmic.service", "restart testmic.service",
                                       "disable testmic.service"));
}

TEST_F(DeviceInstallerTest, FailedUpdateKeepsThePresentDeviceAsItWas) {
  ASSERT_EQ(install(), kExitDone);
  const auto before = filesBelow(root);
  const std::string alsaBefore = readFile(root / "etc/alsa/conf.d/50-testmic.conf");
  writeSource(kDefinition, "[Unit]\n", "pcm.testmic { type null }\n# broken\n");
  units.restartResult = DeviceUnits::Restart::kFailed;
  EXPECT_EQ(install(), kExitFailed);
  EXPECT_EQ(filesBelow(root), before);
  EXPECT_EQ(readFile(root / "etc/alsa/conf.d/50-testmic.conf"), alsaBefore);
}

TEST_F(DeviceInstallerTest, RestartNeededWhenTheAudioSystemMustReadItsConfiguration) {
  // No session manager answers (installed as root, say): done, restart needed.
  units.restartResult = DeviceUnits::Restart::kNoSession;
  EXPECT_EQ(install(), kExitDoneRestartNeeded);
  EXPECT_TRUE(fs::exists(root / "etc/systemd/user/testmic.service"));
  EXPECT_EQ(remove("ROOT\\TestMic"), kExitDone);

  // A PipeWire configuration file: PipeWire reads it only when it starts.
  units.restartResult = DeviceUnits::Restart::kDone;
  writeFile(source / "testmic.vdef", std::string(kDefinition) + "PipeWireFile = 60-testmic.conf\n");
  writeFile(source / "60-testmic.conf", "context.modules = []\n");
  EXPECT_EQ(install(), kExitDoneRestartNeeded);
  EXPECT_TRUE(fs::exists(root / "etc/pipewire/pipewire.conf.d/60-testmic.conf"));
  EXPECT_EQ(install(), kExitDone);  // nothing changed for PipeWire this time
  EXPECT_EQ(remove("ROOT\\TestMic"), kExitDoneRestartNeeded);
}

TEST_F(DeviceInstallerTest, UnwritableStoreFails) {
  fs::remove_all(root);
  writeFile(root, "not a folder");
  EXPECT_EQ(install(), kExitFailed);
  EXPECT_EQ(readFile(root), "not a folder");
  EXPECT_TRUE(units.calls.empty());
}

TEST_F(DeviceInstallerTest, SecondDriverOfTheDefinitionMatchesByCompatibleId) {
  writeFile(source / "testmic.vdef", std::string(kDefinition) +
                                         "\n[Driver other]\nHardwareId = ROOT\\Other\n"
                                         "CompatibleId = GENERIC\\MIC\nUnit = other.service\n");
  ASSERT_EQ(install("generic\\mic"), kExitDone);
  EXPECT_THAT(readFile(root / "var/lib/vistrel/devices/nodes/AUDIOINPUT-0000/node"),
              HasSubstr("Driver = other\n"));
  EXPECT_THAT(units.calls, ElementsAre("enable other.service", "restart other.service"));
}

// The shipped microphone definition through the real units against a fake systemctl.
TEST(MicrophoneDefinition, InstallsThroughSystemctl) {
  if (!fs::exists(WARDEN_MIC_DEFINITION) ||
      !fs::exists(fs::path(WARDEN_MIC_DEFINITION).parent_path() / "orvaneaudio.service")) {
    GTEST_SKIP() << "the microphone's files are not in this build";
  }
  std::string text = readFile(WARDEN_MIC_DEFINITION), error;
  DeviceDefinition d;
  ASSERT_TRUE(parseDeviceDefinition(text, d, error)) << error;
  testing::FakeSystemctl fake;
  const fs::path root = fake.dir / "root";
  SystemctlDeviceUnits units(root.string());
  const DeviceLayout layout = DeviceLayout::under(root.string());
  EXPECT_EQ(installDevice(layout, units, "ROOT\\OrvaneAudio", WARDEN_MIC_DEFINITION, stderr), kExitDone);
  EXPECT_THAT(fake.calls(), ElementsAre("--global --root=" + root.string() + " enable orvaneaudio.service",
                                        "--user show --property=Version", "--user daemon-reload",
                                        "--user restart orvaneaudio.service"));
  EXPECT_THAT(readFile(root / "etc/alsa/conf.d/50-orvaneaudio.conf"), HasSubstr("pcm.orvaneaudio"));
  EXPECT_THAT(readFile(root / "etc/systemd/user/orvaneaudio.service"), HasSubstr("ExecStart="));
  fake.clearCalls();
  fake.failFor("show");  // no session: installed, shown after the next session start
  EXPECT_EQ(installDevice(layout, units, "root\\orvaneaudio", WARDEN_MIC_DEFINITION, stderr),
            kExitDoneRestartNeeded);
  EXPECT_EQ(removeDevice(layout, units, "ROOT\\ORVANEAUDIO", stderr), kExitDone);
  EXPECT_FALSE(fs::exists(root / "etc/alsa/conf.d/50-orvaneaudio.conf"));
}

TEST(DeviceDefinitionParse, MalformedDefinitionsNameTheLine) {
  struct Case {
    std::string text;
    std::string message;
  } cases[] = {
      {"[Definition]\nFormat = 2\n", "line 2: format 2"},
      {"[Definition\n", "line 1: a section header"},
      {"Class = A\n", "line 1: a value outside"},
      {"[Definition]\nFormat = 1\nClass = A\n[Driver d]\nUnit = d.service\n", "has no HardwareId"},
      {"[Definition]\nFormat = 1\nClass = A\n[Driver d]\nHardwareId = X\n", "needs a Unit"},
      {"[Definition]\nFormat = 1\nClass = A\n", "no [Driver"},
      {"[Definition]\nFormat = 1\nClass = A b\n", "class name"},
      {"[Definition]\nFormat = 1\nClass = A\n[Driver d]\n[Driver D]\n", "defined twice"},
      {"[Definition]\nFormat = 1\nClass = A\n[Other]\n", "unknown section"},
      {"[Definition]\nFormat = 1\nClass =\n", "has no value"},
  };
  for (const Case& c : cases) {
    DeviceDefinition d;
    std::string error;
    EXPECT_FALSE(parseDeviceDefinition(c.text, d, error)) << c.text;
    EXPECT_THAT(error, HasSubstr(c.message)) << c.text;
  }
  DeviceDefinition d;
  std::string error;
  ASSERT_TRUE(parseDeviceDefinition(kDefinition, d, error)) << error;
  ASSERT_EQ(d.drivers.size(), 1u);
  EXPECT_EQ(d.className, "AudioInput");
  EXPECT_TRUE(d.drivers[0].matches("root\\testmic"));
  EXPECT_FALSE(d.drivers[0].matches("ROOT\\TestMic2"));
  EXPECT_THAT(d.drivers[0].files(), ElementsAre("testmic.service", "50-testmic.conf"));
}

}  // namespace
}  // namespace warden
