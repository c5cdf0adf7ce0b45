#include "launcher/phone_launcher.h"

#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/event.h"
#include "platform/key_store.h"
#include "platform/utf16.h"
#include "wait_until.h"

namespace launcher {
namespace {

// A device behind a fake module: its settings as key -> value -> text, what the session
// does, and a record of the calls.
struct FakeDevice {
  std::map<std::u16string, std::map<std::u16string, std::u16string>> keys;
  int32_t initReturn = 0;
  bool signal = true;  // false: the initialisation never ends
  int32_t initResult = kRapiOk;
  int32_t createResult = 1;
  std::vector<std::string> calls;
  std::u16string startedPath, startedLine;
};
FakeDevice* gDevice = nullptr;

std::string narrow(const char16_t* s) { return platform::utf16ToUtf8Lossy(s ? s : u""); }

RemoteApi fakeApi() {
  RemoteApi api;
  api.initEx = [](RapiInit* init) -> int32_t {
    gDevice->calls.push_back("init");
    if (gDevice->initReturn != 0) return gDevice->initReturn;
    init->result = gDevice->initResult;
    if (gDevice->signal) init->event.set(init->event.object);
    return 0;
  };
  api.uninit = []() -> int32_t {
    gDevice->calls.push_back("uninit");
    return 0;
  };
  api.createProcess = [](const char16_t* path, const char16_t* line) -> int32_t {
    gDevice->calls.push_back("create");
    gDevice->startedPath = path;
    gDevice->startedLine = line;
    return gDevice->createResult;
  };
  api.regOpenKeyEx = [](uint32_t root, const char16_t* subKey, uint32_t, uint32_t access, RapiKey* key) -> int32_t {
    gDevice->calls.push_back("open " + narrow(subKey));
    auto it = gDevice->keys.find(subKey);
    if (root != kRapiHkeyLocalMachine || access != kRapiKeyAllAccess || it == gDevice->keys.end()) return 2;
    *key = &it->second;
    return 0;
  };
  api.regQueryValueEx = [](RapiKey key, const char16_t* name, uint32_t* type, uint8_t* data,
                           uint32_t* size) -> int32_t {
    gDevice->calls.push_back("query " + narrow(name));
    auto& values = *static_cast<std::map<std::u16string, std::u16string>*>(key);
    auto it = values.find(name);
    if (it == values.end()) return 2;
    const uint32_t bytes = static_cast<uint32_t>((it->second.size() + 1) * 2);
    const uint32_t capacity = *size;
    *size = bytes;
    *type = platform::kRegSz;
    if (bytes > capacity) return 234;
    for (size_t i = 0; i <= it->second.size(); ++i) {
      const char16_t c = i < it->second.size() ? it->second[i] : 0;
      data[2 * i] = static_cast<uint8_t>(c);
      data[2 * i + 1] = static_cast<uint8_t>(c >> 8);
    }
    return 0;
  };
  api.regCloseKey = [](RapiKey) -> int32_t {
    gDevice->calls.push_back("close");
    return 0;
  };
  return api;
}

TEST(launchCommandLine, PortAndReconnectFlag) {
  EXPECT_EQ(launchCommandLine(2047), u"-p2047");                   // an engine opening, "ConnectAtStartup"
  EXPECT_EQ(launchCommandLine(2047 + kReconnectFlag), u"-p67583");  // Connect
}

// Where the device's settings say the program lives: the installation key first, its
// "InstallDir" before "InstlDir", then the applications key; no folder: its bare name.
TEST(runLaunch, ProgramFolderFromTheDeviceSettings) {
  struct Case {
    const char* what;
    std::map<std::u16string, std::map<std::u16string, std::u16string>> keys;
    std::u16string path;
  } cases[] = {
      {"InstallDir", {{kInstallKey, {{u"InstallDir", u"/opt/vistrel/bin"}, {u"InstlDir", u"/x"}}}}, u"/opt/vistrel/bin/vistrel"},
      {"InstlDir", {{kInstallKey, {{u"InstlDir", u"/opt/v/"}}}}, u"/opt/v/vistrel"},
      {"applications key", {{kAppsKey, {{u"InstallDir", u"/apps/v"}}}}, u"/apps/v/vistrel"},
      {"installation key without a folder", {{kInstallKey, {}}, {kAppsKey, {{u"InstlDir", u"/apps/w"}}}}, u"/apps/w/vistrel"},
      {"no folder anywhere", {}, u"vistrel"},
      {"a folder longer than the buffer is not taken", {{kInstallKey, {{u"InstallDir", std::u16string(300, u'a')}}}}, u"vistrel"},
  };
  for (const Case& c : cases) {
    FakeDevice device;
    device.keys = c.keys;
    gDevice = &device;
    const LaunchResult r = runLaunch(2047, fakeApi());
    EXPECT_TRUE(r.started()) << c.what;
    EXPECT_EQ(device.startedPath, c.path) << c.what;
    EXPECT_EQ(device.startedLine, u"-p2047") << c.what;
    EXPECT_EQ(device.calls.front(), "init") << c.what;
    EXPECT_EQ(device.calls.back(), "uninit") << c.what;
  }
  FakeDevice device;
  gDevice = &device;
  runLaunch(2047, fakeApi());
  const std::vector<std::string> order = {"init",
                                          "open Security\\AppInstall\\Orvane Vistrel",
                                          "open Software\\Apps\\Orvane Vistrel",
                                          "create",
                                          "uninit"};
  EXPECT_EQ(device.calls, order);
}

TEST(runLaunch, NothingStartsWhenTheDeviceIsNotReached) {
  struct Case {
    const char* what;
    int32_t initReturn;
    bool signal;
    int32_t initResult;
    int32_t expected;
  } cases[] = {
      {"initialisation refused at once", 5, true, kRapiOk, kRapiFailed},
      {"no answer within the limit", 0, false, kRapiOk, kRapiUnreachable},
      {"login refused", 0, true, kRapiRefused, kRapiRefused},
      {"no device set up", 0, true, kRapiNotConfigured, kRapiNotConfigured},
  };
  for (const Case& c : cases) {
    FakeDevice device;
    device.initReturn = c.initReturn;
    device.signal = c.signal;
    device.initResult = c.initResult;
    gDevice = &device;
    const auto start = std::chrono::steady_clock::now();
    const LaunchResult r = runLaunch(2047, fakeApi(), 150);
    const auto took = std::chrono::steady_clock::now() - start;
    EXPECT_EQ(r.step, LaunchStep::kInitialisation) << c.what;
    EXPECT_EQ(r.initResult, c.expected) << c.what;
    EXPECT_EQ(device.calls, (std::vector<std::string>{"init", "uninit"})) << c.what;
    EXPECT_LT(took, std::chrono::seconds(2)) << c.what;
    EXPECT_FALSE(failureMessage(r).empty()) << c.what;
  }
  EXPECT_EQ(kInitLimitMs, 4096u);
}

TEST(runLaunch, ProgramThatDoesNotStart) {
  FakeDevice device;
  device.createResult = 0;
  gDevice = &device;
  const LaunchResult r = runLaunch(67583, fakeApi());
  EXPECT_EQ(r.step, LaunchStep::kStart);
  EXPECT_EQ(device.calls.back(), "uninit");
  EXPECT_NE(failureMessage(r).find("vistrel could not be started"), std::string::npos) << failureMessage(r);
}

// A request while a launch runs is dropped and reports success; the next one after the
// end starts again.
TEST(startLauncher, TwoRequestsInQuickSuccessionStartOne) {
  std::atomic<int> runs{0}, done{0};
  platform::Event release(platform::Event::Reset::kManual);
  const LaunchFunction run = [&](uint32_t number) {
    ++runs;
    release.wait(5000);
    LaunchResult r;
    r.step = LaunchStep::kStarted;
    r.commandLine = launchCommandLine(number);
    return r;
  };
  const auto finished = [&](const LaunchResult&) { ++done; };
  ASSERT_TRUE(startLauncher(2047, finished, run));
  EXPECT_TRUE(startLauncher(2047 + kReconnectFlag, finished, run));
  EXPECT_TRUE(launcherRunning());
  release.set();
  ASSERT_TRUE(platform::testing::waitUntil([&] { return done.load() > 0; }));
  EXPECT_EQ(runs.load(), 1);
  EXPECT_EQ(done.load(), 1);
  EXPECT_FALSE(launcherRunning());
  ASSERT_TRUE(startLauncher(2047, finished, run));
  ASSERT_TRUE(platform::testing::waitUntil([&] { return done.load() == 2; }));
  EXPECT_EQ(runs.load(), 2);
}

// The shipped modules through the loader: the local one starts a program on this machine
// with the launch's command line, from the folder its settings name; the ssh one without
// a device set up says so at once.
class Modules : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/vistrel-launcher-XXXXXX";
    ASSERT_NE(::mkdtemp(pattern), nullptr);
    dir_ = pattern;
    ::setenv("VISTREL_KEY_STORE", (dir_ + "/pc.reg").c_str(), 1);
  }
  void TearDown() override {
    ::unsetenv(kRemoteApiEnvironment);
    ::unsetenv("VISTREL_LOCAL_DEVICE_KEY_STORE");
    removeDir();
  }
  void removeDir() const { std::system(("rm -rf '" + dir_ + "'").c_str()); }
  std::string dir_;
};

