#include "platform/device_io.h"
#include "platform/device_server.h"

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

namespace platform {
namespace {

using namespace device_wire;

struct PrefixGuard {
  explicit PrefixGuard(const char* prefix) {
    if (prefix) ::setenv("VISTREL_DEVICE_PREFIX", prefix, 1);
    else ::unsetenv("VISTREL_DEVICE_PREFIX");
  }
  ~PrefixGuard() { ::unsetenv("VISTREL_DEVICE_PREFIX"); }
};

TEST(DeviceEndpointName, MapsDevicePathsOnly) {
  PrefixGuard none(nullptr);
  struct {
    const char* path;
    const char* name;
  } cases[] = {
      {"\\\\.\\OrvaneAudio", "vistrel-device/OrvaneAudio"},
      {"\\\\.\\X", "vistrel-device/X"},
      {"\\\\.\\", ""},
      {"OrvaneAudio", ""},
      {"\\\\?\\OrvaneAudio", ""},
      {"\\\\.\\a\\b", ""},
      {"\\\\.\\a/b", ""},
  };
  for (const auto& c : cases) EXPECT_EQ(deviceEndpointName(c.path), c.name) << c.path;
  PrefixGuard test("t-1/");
  EXPECT_EQ(deviceEndpointName("\\\\.\\OrvaneAudio"), "t-1/OrvaneAudio");
}

uint32_t get32(const uint8_t* p) { return p[0] | p[1] << 8 | p[2] << 16 | uint32_t{p[3]} << 24; }
void put32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}

// A device that answers every request with status = request code + 1 and echoes the
// first output-capacity bytes of its input; it records the size of each request.
class EchoDevice {
 public:
  EchoDevice() {
    const std::string name = deviceEndpointName("\\\\.\\EchoTest");
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::memcpy(addr.sun_path + 1, name.data(), name.size());
    listen_ = ::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
    const auto len = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + name.size());
    bound = ::bind(listen_, reinterpret_cast<sockaddr*>(&addr), len) == 0 && ::listen(listen_, 4) == 0;
    if (bound) thread_ = std::thread([this] { serve(); });
  }
  ~EchoDevice() {
    ::shutdown(listen_, SHUT_RDWR);
    if (thread_.joinable()) thread_.join();
    ::close(listen_);
  }
  // Waits until the client has gone; then the recorded lengths are complete.
  std::vector<uint32_t> finish() {
    if (thread_.joinable()) thread_.join();
    return inputLengths_;
  }
  bool bound = false;

 private:
  void serve() {
    const int fd = ::accept(listen_, nullptr, nullptr);
    if (fd < 0) return;
    std::vector<uint8_t> buf(kRequestHeaderBytes + kDeviceMaxPayload + 1);
    for (;;) {
      const ssize_t n = ::recv(fd, buf.data(), buf.size(), 0);
      if (n < static_cast<ssize_t>(kRequestHeaderBytes)) break;
      const uint32_t length = get32(buf.data() + 8);
      if (get32(buf.data()) != kDeviceRequestMagic || length + kRequestHeaderBytes != n) break;
      inputLengths_.push_back(length);
      const uint32_t out = std::min(get32(buf.data() + 12), length);
      std::vector<uint8_t> reply(kReplyHeaderBytes + out);
      put32(reply.data(), kDeviceReplyMagic);
      put32(reply.data() + 4, get32(buf.data() + 4) + 1);
      put32(reply.data() + 8, out);
      std::memcpy(reply.data() + kReplyHeaderBytes, buf.data() + kRequestHeaderBytes, out);
      ::send(fd, reply.data(), reply.size(), MSG_NOSIGNAL);
    }
    ::close(fd);
  }
  int listen_;
  std::vector<uint32_t> inputLengths_;
  std::thread thread_;
};

TEST(OpenDevice, NothingServedOrNotADevicePath) {
  PrefixGuard test(("t-absent-" + std::to_string(::getpid()) + "/").c_str());
  EXPECT_EQ(openDevice("\\\\.\\NobodyHere"), nullptr);
  EXPECT_EQ(openDevice("/dev/null"), nullptr);
}

TEST(OpenDevice, RequestsTravelAsPacketsAndLongInputsAreSplit) {
  PrefixGuard test(("t-echo-" + std::to_string(::getpid()) + "/").c_str());
  EchoDevice device;
  {
    ASSERT_TRUE(device.bound);
    auto h = openDevice("\\\\.\\EchoTest");
    ASSERT_NE(h, nullptr);
    const uint8_t in[6] = {1, 2, 3, 4, 5, 6};
    uint8_t out[4] = {};
    uint32_t returned = 0;
    // Status 0 is success: code 0xFFFFFFFF comes back as status 0.
    EXPECT_TRUE(h->control(0xFFFFFFFFu, in, 6, out, 4, &returned));
    EXPECT_EQ(returned, 4u);
    EXPECT_EQ(out[3], 4);
    EXPECT_FALSE(h->control(0x00222000u, in, 6, nullptr, 0, &returned));
    EXPECT_EQ(h->lastStatus(), 0x00222001u);
    EXPECT_TRUE(h->control(0xFFFFFFFFu, nullptr, 0, nullptr, 0, nullptr));
    std::vector<uint8_t> big(2 * kDeviceMaxPayload + 5, 7);
    EXPECT_TRUE(h->control(0xFFFFFFFFu, big.data(), static_cast<uint32_t>(big.size()), nullptr, 0, nullptr));
  }
  const std::vector<uint32_t> expected = {6, 6, 0, kDeviceMaxPayload, kDeviceMaxPayload, 5};
  EXPECT_EQ(device.finish(), expected);
}

TEST(DeviceServer, AnswersAreCutToTheRoomTheRequestOffered) {
  PrefixGuard test(("t-answer-" + std::to_string(::getpid()) + "/").c_str());
  std::string error;
  auto server = DeviceServer::startAnswering(
      "\\\\.\\AnswerTest",
      [](uint32_t code, const uint8_t* in, uint32_t length, uint32_t, std::vector<uint8_t>& answer) {
        answer.assign(in, in + length);  // the input back, then the code's low byte
        answer.push_back(static_cast<uint8_t>(code));
        return code == 7 ? 0xC0000001u : 0u;
      },
      &error);
  ASSERT_NE(server, nullptr) << error;
  auto h = openDevice("\\\\.\\AnswerTest");
  ASSERT_NE(h, nullptr);
  const uint8_t in[3] = {10, 11, 12};
  uint8_t out[8] = {};
  uint32_t returned = 99;
  EXPECT_TRUE(h->control(5, in, 3, out, sizeof out, &returned));
  EXPECT_EQ(returned, 4u);
  EXPECT_EQ(std::vector<uint8_t>(out, out + 4), (std::vector<uint8_t>{10, 11, 12, 5}));
  std::memset(out, 0, sizeof out);
  EXPECT_TRUE(h->control(5, in, 3, out, 2, &returned));  // room for two bytes only
  EXPECT_EQ(returned, 2u);
  EXPECT_EQ(out[2], 0);
  EXPECT_TRUE(h->control(5, in, 3, nullptr, 0, &returned));
  EXPECT_EQ(returned, 0u);
  EXPECT_FALSE(h->control(7, in, 3, out, sizeof out, &returned));  // a failure still answers
  EXPECT_EQ(h->lastStatus(), 0xC0000001u);
}

}  // namespace
}  // namespace platform
