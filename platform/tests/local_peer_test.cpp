#include "platform/local_peer.h"

#include <gtest/gtest.h>
#include <pwd.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

#include "peer_probe.h"
#include "platform/local_datagram.h"

namespace platform {
namespace {

using testing::runPeerProbe;

std::string uniqueName(const char* what) {
  return "vistrel-peertest-" + std::to_string(getpid()) + "-" + what;
}

int listenAbstract(const std::string& name) {
  const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  std::memcpy(addr.sun_path + 1, name.data(), name.size());
  const auto len = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + name.size());
  if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr*>(&addr), len) != 0 || ::listen(fd, 4) != 0) {
    return -1;
  }
  return fd;
}

// Whether the peer that connects to `listener` while the probe runs (as the other user
// or not) is trusted.
bool connectingPeerTrusted(int listener, const std::string& name, bool asOtherUser) {
  bool trusted = false;
  std::thread accepter([&] {
    const int fd = ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd >= 0) {
      trusted = localPeerTrusted(fd);
      ::close(fd);
    }
  });
  const auto result = runPeerProbe(asOtherUser, {"stream", name, ""});
  EXPECT_EQ(result.exitCode, 0);
  accepter.join();
  return trusted;
}

class LocalPeerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!testing::canActAsOtherUser()) GTEST_SKIP() << "needs root and the user nobody";
    unsetenv(kSharedGroupEnvironment);
  }
  void TearDown() override { unsetenv(kSharedGroupEnvironment); }
  std::string nobodyGroup() { return std::to_string(getpwnam("nobody")->pw_gid); }
};

TEST_F(LocalPeerTest, ConnectedPeerOfAnotherUserIsRefusedUnlessInTheSharedGroup) {
  const std::string name = uniqueName("stream");
  const int listener = listenAbstract(name);
  ASSERT_GE(listener, 0);
  EXPECT_TRUE(connectingPeerTrusted(listener, name, false)) << "the same user";
  EXPECT_FALSE(connectingPeerTrusted(listener, name, true)) << "nobody";
  setenv(kSharedGroupEnvironment, nobodyGroup().c_str(), 1);
  EXPECT_TRUE(connectingPeerTrusted(listener, name, true)) << "nobody, in the shared group";
  ::close(listener);
}

TEST_F(LocalPeerTest, DatagramsOfAnotherUserAreDroppedUnread) {
  const std::string name = uniqueName("dgram");
  auto receiver = LocalDatagramReceiver::bind(name);
  ASSERT_TRUE(receiver);
  char buffer[16];
  ASSERT_EQ(runPeerProbe(true, {"dgram", name, "6f746865"}).exitCode, 0);
  EXPECT_EQ(receiver->receive(buffer, sizeof buffer, 500), 0) << "nobody's datagram";
  ASSERT_EQ(runPeerProbe(false, {"dgram", name, "6f776e"}).exitCode, 0);
  ASSERT_EQ(receiver->receive(buffer, sizeof buffer, 500), 3);
  EXPECT_EQ(std::string(buffer, 3), "own");

  setenv(kSharedGroupEnvironment, nobodyGroup().c_str(), 1);
  ASSERT_EQ(runPeerProbe(true, {"dgram", name, "6772"}).exitCode, 0);
  EXPECT_EQ(receiver->receive(buffer, sizeof buffer, 500), 2) << "a member of the shared group";
}

TEST(SharedGroup, NamesAGroupByNameOrNumber) {
  struct Case {
    const char* value;
    bool known;
  } cases[] = {{"", false}, {"0", true}, {"root", true}, {"no-such-group-here", false},
               {"12x", false}};
  for (const Case& c : cases) {
    setenv(kSharedGroupEnvironment, c.value, 1);
    EXPECT_EQ(sharedGroup().has_value(), c.known) << c.value;
    if (c.known) {
      EXPECT_EQ(*sharedGroup(), 0u) << c.value;
    }
  }
  unsetenv(kSharedGroupEnvironment);
  EXPECT_FALSE(sharedGroup());
}

}  // namespace
}  // namespace platform
