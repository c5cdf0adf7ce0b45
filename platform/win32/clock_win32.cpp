#include <windows.h>

#include "platform/clock.h"

namespace platform {
namespace {

// Milliseconds of the performance counter (monotonic, finer than the 15.6 ms steps of the
// tick count), truncated to 32 bits like the system tick counter.
class PerformanceClock final : public Clock {
 public:
  PerformanceClock() {
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    frequency_ = static_cast<uint64_t>(frequency.QuadPart);
  }

  uint32_t nowMs() override {
    LARGE_INTEGER counter;
    QueryPerformanceCounter(&counter);
    const uint64_t ticks = static_cast<uint64_t>(counter.QuadPart);
    // Split so that ticks * 1000 cannot overflow.
    const uint64_t ms = (ticks / frequency_) * 1000u + (ticks % frequency_) * 1000u / frequency_;
    return static_cast<uint32_t>(ms);
  }

  void sleepMs(uint32_t ms) override {
    // INFINITE is 0xFFFFFFFF; a sleep of that many milliseconds is one shorter, not for ever.
    Sleep(ms == INFINITE ? INFINITE - 1 : ms);
  }

 private:
  uint64_t frequency_ = 1;
};

}  // namespace

Clock& systemClock() {
  static PerformanceClock clock;
  return clock;
}

std::tm localTimeNow() {
  SYSTEMTIME now;
  GetLocalTime(&now);
  std::tm t{};
  t.tm_year = now.wYear - 1900;
  t.tm_mon = now.wMonth - 1;
  t.tm_mday = now.wDay;
  t.tm_hour = now.wHour;
  t.tm_min = now.wMinute;
  t.tm_sec = now.wSecond;
  t.tm_wday = now.wDayOfWeek;
  t.tm_isdst = -1;
  return t;
}

}  // namespace platform
