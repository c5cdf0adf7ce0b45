#pragma once

#include <cstdint>

namespace platform {

inline constexpr uint32_t kInfinite = 0xFFFFFFFFu;

// An event in the manner of the system events the product is written against.
//  - auto-reset: a successful wait consumes the signal; set() with no waiter keeps it
//    until the next wait.
//  - manual-reset: stays signalled until reset().
//  - pulse(): releases the threads waiting at that moment (all of them for manual-reset,
//    one for auto-reset) and leaves the event non-signalled; a thread that starts waiting
//    later does not see it.
//
// Threading: every method may be called from any thread at any time.
class Event {
 public:
  enum class Reset { kAuto, kManual };

  explicit Event(Reset mode = Reset::kAuto, bool initiallySet = false);
  Event(const Event&) = delete;
  Event& operator=(const Event&) = delete;

  void set();
  void reset();
  void pulse();

  // True when signalled within `timeoutMs` (kInfinite waits for ever, 0 only tests).
  bool wait(uint32_t timeoutMs = kInfinite);

  // Waits on two events at once. Returns 0 or 1 for the event that ended the wait (the
  // first of the two when both are signalled), -1 on time-out.
  static int waitAny(Event& first, Event& second, uint32_t timeoutMs);

 private:
  bool tryConsumeLocked();

  const Reset mode_;
  bool signalled_;
  uint64_t pulseGeneration_ = 0;
  uint32_t waiters_ = 0;
  uint32_t pulseReleases_ = 0;  // auto-reset pulses still owed to a waiter
};

}  // namespace platform
