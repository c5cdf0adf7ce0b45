#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <thread>

#include "platform/clock.h"

namespace platform {

// A clock that moves only when a test says so. sleepMs() advances nothing: it yields
// for a moment of real time, so that threads polling the clock stay cheap.
// uses() counts the calls of nowMs() and sleepMs(): a test that advanced the clock waits
// until the code has used it again, and so knows that the code has seen the new time.
class ManualClock final : public Clock {
 public:
  explicit ManualClock(uint32_t startMs = 0) : now_(startMs) {}
  uint32_t nowMs() override {
    uses_.fetch_add(1);
    return now_.load();
  }
  void sleepMs(uint32_t ms) override {
    uses_.fetch_add(1);
    std::this_thread::sleep_for(std::chrono::milliseconds(ms < 10 ? ms : 10));
  }
  uint64_t uses() const { return uses_.load(); }
  void advanceMs(uint32_t ms) { now_.fetch_add(ms); }
  void setMs(uint32_t ms) { now_.store(ms); }

 private:
  std::atomic<uint32_t> now_;
  std::atomic<uint64_t> uses_{0};
};

}  // namespace platform