TEST_F(Modules, LocalModuleStartsTheProgramFromItsInstallFolder) {
  const std::string bin = dir_ + "/bin";
  ::mkdir(bin.c_str(), 0755);
  {
    std::ofstream program(bin + "/vistrel");
    program << "#!/bin/sh\necho \"$@\" > '" << dir_ << "/args.new'\nmv '" << dir_ << "/args.new' '" << dir_
            << "/args'\n";
  }
  ::chmod((bin + "/vistrel").c_str(), 0755);
  {
    std::ofstream store(dir_ + "/device.reg");
    store << "Windows Registry Editor Version 5.00\n\n"
             "[HKEY_LOCAL_MACHINE\\Security\\AppInstall\\Orvane Vistrel]\n\"InstallDir\"=\""
          << bin << "\"\n";
  }
  ::setenv(kRemoteApiEnvironment, "rapi_local", 1);
  ::setenv("VISTREL_LOCAL_DEVICE_KEY_STORE", (dir_ + "/device.reg").c_str(), 1);
  const auto start = std::chrono::steady_clock::now();
  const LaunchResult r = launch(2047 + kReconnectFlag);
  ASSERT_TRUE(r.started()) << failureMessage(r);
  // The session's end reaches the launcher at once, not at its time limit.
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
  EXPECT_EQ(platform::utf16ToUtf8Lossy(r.path), bin + "/vistrel");
  std::string args;
  platform::testing::waitUntil([&] {  // the started program writes its arguments
    std::ifstream in(dir_ + "/args");
    std::getline(in, args);
    return !args.empty();
  });
  EXPECT_EQ(args, "-p67583");

  // The folder holds no program: not started, and the reason names it.
  std::remove((bin + "/vistrel").c_str());
  const LaunchResult missing = launch(2047);
  EXPECT_EQ(missing.step, LaunchStep::kStart);
  EXPECT_NE(failureMessage(missing).find("no such program"), std::string::npos) << failureMessage(missing);
}

