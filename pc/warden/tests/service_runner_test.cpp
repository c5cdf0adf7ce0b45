#include "warden/service_runner.h"

#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <future>
#include <mutex>
#include <thread>
#include <vector>

#include "wait_until.h"

namespace warden {
namespace {

// A stand-in PC library: the three entries the service uses, counting their calls.
struct FakeLibraryState {
  std::atomic<int> opens{0}, closes{0}, reloads{0};
  std::atomic<uint8_t> lastServe{0xEE};
  uint32_t openResult = 1;
  // While set, Open waits until released (the service stays start pending).
  bool holdOpen = false;
  std::mutex mutex;
  std::condition_variable cv;
  bool openEntered = false, released = false;
};
FakeLibraryState* gLib = nullptr;

uint32_t fakeOpen(uint8_t serve) {
  gLib->lastServe = serve;
  ++gLib->opens;
  std::unique_lock<std::mutex> lock(gLib->mutex);
  gLib->openEntered = true;
  gLib->cv.notify_all();
  if (gLib->holdOpen) gLib->cv.wait(lock, [] { return gLib->released; });
  return gLib->openResult;
}
void fakeClose() { ++gLib->closes; }
uint32_t fakeReload() {
  ++gLib->reloads;
  return 1;
}

class FakeDevice : public DeviceLibrary {
 public:
  bool bind(DeviceEntryTable& table, std::string& error) override {
    ++binds;
    if (missing) {
      error = "cannot load device.so";
      return false;
    }
    table = DeviceEntryTable{};
    table.Open = fakeOpen;
    table.Close = fakeClose;
    table.ReloadSettings = fakeReload;
    bound = true;
    return true;
  }
  void unbind() override {
    ++unbinds;
    bound = false;
  }
  bool missing = false;
  bool bound = false;
  int binds = 0, unbinds = 0;
};

class FakeHost : public ServiceHost {
 public:
  bool registerControlHandler(const std::string& name, std::function<void(uint32_t)> h) override {
    registeredName = name;
    handler = std::move(h);
    return registerResult;
  }
  void setStatus(const ServiceStatus& s, const std::string& note) override {
    std::lock_guard<std::mutex> lock(mutex);
    statuses.push_back(s);
    notes.push_back(note);
  }
  std::vector<ServiceStatus> snapshot() {
    std::lock_guard<std::mutex> lock(mutex);
    return statuses;
  }
  bool registerResult = true;
  std::string registeredName;
  std::function<void(uint32_t)> handler;
  std::mutex mutex;
  std::vector<ServiceStatus> statuses;
  std::vector<std::string> notes;
};

struct Expected {
  ServiceState state;
  uint32_t accepted, exitCode, checkPoint, waitHint;
};

void expectStatuses(const std::vector<ServiceStatus>& got, const std::vector<Expected>& want) {
  ASSERT_EQ(got.size(), want.size());
  for (size_t i = 0; i < want.size(); ++i) {
    SCOPED_TRACE("status " + std::to_string(i));
    EXPECT_EQ(got[i].serviceType, 0x30u);
    EXPECT_EQ(got[i].currentState, want[i].state);
    EXPECT_EQ(got[i].controlsAccepted, want[i].accepted);
    EXPECT_EQ(got[i].win32ExitCode, want[i].exitCode);
    EXPECT_EQ(got[i].checkPoint, want[i].checkPoint);
    EXPECT_EQ(got[i].waitHint, want[i].waitHint);
  }
}

class ServiceRunnerTest : public ::testing::Test {
 protected:
  void SetUp() override { gLib = &lib; }
  void TearDown() override { gLib = nullptr; }

  // Runs the service main on its own thread (the host's control thread is the test's).
  std::future<int> start() {
    return std::async(std::launch::async, [this] { return runner.serviceMain(); });
  }
  void waitForState(ServiceState s) {
    platform::testing::waitUntil([&] { return runner.state() == s; });
    ASSERT_EQ(runner.state(), s);
  }
  void waitForOpenEntered() {
    std::unique_lock<std::mutex> lock(lib.mutex);
    lib.cv.wait(lock, [this] { return lib.openEntered; });
  }
  void releaseOpen() {
    std::lock_guard<std::mutex> lock(lib.mutex);
    lib.released = true;
    lib.cv.notify_all();
  }

