#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "orvaneaudio/feed_control.h"
#include "platform/byte_order.h"
#include "platform/device_io.h"
#include "server/frame_receiver.h"
#include "server/ring.h"
#include "test_stream.h"
#include "wait_until.h"

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
        requests_.push_back({platform::load32(packet.data() + 4),
                             Bytes(packet.begin() + 16, packet.begin() + n)});
      }
      uint8_t reply[12];
      platform::store32(reply, platform::device_wire::kDeviceReplyMagic);
      platform::store32(reply + 4, 0);
      platform::store32(reply + 8, 0);
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

// A frame server whose sound goes to a recording device, with one phone connected.
class AudioForwarding : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(device_.bound());
    r_.setPort(port_);
    r_.start();
    r_.enableListening();
    ASSERT_TRUE(r_.audioDeviceOpen());
    ASSERT_TRUE(phone_.connectWhenListening(port_));
  }

  static FrameReceiver::Options options() {
    FrameReceiver::Options o;
    o.listener.bindAddress = "127.0.0.1";
    o.audioDevicePath = kPath;
    return o;
  }
  // Waits until the device holds `count` requests (or the wait's limit passed) and returns them.
  std::vector<RecordingDevice::Request> requestsAfter(size_t count) {
    platform::testing::waitUntil([&] { return device_.requests().size() >= count; });
    return device_.requests();
  }

  // Private device names for this process, set before the device and receiver exist.
  struct DevicePrefix {
    DevicePrefix() {
      ::setenv("VISTREL_DEVICE_PREFIX",
               ("vistrel-test-" + std::to_string(::getpid()) + "/").c_str(), 1);
    }
    ~DevicePrefix() { ::unsetenv("VISTREL_DEVICE_PREFIX"); }
  };

  static constexpr const char* kPath = "\\\\.\\RecordingAudio";
  DevicePrefix prefix_;
  RecordingDevice device_{kPath};
  FrameReceiver r_{options()};
  const uint16_t port_ = testing::freePort();
  testing::Phone phone_;
};

TEST_F(AudioForwarding, SoundBlocksReachTheDeviceInOneOrTwoRequests) {
  FrameReceiver& r = r_;
  testing::Phone& phone = phone_;
  Bytes pcm(1600);
  for (size_t i = 0; i < pcm.size(); ++i) pcm[i] = static_cast<uint8_t>(i * 13 + 1);
  ASSERT_TRUE(phone.send(testing::message(protocol::MSG_AUDIO, pcm)));
  ASSERT_TRUE(phone.send(Bytes(4, 0)));
  const auto first = requestsAfter(1);
  ASSERT_EQ(first.size(), 1u);
  EXPECT_EQ(first[0].code, orvaneaudio::IOCTL_AUDIO_FEED_WRITE);
  EXPECT_EQ(first[0].input, pcm);
  EXPECT_EQ(r.waitForFrame(1000), kWaitNotAFrame) << "sound is no frame";

  // Fill the ring up to 100 bytes before its end, so that the next block's payload runs
  // past it: written as two requests, up to the end and then from the start.
  const uint64_t used = 32 + pcm.size() + 4;
  ASSERT_TRUE(phone.send(Bytes(kRingSize - used - 100, 0)));
  ASSERT_TRUE(phone.send(testing::message(protocol::MSG_AUDIO_ALT, pcm)));
  ASSERT_TRUE(phone.send(Bytes(4, 0)));
  const auto requests = requestsAfter(3);
  ASSERT_EQ(requests.size(), 3u);
  EXPECT_EQ(requests[1].input.size(), 100u - 32u);
  Bytes joined = requests[1].input;
  joined.insert(joined.end(), requests[2].input.begin(), requests[2].input.end());
  EXPECT_EQ(joined, pcm);
}

TEST_F(AudioForwarding, TheParserCatchesUpAfterABurstOfSound) {
  // 100 sound blocks and then 30 frames in one write: every block reaches the device, in
  // order, and the last frame is handed over without waiting for more data than a
  // keep-alive.
  Bytes burst;
  for (int i = 0; i < 100; ++i) {
    const Bytes block = testing::message(protocol::MSG_AUDIO, Bytes(320, static_cast<uint8_t>(i + 1)));
    burst.insert(burst.end(), block.begin(), block.end());
  }
  Bytes last;
  for (int i = 0; i < 30; ++i) {
    last = testing::jpegPayload(5000 + i, static_cast<uint8_t>(0x80 + i));
    const Bytes frame = testing::message(protocol::MSG_VIDEO_JPEG, last);
    burst.insert(burst.end(), frame.begin(), frame.end());
  }
  ASSERT_TRUE(phone_.send(burst));
  ASSERT_TRUE(phone_.send(Bytes(4, 0)));
  const auto got = requestsAfter(100);
  ASSERT_EQ(got.size(), 100u);
  for (size_t i = 0; i < got.size(); ++i) {
    EXPECT_EQ(got[i].input, Bytes(320, static_cast<uint8_t>(i + 1))) << i;
  }
  std::vector<uint8_t> frame(protocol::kMaxVideoPayload);
  ASSERT_TRUE(platform::testing::waitUntil([&] {
    phone_.send(Bytes(4, 0));  // the last frame completes on a later arrival of data
    return r_.latestJpeg(frame.data()) == last.size();
  }));
  EXPECT_EQ(frame[100], last[100]);
}

TEST_F(AudioForwarding, ABlockLargerThanTheRingIsNotForwarded) {
  // A header declaring 6 MiB of sound, then 6 MiB without a magic pair: by the time the
  // block is complete its start was overwritten, and the ring holds only 4 MiB of it.
  // Nothing of it may reach the microphone, least of all memory beyond the ring.
  const uint32_t payload = 6u << 20;
  ASSERT_TRUE(phone_.send(testing::header(32 + payload, 0, protocol::MSG_AUDIO)));
  const Bytes chunk(1u << 20, 0x55);
  for (uint32_t sent = 0; sent < payload; sent += chunk.size()) ASSERT_TRUE(phone_.send(chunk));
  ASSERT_TRUE(phone_.send(Bytes(4, 0)));
  // A normal block afterwards still arrives whole and alone.
  const Bytes pcm(800, 0x21);
  ASSERT_TRUE(phone_.send(testing::message(protocol::MSG_AUDIO, pcm)));
  ASSERT_TRUE(phone_.send(Bytes(4, 0)));
  std::vector<RecordingDevice::Request> got;
  platform::testing::waitUntil([&] {
    got = device_.requests();
    return !got.empty() && got.back().input == pcm;
  });
  size_t bytes = 0;
  for (const auto& q : got) bytes += q.input.size();
  ASSERT_FALSE(got.empty());
  EXPECT_EQ(got.back().input, pcm);
  EXPECT_EQ(bytes, pcm.size()) << "the oversized block must not be forwarded";
}

}  // namespace
}  // namespace server
