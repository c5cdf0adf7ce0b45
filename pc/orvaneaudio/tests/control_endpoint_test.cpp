#include "orvaneaudio/control_endpoint.h"

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "orvaneaudio/feed_control.h"
#include "orvaneaudio/feed_ring.h"
#include "peer_probe.h"
#include "platform/byte_order.h"
#include "platform/device_io.h"
#include "wait_until.h"

namespace orvaneaudio {
namespace {

using namespace std::chrono_literals;

struct StillHost : FeedRingHost {
  std::atomic<uint64_t> now{5};
  uint64_t interruptTime() override { return now; }
  void armPacingTimer() override {}
  void cancelPacingTimer() override {}
};

// A raw connection to the endpoint, for sending what the client library never would.
int rawConnect() {
  const std::string name = platform::deviceEndpointName(kDevicePath);
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  std::memcpy(addr.sun_path + 1, name.data(), name.size());
  const int fd = ::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
  const auto len = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + name.size());
  if (::connect(fd, reinterpret_cast<const sockaddr*>(&addr), len) != 0) {
    ::close(fd);
    return -1;
  }
  return fd;
}

std::vector<uint8_t> request(uint32_t magic, uint32_t code, uint32_t claimed, uint32_t carried) {
  std::vector<uint8_t> p(16 + carried, 0x5A);
  auto put = [&](size_t at, uint32_t v) { platform::store32(p.data() + at, v); };
  put(0, magic);
  put(4, code);
  put(8, claimed);
  put(12, 0);
  return p;
}

// Status of the reply to one raw packet, or -1 when none came.
int64_t rawStatus(int fd, const std::vector<uint8_t>& packet) {
  if (::send(fd, packet.data(), packet.size(), MSG_NOSIGNAL) != static_cast<ssize_t>(packet.size())) {
    return -1;
  }
  uint8_t reply[64];
  timeval tv{2, 0};
  ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
  const ssize_t n = ::recv(fd, reply, sizeof reply, 0);
  if (n != 12) return -1;
  return static_cast<uint32_t>(reply[4] | reply[5] << 8 | reply[6] << 16 | uint32_t{reply[7]} << 24);
}

class EndpointTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const std::string prefix = "vistrel-test-" + std::to_string(::getpid()) + "/";
    ::setenv("VISTREL_DEVICE_PREFIX", prefix.c_str(), 1);
    std::string error;
    endpoint = ControlEndpoint::start(kDevicePath, feedHandler(ring), &error);
    ASSERT_NE(endpoint, nullptr) << error;
  }

  StillHost host;
  std::atomic<int> notifications{0};
  FeedRing ring{host, [this] { ++notifications; }};
  std::unique_ptr<ControlEndpoint> endpoint;
};

TEST_F(EndpointTest, FeedWritesAndOtherCodesFail) {
  auto dev = platform::openDevice(kDevicePath);
  ASSERT_NE(dev, nullptr);
  const uint8_t pcm[5] = {1, 2, 3, 4, 5};  // odd lengths are fine
  uint32_t returned = 99;
  EXPECT_TRUE(dev->control(IOCTL_AUDIO_FEED_WRITE, pcm, 5, nullptr, 0, &returned));
  EXPECT_EQ(dev->lastStatus(), kStatusSuccess);
  EXPECT_EQ(returned, 0u);
  EXPECT_EQ(ring.writePosition(), 5u);
  EXPECT_EQ(ring.ring()[4], 5);
  EXPECT_EQ(ring.lastFeedTime(), 5u);

  struct {
    uint32_t code;
  } others[] = {{0}, {0x00222004}, {0x00222001}, {0x80222000}, {0xFFFFFFFF}};
  for (const auto& o : others) {
    EXPECT_FALSE(dev->control(o.code, pcm, 5, nullptr, 0, nullptr)) << std::hex << o.code;
    EXPECT_EQ(dev->lastStatus(), kStatusInvalidParameter);
  }
  EXPECT_EQ(ring.writePosition(), 5u);

  // An empty feed stores nothing and keeps the feed time, but still notifies.
  host.now = 77;
  const int before = notifications;
  EXPECT_TRUE(dev->control(IOCTL_AUDIO_FEED_WRITE, nullptr, 0, nullptr, 0, nullptr));
  EXPECT_EQ(ring.writePosition(), 5u);
  EXPECT_EQ(ring.lastFeedTime(), 5u);
  EXPECT_EQ(notifications, before + 1);
}

