// Untrusted bytes at the microphone's two parsers: a control request packet as the
// endpoint receives it (then fed to a ring, as the endpoint would), and a data-format
// block as a stream is created with.
#include <cstddef>
#include <cstdint>

#include "orvaneaudio/control_endpoint.h"
#include "orvaneaudio/feed_ring.h"
#include "orvaneaudio/stream_format.h"

namespace {
struct StillHost : orvaneaudio::FeedRingHost {
  uint64_t interruptTime() override { return 1; }
  void armPacingTimer() override {}
  void cancelPacingTimer() override {}
};
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace orvaneaudio;
  static StillHost host;
  static FeedRing ring(host, [] {});
  static const auto handler = feedHandler(ring);
  if (const auto request = parseDeviceRequest(data, size)) {
    if (request->input + request->length > data + size) __builtin_trap();
    handler(request->code, request->input, request->length);
  }
  FeedStream stream;
  if (validateDataFormat({data, size}) == 0) {
    if (initStream(ring, stream, {data, size}) != 0) __builtin_trap();
    uint32_t framing = 0;
    setNotificationFreq(ring, stream, 10, &framing);
    normalizePhysicalPosition(ring, stream, static_cast<int64_t>(size));
  }
  return 0;
}
