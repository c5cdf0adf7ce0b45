#pragma once

#include <cstddef>
#include <cstdint>

namespace targets {

// The device's reader of the PC's 32-byte commands. Bytes arrive at most 32 at a time
// into a 64-byte buffer, and every whole command in them is taken, oldest first:
//  - a command starts at a magic pair; bytes before the first magic pair are dropped
//    (the last 7 are kept while there is none, as they may begin one);
//  - a magic pair whose length word announces a payload (above 32) starts no command:
//    it is skipped and the search goes on from the next byte;
//  - a command is whole once 32 bytes from its magic are buffered; its words 0 to 4
//    (magic, length, code, argument) are what counts;
//  - a magic pair that starts within those 20 bytes, except exactly at the code and
//    argument words, shows that the command was cut before its code and argument came:
//    it is dropped and the later magic is taken instead. A magic pair exactly at the code
//    and argument words is that command's code and argument;
//  - a magic pair that starts in the last 12 bytes of a command (words 5 to 7, which the
//    device ignores and the PC leaves zero) begins the next command: the command before
//    it still counts, as its code and argument were whole.
//
// Threading: one thread (the link's sending thread).
class CommandReader {
 public:
  static constexpr size_t kBufferSize = 64;
  static constexpr size_t kMaxReceive = 32;

  // Where the next receive goes and how many bytes it may take (0..32).
  uint8_t* space() { return buffer_ + length_; }
  size_t room() const;
  // `count` bytes (at most room()) were received into space().
  void received(size_t count);
  // Takes the oldest whole command: true with its code and argument stored, false when
  // none is whole yet. Once it returns false fewer than 32 bytes are buffered.
  bool takeCommand(uint32_t& code, uint32_t& argument);
  void clear() { length_ = 0; }
  size_t length() const { return length_; }

 private:
  // The first position in [from, to) where a magic pair starts in the buffer, or
  // kBufferSize when there is none.
  size_t findMagic(size_t from, size_t to) const;
  void dropFront(size_t count);

  uint8_t buffer_[kBufferSize] = {};
  size_t length_ = 0;
};

}  // namespace targets
