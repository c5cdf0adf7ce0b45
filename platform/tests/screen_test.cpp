#include "platform/screen.h"

#include <gtest/gtest.h>

#include <vector>

namespace platform {
namespace {

FrameBufferGeometry rgb565(uint32_t width, uint32_t height, uint32_t lineBytes) {
  FrameBufferGeometry g;
  g.width = width;
  g.height = height;
  g.bitsPerPixel = 16;
  g.lineBytes = lineBytes;
  g.redOffset = 11, g.redLength = 5;
  g.greenOffset = 5, g.greenLength = 6;
  g.blueOffset = 0, g.blueLength = 5;
  return g;
}

TEST(FrameBufferView, FindsTheVisibleAreaAndItsColours) {
  std::vector<uint8_t> memory(1024 * 2 * 480 * 2);  // a virtual screen twice as high
  FrameBufferGeometry g = rgb565(640, 480, 2048);
  g.yOffset = 480;  // panned to the second page
  g.xOffset = 8;
  ScreenImage image;
  ASSERT_TRUE(frameBufferView(g, memory.data(), memory.size(), image));
  EXPECT_EQ(image.pixels, memory.data() + 480 * 2048 + 16);
  EXPECT_EQ(image.width, 640u);
  EXPECT_EQ(image.height, 480u);
  EXPECT_EQ(image.strideBytes, 2048u);
  EXPECT_EQ(image.layout.bitsPerPixel, 16u);
  EXPECT_EQ(image.layout.redMask, 0xF800u);
  EXPECT_EQ(image.layout.greenMask, 0x07E0u);
  EXPECT_EQ(image.layout.blueMask, 0x001Fu);

  // A 32-bit screen whose last line ends exactly at the end of the memory.
  FrameBufferGeometry x = g;
  x.bitsPerPixel = 32;
  x.xOffset = x.yOffset = 0;
  x.lineBytes = 640 * 4;
  x.redOffset = 16, x.redLength = 8, x.greenOffset = 8, x.greenLength = 8, x.blueOffset = 0, x.blueLength = 8;
  ASSERT_TRUE(frameBufferView(x, memory.data(), 640 * 4 * 480, image));
  EXPECT_EQ(image.layout.redMask, 0xFF0000u);
}

TEST(FrameBufferView, RefusesWhatTheMemoryDoesNotHold) {
  std::vector<uint8_t> memory(640 * 2 * 480);
  const FrameBufferGeometry fits = rgb565(640, 480, 1280);
  ScreenImage image;
  ASSERT_TRUE(frameBufferView(fits, memory.data(), memory.size(), image));

  struct Case {
    const char* what;
    FrameBufferGeometry g;
  } cases[] = {
      {"panned beyond the memory", [&] { auto g = fits; g.yOffset = 1; return g; }()},
      {"shifted right beyond the line", [&] { auto g = fits; g.xOffset = 1; return g; }()},
      {"lines shorter than the width", [&] { auto g = fits; g.lineBytes = 1278; return g; }()},
      {"taller than the memory", [&] { auto g = fits; g.height = 481; return g; }()},
      {"8 bits a pixel", [&] { auto g = fits; g.bitsPerPixel = 8; return g; }()},
      {"a colour outside the pixel", [&] { auto g = fits; g.redOffset = 12; return g; }()},
      {"a colour without bits", [&] { auto g = fits; g.blueLength = 0; return g; }()},
      {"no pixels", [&] { auto g = fits; g.width = 0; return g; }()},
  };
  for (const Case& c : cases) EXPECT_FALSE(frameBufferView(c.g, memory.data(), memory.size(), image)) << c.what;
  EXPECT_FALSE(frameBufferView(fits, nullptr, memory.size(), image)) << "no memory";
}

}  // namespace
}  // namespace platform
