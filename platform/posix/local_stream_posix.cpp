#include "platform/local_stream.h"

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstring>

#include "platform/local_peer.h"

namespace platform {
namespace {

sockaddr_un addressOf(std::string_view name, socklen_t& length) {
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  const size_t n = std::min(name.size(), sizeof addr.sun_path);
  std::memcpy(addr.sun_path, name.data(), n);
  length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + n);
  return addr;
}

bool moveExactly(int fd, uint8_t* p, size_t n, bool writing, LocalStream::Deadline deadline) {
  while (n > 0) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                          deadline - std::chrono::steady_clock::now())
                          .count();
    if (left <= 0) return false;
    pollfd pfd{fd, static_cast<short>(writing ? POLLOUT : POLLIN), 0};
    const int r = ::poll(&pfd, 1, static_cast<int>(std::min<long long>(left, 1 << 30)));
    if (r < 0 && errno == EINTR) continue;
    if (r <= 0) return false;
    const ssize_t got = writing ? ::send(fd, p, n, MSG_NOSIGNAL | MSG_DONTWAIT)
                                : ::recv(fd, p, n, MSG_DONTWAIT);
    if (got < 0 && (errno == EINTR || errno == EAGAIN)) continue;
    if (got <= 0) return false;
    p += got;
    n -= static_cast<size_t>(got);
  }
  return true;
}

}  // namespace

std::unique_ptr<LocalStream> LocalStream::connect(std::string_view name) {
  const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return nullptr;
  socklen_t length = 0;
  const sockaddr_un addr = addressOf(name, length);
  if (::connect(fd, reinterpret_cast<const sockaddr*>(&addr), length) != 0 || !localPeerTrusted(fd)) {
    ::close(fd);
    return nullptr;
  }
  return std::unique_ptr<LocalStream>(new LocalStream(fd));
}

LocalStream::~LocalStream() { ::close(fd_); }

bool LocalStream::readExactly(void* buffer, size_t size, Deadline deadline) {
  return moveExactly(fd_, static_cast<uint8_t*>(buffer), size, false, deadline);
}

bool LocalStream::writeExactly(const void* data, size_t size, Deadline deadline) {
  return moveExactly(fd_, static_cast<uint8_t*>(const_cast<void*>(data)), size, true, deadline);
}

std::unique_ptr<LocalStreamListener> LocalStreamListener::listen(std::string_view name) {
  const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (fd < 0) return nullptr;
  socklen_t length = 0;
  const sockaddr_un addr = addressOf(name, length);
  if (::bind(fd, reinterpret_cast<const sockaddr*>(&addr), length) != 0 || ::listen(fd, 8) != 0) {
    ::close(fd);
    return nullptr;
  }
  return std::unique_ptr<LocalStreamListener>(new LocalStreamListener(fd));
}

LocalStreamListener::~LocalStreamListener() { ::close(fd_); }

std::unique_ptr<LocalStream> LocalStreamListener::accept() {
  const int fd = ::accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
  if (fd < 0) return nullptr;
  if (!localPeerTrusted(fd)) {
    ::close(fd);
    return nullptr;
  }
  return std::unique_ptr<LocalStream>(new LocalStream(fd));
}

uint32_t currentUserId() { return static_cast<uint32_t>(::getuid()); }

}  // namespace platform
