#pragma once

// The one framing of the local datagrams between our own processes (the engine's command
// relay "VCMD", the service's control requests "VSCC", the control devices' requests and
// answers "VDRQ"/"VDRP"): a four-byte magic, a fixed number of little-endian 32-bit words,
// then - for shapes that carry one - a payload whose length one of those words gives,
// bounded by the shape. A datagram is read only when it is exactly that: long enough for
// its words, the right magic, a length within the bound and equal to the bytes that
// follow. Anything else (short, foreign, over-long, cut or padded) is refused whole.

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <optional>
#include <span>

#include "platform/byte_order.h"

namespace platform {

inline constexpr size_t kMaxPacketWords = 4;

struct PacketShape {
  uint32_t magic = 0;         // fourcc() of the four bytes it starts with
  uint32_t words = 0;         // words after the magic, at most kMaxPacketWords
  int32_t lengthWord = -1;    // which word is the payload's length; -1: no payload
  uint32_t maxPayload = 0;

  constexpr size_t headerBytes() const { return 4 + 4 * size_t{words}; }
  constexpr size_t maxBytes() const { return headerBytes() + (lengthWord < 0 ? 0 : maxPayload); }
};

struct PacketView {
  std::array<uint32_t, kMaxPacketWords> words{};
  std::span<const uint8_t> payload;  // inside the packet read
};

// Writes the magic and `words` of a packet of `shape` that carries `payloadSize` bytes
// (the length word is set to it) into `out`, for a sender that sends the payload from
// where it lies. The header's size, or 0 when the words do not match the shape, the
// payload is over the bound (or given to a shape without one) or `out` is too small.
inline size_t writePacketHeader(const PacketShape& shape, std::span<const uint32_t> words,
                                size_t payloadSize, std::span<uint8_t> out) {
  if (words.size() != shape.words || shape.words > kMaxPacketWords) return 0;
  if (shape.lengthWord < 0 ? payloadSize != 0 : payloadSize > shape.maxPayload) return 0;
  if (out.size() < shape.headerBytes()) return 0;
  store32(out.data(), shape.magic);
  for (size_t i = 0; i < words.size(); ++i) {
    const uint32_t word = static_cast<int32_t>(i) == shape.lengthWord
                              ? static_cast<uint32_t>(payloadSize)
                              : words[i];
    store32(out.data() + 4 + 4 * i, word);
  }
  return shape.headerBytes();
}

// The whole packet (header and payload) into `out`: its size, or 0 as above.
inline size_t writePacket(const PacketShape& shape, std::span<const uint32_t> words,
                          std::span<const uint8_t> payload, std::span<uint8_t> out) {
  if (out.size() < shape.headerBytes() + payload.size()) return 0;
  const size_t header = writePacketHeader(shape, words, payload.size(), out);
  if (header == 0) return 0;
  if (!payload.empty()) std::memcpy(out.data() + header, payload.data(), payload.size());
  return header + payload.size();
}

// Reads a packet of `shape`; nothing when it is not exactly one (see above).
inline std::optional<PacketView> readPacket(const PacketShape& shape, std::span<const uint8_t> packet) {
  if (shape.words > kMaxPacketWords || packet.size() < shape.headerBytes() ||
      load32(packet.data()) != shape.magic) {
    return std::nullopt;
  }
  PacketView view;
  for (size_t i = 0; i < shape.words; ++i) view.words[i] = load32(packet.data() + 4 + 4 * i);
  const size_t rest = packet.size() - shape.headerBytes();
  if (shape.lengthWord < 0) {
    if (rest != 0) return std::nullopt;
    return view;
  }
  const uint32_t length = view.words[static_cast<size_t>(shape.lengthWord)];
  if (length > shape.maxPayload || length != rest) return std::nullopt;
  view.payload = packet.subspan(shape.headerBytes(), length);
  return view;
}

}  // namespace platform
