#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <thread>

#include "platform/local_datagram.h"

namespace platform {
namespace {

TEST(LocalDatagram, DeliversWholeDatagramsByNameAndCutsToTheCapacity) {
  const std::string name = "vistrel-test/" + std::to_string(GetCurrentProcessId());
  auto receiver = LocalDatagramReceiver::bind(name);
  ASSERT_NE(receiver, nullptr);
  EXPECT_EQ(LocalDatagramReceiver::bind(name), nullptr) << "a name has one receiver";

  char buffer[16] = {};
  EXPECT_EQ(receiver->receive(buffer, sizeof buffer, 0), 0) << "nothing there yet";
  EXPECT_EQ(receiver->receive(buffer, sizeof buffer, 50), 0);

  std::thread sender([&] {
    EXPECT_TRUE(sendLocalDatagram(name, "VSCC\x80\0\0\0", 8));
    EXPECT_TRUE(sendLocalDatagram(name, "0123456789abcdefXYZ", 19));
  });
  EXPECT_EQ(receiver->receive(buffer, sizeof buffer, 2000), 8);
  EXPECT_EQ(std::string(buffer, 4), "VSCC");
  EXPECT_EQ(static_cast<uint8_t>(buffer[4]), 0x80);
  EXPECT_EQ(receiver->receive(buffer, sizeof buffer, 2000), 16) << "cut to the capacity";
  EXPECT_EQ(std::string(buffer, 16), "0123456789abcdef");
  sender.join();

  receiver.reset();
  EXPECT_FALSE(sendLocalDatagram(name, "x", 1)) << "nobody receives any more";
}

}  // namespace
}  // namespace platform