  FakeLibraryState lib;
  FakeHost host;
  FakeDevice device;
  ServiceRunner runner{host, device};
};

TEST_F(ServiceRunnerTest, RunsUntilStopThenClosesAndUnloads) {
  auto result = start();
  waitForState(ServiceState::kRunning);
  EXPECT_EQ(host.registeredName, "Vistrel Service");
  EXPECT_EQ(lib.opens, 1);
  EXPECT_EQ(lib.lastServe, 1);
  EXPECT_EQ(result.wait_for(std::chrono::milliseconds(50)), std::future_status::timeout);
  host.handler(kControlStop);
  ASSERT_EQ(result.wait_for(std::chrono::seconds(5)), std::future_status::ready);
  EXPECT_EQ(result.get(), 0);
  EXPECT_EQ(lib.closes, 1);
  EXPECT_EQ(device.unbinds, 1);
  EXPECT_FALSE(device.bound);
  expectStatuses(host.snapshot(), {
      {ServiceState::kStartPending, 0, 0, 1, 4000},
      {ServiceState::kRunning, kAcceptStop, 0, 0, 0},
      {ServiceState::kStopPending, kAcceptStop, 0, 2, 0},
      {ServiceState::kStopped, kAcceptStop, 0, 0, 0},
  });
  // Controls after the stop only report the stopped state again; nothing is closed twice.
  host.handler(kControlStop);
  host.handler(kControlReloadSettings);
  EXPECT_EQ(lib.closes, 1);
  EXPECT_EQ(lib.reloads, 0);
  EXPECT_EQ(host.snapshot().back().currentState, ServiceState::kStopped);
}

TEST_F(ServiceRunnerTest, MissingLibraryReportsStoppedWithFailureCode) {
  device.missing = true;
  EXPECT_EQ(runner.serviceMain(), 255);
  EXPECT_EQ(lib.opens, 0);
  expectStatuses(host.snapshot(), {
      {ServiceState::kStartPending, 0, 0, 1, 4000},
      {ServiceState::kStopped, kAcceptStop, kExitDeviceFailed, 0, 0},
  });
  EXPECT_EQ(host.notes.back(), "cannot load device.so");
}

TEST_F(ServiceRunnerTest, RefusedOpenReportsFailureAndUnloads) {
  lib.openResult = 0x100;  // only the low byte counts: this is false
  EXPECT_EQ(runner.serviceMain(), 255);
  EXPECT_EQ(lib.opens, 1);
  EXPECT_EQ(device.unbinds, 1);
  ASSERT_EQ(host.snapshot().size(), 2u);
  EXPECT_EQ(host.snapshot()[1].win32ExitCode, kExitDeviceFailed);
}

TEST_F(ServiceRunnerTest, NoHandlerNoService) {
  host.registerResult = false;
  EXPECT_EQ(runner.serviceMain(), 255);
  EXPECT_TRUE(host.snapshot().empty());
  EXPECT_EQ(device.binds, 0);
}

TEST_F(ServiceRunnerTest, ReloadOnlyWhileRunningAndOtherCodesReportAgain) {
  lib.holdOpen = true;
  auto result = start();
  waitForOpenEntered();
  // Start pending: 128 reloads nothing; the state is reported again with no controls
  // accepted and the next checkpoint.
  host.handler(kControlReloadSettings);
  EXPECT_EQ(lib.reloads, 0);
  host.handler(kControlInterrogate);
  releaseOpen();
  waitForState(ServiceState::kRunning);
  host.handler(kControlReloadSettings);
  host.handler(kControlReloadSettings);
  EXPECT_EQ(lib.reloads, 2);
  host.handler(200);  // an unknown user code: only a report
  EXPECT_EQ(lib.reloads, 2);
  host.handler(kControlStop);
  ASSERT_EQ(result.wait_for(std::chrono::seconds(5)), std::future_status::ready);
  EXPECT_EQ(result.get(), 0);
  expectStatuses(host.snapshot(), {
      {ServiceState::kStartPending, 0, 0, 1, 4000},
      {ServiceState::kStartPending, 0, 0, 2, 0},  // after 128
      {ServiceState::kStartPending, 0, 0, 3, 0},  // interrogate
      {ServiceState::kRunning, kAcceptStop, 0, 0, 0},
      {ServiceState::kRunning, kAcceptStop, 0, 0, 0},
      {ServiceState::kRunning, kAcceptStop, 0, 0, 0},
      {ServiceState::kRunning, kAcceptStop, 0, 0, 0},
      {ServiceState::kStopPending, kAcceptStop, 0, 4, 0},
      {ServiceState::kStopped, kAcceptStop, 0, 0, 0},
  });
}

TEST_F(ServiceRunnerTest, StopWhileStartingIsHonouredOnceOpen) {
  lib.holdOpen = true;
  auto result = start();
  waitForOpenEntered();
  host.handler(kControlStop);
  EXPECT_EQ(lib.closes, 0);  // nothing to close yet
  releaseOpen();
  ASSERT_EQ(result.wait_for(std::chrono::seconds(5)), std::future_status::ready);
  EXPECT_EQ(result.get(), 0);
  EXPECT_EQ(lib.closes, 1);
  EXPECT_EQ(device.unbinds, 1);
  const auto s = host.snapshot();
  ASSERT_GE(s.size(), 2u);
  EXPECT_EQ(s[s.size() - 2].currentState, ServiceState::kStopPending);
  EXPECT_EQ(s.back().currentState, ServiceState::kStopped);
  for (const auto& st : s) EXPECT_NE(st.currentState, ServiceState::kRunning);
}

}  // namespace
}  // namespace warden
