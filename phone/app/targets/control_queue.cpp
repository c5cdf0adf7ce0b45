#include "targets/control_queue.h"

namespace targets {

bool ControlQueue::push(const Message& message) {
  std::lock_guard lock(mutex_);
  if (count_ == kCapacity) return false;
  nodes_[(head_ + count_) % kCapacity] = message;
  ++count_;
  return true;
}

bool ControlQueue::pop(Message& out) {
  std::lock_guard lock(mutex_);
  if (count_ == 0) return false;
  out = nodes_[head_];
  head_ = (head_ + 1) % kCapacity;
  --count_;
  return true;
}

void ControlQueue::clear() {
  std::lock_guard lock(mutex_);
  head_ = 0;
  count_ = 0;
}

size_t ControlQueue::pending() const {
  std::lock_guard lock(mutex_);
  return count_;
}

}  // namespace targets
