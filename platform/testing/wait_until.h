#pragma once

// Waiting in tests for something another thread or process does. The limit is generous on
// purpose: a condition that holds returns at once, and a loaded machine or a sanitizer build
// must not turn a slow thread into a failed test.

#include <algorithm>
#include <chrono>
#include <thread>

namespace platform::testing {

inline constexpr std::chrono::milliseconds kWaitLimit{10000};

// True as soon as condition() holds; false when it still does not after `limit`. The
// condition is checked often at first and then every few milliseconds.
template <class Condition>
bool waitUntil(Condition&& condition, std::chrono::milliseconds limit = kWaitLimit) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  auto pause = std::chrono::microseconds(50);
  while (!condition()) {
    if (std::chrono::steady_clock::now() >= deadline) return condition();
    std::this_thread::sleep_for(pause);
    pause = std::min(pause * 2, std::chrono::microseconds(5000));
  }
  return true;
}

}  // namespace platform::testing
