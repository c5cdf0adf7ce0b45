#pragma once

#include <cstdint>
#include <functional>

#include "platform/device_io.h"
#include "server/message_scanner.h"
#include "server/shared_frame_block.h"

namespace server {

// The receive ring as the parser and the frame readers see it: its bytes and how far the
// listener has filled it. Every length used here comes from the wire and is bounded by
// what the ring holds before a byte is read.
class RingView {
 public:
  RingView(const uint8_t* bytes, std::function<uint64_t()> written)
      : bytes_(bytes), written_(std::move(written)) {}

  const uint8_t* bytes() const { return bytes_; }
  uint64_t written() const { return written_(); }

  // Writes the payload of sound block `m` to `device` (one request, two when it runs past
  // the ring's end). A block the ring cannot hold whole, or whose first bytes may already
  // be overwritten, is dropped. False when nothing was sent.
  bool forwardAudio(const RingMessage& m, platform::DeviceHandle& device) const;
  // Copies video message `m` (header and payload, at most 2 MiB) into the block's view and
  // pulses its event; a message cut short by the next header, or one the listener may have
  // overwritten, is not published.
  bool publish(const RingMessage& m, SharedFrameBlock& block) const;
  // The payload length of video message `m` when it is whole (not cut short by the next
  // header) and intact with its end-of-image marker in its last 10 bytes (cut to 2 MiB
  // first), else 0. With a destination of at least
  // protocol::kMaxVideoPayload bytes the payload is copied there, JFIF start restored.
  uint32_t copyJpeg(const RingMessage& m, uint8_t* destination) const;
  // Copies up to `max` payload bytes of `m` (never more than the ring holds).
  uint32_t copyPayload(const RingMessage& m, uint8_t* destination, uint32_t max) const;

 private:
  const uint8_t* bytes_;
  std::function<uint64_t()> written_;
};

// The parser's work on each arrival of data, apart from threads and sockets so that the
// fuzzer drives the same code: passes over the new bytes until it has caught up with the
// listener (a burst of sound blocks or property lists never leaves it behind), forwarding
// each completed sound block and handing each pass's result over.
//
// Threading: the parser thread only.
class ReceiveParser {
 public:
  class Sink {
   public:
    virtual ~Sink() = default;
    // The open sound device, or null (sound is then dropped).
    virtual platform::DeviceHandle* audioDevice() = 0;
    // After each pass that completed a message: `latest` is the last one completed,
    // `newVideo` the newest frame completed in the pass, or null.
    virtual void handOver(const RingMessage& latest, const RingMessage* newVideo) = 0;
  };

  explicit ReceiveParser(RingView ring) : ring_(std::move(ring)) {}

  // Runs passes until the scanner has caught up with the bytes written so far, or `stop`
  // returns true. True when any message completed.
  bool drain(Sink& sink, const std::function<bool()>& stop = {});

  const RingView& ring() const { return ring_; }
  const MessageScanner& scanner() const { return scanner_; }

 private:
  RingView ring_;
  MessageScanner scanner_;
};

}  // namespace server
