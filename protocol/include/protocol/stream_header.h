#pragma once

#include <cstddef>
#include <cstdint>

namespace protocol {

// Every message of the phone link, in both directions, starts with this 32-byte header
// (eight little-endian 32-bit words; word 5 is two 16-bit halves). A message with a
// payload has length = 32 + payload bytes; a header-only message has length 0.
inline constexpr uint32_t STREAM_MAGIC_0 = 0x7E0947CFu;
inline constexpr uint32_t STREAM_MAGIC_1 = 0xF35E8D13u;

// Message types (word4 of a message with payload).
inline constexpr uint32_t MSG_PROPERTY_LIST = 0;
inline constexpr uint32_t MSG_VIDEO_JPEG = 1;
inline constexpr uint32_t MSG_AUDIO = 2;
inline constexpr uint32_t MSG_AUDIO_ALT = 3;  // accepted and treated exactly like MSG_AUDIO

// PC-to-phone commands (word3 of a header-only message). Any other code is a property
// key: a set-property command whose word4 is the chosen value index.
inline constexpr uint32_t CMD_TAP = 1;
inline constexpr uint32_t CMD_KEY = 2;

inline constexpr size_t kHeaderSize = 32;
inline constexpr size_t kMaxVideoPayload = 2097152;         // longer frames are cut to this
inline constexpr size_t kMaxPropertyListPayload = 16384;    // the PC uses at most this much
inline constexpr uint32_t kMaxPropertyEntrySize = 8192;

// Sent once by the PC after accepting the phone.
inline constexpr uint8_t kGreeting[4] = {'h', 'i', 'g', 'h'};
// Sent by the phone outside any message when it had nothing to send for a while.
inline constexpr uint8_t kKeepAlive[4] = {0, 0, 0, 0};

// The phone zeroes the first 10 bytes of a JPEG payload; the PC writes these back before
// the payload is used as an image: start of image, APP0, segment length 16, "JFIF".
inline constexpr uint8_t kJfifPrefix[10] = {0xFF, 0xD8, 0xFF, 0xE0, 0x00,
                                            0x10, 0x4A, 0x46, 0x49, 0x46};

struct StreamHeader {
  uint32_t magic0 = STREAM_MAGIC_0;
  uint32_t magic1 = STREAM_MAGIC_1;
  uint32_t length = 0;
  uint32_t word3 = 0;
  uint32_t word4 = 0;
  uint16_t word5a = 0;
  uint16_t word5b = 0;
  uint32_t word6 = 0;
  uint32_t reserved = 0;

  // What words 3 and 4 carry for each kind of message; code outside this module uses
  // these names, not the words.
  //  - a message with payload: word 3 the sender's timestamp in milliseconds, word 4 the
  //    message type (MSG_*);
  //  - a PC command (header only): word 3 the command code (CMD_* or a property key),
  //    word 4 its argument (tap position, key code, value index);
  //  - a value report of the phone (header only): word 3 the property key, word 4 the
  //    index of the value now chosen.
  uint32_t messageType() const { return word4; }
  uint32_t timestampMs() const { return word3; }
  void setMessage(uint32_t type, uint32_t timestamp) {
    word4 = type;
    word3 = timestamp;
  }
  uint32_t commandCode() const { return word3; }
  uint32_t commandArgument() const { return word4; }
  uint32_t reportKey() const { return word3; }
  uint32_t reportIndex() const { return word4; }
  void setReport(uint32_t key, uint32_t index) {
    word3 = key;
    word4 = index;
  }
  // The payload bytes a message declares (0 for a header-only message).
  uint32_t payloadLength() const {
    return hasPayload() ? length - static_cast<uint32_t>(kHeaderSize) : 0;
  }

  // The length the receiver works with: a declared length below 32 counts as 32.
  uint32_t effectiveLength() const { return length < kHeaderSize ? kHeaderSize : length; }
  bool hasPayload() const { return length > kHeaderSize; }
};

void encodeHeader(const StreamHeader& header, uint8_t out[kHeaderSize]);
StreamHeader decodeHeader(const uint8_t in[kHeaderSize]);

// True when the 8 bytes at `p` are magic0 followed by magic1.
bool isMagicAt(const uint8_t* p);

// A PC command: header-only, words 0-4 set, words 5-7 zero.
StreamHeader makeCommand(uint32_t code, uint32_t argument);

// The argument of a tap: y in the upper 16 bits, x in the lower, each 0..65535 across the
// phone's picture.
inline uint32_t tapArgument(uint16_t x, uint16_t y) {
  return (static_cast<uint32_t>(y) << 16) | x;
}

// True when FF D9 (end of image) starts at one of the first 9 of the 10 bytes at `tail`,
// that is within the last 10 bytes of a payload.
bool endOfImageInTail(const uint8_t tail[10]);

}  // namespace protocol
