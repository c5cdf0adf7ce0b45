// Named objects on Windows: two handles opened by name reach the same system object,
// exactly as two processes do.

#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <string>
#include <thread>

#include "platform/named_objects.h"

namespace platform {
namespace {

std::string unique(const char* what) { return std::string(what) + std::to_string(GetCurrentProcessId()); }

TEST(NamedObjectName, TakesThePrefixAndNoNamespace) {
  _putenv_s("VISTREL_OBJECT_PREFIX", "t1_");
  EXPECT_EQ(namedObjectName("_VistrelOBJ1_"), "t1__VistrelOBJ1_");
  EXPECT_EQ(namedObjectName("Global\\x"), "t1_Global_x");
  _putenv_s("VISTREL_OBJECT_PREFIX", "");
  EXPECT_EQ(namedObjectName("_VistrelOBJ1_"), "_VistrelOBJ1_");
}

// The service runs in a session of its own: the objects live in the machine-wide
// namespace, where the users' sessions find them; objects of a session's own namespace
// (made by a program that may not make global ones) are found too.
TEST(NamedObjectName, ObjectsLiveInTheGlobalNamespace) {
  const std::string name = unique("global");
  const std::wstring system = L"Global\\" + std::wstring(name.begin(), name.end());
  auto memory = SharedMemory::openOrCreate(name, 4096);
  auto event = NamedEvent::openOrCreate(name + "e");
  auto marker = PresenceMarker::create(name + "m");
  ASSERT_TRUE(memory && event && marker);
  for (HANDLE h : {OpenFileMappingW(FILE_MAP_READ, FALSE, system.c_str()),
                   OpenEventW(SYNCHRONIZE, FALSE, (system + L"e").c_str()),
                   OpenMutexW(SYNCHRONIZE, FALSE, (system + L"m").c_str())}) {
    EXPECT_NE(h, nullptr);
    if (h != nullptr) CloseHandle(h);
  }

  const std::string local = unique("session");
  EXPECT_FALSE(PresenceMarker::exists(local));
  HANDLE mutex = CreateMutexW(nullptr, FALSE, (L"Local\\" + std::wstring(local.begin(), local.end())).c_str());
  ASSERT_NE(mutex, nullptr);
  EXPECT_TRUE(PresenceMarker::exists(local));
  CloseHandle(mutex);
}

TEST(SharedMemory, OneObjectByNameAndItsSizeIsKept) {
  const std::string name = unique("mem");
  auto a = SharedMemory::openOrCreate(name, 4096);
  ASSERT_NE(a, nullptr);
  EXPECT_EQ(a->data()[100], 0) << "made zero-filled";
  auto b = SharedMemory::openOrCreate(name, 1024);
  ASSERT_NE(b, nullptr);
  std::memcpy(a->data(), "frame", 5);
  char seen[5];
  ASSERT_TRUE(b->read(0, seen, 5));
  EXPECT_EQ(std::memcmp(seen, "frame", 5), 0);
  EXPECT_TRUE(b->intact());
  EXPECT_FALSE(b->read(1020, seen, 5)) << "past the end of the size asked for";
  // An existing object that is smaller than asked for is refused (its creator decided).
  EXPECT_EQ(SharedMemory::openOrCreate(name, 3 * 65536), nullptr);
}

TEST(NamedMutex, ExcludesOtherHoldersAndSurvivesADeadHolder) {
  const std::string name = unique("mutex");
  auto mine = NamedMutex::openOrCreate(name);
  ASSERT_NE(mine, nullptr);
  std::atomic<bool> taken{false};
  mine->lock();
  std::thread other([&] {
    auto theirs = NamedMutex::openOrCreate(name);
    theirs->lock();
    taken = true;
    theirs->unlock();
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  EXPECT_FALSE(taken.load());
  mine->unlock();
  other.join();
  EXPECT_TRUE(taken.load());

  // A holder that ends without unlocking leaves the mutex to the next one.
  std::thread dies([&] { NamedMutex::openOrCreate(name)->lock(); });
  dies.join();
  std::atomic<bool> got{false};
  std::thread next([&] {
    mine->lock();
    got = true;
    mine->unlock();
  });
  next.join();
  EXPECT_TRUE(got.load());
}

TEST(NamedMutex, SharesItsNameWithSharedMemory) {
  const std::string name = unique("table");
  auto memory = SharedMemory::openOrCreate(name, 4096);
  auto mutex = NamedMutex::openOrCreate(name);
  auto again = NamedMutex::openOrCreate(name);
  ASSERT_NE(memory, nullptr);
  ASSERT_NE(mutex, nullptr);
  ASSERT_NE(again, nullptr);
  std::atomic<bool> taken{false};
  mutex->lock();
  std::thread other([&] {
    again->lock();
    taken = true;
    again->unlock();
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_FALSE(taken.load()) << "both names reach the same mutex";
  mutex->unlock();
  other.join();
}

TEST(NamedEvent, PulseReleasesWaitersOfEveryHandleAndIsLostWithoutOne) {
  const std::string name = unique("event");
  auto publisher = NamedEvent::openOrCreate(name);
  ASSERT_NE(publisher, nullptr);
  publisher->pulse();
  std::atomic<int> woken{0};
  auto waiter = [&] {
    auto e = NamedEvent::openOrCreate(name);
    if (e->wait(2000)) ++woken;
  };
  std::thread a(waiter), b(waiter);
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  publisher->pulse();
  a.join();
  b.join();
  EXPECT_EQ(woken.load(), 2);
  EXPECT_FALSE(publisher->wait(0)) << "a pulse leaves the event non-signalled";
  publisher->set();
  EXPECT_TRUE(NamedEvent::openOrCreate(name)->wait(0));
  publisher->reset();
  EXPECT_FALSE(publisher->wait(10));
}

TEST(PresenceMarker, ExistsWhileHeld) {
  const std::string name = unique("serving");
  EXPECT_FALSE(PresenceMarker::exists(name));
  {
    auto marker = PresenceMarker::create(name);
    ASSERT_NE(marker, nullptr);
    EXPECT_TRUE(PresenceMarker::exists(name));
  }
  EXPECT_FALSE(PresenceMarker::exists(name));
}

TEST(ProcessIdentity, TellsThisProcessFromADeadOrReusedOne) {
  const ProcessIdentity self = currentProcess();
  EXPECT_EQ(self.pid, GetCurrentProcessId());
  EXPECT_TRUE(processAlive(self));
  EXPECT_FALSE(processAlive({self.pid, self.startTicks + 1})) << "same pid, other start";
  EXPECT_FALSE(processAlive({0, 0}));
  EXPECT_NE(executablePath().find("platform_tests.exe"), std::string::npos);
}

}  // namespace
}  // namespace platform
