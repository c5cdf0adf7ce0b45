#include "targets/command_reader.h"

#include <algorithm>
#include <cstring>

#include "protocol/stream_header.h"

namespace targets {

size_t CommandReader::room() const { return std::min(kMaxReceive, kBufferSize - length_); }

bool CommandReader::received(size_t count, uint32_t& code, uint32_t& argument) {
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
  const protocol::StreamHeader header = protocol::decodeHeader(buffer_);
  code = header.commandCode();
  argument = header.commandArgument();
  length_ -= protocol::kHeaderSize;
  std::memmove(buffer_, buffer_ + protocol::kHeaderSize, length_);
  return true;
}

}  // namespace targets
