#include "front/single_instance.h"

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "platform/local_peer.h"
#include "platform/utf16.h"

namespace front {

namespace {

constexpr uint32_t kMaxHandOverBytes = 65536;

sockaddr_un addressOf(const std::string& name, socklen_t& length) {
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  const size_t n = std::min(name.size(), sizeof addr.sun_path);
  std::memcpy(addr.sun_path, name.data(), n);
  length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + n);
  return addr;
}

long msLeft(std::chrono::steady_clock::time_point end) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now())
      .count();
}

bool ioExactly(int fd, uint8_t* p, size_t n, bool writing, std::chrono::steady_clock::time_point end) {
  while (n > 0) {
    const long left = msLeft(end);
    if (left <= 0) return false;
    pollfd pfd{fd, static_cast<short>(writing ? POLLOUT : POLLIN), 0};
    const int r = ::poll(&pfd, 1, static_cast<int>(left));
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

void put32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}
uint32_t get32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
         static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}

}  // namespace

std::string InstanceName(const std::u16string& windowClass, const std::u16string& title) {
  std::string name(1, '\0');
  if (const char* prefix = std::getenv("VISTREL_OBJECT_PREFIX")) name += prefix;
  name += "vistrel-" + std::to_string(::getuid()) + "/" + platform::utf16ToUtf8Lossy(windowClass) + "/" +
          platform::utf16ToUtf8Lossy(title);
  return name;
}

std::unique_ptr<InstanceChannel> InstanceChannel::Claim(const std::string& name) {
  const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (fd < 0) return nullptr;
  socklen_t length = 0;
  const sockaddr_un addr = addressOf(name, length);
  if (::bind(fd, reinterpret_cast<const sockaddr*>(&addr), length) != 0 || ::listen(fd, 8) != 0) {
    ::close(fd);
    return nullptr;
  }
  return std::unique_ptr<InstanceChannel>(new InstanceChannel(fd));
}

InstanceChannel::~InstanceChannel() {
  if (client_ >= 0) ::close(client_);
  if (fd_ >= 0) ::close(fd_);
}

bool InstanceChannel::Receive(HandOverMessage& message, uint32_t timeoutMs) {
  if (client_ >= 0) {
    ::close(client_);
    client_ = -1;
  }
  client_ = ::accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
  if (client_ < 0) return false;
  if (!platform::localPeerTrusted(client_)) {  // another user's program: not heard
    ::close(client_);
    client_ = -1;
    return false;
  }
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  uint8_t head[8];
  if (!ioExactly(client_, head, 8, false, end)) return false;
  message.dataWord = get32(head);
  const uint32_t size = get32(head + 4);
  if (size > kMaxHandOverBytes) return false;
  std::vector<uint8_t> bytes(size);
  if (size > 0 && !ioExactly(client_, bytes.data(), size, false, end)) return false;
  message.hasData = size > 0;
  message.text.clear();
  for (size_t i = 0; i + 1 < bytes.size(); i += 2) {
    const char16_t c = static_cast<char16_t>(bytes[i] | (bytes[i + 1] << 8));
    if (c == 0) break;
    message.text.push_back(c);
  }
  return true;
}

void InstanceChannel::Reply(uint32_t result, std::string_view output, std::string_view errors) {
  if (client_ < 0) return;
  // The answer word, then each text as its length and its bytes.
  std::vector<uint8_t> answer(4);
  put32(answer.data(), result);
  for (std::string_view text : {output, errors}) {
    const size_t n = std::min<size_t>(text.size(), kMaxHandOverText);
    const size_t at = answer.size();
    answer.resize(at + 4 + n);
    put32(answer.data() + at, static_cast<uint32_t>(n));
    if (n > 0) std::memcpy(answer.data() + at + 4, text.data(), n);
  }
  ioExactly(client_, answer.data(), answer.size(), true,
            std::chrono::steady_clock::now() + std::chrono::milliseconds(2000));
  ::close(client_);
  client_ = -1;
}

bool HandOver(const std::string& name, const std::u16string& commandLine, uint32_t timeoutMs,
              uint32_t* result, std::string* output, std::string* errors) {
  const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  socklen_t length = 0;
  const sockaddr_un addr = addressOf(name, length);
  // The running copy must be this user's: a name taken by someone else gets nothing.
  if (::connect(fd, reinterpret_cast<const sockaddr*>(&addr), length) != 0 ||
      !platform::localPeerTrusted(fd)) {
    ::close(fd);
    return false;
  }
  std::vector<uint8_t> bytes(8);
  put32(bytes.data(), 0);
  if (!commandLine.empty()) {
    for (char16_t c : commandLine) {
      bytes.push_back(static_cast<uint8_t>(c));
      bytes.push_back(static_cast<uint8_t>(c >> 8));
    }
    bytes.push_back(0);
    bytes.push_back(0);
  }
  put32(bytes.data() + 4, static_cast<uint32_t>(bytes.size() - 8));
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  uint8_t answer[4];
  const bool ok = ioExactly(fd, bytes.data(), bytes.size(), true, end) &&
                  ioExactly(fd, answer, 4, false, end);
  if (ok && result) *result = get32(answer);
  // The texts to print here; a length above the bound ends the reading.
  for (std::string* text : {output, errors}) {
    uint8_t length[4];
    if (!ok || !ioExactly(fd, length, 4, false, end)) break;
    const uint32_t n = get32(length);
    if (n > kMaxHandOverText) break;
    std::string received(n, '\0');
    if (n > 0 && !ioExactly(fd, reinterpret_cast<uint8_t*>(received.data()), n, false, end)) break;
    if (text) *text = std::move(received);
  }
  ::close(fd);
  return ok;
}

}  // namespace front
