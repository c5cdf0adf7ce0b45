#include "protocol/stream_header.h"

#include "platform/byte_order.h"

namespace protocol {

using platform::load16;
using platform::load32;
using platform::store16;
using platform::store32;

void encodeHeader(const StreamHeader& h, uint8_t out[kHeaderSize]) {
  store32(out + 0, h.magic0);
  store32(out + 4, h.magic1);
  store32(out + 8, h.length);
  store32(out + 12, h.word3);
  store32(out + 16, h.word4);
  store16(out + 20, h.word5a);
  store16(out + 22, h.word5b);
  store32(out + 24, h.word6);
  store32(out + 28, h.reserved);
}

StreamHeader decodeHeader(const uint8_t in[kHeaderSize]) {
  StreamHeader h;
  h.magic0 = load32(in + 0);
  h.magic1 = load32(in + 4);
  h.length = load32(in + 8);
  h.word3 = load32(in + 12);
  h.word4 = load32(in + 16);
  h.word5a = load16(in + 20);
  h.word5b = load16(in + 22);
  h.word6 = load32(in + 24);
  h.reserved = load32(in + 28);
  return h;
}

bool isMagicAt(const uint8_t* p) {
  return load32(p) == STREAM_MAGIC_0 && load32(p + 4) == STREAM_MAGIC_1;
}

StreamHeader makeCommand(uint32_t code, uint32_t argument) {
  StreamHeader h;
  h.length = 0;
  h.word3 = code;
  h.word4 = argument;
  return h;
}

bool endOfImageInTail(const uint8_t tail[10]) {
  for (int i = 0; i < 9; ++i) {
    if (tail[i] == 0xFF && tail[i + 1] == 0xD9) return true;
  }
  return false;
}

}  // namespace protocol