TEST_F(Modules, SshModuleWithoutADeviceSetUp) {
  const auto start = std::chrono::steady_clock::now();
  const LaunchResult r = launch(2047);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
  EXPECT_EQ(r.step, LaunchStep::kInitialisation) << failureMessage(r);
  EXPECT_EQ(r.initResult, kRapiNotConfigured);
  EXPECT_NE(failureMessage(r).find("RemoteDevice"), std::string::npos) << failureMessage(r);
}

// A program that ends while a launch still waits for the device (here, for its settings
// file, a pipe nobody writes) ends normally: the session's worker and the module's state
// outlive the program's static objects.
TEST_F(Modules, ProgramEndsWhileALaunchWaitsForTheDevice) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  const std::string fifo = dir_ + "/device.reg";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  ::setenv(kRemoteApiEnvironment, "rapi_local", 1);
  ::setenv("VISTREL_LOCAL_DEVICE_KEY_STORE", fifo.c_str(), 1);
  EXPECT_EXIT(
      {
        if (!startLauncher(2047, nullptr)) std::_Exit(3);
        // The device's shell has opened the pipe for reading once a writer can open it.
        int writer = -1;
        for (int i = 0; i < 500 && writer < 0; ++i) {
          writer = ::open(fifo.c_str(), O_WRONLY | O_NONBLOCK);
          if (writer < 0) std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        if (writer < 0) std::_Exit(4);
        removeDir();  // the test's own teardown does not run in this process
        std::exit(0);
      },
      ::testing::ExitedWithCode(0), "");
}

TEST_F(Modules, MissingModule) {
  ::setenv(kRemoteApiEnvironment, "rapi_none", 1);
  const LaunchResult r = launch(2047);
  EXPECT_EQ(r.step, LaunchStep::kNoModule);
  EXPECT_NE(failureMessage(r).find("rapi_none.so"), std::string::npos) << failureMessage(r);
}

}  // namespace
}  // namespace launcher
