#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <thread>

#include "platform/local_stream.h"
#include "platform/wake.h"

namespace platform {
namespace {

using Clock = std::chrono::steady_clock;

bool readable(int fd, int timeoutMs) {
  bool ready = false;
  return waitReadable(&fd, &ready, 1, timeoutMs) == 1 && ready;
}

TEST(WakeUp, NotifyMakesTheDescriptorReadableUntilDrained) {
  WakeUp wake;
  ASSERT_TRUE(wake.valid());
  EXPECT_FALSE(readable(wake.fd(), 0));
  EXPECT_FALSE(wake.drain());
  std::thread other([&] { wake.notify(), wake.notify(); });
  other.join();
  // A never-ready descriptor beside it does not hide the ready one.
  const int fds[2] = {-1, wake.fd()};
  bool ready[2] = {true, false};
  EXPECT_EQ(waitReadable(fds, ready, 2, 1000), 1);
  EXPECT_FALSE(ready[0]);
  EXPECT_TRUE(ready[1]);
  EXPECT_TRUE(wake.drain());  // both notifications at once
  EXPECT_FALSE(readable(wake.fd(), 0));
}

TEST(WakeUp, EndRequestsArriveOneEachAsReadableDescriptor) {
  const int fd = installEndRequests();
  ASSERT_GE(fd, 0);
  EXPECT_EQ(installEndRequests(), fd);  // once per process
  ASSERT_EQ(::raise(SIGTERM), 0);       // does not end the process
  ASSERT_EQ(::raise(SIGHUP), 0);
  ASSERT_EQ(::raise(SIGPIPE), 0);  // ignored, no request
  EXPECT_TRUE(readable(fd, 1000));
  takeEndRequest(fd);
  EXPECT_TRUE(readable(fd, 0));
  takeEndRequest(fd);
  EXPECT_FALSE(readable(fd, 0));
}

std::string uniqueName(const char* what) {
  return std::string(1, '\0') + "vistrel-test-stream/" + what + "/" + std::to_string(::getpid());
}

TEST(LocalStream, OneOwnerPerNameAndBytesBothWaysWithinTheDeadline) {
  const std::string name = uniqueName("both");
  auto listener = LocalStreamListener::listen(name);
  ASSERT_TRUE(listener);
  EXPECT_FALSE(LocalStreamListener::listen(name));
  EXPECT_FALSE(listener->accept());  // nobody waits
  EXPECT_FALSE(LocalStream::connect(uniqueName("nobody")));

  auto client = LocalStream::connect(name);
  ASSERT_TRUE(client);
  ASSERT_TRUE(readable(listener->fd(), 1000));
  auto server = listener->accept();
  ASSERT_TRUE(server);

  // Larger than a socket buffer: the writer waits for the reader.
  std::string big(1 << 20, '\0');
  for (size_t i = 0; i < big.size(); ++i) big[i] = static_cast<char>(i * 7);
  const auto deadline = Clock::now() + std::chrono::seconds(10);
  std::thread writer([&] { EXPECT_TRUE(client->writeExactly(big.data(), big.size(), deadline)); });
  std::string got(big.size(), '\0');
  EXPECT_TRUE(server->readExactly(got.data(), got.size(), deadline));
  writer.join();
  EXPECT_EQ(got, big);

  // Fewer bytes than asked: false at the deadline; the peer gone: false at once.
  char two[2];
  ASSERT_TRUE(client->writeExactly("x", 1, deadline));
  const auto start = Clock::now();
  EXPECT_FALSE(server->readExactly(two, 2, Clock::now() + std::chrono::milliseconds(100)));
  EXPECT_GE(Clock::now() - start, std::chrono::milliseconds(90));
  client.reset();
  EXPECT_FALSE(server->readExactly(two, 1, deadline));
  EXPECT_LT(Clock::now() - start, std::chrono::seconds(5));
}

}  // namespace
}  // namespace platform
