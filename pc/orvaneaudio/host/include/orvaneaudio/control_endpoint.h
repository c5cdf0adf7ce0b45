#pragma once

// The serving side of a control device (see platform/device_io.h for how feeders reach
// it): a local seqpacket endpoint, one request per packet, one answer per request.
//
// Every request is passed to the handler with its code and input bytes; the handler's
// status goes back with no output bytes. A packet that is not a well-formed request (too
// short, wrong magic, or a length that does not match the bytes carried) is answered with
// kStatusInvalidParameter without reaching the handler. Clients are served in turn, one
// request each per round, so a client that floods the endpoint or stops reading its
// answers only slows itself down.
//
// Threading: the endpoint runs its own thread; the handler is called on it.

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace orvaneaudio {

class ControlEndpoint {
 public:
  using Handler = std::function<uint32_t(uint32_t code, const uint8_t* in, uint32_t length)>;

  // Serves `devicePath` ("\\.\Name"). Null, with a reason in `*error`, when the path is
  // not a device path or the device is already served.
  static std::unique_ptr<ControlEndpoint> start(std::string_view devicePath, Handler handler,
                                                std::string* error);

  virtual ~ControlEndpoint() = default;
  // Connected clients, for tests and status output.
  virtual size_t clientCount() const = 0;
};

// One request packet as received (`size` bytes, possibly cut to the receive buffer):
// its code and input, or none when it is not a well-formed request. `input` points into
// `packet`.
struct ControlRequest {
  uint32_t code;
  const uint8_t* input;
  uint32_t length;
};
std::optional<ControlRequest> parseControlRequest(const uint8_t* packet, size_t size);

// The handler of the microphone's control device: IOCTL_AUDIO_FEED_WRITE writes its bytes
// into the ring (an empty feed writes nothing) and succeeds; other codes fail.
class FeedRing;
ControlEndpoint::Handler feedHandler(FeedRing& ring);

}  // namespace orvaneaudio
