#include "targets/ftp_protocol.h"

#include <cstring>

namespace targets {

namespace {
bool isDigit(char c) { return c >= '0' && c <= '9'; }
}  // namespace

ReplyReader::ReplyReader(char* buffer, size_t capacity) : buffer_(buffer), capacity_(capacity) { reset(); }

void ReplyReader::reset() {
  length_ = 0;
  lineStart_ = 0;
  code_ = 0;
  multiLine_ = false;
  state_ = capacity_ >= 2 && buffer_ != nullptr ? State::kPending : State::kOverflow;
  if (buffer_ != nullptr && capacity_ > 0) buffer_[0] = 0;
}

ReplyReader::State ReplyReader::feed(char byte) {
  if (state_ != State::kPending) return state_;
  if (length_ + 1 >= capacity_) {
    state_ = State::kOverflow;
    return state_;
  }
  buffer_[length_++] = byte;
  buffer_[length_] = 0;
  if (byte == '\n') endOfLine();
  return state_;
}

void ReplyReader::endOfLine() {
  const char* line = buffer_ + lineStart_;
  size_t n = length_ - lineStart_ - 1;  // without the line feed
  if (n > 0 && line[n - 1] == '\r') --n;
  lineStart_ = length_;
  const bool hasCode = n >= 3 && isDigit(line[0]) && isDigit(line[1]) && isDigit(line[2]);
  const char after = n > 3 ? line[3] : ' ';  // "220" alone ends like "220 "
  if (!multiLine_) {
    const int code = hasCode ? (line[0] - '0') * 100 + (line[1] - '0') * 10 + (line[2] - '0') : 0;
    if (code < 100 || code > 599 || (after != ' ' && after != '-')) {
      state_ = State::kMalformed;
      return;
    }
    code_ = code;
    if (after == '-') {
      multiLine_ = true;
    } else {
      state_ = State::kComplete;
    }
    return;
  }
  // Inside a multi-line reply only the code itself followed by a blank ends it.
  if (hasCode && after == ' ' && (line[0] - '0') * 100 + (line[1] - '0') * 10 + (line[2] - '0') == code_) {
    state_ = State::kComplete;
  }
}

bool parsePassiveReply(std::string_view reply, uint32_t& address, uint16_t& port) {
  // The numbers follow the code and its separator.
  for (size_t start = 4; start < reply.size(); ++start) {
    if (!isDigit(reply[start]) || isDigit(reply[start - 1])) continue;
    uint32_t values[6] = {};
    size_t at = start;
    bool ok = true;
    for (int i = 0; i < 6 && ok; ++i) {
      if (i > 0) {
        if (at >= reply.size() || reply[at] != ',') {
          ok = false;
          break;
        }
        ++at;
      }
      size_t digits = 0;
      uint32_t v = 0;
      while (at < reply.size() && isDigit(reply[at]) && digits < 4) {
        v = v * 10 + static_cast<uint32_t>(reply[at] - '0');
        ++at;
        ++digits;
      }
      if (digits == 0 || digits > 3 || v > 255) ok = false;
      values[i] = v;
    }
    if (ok && at < reply.size() && isDigit(reply[at])) ok = false;
    if (!ok) continue;
    const uint8_t octets[4] = {static_cast<uint8_t>(values[0]), static_cast<uint8_t>(values[1]),
                               static_cast<uint8_t>(values[2]), static_cast<uint8_t>(values[3])};
    std::memcpy(&address, octets, 4);
    port = static_cast<uint16_t>(values[4] * 256 + values[5]);
    return port != 0;
  }
  return false;
}

std::string portArgument(uint32_t address, uint16_t port) {
  uint8_t octets[4];
  std::memcpy(octets, &address, 4);
  return std::to_string(octets[0]) + ',' + std::to_string(octets[1]) + ',' + std::to_string(octets[2]) + ',' +
         std::to_string(octets[3]) + ',' + std::to_string(port >> 8) + ',' + std::to_string(port & 0xFF);
}

size_t sendInPieces(const uint8_t* data, size_t size, const std::function<long(const uint8_t*, size_t)>& send,
                    const std::function<bool()>& stopped, const std::function<void(uint32_t ms)>& pause) {
  size_t sent = 0;
  uint32_t failures = 0;
  while (sent < size) {
    const size_t piece = size - sent < kPieceBytes ? size - sent : kPieceBytes;
    const long n = send(data + sent, piece);
    if (n > 0) {
      sent += static_cast<size_t>(n) < piece ? static_cast<size_t>(n) : piece;
      continue;
    }
    ++failures;
    if (stopped() || failures > kMaxPieceFailures) break;
    pause(kPieceRetryMs);
  }
  return sent;
}

}  // namespace targets
