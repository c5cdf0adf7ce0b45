#include "camera/preview_convert.h"

#include <gtest/gtest.h>

#include <vector>

#include "platform/module.h"

namespace camera {
namespace {

using namespace sources;

struct Bitmap {
  Bitmap(uint32_t w, uint32_t h) : pixels(w * h, 0xFFFF) {
    view.pixels = pixels.data();
    view.width = w;
    view.height = h;
    view.strideBytes = w * 2;
  }
  uint16_t at(uint32_t x, uint32_t y) const { return pixels[y * view.width + x]; }
  std::vector<uint16_t> pixels;
  PreviewBitmap view;
};

struct PlaceCase {
  uint32_t w, h, rotation;
  uint32_t width, height, x, y;
  bool clear;
};

TEST(PreviewPlacement, FitsCentresAndRoundsTheOffsets) {
  const PlaceCase cases[] = {
      // 176x144 in 320x240: height limits, width 293 rounded down to 292, across (28/2) -> 12.
      {176, 144, 0, 292, 240, 12, 0, true},
      // A quarter turn fits the picture into 240x320 first: 240 x 196, shown 196 wide.
      {176, 144, 1, 240, 196, 60, 0, true},
      {176, 144, 3, 240, 196, 60, 0, true},
      // Exact fits, no clearing.
      {320, 240, 0, 320, 240, 0, 0, false},
      {640, 480, 2, 320, 240, 0, 0, false},
      // 320x200 into 320x240: 40 rows of margin, down offset 20 rounded to 16.
      {320, 200, 0, 320, 200, 0, 16, true},
  };
  Bitmap bitmap(320, 240);
  for (const PlaceCase& c : cases) {
    PreviewPlacement p;
    ASSERT_TRUE(placePreview(bitmap.view, c.w, c.h, c.rotation, &p));
    EXPECT_EQ(p.width, c.width) << c.w << "x" << c.h << " a=" << c.rotation;
    EXPECT_EQ(p.height, c.height) << c.w << "x" << c.h << " a=" << c.rotation;
    EXPECT_EQ(p.x, c.x) << c.w << "x" << c.h << " a=" << c.rotation;
    EXPECT_EQ(p.y, c.y) << c.w << "x" << c.h << " a=" << c.rotation;
    EXPECT_EQ(p.clear, c.clear) << c.w << "x" << c.h << " a=" << c.rotation;
  }
  PreviewPlacement p;
  EXPECT_FALSE(placePreview(bitmap.view, 0, 144, 0, &p));
}

std::vector<uint8_t> flatYv12(uint32_t w, uint32_t h, uint8_t y, uint8_t u, uint8_t v) {
  std::vector<uint8_t> p(w * h * 3 / 2, y);
  std::fill(p.begin() + w * h, p.begin() + w * h * 5 / 4, u);
  std::fill(p.begin() + w * h * 5 / 4, p.end(), v);
  return p;
}

TEST(PreviewConvert, A176x144PictureIsCentredIn320x240WithTheMarginsCleared) {
  Bitmap bitmap(320, 240);
  std::vector<uint8_t> picture = flatYv12(176, 144, 100, 50, 200);
  std::vector<uint8_t> scratch(176 * 144 * 2);
  FrameDescriptor frame{picture.data(), static_cast<uint32_t>(picture.size()), kFormatYv12, 176, 144, 1, 0};
  ASSERT_TRUE(PreviewConvert(bitmap.view, frame, 0, scratch.data(), nullptr));
  // U' = -78, V' = 72: R = 200, G = 76, B clamped to 0.
  const uint16_t expected = (200 & 0xF8) << 8 | (76 & 0xFC) << 3;
  for (uint32_t y = 0; y < 240; y += 17) {
    for (uint32_t x = 0; x < 12; ++x) ASSERT_EQ(bitmap.at(x, y), 0) << x << "," << y;
    for (uint32_t x = 12; x < 304; ++x) ASSERT_EQ(bitmap.at(x, y), expected) << x << "," << y;
    for (uint32_t x = 304; x < 320; ++x) ASSERT_EQ(bitmap.at(x, y), 0) << x << "," << y;
  }
}

TEST(PreviewConvert, FallbackTurnsAndHandlesRgb) {
  // An RGB 5-6-5 picture with one marked top-left pixel, turned a quarter counter-clockwise:
  // the mark lands at the bottom-left of the shown picture (60, 239).
  Bitmap bitmap(320, 240);
  std::vector<uint8_t> picture(176 * 144 * 2, 0x11);
  picture[0] = 0x1F;  // blue
  picture[1] = 0x00;
  FrameDescriptor frame{picture.data(), static_cast<uint32_t>(picture.size()), kFormatRgb565, 176, 144, 1, 0};
  ASSERT_TRUE(PreviewConvert(bitmap.view, frame, 1, nullptr, nullptr));
  EXPECT_EQ(bitmap.at(60, 239), 0x001F);
  EXPECT_EQ(bitmap.at(61, 238), 0x001F);  // upscaled: two by two pixels
  EXPECT_EQ(bitmap.at(62, 237), 0x1111);
  EXPECT_EQ(bitmap.at(59, 239), 0);
  EXPECT_EQ(bitmap.at(60 + 196, 100), 0);

  // RGB 8-8-8 (B, G, R) packs to 5-6-5.
  Bitmap small(16, 16);
  std::vector<uint8_t> bgr(16 * 16 * 3);
  for (size_t i = 0; i < bgr.size(); i += 3) bgr[i] = 0x08, bgr[i + 1] = 0x84, bgr[i + 2] = 0xFF;
  FrameDescriptor rgb{bgr.data(), static_cast<uint32_t>(bgr.size()), kFormatRgb24, 16, 16, 1, 0};
  ASSERT_TRUE(PreviewConvert(small.view, rgb, 0, nullptr, nullptr));
  EXPECT_EQ(small.at(5, 5), 0xF800 | (0x84 & 0xFC) << 3 | 0x01);
}

TEST(PreviewConvert, JpegFramesAndUnknownLayoutsGiveNoPreview) {
  Bitmap bitmap(320, 240);
  std::vector<uint8_t> bytes(176 * 144 * 2, 0);
  FrameDescriptor jpeg{bytes.data(), 100, kFormatJpeg, 176, 144, 1, 0};
  EXPECT_FALSE(PreviewConvert(bitmap.view, jpeg, 0, nullptr, nullptr));
  FrameDescriptor iyuv{bytes.data(), static_cast<uint32_t>(bytes.size()), kFormatIyuv, 176, 144, 1, 0};
  EXPECT_FALSE(PreviewConvert(bitmap.view, iyuv, 0, nullptr, nullptr));
  FrameDescriptor shortFrame{bytes.data(), 1000, kFormatUyvy, 176, 144, 1, 0};
  EXPECT_FALSE(PreviewConvert(bitmap.view, shortFrame, 0, nullptr, nullptr));
  EXPECT_EQ(bitmap.at(0, 0), 0xFFFF);
}

TEST(PreviewConvert, JpegpressConvertsFirstIntoTheCentredArea) {
  auto module = platform::loadModuleFrom(VISTREL_MODULE_DIR, kJpegpressModuleName);
  ASSERT_NE(module, nullptr);
  JpegEncoderTable table{};
  auto get = reinterpret_cast<DllGetDataFunction>(module->symbol("DllGetData"));
  ASSERT_TRUE(get && get(&table));
  Bitmap bitmap(320, 240);
  std::vector<uint8_t> uyvy(176 * 144 * 2);
  for (size_t i = 0; i < uyvy.size(); i += 4) uyvy[i] = 128, uyvy[i + 1] = 180, uyvy[i + 2] = 128, uyvy[i + 3] = 180;
  std::vector<uint8_t> scratch(176 * 144 * 2);
  FrameDescriptor frame{uyvy.data(), static_cast<uint32_t>(uyvy.size()), kFormatUyvy, 176, 144, 1, 0};
  ASSERT_TRUE(PreviewConvert(bitmap.view, frame, 0, scratch.data(), &table));
  EXPECT_EQ(bitmap.at(0, 120), 0);
  EXPECT_EQ(bitmap.at(319, 120), 0);
  const uint16_t centre = bitmap.at(160, 120);
  // A light grey: all three fields well above the middle and about equal.
  EXPECT_GT(centre >> 11, 18);
  EXPECT_NEAR(centre >> 11, (centre >> 6) & 0x1F, 1);
  EXPECT_NEAR(centre >> 11, centre & 0x1F, 1);
  EXPECT_EQ(bitmap.at(12, 120), centre);
  EXPECT_EQ(bitmap.at(303, 120), centre);
}

}  // namespace
}  // namespace camera

