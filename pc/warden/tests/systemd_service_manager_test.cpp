#include "warden/systemd_service_manager.h"

#include <gtest/gtest.h>
#include <gmock/gmock.h>

#include <filesystem>

#include "test_support.h"
#include "warden/command_line.h"
#include "warden/service_codes.h"

namespace warden {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::Not;
using warden::testing::FakeSystemctl;
using warden::testing::readFile;

constexpr const char* kUnit = "vistrel-service.service";

ServiceConfig config(const std::string& path = "/opt/vistrel/bin/warden") {
  ServiceConfig c = wardenServiceConfig(path);
  c.environment.clear();
  return c;
}

class SystemdManagerTest : public ::testing::Test {
 protected:
  std::filesystem::path unitFile() const { return fake.dir / "units" / kUnit; }
  FakeSystemctl fake;
  std::FILE* err = stderr;
};

TEST_F(SystemdManagerTest, InstallWritesEnablesAndStartsTheUserUnit) {
  SystemdServiceManager manager(UnitScope::kUser);
  ASSERT_EQ(installService(manager, config(), err), kExitDone);
  EXPECT_THAT(fake.calls(), ElementsAre("--user show --property=Version",
                                        "--user show --property=LoadState --value vistrel-service.service",
                                        "--user daemon-reload", "--user enable vistrel-service.service",
                                        "--user start vistrel-service.service"));
  const std::string unit = readFile(unitFile());
  for (const char* line : {"Description=Vistrel Service\n", "Type=notify\n",
                           "ExecStart=\"/opt/vistrel/bin/warden\"\n",
                           "ExecReload=/bin/kill -HUP $MAINPID\n", "Restart=on-failure\n",
                           "WantedBy=default.target\n"}) {
    EXPECT_THAT(unit, HasSubstr(line));
  }
}

TEST_F(SystemdManagerTest, SecondInstallFailsAndLeavesTheFirstAlone) {
  SystemdServiceManager manager(UnitScope::kUser);
  ASSERT_EQ(installService(manager, config(), err), kExitDone);
  const std::string before = readFile(unitFile());
  fake.clearCalls();
  EXPECT_EQ(installService(manager, config("/elsewhere/warden"), err), kExitFailed);
  EXPECT_EQ(readFile(unitFile()), before);
  // Only questions were asked: no reload, enable, start or stop touched the running one.
  EXPECT_THAT(fake.calls(), ElementsAre("--user show --property=Version",
                                        "--user show --property=LoadState --value vistrel-service.service"));
}

TEST_F(SystemdManagerTest, UnitOfThatNameElsewhereCountsAsInstalled) {
  // The manager knows the unit although our folder has no file (a packaged unit).
  testing::writeFile(fake.dir / "other" / kUnit, "[Unit]\n");
  setenv("VISTREL_UNIT_DIR", (fake.dir / "other").c_str(), 1);
  SystemdServiceManager probe(UnitScope::kUser);
  std::string error;
  EXPECT_FALSE(probe.createService(config(), error));
  EXPECT_THAT(error, HasSubstr("exists already"));
}

TEST_F(SystemdManagerTest, FailedStartKeepsTheInstallation) {
  fake.failFor("start");
  SystemdServiceManager manager(UnitScope::kUser);
  EXPECT_EQ(installService(manager, config(), err), kExitDone);
  EXPECT_TRUE(std::filesystem::exists(unitFile()));
}

TEST_F(SystemdManagerTest, FailedEnableLeavesNothingBehind) {
  fake.failFor("enable");
  SystemdServiceManager manager(UnitScope::kUser);
  EXPECT_EQ(installService(manager, config(), err), kExitFailed);
  EXPECT_FALSE(std::filesystem::exists(unitFile()));
  EXPECT_EQ(fake.calls().back(), "--user daemon-reload");
  EXPECT_THAT(fake.calls(), Not(::testing::Contains("--user start vistrel-service.service")));
}

TEST_F(SystemdManagerTest, NoManagerReachableFailsBothWays) {
  fake.failFor("show");
  SystemdServiceManager manager(UnitScope::kUser);
  EXPECT_EQ(installService(manager, config(), err), kExitFailed);
  EXPECT_EQ(uninstallService(manager, kServiceName, err), kExitFailed);
  EXPECT_FALSE(std::filesystem::exists(fake.dir / "units"));
  EXPECT_EQ(fake.calls().size(), 2u);
}

TEST_F(SystemdManagerTest, RemoveStopsDisablesAndDeletes) {
  SystemdServiceManager manager(UnitScope::kUser);
  ASSERT_EQ(installService(manager, config(), err), kExitDone);
  fake.clearCalls();
  fake.failFor("stop");  // a service that does not run is removed all the same
  EXPECT_EQ(uninstallService(manager, kServiceName, err), kExitDone);
  EXPECT_FALSE(std::filesystem::exists(unitFile()));
  EXPECT_THAT(fake.calls(), ElementsAre("--user show --property=Version",
                                        "--user stop vistrel-service.service",
                                        "--user disable vistrel-service.service",
                                        "--user daemon-reload"));
  EXPECT_EQ(uninstallService(manager, kServiceName, err), kExitFailed);  // none left
}

TEST_F(SystemdManagerTest, SystemScopeUsesTheMachinesManager) {
  SystemdServiceManager manager(UnitScope::kSystem);
  ASSERT_EQ(installService(manager, config(), err), kExitDone);
  for (const std::string& call : fake.calls()) EXPECT_THAT(call, Not(HasSubstr("--user")));
  EXPECT_THAT(readFile(unitFile()), HasSubstr("WantedBy=multi-user.target\n"));
}

TEST(UnitText, PathsAreQuotedForTheUnitFile) {
  struct Case {
    std::string path, quoted;
    bool ok;
  } cases[] = {
      {"/usr/bin/warden", "\"/usr/bin/warden\"", true},
      {"/opt/my apps/warden", "\"/opt/my apps/warden\"", true},
      {"/opt/100%/$HOME/\"q\"\\w", "\"/opt/100%%/$$HOME/\\\"q\\\"\\\\w\"", true},
      {"/opt/a\nb", "", false},
  };
  for (const Case& c : cases) {
    std::string quoted;
    EXPECT_EQ(quoteUnitWord(c.path, quoted), c.ok) << c.path;
    if (c.ok) {
      EXPECT_EQ(quoted, c.quoted);
    }
  }
  std::string error;
  SystemdServiceManager manager(UnitScope::kUser);
  EXPECT_FALSE(manager.createService(config("relative/warden"), error));
}

TEST(UnitText, EnvironmentOfTheInstallationIsKept) {
  setenv("VISTREL_KEY_STORE", "/srv/vistrel store.reg", 1);
  const ServiceConfig c = wardenServiceConfig("/usr/bin/warden");
  unsetenv("VISTREL_KEY_STORE");
  EXPECT_THAT(unitFileText(c, UnitScope::kUser),
              HasSubstr("Environment=\"VISTREL_KEY_STORE=/srv/vistrel store.reg\"\n"));
}

TEST(UnitText, SystemdAcceptsTheUnit) {
  std::string version;
  if (runProgram({"systemd-analyze", "--version"}, &version) != 0) {
    GTEST_SKIP() << "systemd-analyze is not installed";
  }
  FakeSystemctl fake;  // only for its temporary folder
  std::string quoted;
  ServiceConfig c = wardenServiceConfig(WARDEN_BIN);
  c.environment = {"VISTREL_KEY_STORE=/tmp/a b.reg"};
  for (UnitScope scope : {UnitScope::kUser, UnitScope::kSystem}) {
    const auto path = fake.dir / (scope == UnitScope::kUser ? "user" : "system") / kUnit;
    testing::writeFile(path, unitFileText(c, scope));
    std::string output;
    // verify resolves WantedBy= and checks that ExecStart= names an executable.
    const int status = runProgram({"systemd-analyze", "verify", path.string()}, &output);
    EXPECT_EQ(status, 0) << output;
    EXPECT_EQ(output.find(kUnit), std::string::npos) << output;
  }
  // The check is real: a unit naming a missing program is refused.
  c.executablePath = "/nonexistent/warden";
  const auto bad = fake.dir / "bad" / kUnit;
  testing::writeFile(bad, unitFileText(c, UnitScope::kSystem));
  std::string output;
  EXPECT_NE(runProgram({"systemd-analyze", "verify", bad.string()}, &output), 0);
}

// The program itself: "/i" twice, "/u" of a missing service, "/I" as a hardware ID.
class WardenProgramTest : public ::testing::Test {
 protected:
  int run(const std::vector<std::string>& args, std::string* output = nullptr) {
    std::vector<std::string> argv{WARDEN_BIN};
    argv.insert(argv.end(), args.begin(), args.end());
    std::string out;
    const int status = runProgram(argv, &out);
    if (output != nullptr) *output = out;
    return status;
  }
  FakeSystemctl fake;
};

TEST_F(WardenProgramTest, SwitchesAndExitStatuses) {
  setenv("VISTREL_DEVICE_ROOT", (fake.dir / "root").c_str(), 1);
  std::string out;
  EXPECT_EQ(run({"/u"}, &out), 2);
  EXPECT_THAT(out, HasSubstr("cannot remove Vistrel Service: no service named vistrel-service.service"));
  EXPECT_EQ(run({"/i"}), 0);
  EXPECT_THAT(readFile(fake.dir / "units" / kUnit), HasSubstr("ExecStart=\"" WARDEN_BIN "\"\n"));
  EXPECT_EQ(run({"/i"}, &out), 2);
  EXPECT_THAT(out, HasSubstr("exists already"));
  // Upper case is no switch: a hardware ID with no present device, so removal fails.
  fake.clearCalls();
  EXPECT_EQ(run({"/I"}, &out), 2);
  EXPECT_THAT(out, HasSubstr("no present device has the hardware ID /I"));
  EXPECT_EQ(run({"/U"}, &out), 2);
  EXPECT_TRUE(fake.calls().empty());  // the service was not touched
  EXPECT_TRUE(std::filesystem::exists(fake.dir / "units" / kUnit));
  EXPECT_EQ(run({"/u"}), 0);
  EXPECT_EQ(run({"/i", "extra"}, &out), 2);
  EXPECT_EQ(run({"--help"}, &out), 0);
  for (const char* topic : {"/i", "/u", "HARDWARE-ID DEFINITION-FILE", "SIGHUP", "--system",
                            "VISTREL_DEVICE_ROOT", "255"}) {
    EXPECT_THAT(out, HasSubstr(topic));
  }
  unsetenv("VISTREL_DEVICE_ROOT");
}

}  // namespace
}  // namespace warden
