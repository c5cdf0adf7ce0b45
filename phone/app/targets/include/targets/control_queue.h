#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <mutex>

namespace targets {

// The link's queue of 32-byte control messages: a fixed pool of 256 nodes, a free list
// and a first-in-first-out pending list. The window thread appends, the sending thread
// takes; a lock makes that hand-over safe. A full queue drops new messages.
//
// Threading: any thread.
class ControlQueue {
 public:
  static constexpr size_t kCapacity = 256;
  static constexpr size_t kMessageSize = 32;
  using Message = std::array<uint8_t, kMessageSize>;

  // False (and nothing queued) when all 256 nodes are pending.
  bool push(const Message& message);
  // The oldest pending message, whose node goes back to the free list.
  bool pop(Message& out);
  // Moves every pending node back to the free list.
  void clear();
  size_t pending() const;

 private:
  mutable std::mutex mutex_;
  std::array<Message, kCapacity> nodes_{};
  size_t head_ = 0;  // oldest pending node
  size_t count_ = 0;
};

}  // namespace targets
