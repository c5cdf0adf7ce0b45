// TcpSocket over Winsock 2.2. A SOCKET is kept in the object's int: the system gives
// socket handles that only use their low 32 bits (handles are shared between 32- and
// 64-bit processes), and INVALID_SOCKET becomes -1.

#include <winsock2.h>
#include <ws2tcpip.h>
#include <mstcpip.h>
#include <windows.h>

#include <chrono>
#include <cstring>

#include "platform/socket.h"

namespace platform {
namespace {

// Winsock must be started once in each process before any socket call.
bool winsockStarted() {
  static const bool started = [] {
    WSADATA data;
    return WSAStartup(MAKEWORD(2, 2), &data) == 0;
  }();
  return started;
}

SOCKET handle(int fd) { return static_cast<SOCKET>(static_cast<intptr_t>(fd)); }
int fromHandle(SOCKET s) { return s == INVALID_SOCKET ? -1 : static_cast<int>(static_cast<intptr_t>(s)); }

TcpSocket::WaitResult pollFor(int fd, short events, uint32_t timeoutMs) {
  if (fd < 0) return TcpSocket::kError;
  WSAPOLLFD p{handle(fd), events, 0};
  const int timeout = timeoutMs > 0x7FFFFFFFu ? -1 : static_cast<int>(timeoutMs);
  const int r = WSAPoll(&p, 1, timeout);
  if (r < 0) return TcpSocket::kError;
  if (r == 0) return TcpSocket::kTimeout;
  if (p.revents & events) return TcpSocket::kReady;
  // A hang-up with data still to read is reported as readable: the next receive tells.
  if ((events & POLLRDNORM) && (p.revents & POLLHUP)) return TcpSocket::kReady;
  return TcpSocket::kError;
}

uint32_t msSince(std::chrono::steady_clock::time_point start) {
  return static_cast<uint32_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                   std::chrono::steady_clock::now() - start)
                                   .count());
}

bool setBlocking(SOCKET s, bool blocking) {
  u_long nonBlocking = blocking ? 0 : 1;
  return ioctlsocket(s, FIONBIO, &nonBlocking) == 0;
}

// One send or receive without waiting: the socket stays blocking for its owner, so the
// call is made non-blocking only around this one transfer.
template <typename Call>
long withoutWaiting(int fd, Call call) {
  const SOCKET s = handle(fd);
  if (!setBlocking(s, false)) return -1;
  const int n = call(s);
  const bool wouldBlock = n == SOCKET_ERROR && WSAGetLastError() == WSAEWOULDBLOCK;
  setBlocking(s, true);
  if (wouldBlock) return -2;
  return n == SOCKET_ERROR ? -1 : n;
}

int chunk(size_t size) { return size > 0x7FFFFFFF ? 0x7FFFFFFF : static_cast<int>(size); }

// The numeric address `text` (IPv4, or IPv6 with an optional "%interface" scope) with
// `port`, resolved without any name lookup; null when it is no such address.
addrinfo* numericAddress(const std::string& text, uint16_t port) {
  if (text.empty() || !winsockStarted()) return nullptr;
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = AI_NUMERICHOST | AI_PASSIVE;
  addrinfo* found = nullptr;
  if (getaddrinfo(text.c_str(), std::to_string(port).c_str(), &hints, &found) != 0) return nullptr;
  return found;
}

std::string addressText(const sockaddr_storage& addr) {
  char text[INET6_ADDRSTRLEN] = {};
  const void* src = addr.ss_family == AF_INET
                        ? static_cast<const void*>(&reinterpret_cast<const sockaddr_in*>(&addr)->sin_addr)
                        : static_cast<const void*>(&reinterpret_cast<const sockaddr_in6*>(&addr)->sin6_addr);
  if (!inet_ntop(addr.ss_family, src, text, sizeof text)) return {};
  return text;
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
    closesocket(handle(fd_));
    fd_ = -1;
  }
}

bool isListenAddress(const std::string& text) {
  addrinfo* found = numericAddress(text, 0);
  if (found == nullptr) return false;
  freeaddrinfo(found);
  return true;
}

TcpSocket TcpSocket::listen(const std::string& bindAddress, uint16_t port, int backlog) {
  addrinfo* found = numericAddress(bindAddress, port);
  if (found == nullptr) return TcpSocket();
  TcpSocket s(fromHandle(WSASocketW(found->ai_family, SOCK_STREAM, IPPROTO_TCP, nullptr, 0,
                                    WSA_FLAG_OVERLAPPED | WSA_FLAG_NO_HANDLE_INHERIT)));
  bool ok = s.valid();
  if (ok) {
    // No SO_REUSEADDR: on Windows it lets a socket take over a port another one listens
    // on. Without options a closed listener's port can be listened on again, and no other
    // account can bind it meanwhile. (SO_EXCLUSIVEADDRUSE would keep the port blocked
    // while old connections linger after close.)
    if (found->ai_family == AF_INET6) {
      // "::" means every address, IPv4 ones included; a specific IPv6 address only itself.
      const DWORD v6only = 0;
      setsockopt(handle(s.fd_), IPPROTO_IPV6, IPV6_V6ONLY, reinterpret_cast<const char*>(&v6only), sizeof v6only);
    }
    ok = bind(handle(s.fd_), found->ai_addr, static_cast<int>(found->ai_addrlen)) == 0 &&
         ::listen(handle(s.fd_), backlog) == 0;
  }
  freeaddrinfo(found);
  return ok ? std::move(s) : TcpSocket();
}

