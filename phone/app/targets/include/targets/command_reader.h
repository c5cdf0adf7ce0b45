#pragma once

#include <cstddef>
#include <cstdint>

namespace targets {

// The device's reader of the PC's 32-byte commands. Bytes arrive at most 32 at a time
// into a 64-byte buffer; the buffer is resynchronised on the last magic pair in it
// (everything before it is dropped, an earlier complete command included) and keeps its
// last 7 bytes when it holds none; 32 bytes from the magic make one command.
//
// Threading: one thread (the link's sending thread).
class CommandReader {
 public:
  static constexpr size_t kBufferSize = 64;
  static constexpr size_t kMaxReceive = 32;

  // Where the next receive goes and how many bytes it may take (0..32).
  uint8_t* space() { return buffer_ + length_; }
  size_t room() const;
  // `count` bytes (at most room()) were received into space(). True when a command was
  // complete; its code and argument are then stored.
  bool received(size_t count, uint32_t& code, uint32_t& argument);
  void clear() { length_ = 0; }
  size_t length() const { return length_; }

 private:
  uint8_t buffer_[kBufferSize] = {};
  size_t length_ = 0;
};

}  // namespace targets
