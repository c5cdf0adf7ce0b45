// Preview conversion: path choice, the two colour formulas, scaling steps, turns and the
// rejections.

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "encoder.h"
#include "jpeg_test_support.h"

namespace jpegpress {
namespace {

using namespace jpegpress::testing;

int clampInt(int v, int hi) { return v < 0 ? 0 : (v > hi ? hi : v); }

uint16_t q10(int y, int u, int v) {
  const int r = clampInt((1192 * y - 19072 + 1634 * v - 209152) >> 13, 31);
  const int g = clampInt((1192 * y - 19072 + 157952 - 401 * u - 833 * v) >> 12, 63);
  const int b = clampInt((1192 * y - 19072 + 2065 * u - 264320) >> 13, 31);
  return static_cast<uint16_t>(r << 11 | g << 5 | b);
}

uint16_t q8(int y, int cb, int cr) {
  const int r = clampInt((298 * y - 4768 + 409 * cr - 52352) >> 11, 31);
  const int g = clampInt((298 * y - 4768 + 39424 - 100 * cb - 208 * cr) >> 10, 63);
  const int b = clampInt((298 * y - 4768 + 516 * cb - 66048) >> 11, 31);
  return static_cast<uint16_t>(r << 11 | g << 5 | b);
}

// A picture of w x h RGB565 pixels, row-major, before any turn.
struct Picture {
  int w, h;
  std::vector<uint16_t> px;
  uint16_t at(int x, int y) const { return px[static_cast<size_t>(y) * w + x]; }
};

Picture decimationReference(const std::vector<uint8_t>& uyvy, int sw, int w, int h, int k) {
  Picture p{w, h, std::vector<uint16_t>(static_cast<size_t>(w) * h)};
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      const uint8_t* row = &uyvy[static_cast<size_t>(k) * y * sw * 2];
      const int luma = row[(k * x) * 2 + 1];
      const int firstOfPair = k * (x & ~1);  // first source pixel of the output pair's group
      p.px[static_cast<size_t>(y) * w + x] = q10(luma, row[firstOfPair * 2], row[firstOfPair * 2 + 2]);
    }
  return p;
}

struct PlanarRef {
  int w, h;
  std::vector<uint8_t> y, cb, cr;
};

PlanarRef planarOf(const std::vector<uint8_t>& data, int w, int h, bool crFirst = false) {
  PlanarRef p{w, h, {}, {}, {}};
  const size_t luma = static_cast<size_t>(w) * h, chroma = static_cast<size_t>(w / 2) * (h / 2);
  p.y.assign(data.begin(), data.begin() + luma);
  p.cb.assign(data.begin() + luma, data.begin() + luma + chroma);
  p.cr.assign(data.begin() + luma + chroma, data.begin() + luma + 2 * chroma);
  if (crFirst) std::swap(p.cb, p.cr);
  return p;
}

// Packed to planar with the chroma of the two rows of a pair averaged, rounding up.
PlanarRef planarFromUyvy(const std::vector<uint8_t>& uyvy, int w, int h) {
  PlanarRef p{w, h, std::vector<uint8_t>(static_cast<size_t>(w) * h),
              std::vector<uint8_t>(static_cast<size_t>(w / 2) * (h / 2)),
              std::vector<uint8_t>(static_cast<size_t>(w / 2) * (h / 2))};
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) p.y[static_cast<size_t>(y) * w + x] = uyvy[(static_cast<size_t>(y) * w + x) * 2 + 1];
  for (int y = 0; y < h / 2; ++y)
    for (int x = 0; x < w / 2; ++x) {
      const size_t a = (static_cast<size_t>(2 * y) * w + 2 * x) * 2, b = a + static_cast<size_t>(w) * 2;
      p.cb[static_cast<size_t>(y) * (w / 2) + x] = static_cast<uint8_t>((uyvy[a] + uyvy[b] + 1) / 2);
      p.cr[static_cast<size_t>(y) * (w / 2) + x] = static_cast<uint8_t>((uyvy[a + 2] + uyvy[b + 2] + 1) / 2);
    }
  return p;
}

