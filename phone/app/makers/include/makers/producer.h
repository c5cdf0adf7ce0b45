#pragma once

// The producer thread of a maker camera: runs a loop until its stop flag is set. The
// flag is shared with the thread, so a thread given up after the join time touches
// nothing that was freed.
//
// Threading: Start and Stop on the window thread.

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>

#include "platform/thread.h"

namespace makers {

class Producer {
 public:
  using StopFlag = std::shared_ptr<const std::atomic<bool>>;
  ~Producer() { stop(0); }

  // Runs `body` on a new thread; `body` returns when the flag it is given is set.
  bool start(std::function<void(const StopFlag& stop)> body) {
    auto flag = std::make_shared<std::atomic<bool>>(false);
    stop_ = flag;
    return thread_.start([flag, body = std::move(body)] { body(flag); });
  }
  // Sets the flag and waits up to `joinMs` for the thread; false when it was given up.
  bool stop(uint32_t joinMs) {
    if (stop_) stop_->store(true);
    const bool ended = thread_.joinFor(joinMs);
    stop_.reset();
    return ended;
  }
  bool running() const { return thread_.running(); }

 private:
  std::shared_ptr<std::atomic<bool>> stop_;
  platform::Thread thread_;
};

}  // namespace makers
