#include "platform/socket.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <linux/sockios.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>

namespace platform {
namespace {

TcpSocket::WaitResult pollFor(int fd, short events, uint32_t timeoutMs) {
  if (fd < 0) return TcpSocket::kError;
  pollfd p{fd, events, 0};
  const int timeout = timeoutMs > 0x7FFFFFFFu ? -1 : static_cast<int>(timeoutMs);
  for (;;) {
    const int r = ::poll(&p, 1, timeout);
    if (r < 0 && errno == EINTR) continue;
    if (r < 0) return TcpSocket::kError;
    if (r == 0) return TcpSocket::kTimeout;
    // A hang-up with data still to read is reported as readable: the next receive tells.
    if (p.revents & events) return TcpSocket::kReady;
    if (p.revents & (POLLERR | POLLHUP | POLLNVAL)) {
      return (events & POLLIN) && (p.revents & POLLHUP) ? TcpSocket::kReady : TcpSocket::kError;
    }
    return TcpSocket::kError;
  }
}

uint32_t msSince(std::chrono::steady_clock::time_point start) {
  return static_cast<uint32_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                   std::chrono::steady_clock::now() - start)
                                   .count());
}

}  // namespace

TcpSocket& TcpSocket::operator=(TcpSocket&& other) noexcept {
  if (this != &other) {
    close();
    fd_ = other.fd_;
    other.fd_ = -1;
  }
  return *this;
}

void TcpSocket::close() {
  if (fd_ >= 0) {
    ::close(fd_);
    fd_ = -1;
  }
}

namespace {

// The numeric address `text` (IPv4, or IPv6 with an optional "%interface" scope) with
// `port`, resolved without any name lookup; null when it is no such address.
addrinfo* numericAddress(const std::string& text, uint16_t port) {
  if (text.empty()) return nullptr;
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = AI_NUMERICHOST | AI_NUMERICSERV | AI_PASSIVE;
  addrinfo* found = nullptr;
  if (::getaddrinfo(text.c_str(), std::to_string(port).c_str(), &hints, &found) != 0) return nullptr;
  return found;
}

}  // namespace

bool isListenAddress(const std::string& text) {
  addrinfo* found = numericAddress(text, 0);
  if (found == nullptr) return false;
  ::freeaddrinfo(found);
  return true;
}

TcpSocket TcpSocket::listen(const std::string& bindAddress, uint16_t port, int backlog) {
  addrinfo* found = numericAddress(bindAddress, port);
  if (found == nullptr) return TcpSocket();
  TcpSocket s(::socket(found->ai_family, SOCK_STREAM | SOCK_CLOEXEC, 0));
  bool ok = s.valid();
  if (ok) {
    const int one = 1;
    ::setsockopt(s.fd_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    if (found->ai_family == AF_INET6) {
      // "::" means every address, IPv4 ones included; a specific IPv6 address only itself.
      const int v6only = 0;
      ::setsockopt(s.fd_, IPPROTO_IPV6, IPV6_V6ONLY, &v6only, sizeof v6only);
    }
    ok = ::bind(s.fd_, found->ai_addr, found->ai_addrlen) == 0 && ::listen(s.fd_, backlog) == 0;
  }
  ::freeaddrinfo(found);
  return ok ? std::move(s) : TcpSocket();
}

TcpSocket TcpSocket::accept() {
  if (fd_ < 0) return TcpSocket();
  for (;;) {
    const int fd = ::accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0 && errno == EINTR) continue;
    return TcpSocket(fd);
  }
}

