// The PC's command bytes, cut into pieces of any size up to 32. First the input itself is
// the stream: the reader must stay inside its buffer whatever comes. Then the input
// describes a stream of whole commands (any code and argument), garbage without a magic
// pair and headers that announce a payload: exactly the whole commands must come out,
// in order.
//
// Records of the described stream: 0 c c c c a a a a  a command (code, argument)
//                                   1 n bytes...       n bytes of garbage
//                                   2 l l n bytes...   a header announcing a payload, then n bytes
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <utility>
#include <vector>

#include "platform/byte_order.h"
#include "protocol/stream_header.h"
#include "targets/command_reader.h"

namespace {

using Commands = std::vector<std::pair<uint32_t, uint32_t>>;
constexpr uint8_t kMagicFirstByte = protocol::STREAM_MAGIC_0 & 0xFF;

// Feeds `stream` in pieces whose sizes `seed` chooses and takes every command.
Commands readAll(const std::vector<uint8_t>& stream, uint32_t seed) {
  targets::CommandReader reader;
  Commands got;
  size_t at = 0;
  while (at < stream.size()) {
    seed = seed * 1103515245u + 12345u;
    if (reader.room() != std::min<size_t>(32, 64 - reader.length())) std::abort();
    const size_t piece = std::min({static_cast<size_t>(1 + (seed >> 16) % 32), reader.room(),
                                   stream.size() - at});
    if (piece == 0) std::abort();  // the reader never fills up while it is drained
    std::memcpy(reader.space(), stream.data() + at, piece);
    reader.received(piece);
    at += piece;
    uint32_t code = 0, argument = 0;
    while (reader.takeCommand(code, argument)) got.emplace_back(code, argument);
    if (reader.length() >= 32) std::abort();
  }
  return got;
}

// Garbage holds no byte that may begin a magic pair.
uint8_t clean(uint8_t b) { return b == kMagicFirstByte ? b - 1 : b; }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  const uint32_t seed = data[0] * 2654435761u + 1;
  readAll(std::vector<uint8_t>(data + 1, data + size), seed);

  std::vector<uint8_t> stream;
  Commands sent;
  size_t i = 1;
  auto next = [&]() -> uint8_t { return i < size ? data[i++] : 0; };
  auto word = [&] {
    uint32_t w = 0;
    for (int shift = 0; shift < 32; shift += 8) w |= static_cast<uint32_t>(next()) << shift;
    return w;
  };
  while (i < size) {
    switch (next() % 3) {
      case 0: {
        const uint32_t code = word();
        const uint32_t argument = word();
        uint8_t c[protocol::kHeaderSize];
        protocol::encodeHeader(protocol::makeCommand(code, argument), c);
        stream.insert(stream.end(), c, c + sizeof c);
        sent.emplace_back(code, argument);
        break;
      }
      case 1: {
        const size_t n = next() % 80;
        for (size_t k = 0; k < n && i < size; ++k) stream.push_back(clean(data[i++]));
        break;
      }
      default: {
        protocol::StreamHeader h;
        h.length = 0x10000u | clean(next()) | static_cast<uint32_t>(clean(next())) << 8;
        uint8_t c[protocol::kHeaderSize];
        protocol::encodeHeader(h, c);
        stream.insert(stream.end(), c, c + 12);
        const size_t n = next() % 40;
        for (size_t k = 0; k < n && i < size; ++k) stream.push_back(clean(data[i++]));
      }
    }
  }
  if (readAll(stream, seed) != sent) std::abort();
  return 0;
}
