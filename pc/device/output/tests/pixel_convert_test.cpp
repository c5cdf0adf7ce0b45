#include "output/pixel_convert.h"

#include <gtest/gtest.h>

#include <vector>

#include "decoder/jpeg_decoder.h"
#include "output/media_type.h"
#include "test_jpeg.h"

namespace output {
namespace {

// A bottom-up BGR picture whose pixel (x, y from the top) has the colour colour(x, y).
template <typename F>
std::vector<uint8_t> Rendered(uint32_t w, uint32_t h, F colour) {
  std::vector<uint8_t> p(pictureSize(w, h), 0xEE);
  for (uint32_t y = 0; y < h; ++y) {
    uint8_t* row = p.data() + size_t{rowSize(w)} * (h - 1 - y);
    for (uint32_t x = 0; x < w; ++x) {
      const auto [r, g, b] = colour(x, y);
      row[x * 3] = b;
      row[x * 3 + 1] = g;
      row[x * 3 + 2] = r;
    }
  }
  return p;
}

struct Rgb {
  uint8_t r, g, b;
};
Rgb pattern(uint32_t x, uint32_t y) {
  return {static_cast<uint8_t>(x * 7 + y), static_cast<uint8_t>(y * 11), static_cast<uint8_t>(200 - x)};
}

TEST(PixelConvertTest, PackedFormatsAreTopDownWithTheirByteOrder) {
  const uint32_t w = 5, h = 3;  // odd width: the 24-bit rows carry padding
  const auto src = Rendered(w, h, [](uint32_t x, uint32_t y) {
    const Rgb c = pattern(x, y);
    return std::tuple{c.r, c.g, c.b};
  });
  struct Case {
    PixelFormat format;
    size_t bytes;
    int r, g, b, x;  // byte positions in a pixel, -1 absent
  } cases[] = {{PixelFormat::kBgr, 3, 2, 1, 0, -1},
               {PixelFormat::kRgb, 3, 0, 1, 2, -1},
               {PixelFormat::kBgrx, 4, 2, 1, 0, 3},
               {PixelFormat::kRgbx, 4, 0, 1, 2, 3}};
  for (const auto& c : cases) {
    SCOPED_TRACE(pixelFormatName(c.format));
    const PictureLayout l = layoutFor(c.format, w, h);
    EXPECT_EQ(l.stride, (w * c.bytes + 3) & ~size_t{3});
    EXPECT_EQ(l.size, l.stride * h);
    std::vector<uint8_t> out(l.size, 0);
    convertPicture(src.data(), w, h, c.format, out.data());
    for (uint32_t y = 0; y < h; ++y) {
      for (uint32_t x = 0; x < w; ++x) {
        const uint8_t* p = out.data() + l.stride * y + x * c.bytes;
        const Rgb e = pattern(x, y);
        EXPECT_EQ(p[c.r], e.r);
        EXPECT_EQ(p[c.g], e.g);
        EXPECT_EQ(p[c.b], e.b);
        if (c.x >= 0) {
          EXPECT_EQ(p[c.x], 255);
        }
      }
    }
  }
}

TEST(PixelConvertTest, YuvOfKnownColours) {
  // BT.601 limited range.
  struct Case {
    Rgb rgb;
    int y, u, v;
  } cases[] = {{{255, 255, 255}, 235, 128, 128}, {{0, 0, 0}, 16, 128, 128},
               {{255, 0, 0}, 82, 90, 240},       {{0, 255, 0}, 145, 54, 34},
               {{0, 0, 255}, 41, 240, 110}};
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << int(c.rgb.r) << "," << int(c.rgb.g) << "," << int(c.rgb.b));
    const uint32_t w = 4, h = 2;
    const auto src = Rendered(w, h, [&](uint32_t, uint32_t) { return std::tuple{c.rgb.r, c.rgb.g, c.rgb.b}; });
    std::vector<uint8_t> yuy2(layoutFor(PixelFormat::kYuy2, w, h).size);
    convertPicture(src.data(), w, h, PixelFormat::kYuy2, yuy2.data());
    EXPECT_NEAR(yuy2[0], c.y, 1);
    EXPECT_NEAR(yuy2[1], c.u, 1);
    EXPECT_NEAR(yuy2[2], c.y, 1);
    EXPECT_NEAR(yuy2[3], c.v, 1);
    std::vector<uint8_t> i420(layoutFor(PixelFormat::kI420, w, h).size);
    convertPicture(src.data(), w, h, PixelFormat::kI420, i420.data());
    EXPECT_NEAR(i420[0], c.y, 1);
    EXPECT_NEAR(i420[8], c.u, 1);   // U plane after 4 x 2 luma bytes
    EXPECT_NEAR(i420[12], c.v, 1);  // V plane after the 4-byte-stride U row
  }
}

