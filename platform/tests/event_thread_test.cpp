#include <gtest/gtest.h>
#if defined(__linux__)
#include <unistd.h>
#endif

#include <atomic>
#include <chrono>
#include <memory>
#include <thread>

#include "platform/clock.h"
#include "platform/event.h"
#include "platform/thread.h"
#include "wait_until.h"
#if defined(__linux__)
#include "thread_state.h"
#endif

namespace platform {
namespace {

#if defined(__linux__)
long ownThreadId() { return ::gettid(); }
bool asleepInWait(const std::atomic<long>& id) {
  return id.load() != 0 && testing::threadState(::getpid(), static_cast<pid_t>(id.load())) == 'S';
}
#else
long ownThreadId() { return 0; }
#endif

TEST(Clock, ElapsedSurvivesWrapAround) {
  EXPECT_EQ(elapsedMs(0xFFFFFF00u, 0x00000100u), 0x200u);
  EXPECT_EQ(elapsedMs(100, 5100), 5000u);
  const uint32_t a = systemClock().nowMs();
  systemClock().sleepMs(20);
  EXPECT_GE(elapsedMs(a, systemClock().nowMs()), 19u);
}

TEST(Event, AutoResetKeepsSignalUntilOneWaitConsumesIt) {
  Event e(Event::Reset::kAuto);
  EXPECT_FALSE(e.wait(0));
  e.set();
  EXPECT_TRUE(e.wait(0));
  EXPECT_FALSE(e.wait(0));
}

TEST(Event, ManualResetStaysSignalledUntilReset) {
  Event e(Event::Reset::kManual, true);
  EXPECT_TRUE(e.wait(0));
  EXPECT_TRUE(e.wait(0));
  e.reset();
  EXPECT_FALSE(e.wait(10));
}

TEST(Event, PulseWithoutWaiterIsLost) {
  for (auto mode : {Event::Reset::kAuto, Event::Reset::kManual}) {
    Event e(mode);
    e.pulse();
    EXPECT_FALSE(e.wait(0));
  }
}

TEST(Event, PulseReleasesEveryWaiterOfManualEventAndOneOfAutoEvent) {
  for (auto mode : {Event::Reset::kManual, Event::Reset::kAuto}) {
    Event e(mode);
    std::atomic<int> released{0};
    std::atomic<long> idA{0}, idB{0};
    std::thread a([&] {
      idA = ownThreadId();
      released += e.wait(1000) ? 1 : 0;
    });
    std::thread b([&] {
      idB = ownThreadId();
      released += e.wait(1000) ? 1 : 0;
    });
    // Both are asleep in their waits before the pulse comes.
#if defined(__linux__)
    EXPECT_TRUE(testing::waitUntil([&] { return asleepInWait(idA) && asleepInWait(idB); }));
#else
    std::this_thread::sleep_for(std::chrono::milliseconds(100));  // no thread state to look at
#endif
    e.pulse();
    a.join();
    b.join();
    EXPECT_EQ(released.load(), mode == Event::Reset::kManual ? 2 : 1);
    EXPECT_FALSE(e.wait(0)) << "a pulse leaves the event non-signalled";
  }
}

TEST(Event, WaitAnyTellsWhichEventAndTimesOut) {
  Event a, b;
  EXPECT_EQ(Event::waitAny(a, b, 20), -1);
  b.set();
  EXPECT_EQ(Event::waitAny(a, b, 0), 1);
  a.set();
  b.set();
  EXPECT_EQ(Event::waitAny(a, b, 0), 0);
  EXPECT_EQ(Event::waitAny(a, b, 0), 1);
  std::thread t([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(30));  // set while the wait runs
    a.set();
  });
  EXPECT_EQ(Event::waitAny(a, b, 5000), 0);
  t.join();
}

TEST(Thread, JoinsAThreadThatEnds) {
  Thread t;
  std::atomic<bool> ran{false};
  ASSERT_TRUE(t.start([&] { ran = true; }));
  EXPECT_TRUE(t.joinFor(2000));
  EXPECT_TRUE(ran.load());
  EXPECT_FALSE(t.running());
}

TEST(Thread, AbandonsALateThreadThatKeepsItsOwnState) {
  auto release = std::make_shared<Event>(Event::Reset::kManual);
  auto finished = std::make_shared<std::atomic<bool>>(false);
  {
    Thread t;
    ASSERT_TRUE(t.start([release, finished] {
      release->wait();
      finished->store(true);
    }));
    EXPECT_FALSE(t.start([] {})) << "one thread at a time";
    EXPECT_FALSE(t.joinFor(50));
    EXPECT_FALSE(t.running());
  }
  // The Thread object is gone; the abandoned thread still runs safely on its own state.
  release->set();
  EXPECT_TRUE(testing::waitUntil([&] { return finished->load(); }));
}

}  // namespace
}  // namespace platform
