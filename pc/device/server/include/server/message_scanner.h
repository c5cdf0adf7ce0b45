#pragma once

#include <cstdint>

#include "protocol/stream_header.h"

namespace server {

// A message found in the ring: absolute start position, the length it is taken to have
// (declared, at least 32, cut short when the next header came earlier) and its header.
struct RingMessage {
  uint64_t start = 0;
  uint32_t length = 0;  // 0 = none
  protocol::StreamHeader header;

  bool present() const { return length != 0; }
  // Cut short by the next header: fewer bytes than its header declares belong to it. Its
  // header's length word no longer tells where it ends, so it is never a frame to show.
  bool cut() const { return length < header.effectiveLength(); }
  // The type word of a message with payload; header-only messages have no type.
  bool hasType(uint32_t type) const { return header.hasPayload() && header.messageType() == type; }
  bool isAudio() const {
    return hasType(protocol::MSG_AUDIO) || hasType(protocol::MSG_AUDIO_ALT);
  }
};

// Finds the messages in the received bytes, one pass per arrival of data. Each message
// is recognised by its magic pair; anything else is skipped byte by byte, payload bytes
// included. A message is complete when the next header is seen (it is cut to end there)
// or, when nothing else completed in the pass, when all its declared bytes are present
// and no magic pair (nor, at the end of what has arrived, the beginning of one) starts
// among them after the scan position: the next header may have begun to arrive inside
// the declared length of a message that was cut, and then that header decides where the
// message ends, once it is whole.
// Property lists and audio blocks end the pass at the header that completes them, so each
// is handed over in a pass of its own; of several video frames or reports that complete
// in one pass only the last is handed over. The newest video frame is kept apart from
// the other messages: a sound block or report completing after a frame does not take its
// place, and of several frames completing in one pass only the newest is kept.
//
// Threading: used by the parser thread only.
class MessageScanner {
 public:
  // Scans the bytes up to absolute position `written`. True when a message completed;
  // it is then latest(), and newVideo() tells whether a frame completed in this pass.
  bool scan(const uint8_t* ring, uint64_t written);
  // True when the last pass ended early at a property list or sound block and may have
  // left whole messages behind it: another pass should follow without waiting for data.
  bool stoppedEarly() const { return stoppedEarly_; }

  const RingMessage& latest() const { return latest_; }
  // The newest video frame completed so far, and whether the last pass completed one.
  const RingMessage& latestVideo() const { return latestVideo_; }
  bool newVideo() const { return newVideo_; }
  const RingMessage& pending() const { return pending_; }
  uint64_t position() const { return position_; }

 private:
  void complete(const RingMessage& m);

  uint64_t position_ = 0;
  RingMessage pending_;
  RingMessage latest_;
  RingMessage latestVideo_;
  bool newVideo_ = false;
  bool stoppedEarly_ = false;
};

}  // namespace server
