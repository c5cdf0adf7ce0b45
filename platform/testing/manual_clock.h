#pragma once

#include <atomic>
#include <chrono>
#include <thread>

#include "platform/clock.h"

namespace platform {

// A clock that moves only when a test says so. sleepMs() advances nothing: it yields
// for a moment of real time, so that threads polling the clock stay cheap.
class ManualClock final : public Clock {
 public:
  explicit ManualClock(uint32_t startMs = 0) : now_(startMs) {}
  uint32_t nowMs() override { return now_.load(); }
  void sleepMs(uint32_t ms) override {
    std::this_thread::sleep_for(std::chrono::milliseconds(ms < 10 ? ms : 10));
  }
  void advanceMs(uint32_t ms) { now_.fetch_add(ms); }
  void setMs(uint32_t ms) { now_.store(ms); }

 private:
  std::atomic<uint32_t> now_;
};

}  // namespace platform