TEST(PixelConvertTest, YuvIsTopDownAndChromaAveragesItsBlock) {
  // Top half white, bottom half black; odd sizes leave a half block at the edges.
  const uint32_t w = 5, h = 5;
  const auto src = Rendered(w, h, [](uint32_t, uint32_t y) {
    const uint8_t v = y < 2 ? 255 : 0;
    return std::tuple{v, v, v};
  });
  const PictureLayout yuy2 = layoutFor(PixelFormat::kYuy2, w, h);
  EXPECT_EQ(yuy2.stride, 12u);
  std::vector<uint8_t> out(yuy2.size);
  convertPicture(src.data(), w, h, PixelFormat::kYuy2, out.data());
  EXPECT_EQ(out[0], 235);
  EXPECT_EQ(out[yuy2.stride * 4], 16);
  EXPECT_EQ(out[yuy2.stride * 4 + 8], 16);  // the last, lone pixel of the row

  const PictureLayout i420 = layoutFor(PixelFormat::kI420, w, h);
  EXPECT_EQ(i420.stride, 8u);
  EXPECT_EQ(i420.chromaStride, 4u);
  EXPECT_EQ(i420.size, 8u * 6 + 2 * 4 * 3);  // luma rows rounded up to even
  std::vector<uint8_t> planes(i420.size, 0x77);
  convertPicture(src.data(), w, h, PixelFormat::kI420, planes.data());
  for (uint32_t y = 0; y < h; ++y) EXPECT_EQ(planes[y * 8 + 4], y < 2 ? 235 : 16);
  // Chroma of grey stays neutral whatever the mix.
  for (size_t i = 48; i < planes.size(); i += 1) {
    if ((i - 48) % 4 < 3) {
      EXPECT_EQ(planes[i], 128) << i;
    }
  }
}

}  // namespace
}  // namespace output

namespace output {
namespace {

TEST(PixelConvertTest, RowKernelsGiveThePortableBytesAtEveryWidth) {
  uint32_t seed = 12345;
  for (uint32_t w : {1u, 2u, 3u, 5u, 6u, 7u, 8u, 9u, 13u, 16u, 17u, 23u, 24u, 31u, 640u, 642u}) {
    const uint32_t h = 3;
    std::vector<uint8_t> src(pictureSize(w, h));
    for (auto& b : src) {
      seed = seed * 1103515245 + 12345;
      b = static_cast<uint8_t>(seed >> 16);
    }
    for (PixelFormat f : {PixelFormat::kBgrx, PixelFormat::kRgbx, PixelFormat::kYuy2, PixelFormat::kI420}) {
      SCOPED_TRACE(testing::Message() << pixelFormatName(f) << " width " << w);
      const size_t size = layoutFor(f, w, h).size;
      std::vector<uint8_t> fast(size, 1), portable(size, 1);
      convertPictureWith(src.data(), w, h, f, fast.data(), true);
      convertPictureWith(src.data(), w, h, f, portable.data(), false);
      EXPECT_EQ(fast, portable);
    }
  }
}

// A phone picture decoded straight into a program's layout has the bytes the rendered
// picture converted into that layout has, for every format that allows it, at odd widths
// (padded 24-bit rows) and both samplings; the YUV formats always take the conversion.
TEST(PixelConvertTest, StraightDecodeGivesTheConvertedBytesInEveryFormatThatAllowsIt) {
  struct Size {
    uint32_t w, h;
    decoder_testing::Sampling sampling;
  };
  const Size sizes[] = {{33, 17, decoder_testing::Sampling::k420},
                        {161, 121, decoder_testing::Sampling::k444},
                        {640, 480, decoder_testing::Sampling::k420}};
  const PixelFormat formats[] = {PixelFormat::kBgr,  PixelFormat::kRgb,  PixelFormat::kBgrx,
                                 PixelFormat::kRgbx, PixelFormat::kYuy2, PixelFormat::kI420};
  decoder::JpegDecoder decoder;
  for (const Size& s : sizes) {
    decoder_testing::JpegOptions o;
    o.sampling = s.sampling;
    const std::vector<uint8_t> jpeg =
        decoder_testing::encodeRgb(decoder_testing::testPicture(s.w, s.h).data(), s.w, s.h, o);
    std::vector<uint8_t> rendered(decoder::imageSize(s.w, s.h));
    ASSERT_TRUE(decoder.decode(jpeg.data(), jpeg.size(), rendered.data(), rendered.size(), s.w,
                               s.h, 0, false));
    for (PixelFormat f : formats) {
      SCOPED_TRACE(::testing::Message() << s.w << "x" << s.h << " " << pixelFormatName(f));
      const std::optional<decoder::PixelOrder> order = straightOrder(f);
      if (f == PixelFormat::kYuy2 || f == PixelFormat::kI420) {
        EXPECT_FALSE(order.has_value());
        continue;
      }
      ASSERT_TRUE(order.has_value());
      const PictureLayout l = layoutFor(f, s.w, s.h);
      std::vector<uint8_t> converted(l.size, 0xEE), straight(l.size, 0xEE);
      convertPicture(rendered.data(), s.w, s.h, f, converted.data());
      ASSERT_TRUE(decoder.decodeHeader(jpeg.data(), jpeg.size(), nullptr, nullptr));
      ASSERT_TRUE(decoder.renderStraight({straight.data(), straight.size(), l.stride, *order}));
      EXPECT_TRUE(straight == converted);
    }
  }
}

}  // namespace
}  // namespace output
