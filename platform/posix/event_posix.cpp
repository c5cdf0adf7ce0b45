#include "platform/event.h"

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <new>

namespace platform {

// All events share one lock and one condition. Events change a few hundred times a
// second at most, so waking every waiter on a change costs nothing that matters, and it
// lets a thread wait on two events without polling.
namespace {
struct EventShared {
  std::mutex mutex;
  std::condition_variable changed;
};

// Never destroyed (detached threads may still use it), and kept in static storage rather
// than on the heap, so a module that is unloaded leaves no block behind.
EventShared& shared() {
  alignas(EventShared) static unsigned char storage[sizeof(EventShared)];
  static EventShared* state = new (storage) EventShared();
  return *state;
}
}  // namespace

Event::Event(Reset mode, bool initiallySet) : mode_(mode), signalled_(initiallySet) {}

void Event::set() {
  std::lock_guard lock(shared().mutex);
  signalled_ = true;
  shared().changed.notify_all();
}

void Event::reset() {
  std::lock_guard lock(shared().mutex);
  signalled_ = false;
}

void Event::pulse() {
  std::lock_guard lock(shared().mutex);
  signalled_ = false;
  if (waiters_ == 0) return;
  if (mode_ == Reset::kManual) {
    ++pulseGeneration_;
  } else {
    pulseReleases_ = 1;
  }
  shared().changed.notify_all();
}

bool Event::tryConsumeLocked() {
  if (signalled_) {
    if (mode_ == Reset::kAuto) signalled_ = false;
    return true;
  }
  if (pulseReleases_ > 0) {
    --pulseReleases_;
    return true;
  }
  return false;
}

bool Event::wait(uint32_t timeoutMs) {
  return waitAny(*this, *this, timeoutMs) == 0;
}

int Event::waitAny(Event& first, Event& second, uint32_t timeoutMs) {
  std::unique_lock lock(shared().mutex);
  Event* events[2] = {&first, &second};
  const int count = (&first == &second) ? 1 : 2;
  uint64_t generations[2];
  for (int i = 0; i < count; ++i) {
    if (events[i]->tryConsumeLocked()) return i;
    generations[i] = events[i]->pulseGeneration_;
    ++events[i]->waiters_;
  }
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  int result = -1;
  while (result < 0) {
    for (int i = 0; i < count && result < 0; ++i) {
      Event& e = *events[i];
      if (e.pulseGeneration_ != generations[i] || e.tryConsumeLocked()) result = i;
    }
    if (result >= 0) break;
    if (timeoutMs == kInfinite) {
      shared().changed.wait(lock);
    } else if (shared().changed.wait_until(lock, deadline) == std::cv_status::timeout) {
      for (int i = 0; i < count && result < 0; ++i) {
        Event& e = *events[i];
        if (e.pulseGeneration_ != generations[i] || e.tryConsumeLocked()) result = i;
      }
      break;
    }
  }
  for (int i = 0; i < count; ++i) {
    --events[i]->waiters_;
    if (events[i]->waiters_ == 0) events[i]->pulseReleases_ = 0;
  }
  return result;
}

}  // namespace platform
