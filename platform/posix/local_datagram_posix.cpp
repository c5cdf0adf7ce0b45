#include "platform/local_datagram.h"

#include "platform/local_peer.h"

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstring>

namespace platform {
namespace {

// The abstract address for `name`: a leading NUL, then the name (cut to fit).
socklen_t abstractAddress(std::string_view name, sockaddr_un& addr) {
  std::memset(&addr, 0, sizeof addr);
  addr.sun_family = AF_UNIX;
  const size_t n = name.size() < sizeof addr.sun_path - 1 ? name.size() : sizeof addr.sun_path - 1;
  std::memcpy(addr.sun_path + 1, name.data(), n);
  return static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + n);
}

class PosixReceiver final : public LocalDatagramReceiver {
 public:
  explicit PosixReceiver(int fd) : fd_(fd) {}
  ~PosixReceiver() override { ::close(fd_); }

  long receive(void* buffer, size_t capacity, uint32_t timeoutMs) override {
    pollfd p{fd_, POLLIN, 0};
    for (;;) {
      const int r = ::poll(&p, 1, static_cast<int>(timeoutMs > 0x7FFFFFFF ? -1 : timeoutMs));
      if (r < 0 && errno == EINTR) continue;
      if (r < 0) return -1;
      if (r == 0) return 0;
      break;
    }
    bool trusted = false;
    const long n = receiveWithSender(fd_, buffer, capacity, &trusted);
    if (n < 0) return (errno == EAGAIN || errno == EWOULDBLOCK) ? 0 : -1;
    return trusted ? n : 0;  // another user's datagram is dropped unread
  }

 private:
  int fd_;
};

}  // namespace

std::unique_ptr<LocalDatagramReceiver> LocalDatagramReceiver::bind(std::string_view name) {
  const int fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return nullptr;
  sockaddr_un addr;
  const socklen_t len = abstractAddress(name, addr);
  if (!enableSenderIdentity(fd) || ::bind(fd, reinterpret_cast<sockaddr*>(&addr), len) != 0) {
    ::close(fd);
    return nullptr;
  }
  return std::make_unique<PosixReceiver>(fd);
}

bool sendLocalDatagram(std::string_view name, const void* data, size_t size) {
  const int fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  sockaddr_un addr;
  const socklen_t len = abstractAddress(name, addr);
  ssize_t n;
  do {
    n = ::sendto(fd, data, size, MSG_DONTWAIT | MSG_NOSIGNAL, reinterpret_cast<sockaddr*>(&addr), len);
  } while (n < 0 && errno == EINTR);
  ::close(fd);
  return n == static_cast<ssize_t>(size);
}

}  // namespace platform
