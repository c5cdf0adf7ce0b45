#include "output/v4l2_output.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>

#include "fake_v4l2.h"
#include "output/media_type.h"
#include "platform/linux/v4l2_kernel.h"

namespace output {
namespace {

using platform::testing::FakeV4l2;
using platform::testing::FakeVideoNode;

constexpr const char* kPath = "/dev/video42";

// A loopback device's output side, adjusted by `change`.
template <typename Change = void (*)(FakeVideoNode&)>
void addLoopback(FakeV4l2& dev, Change change = [](FakeVideoNode&) {}) {
  FakeVideoNode node;
  node.path = kPath;
  node.capabilities = V4L2_CAP_VIDEO_OUTPUT | V4L2_CAP_READWRITE;
  change(node);
  dev.addNode(node);
}

std::vector<uint8_t> Picture(uint32_t w, uint32_t h, uint8_t seed) {
  std::vector<uint8_t> p(pictureSize(w, h));
  for (size_t i = 0; i < p.size(); ++i) p[i] = static_cast<uint8_t>(i * 31 + seed);
  return p;
}

TEST(V4l2OutputTest, FormatsAndEveryPictureWholeForEachPixelFormat) {
  struct Case {
    PixelFormat format;
    uint32_t fourcc;
    uint32_t stride;  // at 322 x 240
    uint32_t image;
  } cases[] = {
      {PixelFormat::kYuy2, V4L2_PIX_FMT_YUYV, 644, 644 * 240},
      {PixelFormat::kBgr, V4L2_PIX_FMT_BGR24, 968, 968 * 240},
      {PixelFormat::kRgb, V4L2_PIX_FMT_RGB24, 968, 968 * 240},
      {PixelFormat::kBgrx, V4L2_PIX_FMT_XBGR32, 1288, 1288 * 240},
      {PixelFormat::kRgbx, V4L2_PIX_FMT_RGBX32, 1288, 1288 * 240},
      {PixelFormat::kI420, V4L2_PIX_FMT_YUV420, 324, 324 * 240 + 2 * 164 * 120},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(pixelFormatName(c.format));
    FakeV4l2 dev;
    addLoopback(dev);
    V4l2Output out(dev, kPath, c.format);
    std::string error;
    ASSERT_TRUE(out.open(&error)) << error;
    ASSERT_TRUE(out.configure(322, 240, &error)) << error;
    const auto formats = dev.formatRequests();
    ASSERT_EQ(formats.size(), 1u);
    const auto& f = formats[0];
    EXPECT_EQ(f.type, uint32_t{V4L2_BUF_TYPE_VIDEO_OUTPUT});
    EXPECT_EQ(f.width, 322u);
    EXPECT_EQ(f.height, 240u);
    EXPECT_EQ(f.pixelFormat, c.fourcc);
    EXPECT_EQ(f.field, uint32_t{V4L2_FIELD_NONE});
    EXPECT_EQ(f.bytesPerLine, c.stride);
    EXPECT_EQ(f.sizeImage, c.image);
    for (uint8_t i = 0; i < 3; ++i) {
      const auto src = Picture(322, 240, i);
      ASSERT_TRUE(out.writePicture(src.data(), 322, 240, &error)) << error;
      std::vector<uint8_t> expected(c.image);
      convertPicture(src.data(), 322, 240, c.format, expected.data());
      const auto pictures = dev.writtenPictures();
      ASSERT_EQ(pictures.size(), i + 1u);
      EXPECT_EQ(pictures[i], expected);
    }
    EXPECT_EQ(dev.writeSizes(), std::vector<size_t>(3, c.image));  // one write per picture
    EXPECT_EQ(out.picturesWritten(), 3u);
    EXPECT_EQ(dev.openDescriptors(), 1);
    out.close();
    EXPECT_EQ(dev.openDescriptors(), 0);
  }
}

TEST(V4l2OutputTest, PartialAndInterruptedWritesStillWriteThePictureWhole) {
  FakeV4l2 dev;
  addLoopback(dev, [](FakeVideoNode& n) {
    n.maxWrite = 10000;
    n.interruptEvery = 3;
  });
  V4l2Output out(dev, kPath, PixelFormat::kBgr);
  std::string error;
  ASSERT_TRUE(out.open(&error) && out.configure(160, 120, &error)) << error;
  const auto a = Picture(160, 120, 1), b = Picture(160, 120, 2);
  ASSERT_TRUE(out.writePicture(a.data(), 160, 120, &error)) << error;
  ASSERT_TRUE(out.writePicture(b.data(), 160, 120, &error)) << error;
  const auto pictures = dev.writtenPictures();
  ASSERT_EQ(pictures.size(), 2u);
  std::vector<uint8_t> expected(pictureSize(160, 120));
  convertPicture(b.data(), 160, 120, PixelFormat::kBgr, expected.data());
  EXPECT_EQ(pictures[1], expected);
}

TEST(V4l2OutputTest, ANewSizeSetsTheFormatAgain) {
  FakeV4l2 dev;
  addLoopback(dev);
  V4l2Output out(dev, kPath, PixelFormat::kYuy2);
  std::string error;
  ASSERT_TRUE(out.open(&error) && out.configure(320, 240, &error));
  const auto vga = Picture(640, 480, 3);
  ASSERT_TRUE(out.writePicture(vga.data(), 640, 480, &error)) << error;
  const auto formats = dev.formatRequests();
  ASSERT_EQ(formats.size(), 2u);
  EXPECT_EQ(formats[1].width, 640u);
  EXPECT_EQ(formats[1].height, 480u);
  const auto pictures = dev.writtenPictures();
  ASSERT_EQ(pictures.size(), 1u);
  EXPECT_EQ(pictures[0].size(), 640u * 2 * 480);
}

TEST(V4l2OutputTest, Refusals) {
  std::string error;
  {
    FakeV4l2 dev;  // no such node
    V4l2Output out(dev, kPath, PixelFormat::kYuy2);
    EXPECT_FALSE(out.open(&error));
    EXPECT_NE(error.find("cannot open"), std::string::npos);
    EXPECT_NE(error.find(std::strerror(ENOENT)), std::string::npos);
  }
  {
    FakeV4l2 dev;  // a capture device, not a loopback's output side
    addLoopback(dev, [](FakeVideoNode& n) { n.capabilities = V4L2_CAP_VIDEO_CAPTURE; });
    V4l2Output out(dev, kPath, PixelFormat::kYuy2);
    EXPECT_FALSE(out.open(&error));
    EXPECT_NE(error.find("not a video output"), std::string::npos);
    EXPECT_EQ(dev.openDescriptors(), 0);
  }
  {
    FakeV4l2 dev;
    addLoopback(dev);
    dev.failRequest(VIDIOC_S_FMT, EBUSY);
    V4l2Output out(dev, kPath, PixelFormat::kYuy2);
    ASSERT_TRUE(out.open(&error));
    EXPECT_FALSE(out.configure(320, 240, &error));
    EXPECT_NE(error.find(std::strerror(EBUSY)), std::string::npos);
    const auto p = Picture(320, 240, 0);
    EXPECT_FALSE(out.writePicture(p.data(), 320, 240, &error));
    EXPECT_TRUE(dev.writeSizes().empty());
  }
  {
    FakeV4l2 dev;  // the device answers with another size
    addLoopback(dev, [](FakeVideoNode& n) { n.clampWidth = 256; });
    V4l2Output out(dev, kPath, PixelFormat::kYuy2);
    ASSERT_TRUE(out.open(&error));
    EXPECT_FALSE(out.configure(320, 240, &error));
    EXPECT_NE(error.find("256x240"), std::string::npos);
  }
  {
    FakeV4l2 dev;
    addLoopback(dev);
    dev.failWrites(ENOSPC);
    V4l2Output out(dev, kPath, PixelFormat::kYuy2);
    ASSERT_TRUE(out.open(&error) && out.configure(320, 240, &error));
    const auto p = Picture(320, 240, 0);
    EXPECT_FALSE(out.writePicture(p.data(), 320, 240, &error));
    EXPECT_EQ(out.picturesWritten(), 0u);
  }
}

TEST(V4l2OutputTest, FormatNames) {
  EXPECT_EQ(parseV4l2Format("yuyv"), PixelFormat::kYuy2);
  EXPECT_EQ(parseV4l2Format("i420"), PixelFormat::kI420);
  EXPECT_FALSE(parseV4l2Format("mjpeg"));
}

}  // namespace
}  // namespace output