TcpSocket TcpSocket::accept() {
  if (fd_ < 0) return TcpSocket();
  return TcpSocket(fromHandle(::accept(handle(fd_), nullptr, nullptr)));
}

TcpSocket TcpSocket::connect(const std::string& host, uint16_t port, uint32_t timeoutMs) {
  if (!winsockStarted()) return TcpSocket();
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  if (getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &found) != 0) return TcpSocket();
  const auto start = std::chrono::steady_clock::now();
  TcpSocket result;
  for (addrinfo* ai = found; ai != nullptr && !result.valid(); ai = ai->ai_next) {
    const uint32_t spent = msSince(start);
    if (spent >= timeoutMs) break;
    TcpSocket s(fromHandle(WSASocketW(ai->ai_family, SOCK_STREAM, IPPROTO_TCP, nullptr, 0,
                                      WSA_FLAG_OVERLAPPED | WSA_FLAG_NO_HANDLE_INHERIT)));
    if (!s.valid() || !setBlocking(handle(s.fd_), false)) continue;
    if (::connect(handle(s.fd_), ai->ai_addr, static_cast<int>(ai->ai_addrlen)) != 0) {
      if (WSAGetLastError() != WSAEWOULDBLOCK) continue;
      // A refused connection shows as an error event rather than as writable.
      if (pollFor(s.fd_, POLLWRNORM, timeoutMs - spent) != kReady) continue;
      int error = 0;
      int len = sizeof error;
      if (getsockopt(handle(s.fd_), SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&error), &len) != 0 ||
          error != 0)
        continue;
    }
    if (!setBlocking(handle(s.fd_), true)) continue;
    result = std::move(s);
  }
  freeaddrinfo(found);
  return result;
}

TcpSocket::WaitResult TcpSocket::waitReadable(uint32_t timeoutMs) { return pollFor(fd_, POLLRDNORM, timeoutMs); }

TcpSocket::WaitResult TcpSocket::waitWritable(uint32_t timeoutMs) { return pollFor(fd_, POLLWRNORM, timeoutMs); }

long TcpSocket::receive(void* buffer, size_t size) {
  if (fd_ < 0) return -1;
  const long n = withoutWaiting(fd_, [&](SOCKET s) { return recv(s, static_cast<char*>(buffer), chunk(size), 0); });
  return n < 0 ? -1 : n;
}

long TcpSocket::send(const void* data, size_t size) {
  if (fd_ < 0) return -1;
  const int n = ::send(handle(fd_), static_cast<const char*>(data), chunk(size), 0);
  return n == SOCKET_ERROR ? -1 : n;
}

bool TcpSocket::sendAll(const void* data, size_t size, uint32_t timeoutMs) {
  const auto* p = static_cast<const uint8_t*>(data);
  const auto start = std::chrono::steady_clock::now();
  while (size > 0) {
    const uint32_t spent = msSince(start);
    if (spent > timeoutMs) return false;
    const long n = sendSome(p, size, timeoutMs - spent);
    if (n < 0) return false;
    p += n;
    size -= static_cast<size_t>(n);
  }
  return true;
}

long TcpSocket::sendSome(const void* data, size_t size, uint32_t timeoutMs) {
  const WaitResult ready = waitWritable(timeoutMs);
  if (ready == kError) return -1;
  if (ready == kTimeout) return 0;
  const long n = withoutWaiting(fd_, [&](SOCKET s) { return ::send(s, static_cast<const char*>(data), chunk(size), 0); });
  if (n == -2) return 0;
  return n;
}

bool TcpSocket::setNoDelay(bool on) {
  const BOOL value = on ? TRUE : FALSE;
  return fd_ >= 0 &&
         setsockopt(handle(fd_), IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&value), sizeof value) == 0;
}

long TcpSocket::unsentBytes() const {
  // Windows does not say how much of the send buffer the peer has yet to acknowledge.
  return -1;
}

uint16_t TcpSocket::localPort() const {
  sockaddr_storage addr{};
  int len = sizeof addr;
  if (fd_ < 0 || getsockname(handle(fd_), reinterpret_cast<sockaddr*>(&addr), &len) != 0) return 0;
  if (addr.ss_family == AF_INET) return ntohs(reinterpret_cast<sockaddr_in*>(&addr)->sin_port);
  if (addr.ss_family == AF_INET6) return ntohs(reinterpret_cast<sockaddr_in6*>(&addr)->sin6_port);
  return 0;
}

std::string TcpSocket::localAddress() const {
  sockaddr_storage addr{};
  int len = sizeof addr;
  if (fd_ < 0 || getsockname(handle(fd_), reinterpret_cast<sockaddr*>(&addr), &len) != 0) return {};
  return addressText(addr);
}

std::string TcpSocket::peerAddress() const {
  sockaddr_storage addr{};
  int len = sizeof addr;
  if (fd_ < 0 || getpeername(handle(fd_), reinterpret_cast<sockaddr*>(&addr), &len) != 0) return {};
  return addressText(addr);
}

std::vector<uint32_t> hostAddresses() {
  if (!winsockStarted()) return {};
  char name[256] = {};
  if (gethostname(name, sizeof name - 1) != 0) return {};
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  if (getaddrinfo(name, nullptr, &hints, &found) != 0) return {};
  std::vector<uint32_t> out;
  for (addrinfo* ai = found; ai != nullptr; ai = ai->ai_next) {
    if (ai->ai_family == AF_INET) out.push_back(reinterpret_cast<const sockaddr_in*>(ai->ai_addr)->sin_addr.s_addr);
  }
  freeaddrinfo(found);
  return out;
}

}  // namespace platform
