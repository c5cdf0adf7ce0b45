#include "test_stream.h"

#include <chrono>
#include <cstring>

#include "platform/byte_order.h"
#include "wait_until.h"

namespace server::testing {

Bytes header(uint32_t length, uint32_t code, uint32_t argument) {
  protocol::StreamHeader h;
  h.length = length;
  h.setReport(code, argument);
  Bytes b(protocol::kHeaderSize);
  protocol::encodeHeader(h, b.data());
  return b;
}

Bytes message(uint32_t type, const Bytes& payload, uint32_t timestampMs) {
  protocol::StreamHeader h;
  h.length = static_cast<uint32_t>(protocol::kHeaderSize + payload.size());
  h.setMessage(type, timestampMs);
  Bytes b(protocol::kHeaderSize);
  protocol::encodeHeader(h, b.data());
  b.insert(b.end(), payload.begin(), payload.end());
  return b;
}

Bytes jpegPayload(size_t size, uint8_t fill, size_t tailAfterMarker) {
  Bytes p(size, fill == 0xCF ? 0xCE : fill);
  for (size_t i = 0; i < 10 && i < size; ++i) p[i] = 0;
  const size_t marker = size - 2 - tailAfterMarker;
  p[marker] = 0xFF;
  p[marker + 1] = 0xD9;
  return p;
}

Bytes videoMessage(size_t payloadSize, uint8_t fill) {
  return message(protocol::MSG_VIDEO_JPEG, jpegPayload(payloadSize, fill));
}

Bytes reportMessage(uint32_t key, uint32_t index) { return header(0, key, index); }

Bytes concat(std::initializer_list<Bytes> parts) {
  Bytes all;
  for (const Bytes& p : parts) all.insert(all.end(), p.begin(), p.end());
  return all;
}

uint16_t freePort() {
  platform::TcpSocket s = platform::TcpSocket::listen("127.0.0.1", 0, 0);
  return s.localPort();
}

bool Phone::connect(uint16_t port, uint32_t timeoutMs) {
  socket_ = platform::TcpSocket::connect("127.0.0.1", port, timeoutMs);
  if (!socket_.valid()) return false;
  socket_.setNoDelay(true);
  uint8_t greeting[4];
  size_t got = 0;
  while (got < 4 && socket_.waitReadable(2048) == platform::TcpSocket::kReady) {
    const long n = socket_.receive(greeting + got, 4 - got);
    if (n <= 0) break;
    got += static_cast<size_t>(n);
  }
  if (got != 4 || std::memcmp(greeting, protocol::kGreeting, 4) != 0) {
    socket_.close();
    return false;
  }
  return true;
}

bool Phone::connectWhenListening(uint16_t port) {
  return platform::testing::waitUntil([&] { return connect(port); });
}

bool Phone::send(const Bytes& bytes) { return socket_.sendAll(bytes.data(), bytes.size(), 10000); }

bool Phone::readCommand(protocol::StreamHeader& out, uint32_t timeoutMs) {
  uint8_t buf[protocol::kHeaderSize];
  size_t got = 0;
  while (got < sizeof buf) {
    if (socket_.waitReadable(timeoutMs) != platform::TcpSocket::kReady) return false;
    const long n = socket_.receive(buf + got, sizeof buf - got);
    if (n <= 0) return false;
    got += static_cast<size_t>(n);
  }
  out = protocol::decodeHeader(buf);
  return true;
}

bool Phone::closedByPeer(uint32_t timeoutMs) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  uint8_t buf[256];
  while (std::chrono::steady_clock::now() < deadline) {
    if (socket_.waitReadable(50) != platform::TcpSocket::kReady) continue;
    const long n = socket_.receive(buf, sizeof buf);
    if (n <= 0) return true;
  }
  return false;
}

}  // namespace server::testing
