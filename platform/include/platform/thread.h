#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>

namespace platform {

// A worker thread with a bounded join. A thread that does not end within the time given
// to joinFor() is detached and left to finish on its own; it must therefore own (share)
// everything it touches, never borrow from the object that started it.
//
// Threading: start/joinFor/running are called from the owning thread only.
class Thread {
 public:
  Thread() = default;
  ~Thread();  // joins for ever if still running; call joinFor() first to bound it
  Thread(const Thread&) = delete;
  Thread& operator=(const Thread&) = delete;

  // Starts `body` on a new thread. False when a thread is already running or the system
  // refuses a new one.
  bool start(std::function<void()> body);

  // Waits up to `timeoutMs` for the thread to end. True when it ended (or none ran);
  // false when it was abandoned still running.
  bool joinFor(uint32_t timeoutMs);

  bool running() const { return state_ != nullptr; }

 private:
  struct State;
  std::shared_ptr<State> state_;
};

}  // namespace platform