TEST_F(EndpointTest, FeedLongerThanTheRingKeepsItsLastBytes) {
  auto dev = platform::openDevice(kDevicePath);
  ASSERT_NE(dev, nullptr);
  std::vector<uint8_t> pcm(kRingBytes + 1);
  for (size_t i = 0; i < pcm.size(); ++i) pcm[i] = static_cast<uint8_t>(i * 13 + i / 256);
  ASSERT_TRUE(dev->control(IOCTL_AUDIO_FEED_WRITE, pcm.data(), static_cast<uint32_t>(pcm.size()),
                           nullptr, 0, nullptr));
  EXPECT_EQ(ring.writePosition(), 1u);
  EXPECT_EQ(ring.ring()[0], pcm.back());
  EXPECT_TRUE(std::equal(pcm.begin() + 1, pcm.end() - 1, ring.ring() + 1));
}

TEST_F(EndpointTest, SeveralClientsFeedInTurn) {
  std::vector<std::unique_ptr<platform::DeviceHandle>> devs;
  for (int i = 0; i < 3; ++i) {
    devs.push_back(platform::openDevice(kDevicePath));
    ASSERT_NE(devs.back(), nullptr);
  }
  EXPECT_TRUE(platform::testing::waitUntil([&] { return endpoint->clientCount() == 3; }));
  std::vector<std::thread> feeders;
  for (int i = 0; i < 3; ++i) {
    feeders.emplace_back([&, i] {
      std::vector<uint8_t> block(320, static_cast<uint8_t>(i + 1));
      for (int k = 0; k < 200; ++k) {
        EXPECT_TRUE(devs[i]->control(IOCTL_AUDIO_FEED_WRITE, block.data(), 320, nullptr, 0, nullptr));
      }
    });
  }
  for (auto& t : feeders) t.join();
  EXPECT_EQ(ring.writePosition(), 3u * 200 * 320 % kRingBytes);
  // Each request landed whole: every 320-byte block of the ring holds one feeder's byte.
  for (uint32_t at = 0; at + 320 <= 3u * 200 * 320 % kRingBytes; at += 320) {
    const uint8_t v = ring.ring()[at];
    ASSERT_TRUE(std::all_of(ring.ring() + at, ring.ring() + at + 320, [&](uint8_t b) { return b == v; }));
  }
  devs.clear();
  EXPECT_TRUE(platform::testing::waitUntil([&] { return endpoint->clientCount() == 0; }));
}

TEST_F(EndpointTest, BrokenRequestsAreRefusedAndHarmless) {
  const int fd = rawConnect();
  ASSERT_GE(fd, 0);
  struct Case {
    const char* name;
    std::vector<uint8_t> packet;
  } cases[] = {
      {"LengthAboveBytes", request(0x51524456u, IOCTL_AUDIO_FEED_WRITE, 1000, 10)},
      {"LengthBelowBytes", request(0x51524456u, IOCTL_AUDIO_FEED_WRITE, 4, 10)},
      {"WrongMagic", request(0x12345678u, IOCTL_AUDIO_FEED_WRITE, 10, 10)},
      {"ShortHeader", std::vector<uint8_t>(7, 0x51)},
      {"OverLongPacket", request(0x51524456u, IOCTL_AUDIO_FEED_WRITE, 65537, 65537)},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(rawStatus(fd, c.packet), int64_t{kStatusInvalidParameter}) << c.name;
  }
  EXPECT_EQ(ring.writePosition(), 0u);
  // The same connection still works for a good request.
  EXPECT_EQ(rawStatus(fd, request(0x51524456u, IOCTL_AUDIO_FEED_WRITE, 10, 10)), int64_t{kStatusSuccess});
  EXPECT_EQ(ring.writePosition(), 10u);

  // A client that sends half a request and vanishes.
  const int dying = rawConnect();
  ASSERT_GE(dying, 0);
  auto half = request(0x51524456u, IOCTL_AUDIO_FEED_WRITE, 4000, 100);
  ASSERT_EQ(::send(dying, half.data(), half.size(), MSG_NOSIGNAL), static_cast<ssize_t>(half.size()));
  ::close(dying);
  auto dev = platform::openDevice(kDevicePath);
  ASSERT_NE(dev, nullptr);
  const uint8_t pcm[2] = {9, 9};
  EXPECT_TRUE(dev->control(IOCTL_AUDIO_FEED_WRITE, pcm, 2, nullptr, 0, nullptr));
  EXPECT_EQ(ring.writePosition(), 12u);
  ::close(fd);
  EXPECT_TRUE(platform::testing::waitUntil([&] { return endpoint->clientCount() == 1; }));
}