// Turns a plane the way the preview turns pictures (0 counter-clockwise, 2 clockwise,
// 3 half): source (x, y) lands at row W-1-x, column y; row x, column H-1-y; row H-1-y,
// column W-1-x.
std::vector<uint8_t> turnPlane(const std::vector<uint8_t>& in, int w, int h, uint32_t turn) {
  std::vector<uint8_t> out(in.size());
  const bool quarter = turn == 0 || turn == 2;
  const int ow = quarter ? h : w;
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      int row = y, col = x;
      if (turn == 0) row = w - 1 - x, col = y;
      if (turn == 2) row = x, col = h - 1 - y;
      if (turn == 3) row = h - 1 - y, col = w - 1 - x;
      out[static_cast<size_t>(row) * ow + col] = in[static_cast<size_t>(y) * w + x];
    }
  return out;
}

PlanarRef turnPlanes(const PlanarRef& p, uint32_t turn) {
  const bool quarter = turn == 0 || turn == 2;
  return {quarter ? p.h : p.w, quarter ? p.w : p.h, turnPlane(p.y, p.w, p.h, turn),
          turnPlane(p.cb, p.w / 2, p.h / 2, turn), turnPlane(p.cr, p.w / 2, p.h / 2, turn)};
}

Picture scaleReference(const PlanarRef& p, int w, int h, int64_t stepX, int64_t stepY) {
  Picture out{w, h, std::vector<uint16_t>(static_cast<size_t>(w) * h)};
  auto pos = [](int i, int64_t step, int size) {
    return clampInt(static_cast<int>((i * step + 0x8000) >> 16), size - 1);
  };
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      const int sx = pos(x, stepX, p.w), sy = pos(y, stepY, p.h);
      const int cx = clampInt(pos(x & ~1, stepX, p.w) / 2, p.w / 2 - 1);
      const int cy = clampInt(pos(y & ~1, stepY, p.h) / 2, p.h / 2 - 1);
      const size_t c = static_cast<size_t>(cy) * (p.w / 2) + cx;
      out.px[static_cast<size_t>(y) * w + x] = q8(p.y[static_cast<size_t>(sy) * p.w + sx], p.cb[c], p.cr[c]);
    }
  return out;
}

int64_t stepFor(int source, int destination) {
  return static_cast<int64_t>((source & ~1) - 1) * 65536 / ((destination & ~1) - 1);
}

// A destination with margins: the converted area starts at (margin, margin).
struct Canvas {
  static constexpr int kMargin = 3;
  static constexpr uint16_t kFill = 0xBEEF;
  int width, height;  // of the whole canvas
  std::vector<uint16_t> px;
  Canvas(int areaWidth, int areaHeight)
      : width(areaWidth + 2 * kMargin), height(areaHeight + 2 * kMargin),
        px(static_cast<size_t>(width) * height, kFill) {}
  uint16_t* origin() { return &px[static_cast<size_t>(kMargin) * width + kMargin]; }
  int strideBytes() const { return width * 2; }
  uint16_t at(int col, int row) const {
    return px[static_cast<size_t>(row + kMargin) * width + col + kMargin];
  }
};

// Checks that picture pixel (x, y) landed where `turn` puts it, and that nothing else of
// the canvas was written.
void expectLanded(const Canvas& c, const Picture& p, uint32_t turn) {
  const bool quarter = turn == 0 || turn == 2;
  const int areaW = quarter ? p.h : p.w, areaH = quarter ? p.w : p.h;
  for (int y = 0; y < p.h; ++y)
    for (int x = 0; x < p.w; ++x) {
      int row = y, col = x;
      if (turn == 0) row = p.w - 1 - x, col = y;
      if (turn == 2) row = x, col = p.h - 1 - y;
      if (turn == 3) row = p.h - 1 - y, col = p.w - 1 - x;
      ASSERT_EQ(c.at(col, row), p.at(x, y)) << "turn " << turn << " pixel " << x << "," << y;
    }
  size_t written = 0;
  for (uint16_t v : c.px) written += v != Canvas::kFill;
  size_t expectedMax = static_cast<size_t>(areaW) * areaH;
  EXPECT_LE(written, expectedMax);
  for (int row = -Canvas::kMargin; row < areaH + Canvas::kMargin; ++row)
    for (int col = -Canvas::kMargin; col < c.width - Canvas::kMargin; ++col) {
      if (row >= 0 && row < areaH && col >= 0 && col < areaW) continue;
      ASSERT_EQ(c.at(col, row), Canvas::kFill) << "outside at " << col << "," << row;
    }
}

