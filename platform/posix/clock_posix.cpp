#include "platform/clock.h"

#include <time.h>

#include <cerrno>

namespace platform {
namespace {

class MonotonicClock final : public Clock {
 public:
  uint32_t nowMs() override {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    const uint64_t ms = static_cast<uint64_t>(ts.tv_sec) * 1000u +
                        static_cast<uint64_t>(ts.tv_nsec) / 1000000u;
    return static_cast<uint32_t>(ms);
  }

  void sleepMs(uint32_t ms) override {
    timespec req{static_cast<time_t>(ms / 1000), static_cast<long>(ms % 1000) * 1000000L};
    while (nanosleep(&req, &req) != 0 && errno == EINTR) {
    }
  }
};

}  // namespace

Clock& systemClock() {
  static MonotonicClock clock;
  return clock;
}

std::tm localTimeNow() {
  const time_t now = time(nullptr);
  std::tm t{};
  localtime_r(&now, &t);
  return t;
}

}  // namespace platform
