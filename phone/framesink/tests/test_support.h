#pragma once

// Helpers shared by the framesink tests: a callback that keeps what it receives.

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <vector>

#include "framesink/framesink_table.h"

namespace framesink::testing {

class PictureSink {
 public:
  SampleCallback callback() { return SampleCallback{&PictureSink::receive, this}; }

  // Waits until `count` pictures arrived; false on time-out.
  bool waitFor(size_t count, int timeoutMs = 5000) {
    std::unique_lock<std::mutex> lock(mutex_);
    return arrived_.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                             [&] { return pictures_.size() >= count; });
  }
  std::vector<std::vector<uint8_t>> pictures() {
    std::lock_guard<std::mutex> lock(mutex_);
    return pictures_;
  }
  size_t count() {
    std::lock_guard<std::mutex> lock(mutex_);
    return pictures_.size();
  }

 private:
  static void receive(uint8_t* data, uint32_t size, void* user) {
    auto* self = static_cast<PictureSink*>(user);
    std::lock_guard<std::mutex> lock(self->mutex_);
    self->pictures_.emplace_back(data, data + size);
    self->arrived_.notify_all();
  }
  std::mutex mutex_;
  std::condition_variable arrived_;
  std::vector<std::vector<uint8_t>> pictures_;
};

}  // namespace framesink::testing
