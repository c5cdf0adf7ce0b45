#include <gtest/gtest.h>

#include "platform/byte_order.h"
#include "server/command_pool.h"

namespace server {
namespace {

TEST(CommandPool, HoldsTwoHundredFiftySixInOrderAndDropsTheRest) {
  CommandPool pool;
  int accepted = 0;
  for (uint32_t i = 0; i < 300; ++i) accepted += pool.push(100 + i, i) ? 1 : 0;
  EXPECT_EQ(accepted, 256);
  EXPECT_EQ(pool.pendingCount(), 256);
  uint8_t cmd[32];
  ASSERT_TRUE(pool.popOldest(cmd));
  EXPECT_EQ(platform::load32(cmd + 12), 100u) << "oldest first";
  EXPECT_TRUE(pool.push(7, 7)) << "a sent command frees its node";
  EXPECT_FALSE(pool.push(8, 8));
  pool.dropPending();
  EXPECT_EQ(pool.pendingCount(), 0);
  EXPECT_FALSE(pool.popOldest(cmd));
  for (int i = 0; i < 256; ++i) ASSERT_TRUE(pool.push(1, 1)) << "every node came back";
}

TEST(CommandPool, CommandBytesAreHeaderOnlyWithMagic) {
  CommandPool pool;
  pool.push(2, 0x70);
  uint8_t cmd[32];
  ASSERT_TRUE(pool.popOldest(cmd));
  EXPECT_EQ(platform::load32(cmd), protocol::STREAM_MAGIC_0);
  EXPECT_EQ(platform::load32(cmd + 4), protocol::STREAM_MAGIC_1);
  EXPECT_EQ(platform::load32(cmd + 8), 0u);
  EXPECT_EQ(platform::load32(cmd + 16), 0x70u);
}

}  // namespace
}  // namespace server
