#include "decoder/render_geometry.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <ostream>
#include <thread>
#include <tuple>
#include <vector>

namespace decoder {

void PrintTo(const ResampleWeight& w, std::ostream* os) {
  *os << "(" << w.w0 << "," << w.w1 << ")";
}

namespace {

struct FitCase {
  uint32_t w, h, r, W, H;
  bool stretched;
  uint32_t fw, fh, ox, oy, tx, ty;
};

TEST(computeFit, StretchesNearlyEqualShapesAndLetterboxesOthers) {
  // clang-format off
  const FitCase cases[] = {
      // w    h   r    W    H  stretch   fw   fh  ox  oy   tx   ty
      {320, 240, 0, 320, 240, true, 320, 240, 0, 0, 320, 240},
      {320, 240, 0, 640, 480, true, 640, 480, 0, 0, 640, 480},
      {320, 240, 0, 320, 256, false, 320, 240, 0, 8, 320, 240},   // q = 1.0667
      {320, 240, 2, 320, 256, false, 320, 240, 0, 8, 320, 240},
      {320, 240, 0, 322, 240, true, 322, 240, 0, 0, 322, 240},    // q = 0.9938
      {240, 320, 1, 320, 240, true, 320, 240, 0, 0, 240, 320},    // turned picture fills
      {240, 320, 3, 320, 240, true, 320, 240, 0, 0, 240, 320},
      {320, 240, 1, 320, 240, false, 180, 240, 70, 0, 240, 180},  // narrow: bars left, right
      {320, 240, 0, 321, 256, false, 321, 240, 0, 8, 321, 240},   // 240.75 rows truncate
      {100, 100, 0, 100, 98, true, 100, 98, 0, 0, 100, 98},       // q = 0.98 exactly
      {100, 100, 0, 100, 97, false, 97, 97, 1, 0, 97, 97},
      {100, 100, 0, 100, 102, true, 100, 102, 0, 0, 100, 102},    // q = 1.02 exactly
      {100, 100, 0, 100, 103, false, 100, 100, 0, 1, 100, 100},
      {1, 1000, 0, 100, 10, false, 0, 10, 50, 0, 0, 10},          // nothing left to show
  };
  // clang-format on
  for (const FitCase& c : cases) {
    SCOPED_TRACE(testing::Message()
                 << c.w << "x" << c.h << " r" << c.r << " -> " << c.W << "x" << c.H);
    const FitGeometry g = computeFit(c.w, c.h, c.r, c.W, c.H);
    EXPECT_EQ(g.stretched, c.stretched);
    EXPECT_EQ(g.fittedWidth, c.fw);
    EXPECT_EQ(g.fittedHeight, c.fh);
    EXPECT_EQ(g.offsetX, c.ox);
    EXPECT_EQ(g.offsetY, c.oy);
    EXPECT_EQ(g.targetX, c.tx);
    EXPECT_EQ(g.targetY, c.ty);
  }
}

using Table = std::vector<ResampleWeight>;

TEST(ResampleWeights, ExactTables) {
  struct Case {
    bool reducing;
    uint32_t nIn, nOut;
    Table expected;
  };
  const Case cases[] = {
      {true, 4, 3, {{3072, 0}, {1024, 2048}, {2048, 1024}, {3072, -1}}},
      {true, 2, 1, {{2048, 0}, {2048, -1}}},
      {true, 5, 3, {{2457, 0}, {1638, 819}, {2457, 0}, {819, 1638}, {2457, -1}}},
      {true, 3, 3, {{4096, -1}, {4096, -1}, {4096, -1}}},
      {false, 3, 4, {{4096, 0}, {1365, 2730}, {2730, 1365}, {4096, -1}}},
      {false, 2, 3, {{4096, 0}, {2048, 2048}, {4096, -1}}},
      {false, 2, 4, {{4096, 0}, {4096, -1}, {4096, 0}, {4096, -1}}},
      {false, 3, 3, {{4096, -1}, {4096, -1}, {4096, -1}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message()
                 << (c.reducing ? "reducing " : "enlarging ") << c.nIn << " -> " << c.nOut);
    Table t(c.expected.size());
    if (c.reducing)
      buildReducingWeights(c.nIn, c.nOut, t.data());
    else
      buildEnlargingWeights(c.nIn, c.nOut, t.data());
    EXPECT_EQ(t, c.expected);
  }
}

// The resampler relies on these for staying inside its rows and its 32-bit sums: a table
// steps exactly once per sample on the other side, ends on an exact boundary, never
// splits its last entry, and the weights reaching each sample add up to at most one whole.
TEST(ResampleWeights, EveryTableStaysInsideItsRowsAndSums) {
  const uint32_t sizes[] = {1, 2, 3, 5, 7, 64, 239, 240, 241, 320, 1023, 3072};
  for (uint32_t a : sizes) {
    for (uint32_t b : sizes) {
      const uint32_t nIn = std::max(a, b), nOut = std::min(a, b);
      for (bool reducing : {true, false}) {
        SCOPED_TRACE(testing::Message()
                     << (reducing ? "reducing " : "enlarging ") << a << "," << b);
        // Reducing: nIn -> nOut; enlarging: nOut -> nIn.
        const uint32_t count = nIn;
        const uint32_t other = nOut;
        Table t(count);
        if (reducing)
          buildReducingWeights(nIn, nOut, t.data());
        else
          buildEnlargingWeights(nOut, nIn, t.data());
        std::vector<int64_t> total(other + 1, 0);
        uint32_t pos = 0;
        for (uint32_t i = 0; i < count; ++i) {
          ASSERT_GE(t[i].w0, 0);
          ASSERT_GE(t[i].w1, -1);
          ASSERT_LT(pos, other);
          if (reducing) {
            total[pos] += t[i].w0;
            if (t[i].w1 > 0) total[pos + 1] += t[i].w1;
          }
          if (t[i].w1 > 0) {
            ASSERT_LT(pos + 1, other) << "split would reach past the end";
          }
          if (t[i].w1 != 0) ++pos;
        }
        EXPECT_EQ(pos, other);
        EXPECT_EQ(t[count - 1].w1, -1);
        if (reducing) {
          for (uint32_t o = 0; o < other; ++o) {
            EXPECT_LE(total[o], kWeightOne);
            // Each entry loses less than one unit to truncation.
            EXPECT_GE(total[o], kWeightOne - static_cast<int64_t>(nIn / nOut + 2));
          }
        } else {
          for (uint32_t i = 0; i < count; ++i) {
            const int64_t sum = t[i].w0 + std::max(t[i].w1, 0);
            EXPECT_LE(sum, kWeightOne);
            EXPECT_GE(sum, kWeightOne - 2);
          }
        }
      }
    }
  }
}

std::vector<uint8_t> pixel(const std::vector<uint8_t>& img, uint32_t W, uint32_t x,
                           uint32_t rowInMemory) {
  const uint8_t* p = &img[rowInMemory * imageStride(W) + x * 3];
  return {p[0], p[1], p[2]};
}

TEST(ColourBars, FirstRowBlendsTheEightBars) {
  // Eight columns at phase 0: each column is one bar, stored blue, green, red.
  std::vector<uint8_t> img(imageSize(8, 2), 0xAB);
  ASSERT_TRUE(drawColourBars(img.data(), img.size(), 8, 2, 0));
  const std::vector<std::vector<uint8_t>> bars = {{255, 255, 255}, {0, 255, 255}, {255, 255, 0},
                                                  {0, 255, 0},     {255, 0, 255}, {0, 0, 255},
                                                  {255, 0, 0},     {0, 0, 0}};
  for (uint32_t x = 0; x < 8; ++x) {
    EXPECT_EQ(pixel(img, 8, x, 0), bars[x]) << "column " << x;
    EXPECT_EQ(pixel(img, 8, x, 1), bars[x]) << "column " << x;
  }
  // Sixteen columns: odd columns lie half way between two bars; the last blends black
  // back into white. Phase 3 moves the picture three columns to the left.
  std::vector<uint8_t> wide(imageSize(16, 1));
  ASSERT_TRUE(drawColourBars(wide.data(), wide.size(), 16, 1, 0));
  EXPECT_EQ(pixel(wide, 16, 1, 0), (std::vector<uint8_t>{127, 255, 255}));   // white..yellow
  EXPECT_EQ(pixel(wide, 16, 3, 0), (std::vector<uint8_t>{127, 255, 127}));   // yellow..cyan
  EXPECT_EQ(pixel(wide, 16, 15, 0), (std::vector<uint8_t>{127, 127, 127}));  // black..white
  std::vector<uint8_t> moved(imageSize(16, 1));
  ASSERT_TRUE(drawColourBars(moved.data(), moved.size(), 16, 1, 3));
  for (uint32_t x = 0; x < 16; ++x)
    EXPECT_EQ(pixel(moved, 16, x, 0), pixel(wide, 16, (x + 3) % 16, 0));
}

TEST(ColourBars, RowsAreCopiesAndPaddingIsLeftAlone) {
  const uint32_t W = 5, H = 4;  // 15 bytes of pixels in 16-byte rows
  std::vector<uint8_t> img(imageSize(W, H), 0xAB);
  ASSERT_TRUE(drawColourBars(img.data(), img.size(), W, H, 2));
  for (uint32_t y = 1; y < H; ++y) {
    EXPECT_TRUE(std::equal(img.begin(), img.begin() + W * 3, img.begin() + y * 16)) << y;
    EXPECT_EQ(img[y * 16 + 15], 0xAB);
  }
  std::vector<uint8_t> small(imageSize(W, H) - 1, 0xAB);
  EXPECT_FALSE(drawColourBars(small.data(), small.size(), W, H));
  EXPECT_EQ(small, std::vector<uint8_t>(small.size(), 0xAB));
  EXPECT_FALSE(drawColourBars(img.data(), img.size(), 0, H));
}

TEST(ColourBars, SharedPhaseMovesOnePixelPerPictureAndWraps) {
  const uint32_t W = 37, H = 2;
  std::vector<uint8_t> first(imageSize(W, H)), next(imageSize(W, H));
  ASSERT_TRUE(drawColourBars(first.data(), first.size(), W, H));
  ASSERT_TRUE(drawColourBars(next.data(), next.size(), W, H));
  for (uint32_t x = 0; x < W; ++x)
    EXPECT_EQ(pixel(next, W, x, 0), pixel(first, W, (x + 1) % W, 0)) << x;
  // W - 1 more pictures bring the bars back to where the first picture had them.
  for (uint32_t i = 0; i < W - 1; ++i) ASSERT_TRUE(drawColourBars(next.data(), next.size(), W, H));
  EXPECT_EQ(next, first);
}

// Pictures drawn on several threads at once (several cameras in one process) each take a
// phase of their own: no step of the shared counter is lost or taken twice.
TEST(ColourBars, SharedPhaseIsTakenOncePerPictureAcrossThreads) {
  constexpr uint32_t kThreads = 4, kCalls = 2000, kWidth = 1u << 30;
  const uint32_t start = nextColourBarPhase(kWidth);
  std::vector<std::vector<uint32_t>> taken(kThreads);
  std::vector<std::thread> threads;
  for (uint32_t t = 0; t < kThreads; ++t) {
    threads.emplace_back([&taken, t] {
      for (uint32_t i = 0; i < kCalls; ++i) taken[t].push_back(nextColourBarPhase(kWidth));
    });
  }
  for (std::thread& th : threads) th.join();
  std::vector<bool> seen(kThreads * kCalls, false);
  for (const auto& list : taken) {
    for (uint32_t p : list) {
      const uint32_t i = p - start - 1;
      ASSERT_LT(i, seen.size());
      EXPECT_FALSE(seen[i]) << "phase taken twice";
      seen[i] = true;
    }
  }
}

TEST(mapClick, CentreMapsToCentreForEveryRotationOfAFillingPicture) {
  for (uint32_t r = 0; r < 4; ++r) {
    for (bool mirror : {false, true}) {
      const uint32_t w = (r & 1) ? 240 : 320, h = (r & 1) ? 320 : 240;
      const auto p = mapClick(32768, 32768, 320, 240, w, h, r, mirror);
      ASSERT_TRUE(p.has_value()) << r;
      EXPECT_NEAR(p->x, 32768, 1) << r;
      EXPECT_NEAR(p->y, 32768, 1) << r;
    }
  }
}

TEST(mapClick, CornersFollowTheTurnAndTheMirror) {
  struct Case {
    uint32_t r;
    bool mirror;
    uint32_t px, py;  // where the shown top-left corner is in the phone picture
  };
  const Case cases[] = {
      {0, false, 0, 0},    {1, false, 65535, 0},    {2, false, 65535, 65535}, {3, false, 0, 65535},
      {0, true, 65535, 0}, {1, true, 65535, 65535}, {2, true, 0, 65535},      {3, true, 0, 0},
  };
  for (const Case& c : cases) {
    const uint32_t w = (c.r & 1) ? 480 : 640, h = (c.r & 1) ? 640 : 480;
    const auto p = mapClick(0, 0, 640, 480, w, h, c.r, c.mirror);
    ASSERT_TRUE(p.has_value());
    EXPECT_EQ(p->x, c.px) << c.r << " " << c.mirror;
    EXPECT_EQ(p->y, c.py) << c.r << " " << c.mirror;
  }
}

TEST(mapClick, BlackBarsGiveNoPoint) {
  // 320x240 shown in 320x256: 8 black rows above and below.
  EXPECT_FALSE(mapClick(32768, 0, 320, 256, 320, 240, 0, false).has_value());
  EXPECT_FALSE(mapClick(32768, 1024, 320, 256, 320, 240, 0, false).has_value());
  EXPECT_FALSE(mapClick(32768, 65535, 320, 256, 320, 240, 0, false).has_value());
  const auto top = mapClick(32768, 2048, 320, 256, 320, 240, 0, false);  // first picture row
  ASSERT_TRUE(top.has_value());
  EXPECT_EQ(top->y, 0u);
  EXPECT_EQ(top->x, 32768u);
  // 320x240 turned a quarter into 320x240: 70 black columns on either side.
  EXPECT_FALSE(mapClick(65536 * 60 / 320, 32768, 320, 240, 320, 240, 1, false).has_value());
  EXPECT_FALSE(mapClick(65536 * 255 / 320, 32768, 320, 240, 320, 240, 1, false).has_value());
  EXPECT_TRUE(mapClick(65536 * 160 / 320, 32768, 320, 240, 320, 240, 1, false).has_value());
  // Degenerate sizes.
  EXPECT_FALSE(mapClick(0, 0, 0, 240, 320, 240, 0, false).has_value());
  EXPECT_FALSE(mapClick(0, 0, 320, 240, 0, 240, 0, false).has_value());
  EXPECT_FALSE(mapClick(50000, 5, 100, 10, 1, 1000, 0, false).has_value());  // no width left
  EXPECT_FALSE(mapClick(0, 0, 320, 240, 320, 240, 4, false).has_value());
}

}  // namespace
}  // namespace decoder
