#include "front/single_instance.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <thread>

#include "peer_probe.h"

namespace front {
namespace {

std::string uniqueName(const char* what) {
  return instanceName(u"VISTREL-TEST", std::u16string(u"t") + char16_t(u'0' + (::getpid() % 10))) +
         what + std::to_string(::getpid());
}

// Waits for a second copy's message: up to `tries` accepts 10 ms apart.
bool receiveOne(InstanceChannel& channel, HandOverMessage& m, int tries) {
  for (int i = 0; i < tries; ++i) {
    if (channel.receive(m, 1000)) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return false;
}

TEST(SingleInstance, SecondClaimFailsUntilTheFirstEnds) {
  const std::string name = uniqueName("claim");
  auto first = InstanceChannel::claim(name);
  ASSERT_TRUE(first);
  EXPECT_FALSE(InstanceChannel::claim(name));
  first.reset();
  EXPECT_TRUE(InstanceChannel::claim(name));
  EXPECT_EQ(name[0], '\0');  // abstract: nothing left in the file system
}

TEST(SingleInstance, CommandLineAndEmptyCommandLineAreHandedOver) {
  const std::string name = uniqueName("handover");
  auto channel = InstanceChannel::claim(name);
  ASSERT_TRUE(channel);
  struct Case {
    std::u16string line;
    bool hasData;
  } cases[] = {{u"-p3000", true}, {u"", false}, {u"-x -p 2047 \u00e9", true}};
  for (const Case& c : cases) {
    uint32_t result = 0;
    bool ok = false;
    std::thread second([&] { ok = handOver(name, c.line, 3000, &result); });
    HandOverMessage m;
    const bool got = receiveOne(*channel, m, 300);
    ASSERT_TRUE(got);
    channel->reply(1);
    second.join();
    EXPECT_TRUE(ok);
    EXPECT_EQ(result, 1u);
    EXPECT_EQ(m.dataWord, 0u);
    EXPECT_EQ(m.hasData, c.hasData);
    EXPECT_EQ(m.text, c.line);
  }
  EXPECT_FALSE(handOver(uniqueName("nobody"), u"-p1", 500));
}

TEST(SingleInstance, TheAnswerCarriesTheTextsTheSecondCopyPrints) {
  const std::string name = uniqueName("texts");
  auto channel = InstanceChannel::claim(name);
  ASSERT_TRUE(channel);
  const std::string listing = "Sources (* enabled):\n* Camera\n    Aufl\xc3\xb6sung = 640x480\n";
  struct Case {
    std::string output, errors;
  } cases[] = {{listing, ""}, {"", "vistrel: Camera/Zoom: no such setting\n"},
               {std::string(300000, 'x'), "e"}};  // more than a socket buffer holds
  for (const Case& c : cases) {
    uint32_t result = 0;
    std::string output = "old", errors = "old";
    bool ok = false;
    std::thread second([&] { ok = handOver(name, u"--settings", 3000, &result, &output, &errors); });
    HandOverMessage m;
    const bool got = receiveOne(*channel, m, 300);
    ASSERT_TRUE(got);
    channel->reply({2, c.output, c.errors});
    second.join();
    EXPECT_TRUE(ok);
    EXPECT_EQ(result, 2u);
    EXPECT_EQ(output, c.output);
    EXPECT_EQ(errors, c.errors);
  }
}

TEST(SingleInstance, OnlyThisUsersProgramsAreHeard) {
  if (!platform::testing::canActAsOtherUser()) GTEST_SKIP() << "needs root and the user nobody";
  const std::string name = uniqueName("users");
  auto channel = InstanceChannel::claim(name);
  ASSERT_TRUE(channel);
  for (const bool otherUser : {true, false}) {
    platform::testing::ProbeResult probe;
    // An empty hand-over, waiting for the 4-byte answer.
    std::thread second([&] {
      probe = platform::testing::runPeerProbe(
          otherUser, {"stream", name.substr(1), "0000000000000000", "--read", "4"});
    });
    HandOverMessage m;
    const bool got = receiveOne(*channel, m, 100);
    if (got) channel->reply(7);
    second.join();
    EXPECT_EQ(got, !otherUser) << (otherUser ? "nobody" : "the same user");
    EXPECT_EQ(probe.exitCode, otherUser ? 1 : 0);
    if (!otherUser) {
      EXPECT_EQ(probe.output, "07000000\n");
    }
  }
}

}  // namespace
}  // namespace front
