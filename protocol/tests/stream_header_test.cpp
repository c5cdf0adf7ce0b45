#include <gtest/gtest.h>

#include <cstring>

#include "platform/byte_order.h"
#include "protocol/stream_header.h"

namespace protocol {

using platform::load32;

namespace {

TEST(StreamHeader, EncodesFieldsLittleEndianAtTheirOffsets) {
  StreamHeader h;
  h.length = 0x01020304;
  h.word3 = 0x11223344;
  h.word4 = MSG_VIDEO_JPEG;
  h.word5a = 0xA1A2;
  h.word5b = 0xB1B2;
  h.word6 = 0xC1C2C3C4;
  uint8_t b[32];
  encodeHeader(h, b);
  const uint8_t expected[32] = {0xCF, 0x47, 0x09, 0x7E, 0x13, 0x8D, 0x5E, 0xF3, 0x04, 0x03, 0x02,
                                0x01, 0x44, 0x33, 0x22, 0x11, 0x01, 0x00, 0x00, 0x00, 0xA2, 0xA1,
                                0xB2, 0xB1, 0xC4, 0xC3, 0xC2, 0xC1, 0x00, 0x00, 0x00, 0x00};
  EXPECT_EQ(std::memcmp(b, expected, 32), 0);
  EXPECT_TRUE(isMagicAt(b));
  const StreamHeader back = decodeHeader(b);
  EXPECT_EQ(back.length, h.length);
  EXPECT_EQ(back.word3, h.word3);
  EXPECT_EQ(back.word5a, h.word5a);
  EXPECT_EQ(back.word5b, h.word5b);
  EXPECT_EQ(back.word6, h.word6);
  b[7] ^= 1;
  EXPECT_FALSE(isMagicAt(b));
}

TEST(StreamHeader, ShortLengthsCountAsHeaderOnly) {
  StreamHeader h;
  for (uint32_t len : {0u, 1u, 31u, 32u}) {
    h.length = len;
    EXPECT_EQ(h.effectiveLength(), 32u);
    EXPECT_FALSE(h.hasPayload());
  }
  h.length = 33;
  EXPECT_TRUE(h.hasPayload());
}

TEST(StreamHeader, CommandsAndTapArgument) {
  const StreamHeader tap = makeCommand(CMD_TAP, tapArgument(0x1234, 0xABCD));
  uint8_t b[32];
  encodeHeader(tap, b);
  EXPECT_EQ(load32(b + 8), 0u);
  EXPECT_EQ(load32(b + 12), CMD_TAP);
  EXPECT_EQ(load32(b + 16), 0xABCD1234u);
  for (int i = 20; i < 32; ++i) EXPECT_EQ(b[i], 0) << i;
}

// The named fields of each message kind sit at bytes 12 (word 3) and 16 (word 4) of the
// wire header; a mix-up would swap timestamp and type, or key and index, on the wire.
TEST(StreamHeader, NamedFieldsOfEachMessageKindSitAtTheirWireOffsets) {
  StreamHeader message;
  message.length = 32 + 100;
  message.setMessage(MSG_AUDIO, 0x0A0B0C0D);
  StreamHeader report;
  report.setReport(0x7000, 5);
  const StreamHeader command = makeCommand(CMD_KEY, 0x26);
  struct Case {
    const char* kind;
    const StreamHeader& header;
    uint32_t at12, at16, payload;
  } cases[] = {
      {"message", message, 0x0A0B0C0D, MSG_AUDIO, 100},
      {"report", report, 0x7000, 5, 0},
      {"command", command, CMD_KEY, 0x26, 0},
  };
  for (const Case& c : cases) {
    uint8_t b[32];
    encodeHeader(c.header, b);
    EXPECT_EQ(load32(b + 12), c.at12) << c.kind;
    EXPECT_EQ(load32(b + 16), c.at16) << c.kind;
    const StreamHeader back = decodeHeader(b);
    EXPECT_EQ(back.payloadLength(), c.payload) << c.kind;
    EXPECT_EQ(back.timestampMs(), c.at12) << c.kind;
    EXPECT_EQ(back.messageType(), c.at16) << c.kind;
    EXPECT_EQ(back.commandCode(), c.at12) << c.kind;
    EXPECT_EQ(back.commandArgument(), c.at16) << c.kind;
    EXPECT_EQ(back.reportKey(), c.at12) << c.kind;
    EXPECT_EQ(back.reportIndex(), c.at16) << c.kind;
  }
}

TEST(StreamHeader, EndOfImageMustStartInTheLastTenBytes) {
  struct Case {
    int markerAt;  // position of FF in the 10-byte tail, -1 = none
    bool accepted;
  };
  for (const Case c : {Case{0, true}, Case{8, true}, Case{4, true}, Case{9, false},
                       Case{-1, false}}) {
    uint8_t tail[10] = {};
    if (c.markerAt >= 0) {
      tail[c.markerAt] = 0xFF;
      if (c.markerAt + 1 < 10) tail[c.markerAt + 1] = 0xD9;
    }
    EXPECT_EQ(endOfImageInTail(tail), c.accepted) << c.markerAt;
  }
}

}  // namespace
}  // namespace protocol
