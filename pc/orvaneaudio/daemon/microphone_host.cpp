#include "microphone_host.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <sys/timerfd.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>

namespace orvaneaudio {

uint64_t monotonic100ns() {
  timespec ts{};
  ::clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<uint64_t>(ts.tv_sec) * 10'000'000 + static_cast<uint64_t>(ts.tv_nsec) / 100;
}

MicrophoneHost::MicrophoneHost(uint8_t* ringStorage, std::function<void()> onWrite) {
  timerFd_ = ::timerfd_create(CLOCK_MONOTONIC, TFD_CLOEXEC);
  wakeFd_ = ::eventfd(0, EFD_CLOEXEC);
  ring_ = std::make_unique<FeedRing>(*this, std::move(onWrite), ringStorage);
  pacer_ = std::thread([this] { pace(); });
}

MicrophoneHost::~MicrophoneHost() {
  endpoint_.reset();
  const uint64_t one = 1;
  ssize_t ignored = ::write(wakeFd_, &one, sizeof one);
  (void)ignored;
  pacer_.join();
  ::close(timerFd_);
  ::close(wakeFd_);
}

bool MicrophoneHost::serve(std::string_view devicePath, std::string* error) {
  endpoint_ = ControlEndpoint::start(devicePath, feedHandler(*ring_), error);
  return endpoint_ != nullptr;
}

uint64_t MicrophoneHost::interruptTime() { return monotonic100ns(); }

void MicrophoneHost::armPacingTimer() {
  itimerspec timing{};
  timing.it_value.tv_nsec = kPacingPeriodMs * 1'000'000L;
  timing.it_interval.tv_nsec = kPacingPeriodMs * 1'000'000L;
  ::timerfd_settime(timerFd_, 0, &timing, nullptr);
}

void MicrophoneHost::cancelPacingTimer() {
  itimerspec timing{};
  ::timerfd_settime(timerFd_, 0, &timing, nullptr);
}

void MicrophoneHost::pace() {
  pollfd fds[2] = {{wakeFd_, POLLIN, 0}, {timerFd_, POLLIN, 0}};
  for (;;) {
    if (::poll(fds, 2, -1) < 0) {
      if (errno == EINTR) continue;
      return;
    }
    if (fds[0].revents != 0) return;
    if (fds[1].revents & POLLIN) {
      uint64_t expirations = 0;
      if (::read(timerFd_, &expirations, sizeof expirations) != sizeof expirations) continue;
      // Ticks missed while this thread was held up still count: silence stays at
      // real-time rate.
      for (uint64_t i = 0; i < expirations && i < 50; ++i) ring_->tick(interruptTime());
    }
  }
}

}  // namespace orvaneaudio