namespace camera {
namespace {

TEST(PreviewConvert, BothConvertersTurnAQuarterTheSameWay) {
  auto module = platform::loadModuleFrom(VISTREL_MODULE_DIR, kJpegpressModuleName);
  ASSERT_NE(module, nullptr);
  JpegEncoderTable table{};
  auto get = reinterpret_cast<DllGetDataFunction>(module->symbol("DllGetData"));
  ASSERT_TRUE(get && get(&table));
  // Dark UYVY picture with a bright 16x16 block at the top-left corner.
  const uint32_t w = 176, h = 144;
  std::vector<uint8_t> uyvy(w * h * 2);
  for (uint32_t y = 0; y < h; ++y)
    for (uint32_t x = 0; x < w; x += 2) {
      uint8_t* word = &uyvy[(y * w + x) * 2];
      const uint8_t luma = (x < 16 && y < 16) ? 235 : 16;
      word[0] = 128, word[1] = luma, word[2] = 128, word[3] = luma;
    }
  std::vector<uint8_t> scratch(w * h * 2);
  FrameDescriptor frame{uyvy.data(), static_cast<uint32_t>(uyvy.size()), kFormatUyvy, w, h, 1, 0};
  for (const JpegEncoderTable* converter : {static_cast<const JpegEncoderTable*>(&table),
                                            static_cast<const JpegEncoderTable*>(nullptr)}) {
    Bitmap bitmap(320, 240);
    ASSERT_TRUE(PreviewConvert(bitmap.view, frame, 1, scratch.data(), converter));
    // Shown 196 wide from x = 60; the block lands at the bottom-left.
    EXPECT_GT(bitmap.at(62, 237) >> 11, 25) << (converter ? "jpegpress" : "fallback");
    EXPECT_LT(bitmap.at(62, 10) >> 11, 5) << (converter ? "jpegpress" : "fallback");
    EXPECT_LT(bitmap.at(250, 237) >> 11, 5) << (converter ? "jpegpress" : "fallback");
    EXPECT_EQ(bitmap.at(30, 100), 0) << "margin";
  }
}

}  // namespace
}  // namespace camera