TEST_F(EndpointTest, FloodingClientDoesNotBlockOthers) {
  const int flood = rawConnect();
  ASSERT_GE(flood, 0);
  std::atomic<bool> stop{false};
  std::atomic<int> sent{0};
  std::thread flooder([&] {
    // Never reads its answers; sends until its own socket fills, then keeps trying.
    auto p = request(0x51524456u, IOCTL_AUDIO_FEED_WRITE, 1600, 1600);
    while (!stop) {
      if (::send(flood, p.data(), p.size(), MSG_DONTWAIT | MSG_NOSIGNAL) > 0) {
        ++sent;
      } else {
        std::this_thread::sleep_for(1ms);  // a pause before it tries again
      }
    }
  });
  EXPECT_TRUE(platform::testing::waitUntil([&] { return sent > 100; }));
  auto dev = platform::openDevice(kDevicePath);
  ASSERT_NE(dev, nullptr);
  const uint8_t pcm[4] = {1, 2, 3, 4};
  const auto t0 = std::chrono::steady_clock::now();
  for (int i = 0; i < 20; ++i) {
    ASSERT_TRUE(dev->control(IOCTL_AUDIO_FEED_WRITE, pcm, 4, nullptr, 0, nullptr));
  }
  EXPECT_LT(std::chrono::steady_clock::now() - t0, 1s);
  stop = true;
  flooder.join();
  ::close(flood);
}

TEST_F(EndpointTest, SecondServerOfTheSameDeviceIsRefused) {
  std::string error;
  EXPECT_EQ(ControlEndpoint::start(kDevicePath, feedHandler(ring), &error), nullptr);
  EXPECT_NE(error.find("already served"), std::string::npos) << error;
  EXPECT_EQ(ControlEndpoint::start("OrvaneAudio", feedHandler(ring), &error), nullptr);
}

TEST_F(EndpointTest, AnotherUsersFeedIsRefused) {
  if (!platform::testing::canActAsOtherUser()) GTEST_SKIP() << "needs root and the user nobody";
  const std::vector<uint8_t> feed = request(platform::device_wire::kDeviceRequestMagic, IOCTL_AUDIO_FEED_WRITE, 2, 2);
  const std::vector<std::string> arguments{"seqpacket", platform::deviceEndpointName(kDevicePath),
                                           platform::testing::hexBytes(feed.data(), feed.size()),
                                           "--read", "64"};
  EXPECT_EQ(platform::testing::runPeerProbe(true, arguments).exitCode, 1) << "no answer for nobody";
  EXPECT_EQ(ring.writePosition(), 0u);
  EXPECT_EQ(platform::testing::runPeerProbe(false, arguments).exitCode, 0);
  EXPECT_EQ(ring.writePosition(), 2u);
}

TEST_F(EndpointTest, HandleComesBackAfterTheDeviceRestarts) {
  auto dev = platform::openDevice(kDevicePath);
  ASSERT_NE(dev, nullptr);
  const uint8_t pcm[2] = {1, 2};
  ASSERT_TRUE(dev->control(IOCTL_AUDIO_FEED_WRITE, pcm, 2, nullptr, 0, nullptr));
  endpoint.reset();
  EXPECT_EQ(platform::openDevice(kDevicePath), nullptr);
  EXPECT_FALSE(dev->control(IOCTL_AUDIO_FEED_WRITE, pcm, 2, nullptr, 0, nullptr));
  EXPECT_EQ(dev->lastStatus(), platform::kDeviceUnreachable);
  std::string error;
  endpoint = ControlEndpoint::start(kDevicePath, feedHandler(ring), &error);
  ASSERT_NE(endpoint, nullptr) << error;
  // Reconnection is tried at most once a second.
  EXPECT_FALSE(dev->control(IOCTL_AUDIO_FEED_WRITE, pcm, 2, nullptr, 0, nullptr));
  std::this_thread::sleep_for(
      1100ms);  // real time: the handle's retry limit reads the system clock
  EXPECT_TRUE(dev->control(IOCTL_AUDIO_FEED_WRITE, pcm, 2, nullptr, 0, nullptr));
  EXPECT_EQ(ring.writePosition(), 4u);
}

}  // namespace
}  // namespace orvaneaudio
