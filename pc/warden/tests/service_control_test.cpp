#include "warden/service_control.h"

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstddef>
#include <cstring>
#include <mutex>
#include <thread>
#include <vector>

#include "peer_probe.h"
#include "wait_until.h"
#include "warden/service_codes.h"
#include "warden/systemd_host.h"

namespace warden {
namespace {

// A stand-in service endpoint bound to the name the client computes.
class Endpoint {
 public:
  Endpoint() {
    fd_ = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    const std::string name = serviceControlSocketName();
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::memcpy(addr.sun_path + 1, name.data(), name.size());
    bound_ = ::bind(fd_, reinterpret_cast<sockaddr*>(&addr),
                    static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + name.size())) == 0;
  }
  ~Endpoint() { ::close(fd_); }
  bool bound() const { return bound_; }
  ssize_t receive(uint8_t* buffer, size_t size) { return ::recv(fd_, buffer, size, MSG_DONTWAIT); }

 private:
  int fd_ = -1;
  bool bound_ = false;
};

TEST(ServiceControl, ReloadRequestReachesTheRunningServiceOnly) {
  setenv("VISTREL_OBJECT_PREFIX", ("warden-ctl-" + std::to_string(getpid()) + "-").c_str(), 1);
  EXPECT_EQ(serviceControlSocketName(),
            "vistrel-service/warden-ctl-" + std::to_string(getpid()) + "-Vistrel Service");
  EXPECT_FALSE(requestServiceReload());  // no service runs under this prefix
  {
    Endpoint service;
    ASSERT_TRUE(service.bound());
    EXPECT_TRUE(requestServiceReload());
    uint8_t packet[16];
    ASSERT_EQ(service.receive(packet, sizeof packet), 8);
    const uint8_t expected[8] = {'V', 'S', 'C', 'C', 128, 0, 0, 0};
    EXPECT_EQ(std::memcmp(packet, expected, 8), 0);
    EXPECT_TRUE(sendServiceControl(0x01020304));
    ASSERT_EQ(service.receive(packet, sizeof packet), 8);
    EXPECT_EQ(packet[4], 4);
    EXPECT_EQ(packet[7], 1);
  }
  EXPECT_FALSE(requestServiceReload());  // gone with its program: nothing stale remains
  unsetenv("VISTREL_OBJECT_PREFIX");
}

TEST(ServiceControl, TheServiceHearsOnlyItsOwnUser) {
  if (!platform::testing::canActAsOtherUser()) GTEST_SKIP() << "needs root and the user nobody";
  setenv("VISTREL_OBJECT_PREFIX", ("warden-users-" + std::to_string(getpid()) + "-").c_str(), 1);
  std::mutex mutex;
  std::vector<uint32_t> codes;
  {
    SystemdServiceHost host;
    ASSERT_TRUE(host.registerControlHandler("test", [&](uint32_t code) {
      std::lock_guard lock(mutex);
      codes.push_back(code);
    }));
    const uint8_t reload[8] = {'V', 'S', 'C', 'C', 128, 0, 0, 0};
    const std::string bytes = platform::testing::hexBytes(reload, sizeof reload);
    ASSERT_EQ(platform::testing::runPeerProbe(true, {"dgram", serviceControlSocketName(), bytes})
                  .exitCode,
              0);
    ASSERT_EQ(platform::testing::runPeerProbe(false, {"dgram", serviceControlSocketName(), bytes})
                  .exitCode,
              0);
    // A last request of the own user with a code of its own: once it is heard, every request
    // sent before it has been taken or refused.
    const uint8_t last[8] = {'V', 'S', 'C', 'C', 129, 0, 0, 0};
    ASSERT_EQ(
        platform::testing::runPeerProbe(false, {"dgram", serviceControlSocketName(),
                                                platform::testing::hexBytes(last, sizeof last)})
            .exitCode,
        0);
    EXPECT_TRUE(platform::testing::waitUntil([&] {
      std::lock_guard lock(mutex);
      return !codes.empty() && codes.back() == 129;
    }));
    host.shutdown();
  }
  EXPECT_EQ(codes, (std::vector<uint32_t>{kControlReloadSettings, 129}))
      << "only the own user's requests";
  unsetenv("VISTREL_OBJECT_PREFIX");
}

}  // namespace
}  // namespace warden