uint32_t convert(Canvas& c, int w, int h, const std::vector<uint8_t>& src, int sw, int sh,
                 uint32_t format, uint32_t turn, std::vector<uint8_t>* work) {
  return convertPreview(c.origin(), w, h, c.strideBytes(), src.data(), sw, sh, format, turn,
                        work ? work->data() : nullptr);
}

std::vector<uint8_t> workFor(int w, int h) { return std::vector<uint8_t>(static_cast<size_t>(w) * h * 3 / 2, 0x77); }

TEST(ConvertPreview, ExactFactorsTakeTheDecimationPathInEveryTurn) {
  const auto uyvy = toUyvy(naturalPicture(320, 240, 21));
  for (int k : {2, 4, 8}) {
    const Picture expected = decimationReference(uyvy, 320, 320 / k, 240 / k, k);
    for (uint32_t turn = 0; turn < 4; ++turn) {
      Canvas c(std::max(320 / k, 240 / k), std::max(320 / k, 240 / k));
      // No work buffer needed on this path.
      ASSERT_EQ(convert(c, 320 / k, 240 / k, uyvy, 320, 240, kJpegFormatUyvy, turn, nullptr), 1u);
      expectLanded(c, expected, turn);
    }
  }
}

TEST(ConvertPreview, HalvingCifIsPlainAndQuarterTurnLandsCounterClockwise) {
  const auto uyvy = toUyvy(naturalPicture(352, 288, 22));
  const Picture expected = decimationReference(uyvy, 352, 176, 144, 2);
  Canvas plain(176, 144);
  ASSERT_EQ(convert(plain, 176, 144, uyvy, 352, 288, kJpegFormatUyvy, 1, nullptr), 1u);
  expectLanded(plain, expected, 1);
  // Turn 0: 144 columns wide, 176 rows high; pixel (x, y) at row 175 - x, column y.
  Canvas turned(176, 176);
  ASSERT_EQ(convert(turned, 176, 144, uyvy, 352, 288, kJpegFormatUyvy, 0, nullptr), 1u);
  expectLanded(turned, expected, 0);
  EXPECT_EQ(turned.at(0, 175), expected.at(0, 0));
  EXPECT_EQ(turned.at(143, 0), expected.at(175, 143));
  EXPECT_EQ(turned.at(144, 0), Canvas::kFill);
}

TEST(ConvertPreview, GeneralPathStepsFoldTheTurnIntoSmallPackedFrames) {
  const auto uyvy = toUyvy(naturalPicture(320, 240, 23));
  const PlanarRef planar = planarFromUyvy(uyvy, 320, 240);
  // 320 x 240 into 120 x 90: steps (320 - 1) x 65536 / 119 and (240 - 1) x 65536 / 89.
  EXPECT_EQ(stepFor(320, 120), (320 - 1) * 65536 / 119);
  EXPECT_EQ(stepFor(240, 90), (240 - 1) * 65536 / 89);
  const Picture unturned = scaleReference(planar, 120, 90, (320 - 1) * 65536 / 119, (240 - 1) * 65536 / 89);
  for (uint32_t turn = 0; turn < 4; ++turn) {
    auto work = workFor(320, 240);
    Canvas c(120, 120);
    ASSERT_EQ(convert(c, 120, 90, uyvy, 320, 240, kJpegFormatUyvy, turn, &work), 1u);
    if (turn == 1) {
      expectLanded(c, unturned, 1);
      continue;
    }
    // Fewer than 131,072 pixels: the planes are turned first and scaled unturned, with the
    // source sizes and the two steps exchanged.
    const PlanarRef turned = turnPlanes(planar, turn);
    const bool quarter = turn != 3;
    const int ow = quarter ? 90 : 120, oh = quarter ? 120 : 90;
    const Picture expected = scaleReference(turned, ow, oh, stepFor(turned.w, ow), stepFor(turned.h, oh));
    expectLanded(c, expected, 1);
  }
}

