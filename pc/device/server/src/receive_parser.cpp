#include "server/receive_parser.h"

#include <cstring>

#include "orvaneaudio/feed_control.h"
#include "protocol/stream_header.h"
#include "server/ring.h"

namespace server {
namespace {

// The payload of `m` as (start, length); length 0 for a header-only message.
uint64_t payloadStart(const RingMessage& m) { return m.start + protocol::kHeaderSize; }
uint32_t payloadLength(const RingMessage& m) {
  return m.length > protocol::kHeaderSize ? m.length - static_cast<uint32_t>(protocol::kHeaderSize)
                                          : 0;
}

}  // namespace

bool RingView::forwardAudio(const RingMessage& m, platform::DeviceHandle& device) const {
  const uint64_t start = payloadStart(m);
  const uint32_t n = payloadLength(m);
  if (n == 0 || n > kRingSize || !ringBytesIntact(start, n, written())) return false;
  const uint32_t at = static_cast<uint32_t>(start & kRingMask);
  const uint32_t first = n < kRingSize - at ? n : kRingSize - at;
  // The result is of no consequence: a microphone nobody records drops the sound.
  const RacingRingRead racing;  // the device reads the sound straight out of the ring
  device.control(orvaneaudio::IOCTL_AUDIO_FEED_WRITE, bytes_ + at, first, nullptr, 0, nullptr);
  if (first < n) {
    device.control(orvaneaudio::IOCTL_AUDIO_FEED_WRITE, bytes_, n - first, nullptr, 0, nullptr);
  }
  return true;
}

bool RingView::publish(const RingMessage& m, SharedFrameBlock& block) const {
  // A cut message is not published: its header, which readers of the block go by, declares
  // more bytes than belong to it.
  if (!m.hasType(protocol::MSG_VIDEO_JPEG) || m.cut() || m.length > protocol::kMaxVideoPayload) {
    return false;
  }
  if (!ringBytesIntact(m.start, m.length, written())) return false;
  size_t viewSize = 0;
  uint8_t* view = block.lockView(viewSize);
  if (view == nullptr) return false;
  const bool fits = m.length <= viewSize;
  if (fits) copyFromRing(bytes_, m.start, m.length, view);
  block.unlockAndPulse();
  return fits;
}

uint32_t RingView::copyJpeg(const RingMessage& m, uint8_t* destination) const {
  if (!m.hasType(protocol::MSG_VIDEO_JPEG) || m.cut()) return 0;
  uint32_t n = payloadLength(m);
  if (n > protocol::kMaxVideoPayload) n = protocol::kMaxVideoPayload;
  if (n < 10) return 0;  // too short to hold a marker in its last 10 bytes
  const uint64_t payload = payloadStart(m);
  if (destination == nullptr) {
    uint8_t tail[10];
    copyFromRing(bytes_, payload + n - 10, 10, tail);
    return protocol::endOfImageInTail(tail) && ringBytesIntact(payload, n, written()) ? n : 0;
  }
  copyFromRing(bytes_, payload, n, destination);
  // Refuse a frame the listener may have overwritten while it was copied; the marker is
  // looked for in the copy, which nothing changes any more.
  if (!ringBytesIntact(payload, n, written())) return 0;
  if (!protocol::endOfImageInTail(destination + n - 10)) return 0;
  std::memcpy(destination, protocol::kJfifPrefix, sizeof protocol::kJfifPrefix);
  return n;
}

uint32_t RingView::copyPayload(const RingMessage& m, uint8_t* destination, uint32_t max) const {
  uint32_t n = payloadLength(m);
  if (n > max) n = max;
  if (n > kRingSize) n = kRingSize;
  copyFromRing(bytes_, payloadStart(m), n, destination);
  return n;
}

bool ReceiveParser::drain(Sink& sink, const std::function<bool()>& stop) {
  bool any = false;
  do {
    if (!scanner_.scan(ring_.bytes(), ring_.written())) break;
    any = true;
    const RingMessage& latest = scanner_.latest();
    if (latest.isAudio()) {
      if (platform::DeviceHandle* device = sink.audioDevice()) ring_.forwardAudio(latest, *device);
    }
    sink.handOver(latest, scanner_.newVideo() ? &scanner_.latestVideo() : nullptr);
  } while (scanner_.stoppedEarly() && !(stop && stop()));
  return any;
}

}  // namespace server
