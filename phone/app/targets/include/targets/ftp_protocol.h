#pragma once

// The pieces of the FTP command protocol that need no socket: reading a reply out of a
// byte stream into a bounded buffer, the address and port of a PASV reply, the argument of
// PORT, and sending a file's bytes in pieces with a failure count.
//
// Threading: plain values; use each object from one thread at a time.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

namespace targets {

// Gathers one reply, byte by byte, into a caller-owned buffer that always ends with a
// zero. A reply is one line "ddd text", or several lines from "ddd-text" up to the first
// line that starts with the same three digits and a blank; lines between are text, even
// when they start with other digits. A line ends at a line feed (a carriage return before
// it is kept as text).
class ReplyReader {
 public:
  enum class State {
    kPending,    // more bytes needed
    kComplete,   // code() holds the reply code
    kOverflow,   // the reply does not fit the buffer
    kMalformed,  // the first line does not start with a three-digit code (100-599) and a
                 // blank, a "-" or the line end
  };

  // `capacity` counts the terminating zero; at least 2.
  ReplyReader(char* buffer, size_t capacity);

  void reset();
  State feed(char byte);
  State state() const { return state_; }
  // The reply code once complete, else 0.
  int code() const { return state_ == State::kComplete ? code_ : 0; }
  // Everything gathered so far (the whole reply once complete).
  std::string_view text() const { return {buffer_, length_}; }

 private:
  void endOfLine();

  char* buffer_;
  size_t capacity_;
  size_t length_ = 0;
  size_t lineStart_ = 0;
  int code_ = 0;
  bool multiLine_ = false;
  State state_ = State::kPending;
};

// The data address of a "227" reply: six decimal numbers of 0-255 separated by commas,
// the first of them anywhere after the code (in parentheses or not). `address` is in
// network order, `port` = fifth × 256 + sixth. False when there are no six such numbers
// or the port is 0.
bool parsePassiveReply(std::string_view reply, uint32_t& address, uint16_t& port);

// "h1,h2,h3,h4,p1,p2" for PORT: the address (network order, first octet first) and port.
std::string portArgument(uint32_t address, uint16_t port);

// Sends `size` bytes in pieces of at most kPieceBytes through `send`, which returns the
// count it sent (possibly short) or a negative number on failure. A failure is counted and,
// unless `stopped` says so or more than kMaxPieceFailures were counted, followed by
// `pause`(kPieceRetryMs) and the same bytes again. Returns the number of bytes sent; all
// of them went out exactly when it equals `size`.
inline constexpr size_t kPieceBytes = 2048;
inline constexpr uint32_t kMaxPieceFailures = 10;
inline constexpr uint32_t kPieceRetryMs = 100;
size_t sendInPieces(const uint8_t* data, size_t size, const std::function<long(const uint8_t*, size_t)>& send,
                    const std::function<bool()>& stopped, const std::function<void(uint32_t ms)>& pause);

}  // namespace targets
