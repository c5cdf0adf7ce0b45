#pragma once

// The serving side of a control device (platform/device_io.h tells how clients reach it):
// one request per packet, one answer per request.
//
// Every well-formed request is passed to the handler with its code and input bytes; the
// handler's status goes back, with no output bytes (start) or with the bytes an answering
// handler gives, cut to the room the request offered (startAnswering). A packet that is not a well-formed
// request (too short, wrong magic, or a length that does not match the bytes carried) is
// answered with kDeviceInvalidRequest without reaching the handler. Only peers that pass
// the local peer rule (platform/local_peer.h) are served. Clients are served in turn, one
// request each per round, so a client that floods the server or stops reading its
// answers only slows itself down.
//
// Threading: the server runs its own thread; the handler is called on it.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

// The status of a request that is not well formed ("invalid parameter").
inline constexpr uint32_t kDeviceInvalidRequest = 0xC000000Du;

class DeviceServer {
 public:
  using Handler = std::function<uint32_t(uint32_t code, const uint8_t* in, uint32_t length)>;

  // Serves `devicePath` ("\\.\Name"). Null, with a reason in `*error`, when the path is
  // not a device path or the device is already served.
  static std::unique_ptr<DeviceServer> start(std::string_view devicePath, Handler handler,
                                             std::string* error);

  // `answer` is empty on the call; at most `outputCapacity` bytes of what the handler puts
  // there go back (never more than kDeviceMaxPayload).
  using AnsweringHandler = std::function<uint32_t(uint32_t code, const uint8_t* in, uint32_t length,
                                                  uint32_t outputCapacity, std::vector<uint8_t>& answer)>;
  static std::unique_ptr<DeviceServer> startAnswering(std::string_view devicePath,
                                                      AnsweringHandler handler, std::string* error);

  virtual ~DeviceServer() = default;
  // Connected clients, for tests and status output.
  virtual size_t clientCount() const = 0;
};

// One request packet as received (`size` bytes, possibly cut to the receive buffer):
// its code and input, or none when it is not a well-formed request. `input` points into
// `packet`.
struct DeviceRequest {
  uint32_t code;
  const uint8_t* input;
  uint32_t length;
  uint32_t outputCapacity = 0;  // the room the client has for the answer
};
std::optional<DeviceRequest> parseDeviceRequest(const uint8_t* packet, size_t size);

}  // namespace platform
