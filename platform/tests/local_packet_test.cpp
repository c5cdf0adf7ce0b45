#include "platform/local_packet.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace platform {
namespace {

using Bytes = std::vector<uint8_t>;

constexpr PacketShape kFixed{fourcc('V', 'S', 'C', 'C'), 1};                  // magic, one word
constexpr PacketShape kCarrying{fourcc('V', 'D', 'R', 'Q'), 3, 1, 16};        // length in word 1

Bytes bytesOf(std::initializer_list<uint32_t> words, const Bytes& tail = {}) {
  Bytes b;
  for (uint32_t w : words)
    for (int i = 0; i < 4; ++i) b.push_back(static_cast<uint8_t>(w >> (8 * i)));
  b.insert(b.end(), tail.begin(), tail.end());
  return b;
}

TEST(LocalPacket, TheMagicIsItsFourBytesOnTheWire) {
  Bytes out(8);
  const uint32_t code[1] = {1};
  ASSERT_EQ(writePacket(kFixed, code, {}, out), 8u);
  EXPECT_EQ(std::string(out.begin(), out.begin() + 4), "VSCC");
}

TEST(LocalPacket, WrittenPacketsReadBackAtEverySize) {
  for (size_t n : {0, 1, 15, 16}) {
    SCOPED_TRACE(n);
    Bytes payload(n);
    for (size_t i = 0; i < n; ++i) payload[i] = static_cast<uint8_t>(0xA0 + i);
    Bytes out(64, 0xEE);
    const uint32_t words[3] = {7, 999 /* replaced by the length */, 0xFFFFFFFF};
    const size_t size = writePacket(kCarrying, words, payload, out);
    ASSERT_EQ(size, 16 + n);
    EXPECT_EQ(out[size], 0xEE) << "nothing written past the packet";
    const auto view = readPacket(kCarrying, {out.data(), size});
    ASSERT_TRUE(view);
    EXPECT_EQ(view->words[0], 7u);
    EXPECT_EQ(view->words[1], n);
    EXPECT_EQ(view->words[2], 0xFFFFFFFFu);
    EXPECT_EQ(Bytes(view->payload.begin(), view->payload.end()), payload);
  }
  Bytes out(8);
  const uint32_t code[1] = {128};
  ASSERT_EQ(writePacket(kFixed, code, {}, out), 8u);
  EXPECT_EQ(out, bytesOf({fourcc('V', 'S', 'C', 'C'), 128}));
  ASSERT_TRUE(readPacket(kFixed, out));
  EXPECT_EQ(readPacket(kFixed, out)->words[0], 128u);
}

TEST(LocalPacket, HostilePacketsAreRefusedWhole) {
  const uint32_t m = fourcc('V', 'D', 'R', 'Q');
  struct Case {
    const char* what;
    PacketShape shape;
    Bytes packet;
  } cases[] = {
      {"empty", kCarrying, {}},
      {"shorter than the magic", kCarrying, {'V', 'D', 'R'}},
      {"magic only", kCarrying, bytesOf({m})},
      {"one header word short", kCarrying, bytesOf({m, 1, 0})},
      {"another magic", kCarrying, bytesOf({fourcc('V', 'D', 'R', 'P'), 1, 0, 0})},
      {"magic bytes reversed", kCarrying, bytesOf({0x56445251u, 1, 0, 0})},
      {"length over the bound", kCarrying, bytesOf({m, 1, 17, 0}, Bytes(17))},
      {"length near 2^32", kCarrying, bytesOf({m, 1, 0xFFFFFFF0u, 0}, Bytes(16))},
      {"payload cut short", kCarrying, bytesOf({m, 1, 8, 0}, Bytes(7))},
      {"bytes after the payload", kCarrying, bytesOf({m, 1, 2, 0}, Bytes(3))},
      {"fixed packet with bytes after it", kFixed, bytesOf({fourcc('V', 'S', 'C', 'C'), 128, 0})},
      {"fixed packet short", kFixed, bytesOf({fourcc('V', 'S', 'C', 'C')}, {128, 0, 0})},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_FALSE(readPacket(c.shape, c.packet));
  }
  // The largest payload is taken.
  EXPECT_TRUE(readPacket(kCarrying, bytesOf({m, 1, 16, 0}, Bytes(16))));
}

TEST(LocalPacket, TheWriterRefusesWhatTheReaderWouldRefuse) {
  Bytes out(64);
  const uint32_t three[3] = {1, 0, 0}, two[2] = {1, 0};
  EXPECT_EQ(writePacket(kCarrying, two, {}, out), 0u) << "wrong number of words";
  EXPECT_EQ(writePacket(kCarrying, three, Bytes(17), out), 0u) << "payload over the bound";
  EXPECT_EQ(writePacket(kFixed, std::span<const uint32_t>(three, 1), Bytes(1), out), 0u)
      << "payload on a shape without one";
  Bytes small(16 + 3);
  EXPECT_EQ(writePacket(kCarrying, three, Bytes(4), small), 0u) << "no room";
  uint8_t header[16];
  EXPECT_EQ(writePacketHeader(kCarrying, three, 16, header), 16u);
  EXPECT_EQ(writePacketHeader(kCarrying, three, 17, header), 0u);
}

}  // namespace
}  // namespace platform
