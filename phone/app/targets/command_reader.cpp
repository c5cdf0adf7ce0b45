#include "targets/command_reader.h"

#include <algorithm>
#include <cstring>

#include "platform/byte_order.h"
#include "protocol/stream_header.h"

namespace targets {
namespace {

constexpr size_t kMagicSize = 8;
constexpr size_t kLengthWordEnd = 12;  // magic pair and length word
constexpr size_t kArgumentAt = 12;     // code and argument: bytes 12 to 19
constexpr size_t kMeaningfulEnd = 20;  // words 5 to 7 carry nothing for the device

}  // namespace

size_t CommandReader::room() const { return std::min(kMaxReceive, kBufferSize - length_); }

void CommandReader::received(size_t count) { length_ += std::min(count, room()); }

size_t CommandReader::findMagic(size_t from, size_t to) const {
  for (size_t i = from; i < to && i + kMagicSize <= length_; ++i) {
    if (protocol::isMagicAt(buffer_ + i)) return i;
  }
  return kBufferSize;
}

void CommandReader::dropFront(size_t count) {
  count = std::min(count, length_);
  std::memmove(buffer_, buffer_ + count, length_ - count);
  length_ -= count;
}

bool CommandReader::takeCommand(uint32_t& code, uint32_t& argument) {
  using protocol::kHeaderSize;
  for (;;) {
    const size_t first = findMagic(0, length_);
    if (first == kBufferSize) {
      // No magic pair: keep only what may be the beginning of one.
      dropFront(length_ > kMagicSize - 1 ? length_ - (kMagicSize - 1) : 0);
      return false;
    }
    dropFront(first);
    if (length_ < kLengthWordEnd) return false;
    if (platform::load32(buffer_ + kMagicSize) > kHeaderSize) {
      dropFront(1);  // a header with a payload is no command
      continue;
    }
    const size_t inside = findMagic(1, kMeaningfulEnd);
    if (inside != kBufferSize && inside != kArgumentAt) {
      dropFront(inside);  // cut before its code and argument were whole
      continue;
    }
    if (length_ < kHeaderSize) return false;
    const protocol::StreamHeader header = protocol::decodeHeader(buffer_);
    code = header.commandCode();
    argument = header.commandArgument();
    const size_t next = findMagic(kMeaningfulEnd, kHeaderSize - kMagicSize + 1);
    dropFront(next != kBufferSize ? next : kHeaderSize);
    return true;
  }
}

}  // namespace targets
