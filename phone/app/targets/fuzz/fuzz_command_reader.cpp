// The PC's command bytes, cut into pieces of any size up to 32: the reader must stay
// inside its buffer and yield exactly the commands a plain model of the resync rule
// yields (last magic pair wins, 7 bytes kept without one, 32 bytes make a command).
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "platform/byte_order.h"
#include "protocol/stream_header.h"
#include "targets/command_reader.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  // The first byte seeds the piece sizes; the rest is the stream.
  uint32_t seed = data[0] * 2654435761u + 1;
  const uint8_t* stream = data + 1;
  const size_t length = size - 1;

  targets::CommandReader reader;
  std::vector<uint8_t> model;
  size_t at = 0;
  while (at < length) {
    seed = seed * 1103515245u + 12345u;
    const size_t piece = std::min({static_cast<size_t>((seed >> 16) % 33), reader.room(), length - at});
    if (reader.room() != std::min<size_t>(32, 64 - model.size())) std::abort();
    std::memcpy(reader.space(), stream + at, piece);
    uint32_t w3 = 0, w4 = 0;
    const bool got = reader.received(piece, w3, w4);

    model.insert(model.end(), stream + at, stream + at + piece);
    bool modelGot = false;
    uint32_t m3 = 0, m4 = 0;
    if (model.size() >= 8) {
      long last = -1;
      for (size_t i = 0; i + 8 <= model.size(); ++i) {
        if (protocol::isMagicAt(model.data() + i)) last = static_cast<long>(i);
      }
      if (last < 0) {
        model.erase(model.begin(), model.end() - 7);
      } else {
        model.erase(model.begin(), model.begin() + last);
        if (model.size() >= 32) {
          m3 = platform::load32(model.data() + 12);
          m4 = platform::load32(model.data() + 16);
          model.erase(model.begin(), model.begin() + 32);
          modelGot = true;
        }
      }
    }
    if (got != modelGot || (got && (w3 != m3 || w4 != m4))) std::abort();
    if (reader.length() != model.size() || reader.length() > targets::CommandReader::kBufferSize) {
      std::abort();
    }
    at += piece;
    if (piece == 0 && reader.room() == 0) break;
  }
  return 0;
}
