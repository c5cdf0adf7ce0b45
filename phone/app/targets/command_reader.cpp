#include "targets/command_reader.h"

#include <algorithm>
#include <cstring>

#include "platform/byte_order.h"
#include "protocol/stream_header.h"

namespace targets {

size_t CommandReader::room() const { return std::min(kMaxReceive, kBufferSize - length_); }

bool CommandReader::received(size_t count, uint32_t& word3, uint32_t& word4) {
  length_ += std::min(count, room());
  if (length_ < 8) return false;
  size_t found = kBufferSize;
  for (size_t i = 0; i + 8 <= length_; ++i) {
    if (protocol::isMagicAt(buffer_ + i)) found = i;
  }
  if (found == kBufferSize) {
    std::memmove(buffer_, buffer_ + length_ - 7, 7);
    length_ = 7;
    return false;
  }
  std::memmove(buffer_, buffer_ + found, length_ - found);
  length_ -= found;
  if (length_ < protocol::kHeaderSize) return false;
  word3 = platform::load32(buffer_ + 12);
  word4 = platform::load32(buffer_ + 16);
  length_ -= protocol::kHeaderSize;
  std::memmove(buffer_, buffer_ + protocol::kHeaderSize, length_);
  return true;
}

}  // namespace targets
