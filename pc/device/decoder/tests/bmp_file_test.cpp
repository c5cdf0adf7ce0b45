#include "decoder/bmp_file.h"

#include <gtest/gtest.h>

#include "decoder/render_geometry.h"

namespace decoder {
namespace {

uint32_t Get32(const std::array<uint8_t, kBmpHeaderSize>& h, size_t at) {
  return uint32_t{h[at]} | uint32_t{h[at + 1]} << 8 | uint32_t{h[at + 2]} << 16 |
         uint32_t{h[at + 3]} << 24;
}

TEST(BmpHeader, DescribesTheRenderedPictureLayout) {
  std::array<uint8_t, kBmpHeaderSize> h{};
  ASSERT_TRUE(BmpHeader(3, 2, &h));  // rows of 9 bytes padded to 12
  EXPECT_EQ(h[0], 'B');
  EXPECT_EQ(h[1], 'M');
  EXPECT_EQ(Get32(h, 2), 54u + 24u);  // file size
  EXPECT_EQ(Get32(h, 10), 54u);       // pixel offset
  EXPECT_EQ(Get32(h, 14), 40u);       // information header size
  EXPECT_EQ(Get32(h, 18), 3u);
  EXPECT_EQ(Get32(h, 22), 2u);        // positive: bottom-up
  EXPECT_EQ(h[26] | h[27] << 8, 1);   // planes
  EXPECT_EQ(h[28] | h[29] << 8, 24);  // bits per pixel
  EXPECT_EQ(Get32(h, 30), 0u);
  EXPECT_EQ(Get32(h, 34), ImageSize(3, 2));

  ASSERT_TRUE(BmpHeader(640, 480, &h));
  EXPECT_EQ(Get32(h, 2), 54u + 640u * 480u * 3u);
  EXPECT_FALSE(BmpHeader(0, 480, &h));
  EXPECT_FALSE(BmpHeader(640, 0, &h));
  EXPECT_FALSE(BmpHeader(0x7FFFFFFFu, 0x7FFFFFFFu, &h));
}

}  // namespace
}  // namespace decoder
