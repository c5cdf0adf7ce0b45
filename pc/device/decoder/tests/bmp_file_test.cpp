#include "decoder/bmp_file.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "decoder/jpeg_decoder.h"
#include "decoder/render_geometry.h"
#include "test_jpeg.h"

namespace decoder {
namespace {

uint32_t get32(const std::array<uint8_t, kBmpHeaderSize>& h, size_t at) {
  return uint32_t{h[at]} | uint32_t{h[at + 1]} << 8 | uint32_t{h[at + 2]} << 16 |
         uint32_t{h[at + 3]} << 24;
}

TEST(bmpHeader, DescribesTheRenderedPictureLayout) {
  std::array<uint8_t, kBmpHeaderSize> h{};
  ASSERT_TRUE(bmpHeader(3, 2, &h));  // rows of 9 bytes padded to 12
  EXPECT_EQ(h[0], 'B');
  EXPECT_EQ(h[1], 'M');
  EXPECT_EQ(get32(h, 2), 54u + 24u);  // file size
  EXPECT_EQ(get32(h, 10), 54u);       // pixel offset
  EXPECT_EQ(get32(h, 14), 40u);       // information header size
  EXPECT_EQ(get32(h, 18), 3u);
  EXPECT_EQ(get32(h, 22), 2u);        // positive: bottom-up
  EXPECT_EQ(h[26] | h[27] << 8, 1);   // planes
  EXPECT_EQ(h[28] | h[29] << 8, 24);  // bits per pixel
  EXPECT_EQ(get32(h, 30), 0u);
  EXPECT_EQ(get32(h, 34), imageSize(3, 2));

  ASSERT_TRUE(bmpHeader(640, 480, &h));
  EXPECT_EQ(get32(h, 2), 54u + 640u * 480u * 3u);
  EXPECT_FALSE(bmpHeader(0, 480, &h));
  EXPECT_FALSE(bmpHeader(640, 0, &h));
  EXPECT_FALSE(bmpHeader(0x7FFFFFFFu, 0x7FFFFFFFu, &h));
}

std::vector<uint8_t> readAll(const std::string& path) {
  std::vector<uint8_t> bytes;
  FILE* f = std::fopen(path.c_str(), "rb");
  if (f == nullptr) return bytes;
  int c;
  while ((c = std::fgetc(f)) != EOF) bytes.push_back(static_cast<uint8_t>(c));
  std::fclose(f);
  return bytes;
}

// The developer tool writes the header followed by exactly the rendered picture.
TEST(RenderTool, WritesTheRenderedPictureAsBmp) {
  char dir[] = "/tmp/vistrel-render-XXXXXX";
  ASSERT_NE(mkdtemp(dir), nullptr);
  const std::string jpegPath = std::string(dir) + "/in.jpg";
  const std::string bmpPath = std::string(dir) + "/out.bmp";
  const std::vector<uint8_t> rgb = decoder_testing::testPicture(48, 32);
  const std::vector<uint8_t> jpeg = decoder_testing::encodeRgb(rgb.data(), 48, 32);
  FILE* f = std::fopen(jpegPath.c_str(), "wb");
  ASSERT_NE(f, nullptr);
  ASSERT_EQ(std::fwrite(jpeg.data(), 1, jpeg.size(), f), jpeg.size());
  std::fclose(f);

  const std::string command = std::string(VISTREL_RENDER_TOOL) + " --rotation 1 --mirror " +
                              jpegPath + " " + bmpPath + " > /dev/null";
  ASSERT_EQ(std::system(command.c_str()), 0);
  const std::vector<uint8_t> bmp = readAll(bmpPath);

  // Default size: the picture turned a quarter, 32x48.
  std::vector<uint8_t> expected(imageSize(32, 48));
  JpegDecoder dec;
  ASSERT_TRUE(dec.decode(jpeg.data(), jpeg.size(), expected.data(), expected.size(), 32, 48, 1,
                         true));
  std::array<uint8_t, kBmpHeaderSize> header{};
  ASSERT_TRUE(bmpHeader(32, 48, &header));
  ASSERT_EQ(bmp.size(), kBmpHeaderSize + expected.size());
  EXPECT_TRUE(std::equal(header.begin(), header.end(), bmp.begin()));
  EXPECT_TRUE(std::equal(expected.begin(), expected.end(), bmp.begin() + kBmpHeaderSize));

  const std::string bad = std::string(VISTREL_RENDER_TOOL) + " " + bmpPath + " " + bmpPath +
                          ".2 2> /dev/null";
  EXPECT_NE(std::system(bad.c_str()), 0) << "a BMP is not a JPEG";
  std::remove(jpegPath.c_str());
  std::remove(bmpPath.c_str());
  rmdir(dir);
}

}  // namespace
}  // namespace decoder
