#include <poll.h>
#include <sys/socket.h>
#include <sys/uio.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "platform/device_io.h"
#include "platform/local_peer.h"

namespace platform {
namespace {

using namespace device_wire;

constexpr int kReplyTimeoutMs = 2000;
constexpr auto kReconnectInterval = std::chrono::seconds(1);

int connectEndpoint(const std::string& name) {
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  if (name.empty() || name.size() + 1 > sizeof(addr.sun_path)) return -1;
  std::memcpy(addr.sun_path + 1, name.data(), name.size());
  const socklen_t len = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + name.size());
  const int fd = ::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  // A device served by another user (a name taken first) gets nothing from us.
  if (::connect(fd, reinterpret_cast<const sockaddr*>(&addr), len) != 0 ||
      !localPeerTrusted(fd)) {
    ::close(fd);
    return -1;
  }
  return fd;
}

// A connection to a device endpoint. When the serving program goes away, the handle
// drops the connection and tries to connect again on later requests, at most once a
// second, so a restarted device is picked up without reopening.
class SocketDeviceHandle final : public DeviceHandle {
 public:
  SocketDeviceHandle(std::string name, int fd) : name_(std::move(name)), fd_(fd) {}
  ~SocketDeviceHandle() override { disconnect(); }

  bool control(uint32_t code, const void* in, uint32_t inSize, void* out, uint32_t outSize,
               uint32_t* returned) override {
    if (returned != nullptr) *returned = 0;
    if (fd_ < 0 && !reconnect()) {
      status_ = kDeviceUnreachable;
      return false;
    }
    const auto* bytes = static_cast<const uint8_t*>(in);
    uint32_t remaining = in == nullptr ? 0 : inSize;
    bool ok = true;
    do {
      const uint32_t piece = remaining < kDeviceMaxPayload ? remaining : kDeviceMaxPayload;
      uint32_t got = 0;
      if (!exchange(code, bytes, piece, out, outSize, &got)) {
        disconnect();
        status_ = kDeviceUnreachable;
        return false;
      }
      ok = ok && status_ == 0;
      if (returned != nullptr) *returned = got;
      if (bytes != nullptr) bytes += piece;
      remaining -= piece;
    } while (remaining > 0);
    return ok;
  }

  uint32_t lastStatus() const override { return status_; }

 private:
  bool exchange(uint32_t code, const uint8_t* in, uint32_t inSize, void* out, uint32_t outSize,
                uint32_t* returned) {
    uint8_t header[kRequestHeaderBytes];
    const uint32_t words[3] = {code, inSize, outSize};
    if (writePacketHeader(kRequestPacket, words, inSize, header) == 0) return false;
    iovec parts[2] = {{header, sizeof header}, {const_cast<uint8_t*>(in), inSize}};
    msghdr msg{};
    msg.msg_iov = parts;
    msg.msg_iovlen = inSize > 0 ? 2 : 1;
    const size_t total = kRequestHeaderBytes + inSize;
    for (;;) {
      const ssize_t n = ::sendmsg(fd_, &msg, MSG_NOSIGNAL);
      if (n == static_cast<ssize_t>(total)) break;
      if (n < 0 && errno == EINTR) continue;
      return false;
    }
    // The answer, room for the largest one so that nothing is cut; anything else arriving
    // on the connection would be a broken peer.
    reply_.resize(kReplyPacket.maxBytes() + 1);
    pollfd p{fd_, POLLIN, 0};
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kReplyTimeoutMs);
    for (;;) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                            deadline - std::chrono::steady_clock::now()).count();
      if (left <= 0) return false;
      const int r = ::poll(&p, 1, static_cast<int>(left));
      if (r < 0 && errno == EINTR) continue;
      if (r <= 0) return false;
      break;
    }
    ssize_t n;
    do {
      n = ::recv(fd_, reply_.data(), reply_.size(), 0);
    } while (n < 0 && errno == EINTR);
    if (n < 0) return false;
    const auto reply = readPacket(kReplyPacket, {reply_.data(), static_cast<size_t>(n)});
    if (!reply) return false;
    status_ = reply->words[0];
    // More output than asked for is cut to the caller's room.
    const uint32_t length = std::min<uint32_t>(static_cast<uint32_t>(reply->payload.size()), outSize);
    if (length > 0 && out != nullptr) std::memcpy(out, reply->payload.data(), length);
    *returned = out != nullptr ? length : 0;
    return true;
  }

  bool reconnect() {
    const auto now = std::chrono::steady_clock::now();
    if (now - lastAttempt_ < kReconnectInterval) return false;
    lastAttempt_ = now;
    fd_ = connectEndpoint(name_);
    return fd_ >= 0;
  }

  void disconnect() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
    lastAttempt_ = std::chrono::steady_clock::now();
  }

  std::string name_;
  int fd_;
  uint32_t status_ = 0;
  std::vector<uint8_t> reply_;
  std::chrono::steady_clock::time_point lastAttempt_{};
};

}  // namespace

std::string deviceEndpointName(std::string_view path) {
  constexpr std::string_view kDevicePrefix = "\\\\.\\";
  if (path.size() <= kDevicePrefix.size() || path.substr(0, kDevicePrefix.size()) != kDevicePrefix) {
    return {};
  }
  const std::string_view name = path.substr(kDevicePrefix.size());
  if (name.find_first_of("\\/") != std::string_view::npos) return {};
  const char* prefix = std::getenv("VISTREL_DEVICE_PREFIX");
  std::string out = prefix != nullptr ? prefix : kDefaultPrefix;
  out.append(name);
  return out;
}

std::unique_ptr<DeviceHandle> openDevice(std::string_view path) {
  std::string name = deviceEndpointName(path);
  if (name.empty()) return nullptr;
  const int fd = connectEndpoint(name);
  if (fd < 0) return nullptr;
  return std::make_unique<SocketDeviceHandle>(std::move(name), fd);
}

}  // namespace platform