TcpSocket TcpSocket::connect(const std::string& host, uint16_t port, uint32_t timeoutMs) {
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  const std::string service = std::to_string(port);
  if (::getaddrinfo(host.c_str(), service.c_str(), &hints, &found) != 0) return TcpSocket();
  const auto start = std::chrono::steady_clock::now();
  TcpSocket result;
  for (addrinfo* ai = found; ai != nullptr && !result.valid(); ai = ai->ai_next) {
    const uint32_t spent = msSince(start);
    if (spent >= timeoutMs) break;
    TcpSocket s(::socket(ai->ai_family, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
    if (!s.valid()) continue;
    if (::connect(s.fd_, ai->ai_addr, ai->ai_addrlen) != 0) {
      if (errno != EINPROGRESS) continue;
      if (pollFor(s.fd_, POLLOUT, timeoutMs - spent) != kReady) continue;
      int error = 0;
      socklen_t len = sizeof error;
      if (::getsockopt(s.fd_, SOL_SOCKET, SO_ERROR, &error, &len) != 0 || error != 0) continue;
    }
    const int flags = ::fcntl(s.fd_, F_GETFL);
    ::fcntl(s.fd_, F_SETFL, flags & ~O_NONBLOCK);
    result = std::move(s);
  }
  ::freeaddrinfo(found);
  return result;
}

TcpSocket::WaitResult TcpSocket::waitReadable(uint32_t timeoutMs) {
  return pollFor(fd_, POLLIN, timeoutMs);
}

TcpSocket::WaitResult TcpSocket::waitWritable(uint32_t timeoutMs) {
  return pollFor(fd_, POLLOUT, timeoutMs);
}

long TcpSocket::receive(void* buffer, size_t size) {
  if (fd_ < 0) return -1;
  for (;;) {
    const ssize_t n = ::recv(fd_, buffer, size, MSG_DONTWAIT);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return -1;
    return static_cast<long>(n);
  }
}

long TcpSocket::send(const void* data, size_t size) {
  if (fd_ < 0) return -1;
  for (;;) {
    const ssize_t n = ::send(fd_, data, size, MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;
    return static_cast<long>(n);
  }
}

bool TcpSocket::sendAll(const void* data, size_t size, uint32_t timeoutMs) {
  const auto* p = static_cast<const uint8_t*>(data);
  const auto start = std::chrono::steady_clock::now();
  while (size > 0) {
    const uint32_t spent = msSince(start);
    if (spent > timeoutMs) return false;
    if (waitWritable(timeoutMs - spent) != kReady) return false;
    const ssize_t n = ::send(fd_, p, size, MSG_NOSIGNAL | MSG_DONTWAIT);
    if (n < 0) {
      if (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK) continue;
      return false;
    }
    p += n;
    size -= static_cast<size_t>(n);
  }
  return true;
}

bool TcpSocket::setNoDelay(bool on) {
  const int value = on ? 1 : 0;
  return fd_ >= 0 && ::setsockopt(fd_, IPPROTO_TCP, TCP_NODELAY, &value, sizeof value) == 0;
}

uint16_t TcpSocket::localPort() const {
  sockaddr_storage addr{};
  socklen_t len = sizeof addr;
  if (fd_ < 0 || ::getsockname(fd_, reinterpret_cast<sockaddr*>(&addr), &len) != 0) return 0;
  if (addr.ss_family == AF_INET) return ntohs(reinterpret_cast<sockaddr_in*>(&addr)->sin_port);
  if (addr.ss_family == AF_INET6) return ntohs(reinterpret_cast<sockaddr_in6*>(&addr)->sin6_port);
  return 0;
}

namespace {
std::string numericAddress(const sockaddr_storage& addr) {
  char text[INET6_ADDRSTRLEN] = {};
  const void* src = addr.ss_family == AF_INET
                        ? static_cast<const void*>(&reinterpret_cast<const sockaddr_in*>(&addr)->sin_addr)
                        : static_cast<const void*>(&reinterpret_cast<const sockaddr_in6*>(&addr)->sin6_addr);
  if (!inet_ntop(addr.ss_family, src, text, sizeof text)) return {};
  return text;
}
}  // namespace

std::string TcpSocket::localAddress() const {
  sockaddr_storage addr{};
  socklen_t len = sizeof addr;
  if (fd_ < 0 || ::getsockname(fd_, reinterpret_cast<sockaddr*>(&addr), &len) != 0) return {};
  return numericAddress(addr);
}

std::string TcpSocket::peerAddress() const {
  sockaddr_storage addr{};
  socklen_t len = sizeof addr;
  if (fd_ < 0 || ::getpeername(fd_, reinterpret_cast<sockaddr*>(&addr), &len) != 0) return {};
  return numericAddress(addr);
}

uint32_t lookupIpv4(const std::string& name) {
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  if (::getaddrinfo(name.c_str(), nullptr, &hints, &found) != 0 || found == nullptr) return 0;
  uint32_t address = 0;
  if (found->ai_family == AF_INET) {
    address = reinterpret_cast<const sockaddr_in*>(found->ai_addr)->sin_addr.s_addr;
  }
  ::freeaddrinfo(found);
  return address;
}

std::vector<uint32_t> hostAddresses() {
  char name[256] = {};
  if (::gethostname(name, sizeof name - 1) != 0) return {};
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  if (::getaddrinfo(name, nullptr, &hints, &found) != 0) return {};
  std::vector<uint32_t> out;
  for (addrinfo* ai = found; ai != nullptr; ai = ai->ai_next) {
    if (ai->ai_family == AF_INET) out.push_back(reinterpret_cast<const sockaddr_in*>(ai->ai_addr)->sin_addr.s_addr);
  }
  ::freeaddrinfo(found);
  return out;
}

long TcpSocket::sendSome(const void* data, size_t size, uint32_t timeoutMs) {
  const WaitResult ready = waitWritable(timeoutMs);
  if (ready == kError) return -1;
  if (ready == kTimeout) return 0;
  for (;;) {
    const ssize_t n = ::send(fd_, data, size, MSG_NOSIGNAL | MSG_DONTWAIT);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return 0;
    return static_cast<long>(n);
  }
}

long TcpSocket::unsentBytes() const {
  int queued = 0;
  if (fd_ < 0 || ::ioctl(fd_, SIOCOUTQ, &queued) != 0) return -1;
  return queued;
}

}  // namespace platform
