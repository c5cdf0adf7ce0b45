#include "platform/wake.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <vector>

namespace platform {
namespace {

int gEndPipe[2] = {-1, -1};

void onEndSignal(int) {
  const int saved = errno;
  const char c = 1;
  [[maybe_unused]] const ssize_t n = ::write(gEndPipe[1], &c, 1);
  errno = saved;
}

}  // namespace

WakeUp::WakeUp() {
  if (::pipe2(fds_, O_CLOEXEC | O_NONBLOCK) != 0) fds_[0] = fds_[1] = -1;
}

WakeUp::~WakeUp() {
  for (int fd : fds_)
    if (fd >= 0) ::close(fd);
}

void WakeUp::notify() {
  if (fds_[1] < 0) return;
  const char c = 1;
  [[maybe_unused]] const ssize_t n = ::write(fds_[1], &c, 1);
}

bool WakeUp::drain() {
  if (fds_[0] < 0) return false;
  bool any = false;
  char drained[64];
  while (::read(fds_[0], drained, sizeof drained) > 0) any = true;
  return any;
}

int installEndRequests() {
  if (gEndPipe[0] >= 0) return gEndPipe[0];
  ::signal(SIGPIPE, SIG_IGN);
  if (::pipe2(gEndPipe, O_CLOEXEC | O_NONBLOCK) != 0) {
    gEndPipe[0] = gEndPipe[1] = -1;
    return -1;
  }
  struct sigaction sa {};
  sa.sa_handler = onEndSignal;
  ::sigaction(SIGINT, &sa, nullptr);
  ::sigaction(SIGTERM, &sa, nullptr);
  ::sigaction(SIGHUP, &sa, nullptr);
  return gEndPipe[0];
}

void takeEndRequest(int fd) {
  char c;
  [[maybe_unused]] const ssize_t n = ::read(fd, &c, 1);
}

int waitReadable(const int* fds, bool* ready, size_t count, int timeoutMs) {
  std::vector<pollfd> polled(count);
  for (size_t i = 0; i < count; ++i) {
    polled[i] = {fds[i], POLLIN, 0};
    ready[i] = false;
  }
  const int r = ::poll(polled.data(), polled.size(), timeoutMs < 0 ? -1 : timeoutMs);
  if (r < 0) return errno == EINTR ? 0 : -1;
  for (size_t i = 0; i < count; ++i)
    ready[i] = fds[i] >= 0 && (polled[i].revents & (POLLIN | POLLERR | POLLHUP)) != 0;
  return r;
}

}  // namespace platform
