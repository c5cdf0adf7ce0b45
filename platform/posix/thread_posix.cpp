#include "platform/thread.h"

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <system_error>
#include <thread>

namespace platform {

struct Thread::State {
  std::mutex mutex;
  std::condition_variable ended;
  bool done = false;
  std::thread thread;
};

Thread::~Thread() {
  if (state_) joinFor(0xFFFFFFFFu);
}

bool Thread::start(std::function<void()> body) {
  if (state_) return false;
  auto state = std::make_shared<State>();
  try {
    // The thread keeps its own reference to the state, so an abandoned thread never
    // touches freed memory.
    state->thread = std::thread([state, body = std::move(body)]() mutable {
      body();
      body = nullptr;  // release what the body captured before announcing the end
      std::lock_guard lock(state->mutex);
      state->done = true;
      state->ended.notify_all();
    });
  } catch (const std::system_error&) {
    return false;
  }
  state_ = std::move(state);
  return true;
}

bool Thread::joinFor(uint32_t timeoutMs) {
  if (!state_) return true;
  bool done;
  {
    std::unique_lock lock(state_->mutex);
    if (timeoutMs == 0xFFFFFFFFu) {
      state_->ended.wait(lock, [&] { return state_->done; });
    } else {
      state_->ended.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                             [&] { return state_->done; });
    }
    done = state_->done;
  }
  if (done) {
    state_->thread.join();
  } else {
    state_->thread.detach();
  }
  state_.reset();
  return done;
}

}  // namespace platform
