#pragma once

// Builders for phone-side byte streams and a loopback phone used by the frame server's
// tests and the fuzzer.

#include <cstdint>
#include <string>
#include <vector>

#include "platform/socket.h"
#include "protocol/stream_header.h"

namespace server::testing {

using Bytes = std::vector<uint8_t>;

// A header (and payload) exactly as the phone sends it.
Bytes message(uint32_t type, const Bytes& payload, uint32_t timestampMs = 0);
Bytes header(uint32_t length, uint32_t code, uint32_t argument);
// A JPEG-like payload of `size` bytes as the phone sends it: first 10 bytes zero, filler
// that never contains the magic's first byte, and FF D9 starting `tailAfterMarker` + 2
// bytes before the end.
Bytes jpegPayload(size_t size, uint8_t fill, size_t tailAfterMarker = 0);
Bytes videoMessage(size_t payloadSize, uint8_t fill);
Bytes reportMessage(uint32_t key, uint32_t index);
Bytes concat(std::initializer_list<Bytes> parts);

// A free TCP port on 127.0.0.1 at the moment of the call.
uint16_t freePort();

// The phone end of a loopback connection.
class Phone {
 public:
  // Connects and reads the greeting; valid() tells whether both worked.
  bool connect(uint16_t port, uint32_t timeoutMs = 4096);
  // Connects as soon as the PC listens on `port` (it may be starting), within a generous limit.
  bool connectWhenListening(uint16_t port);
  bool valid() const { return socket_.valid(); }
  bool send(const Bytes& bytes);
  // Reads one 32-byte command within `timeoutMs`; false on time-out or close.
  bool readCommand(protocol::StreamHeader& out, uint32_t timeoutMs);
  // True when the PC closed the connection within `timeoutMs`.
  bool closedByPeer(uint32_t timeoutMs);
  void close() { socket_.close(); }

 private:
  platform::TcpSocket socket_;
};

}  // namespace server::testing
