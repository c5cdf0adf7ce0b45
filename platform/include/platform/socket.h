#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace platform {

// True when `text` is an address TcpSocket::listen accepts (numeric IPv4 or IPv6).
bool isListenAddress(const std::string& text);

// A TCP socket (BSD sockets underneath), owned and closed by this object.
// Waits return kReady, kTimeout or kError.
//
// Threading: one thread at a time per socket.
class TcpSocket {
 public:
  enum WaitResult { kError = -1, kTimeout = 0, kReady = 1 };

  TcpSocket() = default;
  ~TcpSocket() { close(); }
  TcpSocket(TcpSocket&& other) noexcept : fd_(other.fd_) { other.fd_ = -1; }
  TcpSocket& operator=(TcpSocket&& other) noexcept;
  TcpSocket(const TcpSocket&) = delete;
  TcpSocket& operator=(const TcpSocket&) = delete;

  bool valid() const { return fd_ >= 0; }
  void close();

  // A listening socket on `bindAddress` (a numeric IPv4 or IPv6 address: "0.0.0.0" for
  // every IPv4 address, "::" for every address of both families, "127.0.0.1" or "::1"
  // for this machine only, an IPv6 link-local address with its "%interface") and `port`
  // (0 lets the system choose) with the given backlog. Address reuse is on, so that a
  // port freed by a closed connection can be listened on again at once. Invalid on
  // failure; no name is ever looked up.
  static TcpSocket listen(const std::string& bindAddress, uint16_t port, int backlog);

  // Waits up to `timeoutMs` for a pending connection on a listening socket.
  WaitResult waitAcceptable(uint32_t timeoutMs) { return waitReadable(timeoutMs); }
  // Accepts one pending connection; invalid on failure.
  TcpSocket accept();

  // Connects to `host` (a name or numeric address) without blocking, waiting at most
  // `timeoutMs` for the connection to complete. Invalid on failure or time-out.
  static TcpSocket connect(const std::string& host, uint16_t port, uint32_t timeoutMs);

  WaitResult waitReadable(uint32_t timeoutMs);
  WaitResult waitWritable(uint32_t timeoutMs);

  // One receive of at most `size` bytes: the count received, 0 at end of stream, -1 on
  // error. Does not block when waitReadable() said kReady.
  long receive(void* buffer, size_t size);
  // One send: the count sent (possibly short), -1 on error.
  long send(const void* data, size_t size);
  // Sends everything, waiting for the socket as needed but no longer than `timeoutMs`
  // in all. True when every byte went out.
  bool sendAll(const void* data, size_t size, uint32_t timeoutMs);
  // Waits up to `timeoutMs` until the socket takes data, then sends what it takes without
  // blocking: the count sent, 0 when it took nothing in time, -1 on error.
  long sendSome(const void* data, size_t size, uint32_t timeoutMs);

  bool setNoDelay(bool on);
  // Bytes handed to the socket that the peer has not yet acknowledged (still queued
  // here or on their way); -1 when unknown. 0 means everything sent has arrived.
  long unsentBytes() const;
  // The bound local port, 0 when unknown.
  uint16_t localPort() const;
  // The local address of a connected socket in numeric form ("" when unknown).
  std::string localAddress() const;
  // The address of the other end of a connected socket in numeric form ("" when unknown).
  std::string peerAddress() const;

 private:
  explicit TcpSocket(int fd) : fd_(fd) {}
  int fd_ = -1;
};

// The first IPv4 address (network order) the resolver gives for `name` (a host name or a
// numeric address); 0 when it cannot be looked up.
uint32_t lookupIpv4(const std::string& name);

// The IPv4 addresses (network order) that a lookup of this machine's own host name gives,
// in the resolver's order; empty when the name cannot be looked up.
std::vector<uint32_t> hostAddresses();

}  // namespace platform
