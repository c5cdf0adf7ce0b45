#include "front/single_instance.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <thread>

namespace front {
namespace {

std::string uniqueName(const char* what) {
  return InstanceName(u"VISTREL-TEST", std::u16string(u"t") + char16_t(u'0' + (::getpid() % 10))) +
         what + std::to_string(::getpid());
}

TEST(SingleInstance, SecondClaimFailsUntilTheFirstEnds) {
  const std::string name = uniqueName("claim");
  auto first = InstanceChannel::Claim(name);
  ASSERT_TRUE(first);
  EXPECT_FALSE(InstanceChannel::Claim(name));
  first.reset();
  EXPECT_TRUE(InstanceChannel::Claim(name));
  EXPECT_EQ(name[0], '\0');  // abstract: nothing left in the file system
}

TEST(SingleInstance, CommandLineAndEmptyCommandLineAreHandedOver) {
  const std::string name = uniqueName("handover");
  auto channel = InstanceChannel::Claim(name);
  ASSERT_TRUE(channel);
  struct Case {
    std::u16string line;
    bool hasData;
  } cases[] = {{u"-p3000", true}, {u"", false}, {u"-x -p 2047 \u00e9", true}};
  for (const Case& c : cases) {
    uint32_t result = 0;
    bool ok = false;
    std::thread second([&] { ok = HandOver(name, c.line, 3000, &result); });
    HandOverMessage m;
    bool got = false;
    for (int i = 0; i < 300 && !got; ++i) {
      got = channel->Receive(m, 1000);
      if (!got) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    ASSERT_TRUE(got);
    channel->Reply(1);
    second.join();
    EXPECT_TRUE(ok);
    EXPECT_EQ(result, 1u);
    EXPECT_EQ(m.dataWord, 0u);
    EXPECT_EQ(m.hasData, c.hasData);
    EXPECT_EQ(m.text, c.line);
  }
  EXPECT_FALSE(HandOver(uniqueName("nobody"), u"-p1", 500));
}

}  // namespace
}  // namespace front
