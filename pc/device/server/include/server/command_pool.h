#pragma once

#include <array>
#include <cstdint>
#include <mutex>

#include "protocol/stream_header.h"

namespace server {

// The PC's commands waiting for the listener: 256 nodes made once, a free list and a
// first-in first-out pending list. When every node is pending, further commands are
// dropped until the listener has sent some.
//
// Threading: every method may be called from any thread; one lock guards both lists.
class CommandPool {
 public:
  static constexpr int kNodes = 256;

  CommandPool();

  // Queues a command; false when the pool is exhausted and the command was dropped.
  bool push(uint32_t code, uint32_t argument);
  // Takes the oldest pending command into `out` (32 bytes) and frees its node. False when
  // none is pending.
  bool popOldest(uint8_t out[protocol::kHeaderSize]);
  // Returns every pending command to the free list unsent.
  void dropPending();
  int pendingCount() const;

 private:
  struct Node {
    uint8_t bytes[protocol::kHeaderSize];
    int16_t next;
  };
  static constexpr int16_t kNone = -1;

  mutable std::mutex mutex_;
  std::array<Node, kNodes> nodes_;
  int16_t freeHead_ = 0;
  int16_t pendingHead_ = kNone;
  int16_t pendingTail_ = kNone;
  int pending_ = 0;
};

}  // namespace server
