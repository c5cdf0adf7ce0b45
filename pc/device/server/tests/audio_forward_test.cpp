#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "orvaneaudio/feed_control.h"
#include "platform/device_io.h"
#include "protocol/byte_order.h"
#include "server/frame_receiver.h"
#include "server/ring.h"
#include "test_stream.h"

namespace server {
namespace {

using testing::Bytes;

// A control device served on the endpoint that platform::openDevice reaches, recording
// every request it is sent.
class RecordingDevice {
 public:
  explicit RecordingDevice(const std::string& path) {
    const std::string name = platform::deviceEndpointName(path);
    listen_ = ::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::memcpy(addr.sun_path + 1, name.data(), name.size());  // abstract name
    const socklen_t len = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + name.size());
    bound_ = ::bind(listen_, reinterpret_cast<sockaddr*>(&addr), len) == 0 && ::listen(listen_, 4) == 0;
    if (bound_) thread_ = std::thread([this] { serve(); });
  }
  ~RecordingDevice() {
    stop_ = true;
    ::shutdown(listen_, SHUT_RDWR);
    if (thread_.joinable()) thread_.join();
    ::close(listen_);
  }
  bool bound() const { return bound_; }

  struct Request {
    uint32_t code;
    Bytes input;
  };
  std::vector<Request> requests() {
    std::lock_guard lock(mutex_);
    return requests_;
  }

 private:
  void serve() {
    const int fd = ::accept4(listen_, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) return;
    std::vector<uint8_t> packet(70000);
    while (!stop_) {
      const ssize_t n = ::recv(fd, packet.data(), packet.size(), 0);
      if (n < 16) break;
      {
        std::lock_guard lock(mutex_);
        requests_.push_back({protocol::load32(packet.data() + 4),
                             Bytes(packet.begin() + 16, packet.begin() + n)});
      }
      uint8_t reply[12];
      protocol::store32(reply, platform::device_wire::kDeviceReplyMagic);
      protocol::store32(reply + 4, 0);
      protocol::store32(reply + 8, 0);
      ::send(fd, reply, sizeof reply, MSG_NOSIGNAL);
    }
    ::close(fd);
  }

  int listen_ = -1;
  bool bound_ = false;
  std::atomic<bool> stop_{false};
  std::thread thread_;
  std::mutex mutex_;
  std::vector<Request> requests_;
};

TEST(AudioForwarding, SoundBlocksReachTheDeviceInOneOrTwoRequests) {
  ::setenv("VISTREL_DEVICE_PREFIX", ("vistrel-test-" + std::to_string(::getpid()) + "/").c_str(), 1);
  const std::string path = "\\\\.\\RecordingAudio";
  RecordingDevice device(path);
  ASSERT_TRUE(device.bound());

  FrameReceiver::Options o;
  o.listener.bindAddress = "127.0.0.1";
  o.audioDevicePath = path;
  FrameReceiver r(o);
  const uint16_t port = testing::freePort();
  r.setPort(port);
  r.start();
  r.enableListening();
  ASSERT_TRUE(r.audioDeviceOpen());
  testing::Phone phone;
  for (int i = 0; i < 100 && !phone.valid(); ++i) {
    if (!phone.connect(port)) std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  ASSERT_TRUE(phone.valid());

  Bytes pcm(1600);
  for (size_t i = 0; i < pcm.size(); ++i) pcm[i] = static_cast<uint8_t>(i * 13 + 1);
  ASSERT_TRUE(phone.send(testing::message(protocol::MSG_AUDIO, pcm)));
  ASSERT_TRUE(phone.send(Bytes(4, 0)));
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  while (device.requests().size() < 1 && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  ASSERT_EQ(device.requests().size(), 1u);
  EXPECT_EQ(device.requests()[0].code, orvaneaudio::IOCTL_AUDIO_FEED_WRITE);
  EXPECT_EQ(device.requests()[0].input, pcm);
  EXPECT_EQ(r.waitForFrame(1000), kWaitNotAFrame) << "sound is no frame";

  // Fill the ring up to 100 bytes before its end, so that the next block's payload runs
  // past it: written as two requests, up to the end and then from the start.
  const uint64_t used = 32 + pcm.size() + 4;
  ASSERT_TRUE(phone.send(Bytes(kRingSize - used - 100, 0)));
  ASSERT_TRUE(phone.send(testing::message(protocol::MSG_AUDIO_ALT, pcm)));
  ASSERT_TRUE(phone.send(Bytes(4, 0)));
  while (device.requests().size() < 3 && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  const auto requests = device.requests();
  ASSERT_EQ(requests.size(), 3u);
  EXPECT_EQ(requests[1].input.size(), 100u - 32u);
  Bytes joined = requests[1].input;
  joined.insert(joined.end(), requests[2].input.begin(), requests[2].input.end());
  EXPECT_EQ(joined, pcm);
  ::unsetenv("VISTREL_DEVICE_PREFIX");
}

}  // namespace
}  // namespace server
