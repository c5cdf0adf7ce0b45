#include "warden/service_control.h"

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstddef>
#include <cstring>

#include "warden/service_codes.h"

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

}  // namespace
}  // namespace warden
