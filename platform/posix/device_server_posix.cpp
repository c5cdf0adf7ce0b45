#include "platform/device_server.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstddef>
#include <cstring>
#include <thread>
#include <vector>

#include "platform/device_io.h"
#include "platform/local_peer.h"

namespace platform {
namespace {

using namespace device_wire;

constexpr size_t kMaxClients = 128;

struct Client {
  int fd = -1;
  bool replyPending = false;
  std::vector<uint8_t> reply;
};

class SocketDeviceServer final : public DeviceServer {
 public:
  SocketDeviceServer(int listenFd, int wakeFd, AnsweringHandler handler)
      : listenFd_(listenFd), wakeFd_(wakeFd), handler_(std::move(handler)),
        buffer_(kRequestHeaderBytes + kDeviceMaxPayload + 1) {
    thread_ = std::thread([this] { run(); });
  }

  ~SocketDeviceServer() override {
    const uint64_t one = 1;
    [[maybe_unused]] const ssize_t ignored = ::write(wakeFd_, &one, sizeof one);
    thread_.join();
    for (Client& c : clients_) ::close(c.fd);
    ::close(listenFd_);
    ::close(wakeFd_);
  }

  size_t clientCount() const override { return clientCount_.load(); }

 private:
  void run() {
    std::vector<pollfd> fds;
    for (;;) {
      fds.clear();
      fds.push_back({wakeFd_, POLLIN, 0});
      fds.push_back({listenFd_, static_cast<short>(clients_.size() < kMaxClients ? POLLIN : 0), 0});
      for (const Client& c : clients_) {
        // A client whose answer is still unsent is not read until the answer is out.
        fds.push_back({c.fd, static_cast<short>(c.replyPending ? POLLOUT : POLLIN), 0});
      }
      if (::poll(fds.data(), fds.size(), -1) < 0) {
        if (errno == EINTR) continue;
        return;
      }
      if (fds[0].revents != 0) return;
      if (fds[1].revents & POLLIN) acceptClient();
      // Serve each ready client once per round; closed ones are removed afterwards.
      for (size_t i = 0; i + 2 < fds.size(); ++i) {
        if (fds[i + 2].revents != 0) serve(clients_[i], fds[i + 2].revents);
      }
      std::erase_if(clients_, [](const Client& c) { return c.fd < 0; });
      clientCount_.store(clients_.size());
    }
  }

  void acceptClient() {
    const int fd = ::accept4(listenFd_, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
    if (fd < 0) return;
    if (!localPeerTrusted(fd)) {  // another user may not use this device
      ::close(fd);
      return;
    }
    clients_.push_back(Client{fd, false, {}});
    clientCount_.store(clients_.size());
  }

  void drop(Client& c) {
    ::close(c.fd);
    c.fd = -1;
  }

  void serve(Client& c, short revents) {
    if (c.replyPending) {
      if (revents & (POLLERR | POLLHUP | POLLNVAL)) return drop(c);
      if (revents & POLLOUT) sendReply(c);
      return;
    }
    if (revents & POLLNVAL) return drop(c);
    const ssize_t n = ::recv(c.fd, buffer_.data(), buffer_.size(), MSG_DONTWAIT);
    if (n == 0) return drop(c);
    if (n < 0) {
      if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) return;
      return drop(c);
    }
    const auto request = parseDeviceRequest(buffer_.data(), static_cast<size_t>(n));
    answer_.clear();
    const uint32_t status =
        request ? handler_(request->code, request->input, request->length, request->outputCapacity, answer_)
                : kDeviceInvalidRequest;
    size_t length = request ? std::min<size_t>(answer_.size(), request->outputCapacity) : 0;
    length = std::min<size_t>(length, kDeviceMaxPayload);
    c.reply.resize(kReplyHeaderBytes + length);
    const uint32_t words[2] = {status, 0};
    writePacket(kReplyPacket, words, {answer_.data(), length}, c.reply);
    c.replyPending = true;
    sendReply(c);
  }

  void sendReply(Client& c) {
    const ssize_t n = ::send(c.fd, c.reply.data(), c.reply.size(), MSG_DONTWAIT | MSG_NOSIGNAL);
    if (n == static_cast<ssize_t>(c.reply.size())) {
      c.replyPending = false;
      return;
    }
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) return;
    drop(c);
  }

  int listenFd_;
  int wakeFd_;
  AnsweringHandler handler_;
  std::vector<uint8_t> buffer_;
  std::vector<uint8_t> answer_;
  std::vector<Client> clients_;
  std::atomic<size_t> clientCount_{0};
  std::thread thread_;
};

}  // namespace

std::unique_ptr<DeviceServer> DeviceServer::start(std::string_view devicePath, Handler handler,
                                                  std::string* error) {
  return startAnswering(
      devicePath,
      [handler = std::move(handler)](uint32_t code, const uint8_t* in, uint32_t length, uint32_t,
                                     std::vector<uint8_t>&) { return handler(code, in, length); },
      error);
}

std::unique_ptr<DeviceServer> DeviceServer::startAnswering(std::string_view devicePath,
                                                           AnsweringHandler handler, std::string* error) {
  auto fail = [&](std::string why) -> std::unique_ptr<DeviceServer> {
    if (error != nullptr) *error = std::move(why);
    return nullptr;
  };
  const std::string name = deviceEndpointName(devicePath);
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  if (name.empty() || name.size() + 1 > sizeof(addr.sun_path)) {
    return fail("not a device path: " + std::string(devicePath));
  }
  std::memcpy(addr.sun_path + 1, name.data(), name.size());
  const auto len = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + name.size());
  const int fd = ::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (fd < 0) return fail(std::string("socket: ") + std::strerror(errno));
  if (::bind(fd, reinterpret_cast<const sockaddr*>(&addr), len) != 0) {
    const int e = errno;
    ::close(fd);
    if (e == EADDRINUSE) return fail("the device @" + name + " is already served");
    return fail("bind @" + name + ": " + std::strerror(e));
  }
  if (::listen(fd, 16) != 0) {
    const int e = errno;
    ::close(fd);
    return fail(std::string("listen: ") + std::strerror(e));
  }
  const int wake = ::eventfd(0, EFD_CLOEXEC);
  if (wake < 0) {
    ::close(fd);
    return fail(std::string("eventfd: ") + std::strerror(errno));
  }
  return std::make_unique<SocketDeviceServer>(fd, wake, std::move(handler));
}

}  // namespace platform