TEST(ConvertPreview, LargePackedFramesTurnWhileWriting) {
  // 512 x 256 = 131,072 pixels: the planar copy keeps its orientation.
  const auto uyvy = toUyvy(naturalPicture(512, 256, 24));
  const PlanarRef planar = planarFromUyvy(uyvy, 512, 256);
  const Picture expected = scaleReference(planar, 200, 100, stepFor(512, 200), stepFor(256, 100));
  for (uint32_t turn = 0; turn < 4; ++turn) {
    auto work = workFor(512, 256);
    Canvas c(200, 200);
    ASSERT_EQ(convert(c, 200, 100, uyvy, 512, 256, kJpegFormatUyvy, turn, &work), 1u);
    expectLanded(c, expected, turn);
  }
}

TEST(ConvertPreview, PlanarSourcesInBothChromaOrders) {
  const RgbPicture p = naturalPicture(160, 120, 25);
  const auto cbFirst = toPlanar(p, false), crFirst = toPlanar(p, true);
  const PlanarRef planar = planarOf(cbFirst, 160, 120);
  struct Size {
    int w, h;
  } sizes[] = {{100, 76}, {80, 60}, {240, 180}, {37, 29}, {2, 2}};
  for (const Size& s : sizes) {
    const Picture expected = scaleReference(planar, s.w, s.h, stepFor(160, s.w), stepFor(120, s.h));
    for (uint32_t turn = 0; turn < 4; ++turn) {
      Canvas a(std::max(s.w, s.h), std::max(s.w, s.h)), b = a;
      ASSERT_EQ(convert(a, s.w, s.h, cbFirst, 160, 120, kJpegFormatPlanar, turn, nullptr), 1u);
      ASSERT_EQ(convert(b, s.w, s.h, crFirst, 160, 120, kJpegFormatPlanarCrCb, turn, nullptr), 1u);
      EXPECT_EQ(a.px, b.px) << s.w << "x" << s.h << " turn " << turn;
      expectLanded(a, expected, turn);
    }
  }
}

TEST(ConvertPreview, RejectionsLeaveTheDestinationUntouched) {
  const auto uyvy = toUyvy(naturalPicture(320, 240, 26));
  const auto planar = toPlanar(naturalPicture(320, 240, 26));
  auto work = workFor(320, 240);
  struct Case {
    const char* what;
    int w, h;
    uint32_t format, turn;
    bool withWork;
  } cases[] = {
      {"RGB555", 160, 120, kJpegFormatRgb555, 1, true},
      {"RGB565", 160, 120, kJpegFormatRgb565, 1, true},
      {"BGR24", 160, 120, kJpegFormatBgr24, 1, true},
      {"unknown format", 160, 120, 6, 1, true},
      {"packed, no work buffer, no exact factor", 120, 90, kJpegFormatUyvy, 1, false},
      {"packed, factor 3", 320 / 4, 240 / 4 + 1, kJpegFormatUyvy, 1, false},
      {"turn 4", 160, 120, kJpegFormatUyvy, 4, true},
      {"turn 4, planar", 100, 100, kJpegFormatPlanar, 4, true},
      {"width 1", 1, 90, kJpegFormatPlanar, 1, true},
      {"height 1", 90, 1, kJpegFormatUyvy, 1, true},
      {"width 0", 0, 90, kJpegFormatPlanarCrCb, 1, true},
      {"negative height", 90, -4, kJpegFormatPlanar, 1, true},
  };
  for (const Case& c : cases) {
    Canvas canvas(160, 160);
    const auto& src = c.format >= kJpegFormatPlanar ? planar : uyvy;
    EXPECT_EQ(convert(canvas, c.w, c.h, src, 320, 240, c.format, c.turn, c.withWork ? &work : nullptr), 0u)
        << c.what;
    for (uint16_t v : canvas.px) ASSERT_EQ(v, Canvas::kFill) << c.what;
  }
}

}  // namespace
}  // namespace jpegpress
