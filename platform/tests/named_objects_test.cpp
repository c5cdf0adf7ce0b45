#include "platform/named_objects.h"

#include <pwd.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <thread>
#include <vector>

#include "child_process.h"
#include "platform/local_peer.h"
#include "thread_state.h"
#include "wait_until.h"

namespace platform {
namespace {

// A run of named_objects_helper (tests/helper) in its own process.
class HelperProcess : public platform::testing::ChildProcess {
 public:
  explicit HelperProcess(const std::vector<std::string>& arguments)
      : ChildProcess(VISTREL_NAMED_OBJECTS_HELPER, arguments) {}
};

using namespace std::chrono_literals;

// User-mode emulation stands between two tests and the kernel: it does not keep a
// process's robust-mutex list (through which a dead holder's mutex is handed on), and it
// answers a process's own /proc/self/stat itself, with a start time of its own making.
#ifdef VISTREL_TESTS_UNDER_EMULATION
#define SKIP_UNDER_EMULATION(what) GTEST_SKIP() << "needs " what ", which the emulator does not give"
#else
#define SKIP_UNDER_EMULATION(what) static_cast<void>(0)
#endif
constexpr int kLineMs = 5000;  // generous: helpers start slowly under the sanitizers

std::string objectFile(const std::string& name) {
  return "/dev/shm/" + platform::namedObjectName(name);
}

using platform::testing::threadState;
using platform::testing::waitUntil;

// Waits until the helper that said "waiting" is asleep in its wait.
bool waitUntilAsleep(pid_t pid) {
  return waitUntil([&] { return threadState(pid) == 'S'; });
}

using NamedObjects = platform::testing::ObjectTest;

TEST_F(NamedObjects, NamesCarryThePrefixAndStayOneFileName) {
  EXPECT_EQ(platform::namedObjectName("_VistrelOBJ1_"), prefix_ + "_VistrelOBJ1_");
  EXPECT_EQ(platform::namedObjectName("a/b"), prefix_ + "a_b");
  unsetenv("VISTREL_OBJECT_PREFIX");
  EXPECT_EQ(platform::namedObjectName("_VistrelOBJ1_"), "_VistrelOBJ1_");
  EXPECT_EQ(platform::namedObjectName(".."), "_..");
}

TEST_F(NamedObjects, SharedMemoryIsZeroFilledSharedAndTheOwnersAlone) {
  const mode_t saved = umask(0);
  auto first = platform::SharedMemory::openOrCreate("block", 2097152);
  umask(saved);
  ASSERT_NE(first, nullptr);
  ASSERT_EQ(first->size(), 2097152u);
  EXPECT_TRUE(std::all_of(first->data(), first->data() + first->size(),
                          [](uint8_t b) { return b == 0; }));
  struct stat st {};
  ASSERT_EQ(stat(objectFile("block").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0600u) << "whatever the umask";

  auto second = platform::SharedMemory::openOrCreate("block", 2097152);
  ASSERT_NE(second, nullptr);
  first->data()[2097151] = 0x5A;
  EXPECT_EQ(second->data()[2097151], 0x5A);
  // A smaller view of an existing object is fine; a larger one would reach past its end.
  EXPECT_NE(platform::SharedMemory::openOrCreate("block", 16), nullptr);
  EXPECT_EQ(platform::SharedMemory::openOrCreate("block", 2097153), nullptr);
  EXPECT_EQ(platform::SharedMemory::openOrCreate("empty", 0), nullptr);
}

TEST_F(NamedObjects, ObjectsOfEveryKindAreTheOwnersOrTheSharedGroups) {
  const mode_t saved = umask(0);
  struct Objects {
    std::unique_ptr<platform::SharedMemory> memory = platform::SharedMemory::openOrCreate("x", 64);
    std::unique_ptr<platform::NamedMutex> mutex = platform::NamedMutex::openOrCreate("x");
    std::unique_ptr<platform::NamedEvent> event = platform::NamedEvent::openOrCreate("x");
    std::unique_ptr<platform::PresenceMarker> marker = platform::PresenceMarker::create("x");
  };
  auto check = [&](mode_t mode, const passwd* group) {
    Objects made;
    ASSERT_TRUE(made.memory && made.mutex && made.event && made.marker);
    for (const char* suffix : {"", ".mutex", ".event", ".presence"}) {
      struct stat st {};
      ASSERT_EQ(stat((objectFile("x") + suffix).c_str(), &st), 0) << suffix;
      EXPECT_EQ(st.st_mode & 07777, mode) << suffix;
      if (group != nullptr) {
        EXPECT_EQ(st.st_gid, group->pw_gid) << suffix;
      }
    }
    platform::removeNamedObject("x");
  };
  check(0600, nullptr);
  // The shared group of a machine-wide service (giving it needs membership, or root).
  const passwd* nobody = getpwnam("nobody");
  if (geteuid() == 0 && nobody != nullptr) {
    setenv(platform::kSharedGroupEnvironment, std::to_string(nobody->pw_gid).c_str(), 1);
    check(0660, nobody);
    unsetenv(platform::kSharedGroupEnvironment);
  }
  umask(saved);
  for (const char* suffix : {".mutex", ".event", ".presence"}) {
    EXPECT_NE(access((objectFile("x") + suffix).c_str(), F_OK), 0) << suffix;
  }
}

TEST_F(NamedObjects, ShrunkObjectsFaultNobody) {
  auto memory = platform::SharedMemory::openOrCreate("s", 8192);
  auto mutex = platform::NamedMutex::openOrCreate("s");
  auto event = platform::NamedEvent::openOrCreate("s");
  ASSERT_TRUE(memory && mutex && event);
  std::memset(memory->data(), 0x5A, 8192);
  uint8_t out[16] = {};
  EXPECT_TRUE(memory->intact());
  ASSERT_TRUE(memory->read(8192 - 16, out, 16));
  EXPECT_EQ(out[15], 0x5A);
  EXPECT_FALSE(memory->read(8192 - 15, out, 16)) << "beyond the object";

  // Another process with access cuts the files under the mappings.
  for (const char* suffix : {"", ".mutex", ".event"}) {
    ASSERT_EQ(truncate((objectFile("s") + suffix).c_str(), 0), 0) << suffix;
  }
  EXPECT_FALSE(memory->intact());
  EXPECT_FALSE(memory->read(0, out, 16));
  mutex->lock();  // no exclusion any more, and no fault
  mutex->unlock();
  event->set();
  event->pulse();
  event->reset();
  EXPECT_FALSE(event->wait(10));
  EXPECT_EQ(platform::SharedMemory::openOrCreate("s", 8192), nullptr) << "refused on open";
  platform::removeNamedObject("s");
}

TEST_F(NamedObjects, ProcessesCreatingAtOnceShareOneMutexAndOneBlock) {
  // Six processes make the same new objects at the same moment and then count in the
  // shared word under the mutex: a second object of either kind, or a lock that does not
  // exclude, loses counts.
  std::vector<std::unique_ptr<HelperProcess>> counters;
  for (int i = 0; i < 6; ++i) {
    counters.push_back(
        std::make_unique<HelperProcess>(std::vector<std::string>{"count", "counter", "5000"}));
  }
  for (auto& counter : counters) {
    EXPECT_EQ(counter->readLine(20000), "counted");
    EXPECT_EQ(counter->waitExit(kLineMs), 0);
  }
  auto memory = platform::SharedMemory::openOrCreate("counter", 4096);
  ASSERT_NE(memory, nullptr);
  uint32_t total = 0;
  std::memcpy(&total, memory->data(), sizeof total);
  EXPECT_EQ(total, 30000u);
  // The creators' temporary files are gone.
  for (const auto& entry : std::filesystem::directory_iterator("/dev/shm")) {
    const std::string file = entry.path().filename().string();
    if (file.rfind(prefix_, 0) == 0) {
      EXPECT_EQ(file.find(".new."), std::string::npos) << file;
    }
  }
}

TEST_F(NamedObjects, MutexOfAKilledHolderGoesToTheNextProcessAtOnce) {
  SKIP_UNDER_EMULATION("the kernel's robust-mutex list");
  HelperProcess holder({"lock-hold", "guard"});
  ASSERT_EQ(holder.readLine(kLineMs), "locked");
  HelperProcess next({"lock-once", "guard"});
  ASSERT_EQ(next.readLine(kLineMs), "trying");
  EXPECT_EQ(next.readLine(300), std::nullopt) << "locked while the holder still holds it";

  const auto killed = std::chrono::steady_clock::now();
  holder.kill();
  ASSERT_EQ(next.readLine(kLineMs), "got");  // (else locking below would wait for ever)
  EXPECT_LT(std::chrono::steady_clock::now() - killed, 1s);
  EXPECT_EQ(next.waitExit(kLineMs), 0);

  // The mutex works normally afterwards, in this process too.
  auto mutex = platform::NamedMutex::openOrCreate("guard");
  ASSERT_NE(mutex, nullptr);
  mutex->lock();
  HelperProcess third({"lock-once", "guard"});
  ASSERT_EQ(third.readLine(kLineMs), "trying");
  EXPECT_EQ(third.readLine(200), std::nullopt);
  mutex->unlock();
  EXPECT_EQ(third.readLine(kLineMs), "got");
}

TEST_F(NamedObjects, MutexOfAHolderThatExitsWhileHoldingItIsFree) {
  SKIP_UNDER_EMULATION("the kernel's robust-mutex list");
  HelperProcess holder({"lock-exit", "guard"});
  ASSERT_EQ(holder.readLine(kLineMs), "locked");
  EXPECT_EQ(holder.waitExit(kLineMs), 0);
  HelperProcess next({"lock-once", "guard"});
  EXPECT_EQ(next.readLine(kLineMs), "trying");
  EXPECT_EQ(next.readLine(kLineMs), "got");
}

TEST_F(NamedObjects, PulseWakesAWaiterInAnotherProcessEvenWhenItRunsLate) {
  auto event = platform::NamedEvent::openOrCreate("frame");
  ASSERT_NE(event, nullptr);
  HelperProcess waiter({"wait-event", "frame", "10000"});
  ASSERT_EQ(waiter.readLine(kLineMs), "waiting");
  ASSERT_TRUE(waitUntilAsleep(waiter.pid()));
  // Stopped, the waiter cannot run when the pulse comes; it must still count it.
  ASSERT_EQ(kill(waiter.pid(), SIGSTOP), 0);
  ASSERT_TRUE(waitUntil([&] { return threadState(waiter.pid()) == 'T'; }));
  event->pulse();
  ASSERT_EQ(kill(waiter.pid(), SIGCONT), 0);
  EXPECT_EQ(waiter.readLine(kLineMs), "woken");
  EXPECT_EQ(waiter.waitExit(kLineMs), 0);
  // The pulse left the event not signalled.
  EXPECT_FALSE(event->wait(0));
}

TEST_F(NamedObjects, WaiterThatComesAfterAPulseMissesIt) {
  auto event = platform::NamedEvent::openOrCreate("frame");
  ASSERT_NE(event, nullptr);
  event->pulse();
  HelperProcess late({"wait-event", "frame", "300"});
  EXPECT_EQ(late.readLine(kLineMs), "waiting");
  EXPECT_EQ(late.readLine(kLineMs), "timeout");
  EXPECT_EQ(late.waitExit(kLineMs), 1);
}

TEST_F(NamedObjects, SetStaysSignalledForEveryProcessUntilReset) {
  auto event = platform::NamedEvent::openOrCreate("frame");
  ASSERT_NE(event, nullptr);
  event->set();
  for (int i = 0; i < 2; ++i) {
    HelperProcess waiter({"wait-event", "frame", "300"});
    EXPECT_EQ(waiter.readLine(kLineMs), "waiting");
    EXPECT_EQ(waiter.readLine(kLineMs), "woken");
  }
  EXPECT_TRUE(event->wait(0));
  event->reset();
  EXPECT_FALSE(event->wait(0));
  event->set();
  event->pulse();  // a pulse also ends a set state
  EXPECT_FALSE(event->wait(0));
}

TEST_F(NamedObjects, SetWakesAWaiterInAnotherProcess) {
  auto event = platform::NamedEvent::openOrCreate("frame");
  ASSERT_NE(event, nullptr);
  HelperProcess waiter({"wait-event", "frame", "10000"});
  ASSERT_EQ(waiter.readLine(kLineMs), "waiting");
  ASSERT_TRUE(waitUntilAsleep(waiter.pid()));
  event->set();
  EXPECT_EQ(waiter.readLine(kLineMs), "woken");
}

TEST_F(NamedObjects, PulseReleasesEveryThreadWaitingAndWaitsTimeOut) {
  auto event = platform::NamedEvent::openOrCreate("frame");
  ASSERT_NE(event, nullptr);
  const auto started = std::chrono::steady_clock::now();
  EXPECT_FALSE(event->wait(60));
  EXPECT_GE(std::chrono::steady_clock::now() - started, 60ms);

  // Threads of this process, each with its own view of the event.
  std::atomic<int> woken{0};
  std::atomic<int> ready{0};
  std::vector<std::thread> threads;
  for (int i = 0; i < 3; ++i) {
    threads.emplace_back([&] {
      auto own = platform::NamedEvent::openOrCreate("frame");
      ready.fetch_add(1);
      if (own && own->wait(10000)) woken.fetch_add(1);
    });
  }
  ASSERT_TRUE(waitUntil([&] { return ready.load() == 3; }));
  // Pulse until all are out: each pulse can only release threads already waiting, and a
  // pulse that released nobody would leave them waiting for 10 s.
  const auto deadline = std::chrono::steady_clock::now() + 5s;
  while (woken.load() < 3 && std::chrono::steady_clock::now() < deadline) {
    event->pulse();
    std::this_thread::sleep_for(5ms);  // room for the released ones to leave before the next
  }
  for (std::thread& t : threads) t.join();
  EXPECT_EQ(woken.load(), 3);
}

TEST_F(NamedObjects, PresenceMarkerEndsWithAKilledHolder) {
  EXPECT_FALSE(platform::PresenceMarker::exists("serving"));
  HelperProcess holder({"hold-marker", "serving"});
  ASSERT_EQ(holder.readLine(kLineMs), "held");
  EXPECT_TRUE(platform::PresenceMarker::exists("serving"));
  EXPECT_TRUE(platform::PresenceMarker::exists("serving")) << "asking must not end it";
  holder.kill();
  EXPECT_FALSE(platform::PresenceMarker::exists("serving"));
  // The file left behind means nothing; a new holder makes it exist again.
  auto again = platform::PresenceMarker::create("serving");
  ASSERT_NE(again, nullptr);
  EXPECT_TRUE(platform::PresenceMarker::exists("serving"));
}

TEST_F(NamedObjects, PresenceMarkerLastsWhileAnyHolderLives) {
  HelperProcess holder({"hold-marker", "serving"});
  ASSERT_EQ(holder.readLine(kLineMs), "held");
  auto own = platform::PresenceMarker::create("serving");
  ASSERT_NE(own, nullptr);
  holder.closeInput();
  EXPECT_EQ(holder.waitExit(kLineMs), 0);
  EXPECT_TRUE(platform::PresenceMarker::exists("serving"));
  auto second = platform::PresenceMarker::create("serving");
  own.reset();
  EXPECT_TRUE(platform::PresenceMarker::exists("serving"));
  second.reset();
  EXPECT_FALSE(platform::PresenceMarker::exists("serving"));
  EXPECT_FALSE(platform::PresenceMarker::exists("other"));
}

TEST_F(NamedObjects, ProcessIdentityTellsLiveProcessesFromDeadAndReusedOnes) {
  SKIP_UNDER_EMULATION("a process's own start time as the kernel keeps it");
  const platform::ProcessIdentity self = platform::currentProcess();
  EXPECT_EQ(self.pid, static_cast<uint32_t>(getpid()));
  EXPECT_TRUE(platform::processAlive(self));
  EXPECT_FALSE(platform::processAlive({self.pid, self.startTicks + 1}))
      << "same pid, other start: a reused pid";
  EXPECT_FALSE(platform::processAlive({0, 0}));
  EXPECT_FALSE(platform::processAlive({0xFFFFFFFFu, 0}));

  HelperProcess child({"identity", "-"});
  const auto line = child.readLine(kLineMs);
  ASSERT_TRUE(line);
  std::istringstream fields(*line);
  platform::ProcessIdentity other;
  fields >> other.pid >> other.startTicks;
  EXPECT_EQ(other.pid, static_cast<uint32_t>(child.pid()));
  EXPECT_TRUE(platform::processAlive(other));
  // Killed but not yet reaped: a zombie is dead.
  ASSERT_EQ(kill(child.pid(), SIGKILL), 0);
  ASSERT_TRUE(waitUntil([&] { return threadState(child.pid()) == 'Z'; }));
  EXPECT_FALSE(platform::processAlive(other));
  EXPECT_EQ(child.waitExit(kLineMs), -1);
  EXPECT_FALSE(platform::processAlive(other));
}

TEST_F(NamedObjects, ExecutablePathNamesThisProgram) {
  const std::string path = platform::executablePath();
  ASSERT_FALSE(path.empty());
  EXPECT_EQ(path.front(), '/');
  EXPECT_EQ(path.substr(path.rfind('/') + 1), "platform_tests");
}

}  // namespace
}  // namespace platform
