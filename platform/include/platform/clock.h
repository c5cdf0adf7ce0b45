#pragma once

#include <cstdint>
#include <ctime>

namespace platform {

// Millisecond ticks, truncated to 32 bits so that wrap-around behaves like the system
// tick counter every time limit of the product is written against: compare with
// unsigned subtraction, (now - start) >= limit, never with now >= start + limit.
//
// Threading: every method may be called from any thread at any time.
class Clock {
 public:
  virtual ~Clock() = default;
  virtual uint32_t nowMs() = 0;
  virtual void sleepMs(uint32_t ms) = 0;
};

// The monotonic system clock. Lives for the whole process.
Clock& systemClock();

// The local calendar time now (year, month, day, hour, minute, second; the other fields
// as the system fills them).
std::tm localTimeNow();

// Milliseconds elapsed from `startMs` to `nowMs`, correct across one wrap-around.
inline uint32_t elapsedMs(uint32_t startMs, uint32_t nowMs) { return nowMs - startMs; }

}  // namespace platform
