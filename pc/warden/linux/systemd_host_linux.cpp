#include "warden/systemd_host.h"

#include <poll.h>
#include <signal.h>
#include <sys/eventfd.h>
#include <sys/signalfd.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/local_peer.h"
#include "warden/service_control.h"

namespace warden {

namespace {

sigset_t controlSignals() {
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGTERM);
  sigaddset(&set, SIGINT);
  sigaddset(&set, SIGHUP);
  return set;
}

bool fillAddress(const std::string& path, bool abstractName, sockaddr_un& addr, socklen_t& len) {
  addr = sockaddr_un{};
  addr.sun_family = AF_UNIX;
  const size_t room = sizeof addr.sun_path - 1;  // a NUL in front or at the end
  if (path.empty() || path.size() > room) return false;
  std::memcpy(addr.sun_path + (abstractName ? 1 : 0), path.data(), path.size());
  len = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + path.size() +
                               (abstractName ? 1 : 0));
  return true;
}

}  // namespace

void blockControlSignals() {
  sigset_t set = controlSignals();
  pthread_sigmask(SIG_BLOCK, &set, nullptr);
}

bool notifyServiceManager(const std::string& text) {
  const char* socketPath = std::getenv("NOTIFY_SOCKET");
  if (socketPath == nullptr || socketPath[0] == 0) return false;
  std::string path = socketPath;
  const bool abstractName = path[0] == '@';
  if (abstractName) path.erase(0, 1);
  else if (path[0] != '/') return false;
  sockaddr_un addr;
  socklen_t len = 0;
  if (!fillAddress(path, abstractName, addr, len)) return false;
  const int fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  const ssize_t n = ::sendto(fd, text.data(), text.size(), MSG_NOSIGNAL,
                             reinterpret_cast<const sockaddr*>(&addr), len);
  ::close(fd);
  return n == static_cast<ssize_t>(text.size());
}

std::string statusNotification(const ServiceStatus& status, const std::string& note) {
  std::string words;
  std::string extra;
  switch (status.currentState) {
    case ServiceState::kStartPending:
      words = "Starting";
      extra = "EXTEND_TIMEOUT_USEC=" + std::to_string(uint64_t{status.waitHint} * 1000) + "\n";
      break;
    case ServiceState::kRunning:
      words = "Running";
      extra = "READY=1\n";
      break;
    case ServiceState::kStopPending:
      words = "Stopping";
      extra = "STOPPING=1\n";
      break;
    case ServiceState::kStopped:
      words = status.win32ExitCode == 0 ? "Stopped" : "Stopped, failed";
      break;
  }
  if (status.checkPoint != 0) words += " (checkpoint " + std::to_string(status.checkPoint) + ")";
  if (status.win32ExitCode != 0 && !note.empty()) words += ": " + note;
  return extra + "STATUS=" + words + "\n";
}

void SystemdServiceHost::shutdown() {
  if (thread_.joinable()) {
    const uint64_t one = 1;
    ssize_t ignored = ::write(quitFd_, &one, sizeof one);
    (void)ignored;
    thread_.join();
  }
}

SystemdServiceHost::~SystemdServiceHost() {
  shutdown();
  for (int fd : {signalFd_, controlFd_, quitFd_}) {
    if (fd >= 0) ::close(fd);
  }
}

bool SystemdServiceHost::registerControlHandler(const std::string& serviceName,
                                                std::function<void(uint32_t)> handler) {
  sigset_t set = controlSignals();
  signalFd_ = ::signalfd(-1, &set, SFD_CLOEXEC);
  quitFd_ = ::eventfd(0, EFD_CLOEXEC);
  controlFd_ = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (signalFd_ < 0 || quitFd_ < 0 || controlFd_ < 0) {
    std::fprintf(stderr, "warden: cannot set up the control handler: %s\n", std::strerror(errno));
    return false;
  }
  sockaddr_un addr;
  socklen_t len = 0;
  if (!fillAddress(serviceControlSocketName(), true, addr, len) ||
      !platform::enableSenderIdentity(controlFd_) || ::bind(controlFd_, reinterpret_cast<const sockaddr*>(&addr), len) != 0) {
    const bool inUse = errno == EADDRINUSE;
    std::fprintf(stderr, "warden: cannot register the control handler of %s: %s\n",
                 serviceName.c_str(),
                 inUse ? "the service already runs" : std::strerror(errno));
    notifyServiceManager("STATUS=Stopped, failed: " + std::string(inUse ? "the service already runs" : "no control handler") + "\n");
    return false;
  }
  handler_ = std::move(handler);
  thread_ = std::thread([this] { controlLoop(); });
  return true;
}

void SystemdServiceHost::controlLoop() {
  for (;;) {
    pollfd fds[3] = {{quitFd_, POLLIN, 0}, {signalFd_, POLLIN, 0}, {controlFd_, POLLIN, 0}};
    if (::poll(fds, 3, -1) < 0) {
      if (errno == EINTR) continue;
      return;
    }
    if (fds[0].revents != 0) return;
    if (fds[1].revents & POLLIN) {
      signalfd_siginfo info{};
      if (::read(signalFd_, &info, sizeof info) == static_cast<ssize_t>(sizeof info)) {
        handler_(info.ssi_signo == SIGHUP ? kControlReloadSettings : kControlStop);
      }
    }
    if (fds[2].revents & POLLIN) {
      uint8_t packet[16];
      bool trusted = false;
      const long n = platform::receiveWithSender(controlFd_, packet, sizeof packet, &trusted);
      if (n < 0 || !trusted) continue;  // another user's: ignored
      const auto request = platform::readPacket(kControlRequestPacket, {packet, static_cast<size_t>(n)});
      if (!request) continue;  // not a control request
      // Stopping belongs to the service manager; the service's own user (or root, or the
      // shared group's members) may ask for the rest.
      if (request->words[0] != kControlStop) handler_(request->words[0]);
    }
  }
}

void SystemdServiceHost::setStatus(const ServiceStatus& status, const std::string& note) {
  notifyServiceManager(statusNotification(status, note));
  if (!note.empty()) {
    if (status.win32ExitCode != 0) {
      std::fprintf(stderr, "warden: %s stopped, exit code 0x%08X: %s\n", kServiceName,
                   status.win32ExitCode, note.c_str());
    } else {
      std::fprintf(stderr, "warden: %s %s\n", kServiceName, note.c_str());
    }
    std::fflush(stderr);
  }
}

}  // namespace warden
