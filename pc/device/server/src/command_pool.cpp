#include "server/command_pool.h"

#include <cstring>

namespace server {

CommandPool::CommandPool() {
  for (int i = 0; i < kNodes; ++i) nodes_[i].next = static_cast<int16_t>(i + 1 < kNodes ? i + 1 : kNone);
}

bool CommandPool::push(uint32_t code, uint32_t argument) {
  std::lock_guard lock(mutex_);
  if (freeHead_ == kNone) return false;
  const int16_t n = freeHead_;
  freeHead_ = nodes_[n].next;
  protocol::encodeHeader(protocol::makeCommand(code, argument), nodes_[n].bytes);
  nodes_[n].next = kNone;
  if (pendingTail_ == kNone) {
    pendingHead_ = n;
  } else {
    nodes_[pendingTail_].next = n;
  }
  pendingTail_ = n;
  ++pending_;
  return true;
}

bool CommandPool::popOldest(uint8_t out[protocol::kHeaderSize]) {
  std::lock_guard lock(mutex_);
  if (pendingHead_ == kNone) return false;
  const int16_t n = pendingHead_;
  std::memcpy(out, nodes_[n].bytes, protocol::kHeaderSize);
  pendingHead_ = nodes_[n].next;
  if (pendingHead_ == kNone) pendingTail_ = kNone;
  nodes_[n].next = freeHead_;
  freeHead_ = n;
  --pending_;
  return true;
}

void CommandPool::dropPending() {
  std::lock_guard lock(mutex_);
  while (pendingHead_ != kNone) {
    const int16_t n = pendingHead_;
    pendingHead_ = nodes_[n].next;
    nodes_[n].next = freeHead_;
    freeHead_ = n;
  }
  pendingTail_ = kNone;
  pending_ = 0;
}

int CommandPool::pendingCount() const {
  std::lock_guard lock(mutex_);
  return pending_;
}

}  // namespace server
