#include "decoder/frame_renderer.h"

#include <gtest/gtest.h>

#include <vector>

#include "decoder/render_geometry.h"

namespace decoder {
namespace {

constexpr uint8_t kSentinel = 0xAB;

// Rows from a picture in memory (RGB, top row first); can be told to fail at a row.
class PictureRows : public RowSource {
 public:
  PictureRows(const std::vector<uint8_t>& rgb, uint32_t w, uint32_t failAt = ~0u)
      : rgb_(rgb), w_(w), failAt_(failAt) {}
  bool readRow(uint8_t* out) override {
    if (next_ == failAt_) return false;
    std::copy_n(rgb_.begin() + size_t{next_} * w_ * 3, w_ * 3, out);
    ++next_;
    return true;
  }
  uint32_t rowsRead() const { return next_; }

 private:
  const std::vector<uint8_t>& rgb_;
  uint32_t w_;
  uint32_t failAt_;
  uint32_t next_ = 0;
};

std::vector<uint8_t> randomPicture(uint32_t w, uint32_t h, uint32_t seed) {
  std::vector<uint8_t> p(size_t{w} * h * 3);
  uint32_t s = seed * 2654435761u + 1;
  for (uint8_t& b : p) {
    s = s * 1103515245u + 12345u;
    b = static_cast<uint8_t>(s >> 23);
  }
  return p;
}

// Dense weights of one axis, m[out][in], read from the tables the way the two resamplers
// read them: a reducing table has one entry per input sample, an enlarging one per output.
std::vector<std::vector<uint64_t>> axisWeights(uint32_t nIn, uint32_t nOut) {
  std::vector<std::vector<uint64_t>> m(nOut, std::vector<uint64_t>(nIn, 0));
  if (nIn >= nOut) {
    std::vector<ResampleWeight> t(nIn);
    buildReducingWeights(nIn, nOut, t.data());
    uint32_t o = 0;
    for (uint32_t i = 0; i < nIn; ++i) {
      m[o][i] += t[i].w0;
      if (t[i].w1 > 0) m[o + 1][i] += t[i].w1;
      if (t[i].w1 != 0) ++o;
    }
  } else {
    std::vector<ResampleWeight> t(nOut);
    buildEnlargingWeights(nIn, nOut, t.data());
    uint32_t p = 0;
    for (uint32_t j = 0; j < nOut; ++j) {
      m[j][p] += t[j].w0;
      if (t[j].w1 > 0) m[j][p + 1] += t[j].w1;
      if (t[j].w1 != 0) ++p;
    }
  }
  return m;
}

// The expected output, computed directly: each channel of target pixel (j, k) is the top
// byte of the sum over all input pixels of wx x wy x value; the target is then turned,
// mirrored and placed as the shown picture.
std::vector<uint8_t> Expected(const std::vector<uint8_t>& rgb, uint32_t w, uint32_t h, uint32_t W,
                              uint32_t H, uint32_t r, bool mirror) {
  const FitGeometry g = computeFit(w, h, r, W, H);
  const uint32_t tx = g.targetX, ty = g.targetY;
  std::vector<uint8_t> target(size_t{tx} * ty * 3);
  if (tx > 0 && ty > 0) {
    const auto mx = axisWeights(w, tx), my = axisWeights(h, ty);
    for (uint32_t k = 0; k < ty; ++k)
      for (uint32_t j = 0; j < tx; ++j)
        for (int c = 0; c < 3; ++c) {
          uint64_t sum = 0;
          for (uint32_t l = 0; l < h; ++l) {
            if (my[k][l] == 0) continue;
            for (uint32_t i = 0; i < w; ++i)
              if (mx[j][i] != 0) sum += my[k][l] * mx[j][i] * rgb[(size_t{l} * w + i) * 3 + c];
          }
          target[(size_t{k} * tx + j) * 3 + c] = static_cast<uint8_t>(sum >> 24);
        }
  }
  // A letterboxed output is cleared whole, row padding included.
  std::vector<uint8_t> out(imageSize(W, H), g.stretched ? kSentinel : 0);
  const size_t S = imageStride(W);
  // The offsets count from the corner where writing starts: the top right for r = 0, top
  // left for 1, bottom left for 2, bottom right for 3. With an odd margin the extra
  // column or row is on the other side.
  const uint32_t otherX = W - g.fittedWidth - g.offsetX, otherY = H - g.fittedHeight - g.offsetY;
  const uint32_t left = (r == 0 || r == 3) ? otherX : g.offsetX;
  const uint32_t top = (r >= 2) ? otherY : g.offsetY;
  for (uint32_t Y = 0; Y < H; ++Y) {
    for (uint32_t X = 0; X < W; ++X) {
      uint8_t* d = &out[(H - 1 - Y) * S + size_t{X} * 3];  // bottom-up
      const bool inside =
          X >= left && X < left + g.fittedWidth && Y >= top && Y < top + g.fittedHeight;
      if (!inside) {
        if (!g.stretched) d[0] = d[1] = d[2] = 0;
        continue;
      }
      uint32_t u = X - left, v = Y - top;
      if (mirror) u = g.fittedWidth - 1 - u;
      uint32_t j, k;  // turning counter-clockwise by r quarters
      switch (r) {
        case 0:
          j = u;
          k = v;
          break;
        case 1:
          j = tx - 1 - v;
          k = u;
          break;
        case 2:
          j = tx - 1 - u;
          k = ty - 1 - v;
          break;
        default:
          j = v;
          k = ty - 1 - u;
          break;
      }
      const uint8_t* s = &target[(size_t{k} * tx + j) * 3];
      d[0] = s[2];
      d[1] = s[1];
      d[2] = s[0];
    }
  }
  return out;
}

struct SizeCase {
  uint32_t w, h, W, H;
  const char* what;
};

TEST(FrameRenderer, MatchesTheDirectSumsForEveryTurnAndMirror) {
  const SizeCase cases[] = {
      {5, 3, 5, 3, "same size"},
      {5, 3, 3, 5, "same size when turned"},
      {37, 20, 20, 37, "same size when turned, rows taken in more than one block"},
      {4, 4, 3, 3, "4 -> 3 reducing"},
      {3, 3, 4, 4, "3 -> 4 enlarging"},
      {2, 2, 5, 5, "enlarging reuses the last row"},
      {16, 12, 8, 6, "halving"},
      {9, 6, 3, 2, "a third"},
      {6, 4, 12, 8, "doubling"},
      {6, 4, 18, 12, "trebling"},
      {6, 4, 8, 12, "doubling, turned a quarter"},
      {16, 12, 6, 8, "halving, turned a quarter"},
      {200, 101, 100, 50, "halved across, reduced down"},
      {201, 100, 100, 50, "reduced across, halved down"},
      {100, 50, 200, 101, "doubled across, enlarged down"},
      {101, 50, 200, 100, "enlarged across, doubled down"},
      {200, 100, 200, 99, "same across, reduced down"},
      {7, 5, 16, 11, "enlarging, letterboxed"},
      {16, 11, 7, 5, "reducing, letterboxed"},
      {43, 31, 5, 3, "reduced over ten times: more input rows per output row than the kernels take"},
      {13, 7, 40, 9, "wide output, black bars at the sides"},
      {200, 100, 201, 99, "stretched: wider but fewer rows"},
      {200, 100, 199, 101, "stretched: narrower but more rows"},
      {13, 10, 20, 10, "odd margin"},
      {9, 4, 5, 17, "tall output"},
  };
  FrameRenderer renderer;
  uint32_t seed = 1;
  for (const SizeCase& c : cases) {
    const std::vector<uint8_t> rgb = randomPicture(c.w, c.h, seed++);
    for (uint32_t r = 0; r < 4; ++r) {
      for (bool mirror : {false, true}) {
        SCOPED_TRACE(testing::Message() << c.what << ": " << c.w << "x" << c.h << " -> " << c.W
                                        << "x" << c.H << " r" << r << (mirror ? " mirror" : ""));
        std::vector<uint8_t> out(imageSize(c.W, c.H), kSentinel);
        ASSERT_TRUE(renderer.prepare(c.w, c.h, out.data(), out.size(), c.W, c.H, r, mirror));
        PictureRows rows(rgb, c.w);
        ASSERT_TRUE(renderer.run(rows));
        EXPECT_EQ(rows.rowsRead(), c.h);
        EXPECT_EQ(out, Expected(rgb, c.w, c.h, c.W, c.H, r, mirror));
      }
    }
  }
}

// Corner colours of a 2x2 picture: red top-left, green top-right, blue bottom-left, white
// bottom-right, shown in a square output.
TEST(FrameRenderer, CornersOfTheShownPicture) {
  const std::vector<uint8_t> rgb = {255, 0, 0, 0, 255, 0, 0, 0, 255, 255, 255, 255};
  enum { R, G, B, Wh };
  const uint8_t bgr[4][3] = {{0, 0, 255}, {0, 255, 0}, {255, 0, 0}, {255, 255, 255}};
  struct Case {
    uint32_t r;
    bool mirror;
    int topLeft, topRight, bottomLeft, bottomRight;
  };
  const Case cases[] = {
      {0, false, R, G, B, Wh}, {1, false, G, Wh, R, B}, {2, false, Wh, B, G, R},
      {3, false, B, R, Wh, G}, {0, true, G, R, Wh, B},  {1, true, Wh, G, B, R},
      {2, true, B, Wh, R, G},  {3, true, R, B, G, Wh},
  };
  FrameRenderer renderer;
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "r" << c.r << (c.mirror ? " mirror" : ""));
    std::vector<uint8_t> out(imageSize(2, 2));
    ASSERT_TRUE(renderer.prepare(2, 2, out.data(), out.size(), 2, 2, c.r, c.mirror));
    PictureRows rows(rgb, 2);
    ASSERT_TRUE(renderer.run(rows));
    auto at = [&](uint32_t x, uint32_t rowInMemory) {
      return std::vector<uint8_t>(out.begin() + rowInMemory * 8 + x * 3,
                                  out.begin() + rowInMemory * 8 + x * 3 + 3);
    };
    auto colour = [&](int i) { return std::vector<uint8_t>(bgr[i], bgr[i] + 3); };
    EXPECT_EQ(at(0, 1), colour(c.topLeft));
    EXPECT_EQ(at(1, 1), colour(c.topRight));
    EXPECT_EQ(at(0, 0), colour(c.bottomLeft));
    EXPECT_EQ(at(1, 0), colour(c.bottomRight));
  }
}

// A click on a shown pixel maps back to the phone pixel that was drawn there, for every
// turn and mirror, and a click on a black bar maps to nothing.
TEST(FrameRenderer, ClickMappingFindsThePixelThatWasDrawn) {
  const uint32_t w = 40, h = 20;
  std::vector<uint8_t> rgb(size_t{w} * h * 3);
  for (uint32_t y = 0; y < h; ++y)
    for (uint32_t x = 0; x < w; ++x) {
      rgb[(y * w + x) * 3 + 0] = static_cast<uint8_t>(x);
      rgb[(y * w + x) * 3 + 1] = static_cast<uint8_t>(y);
      rgb[(y * w + x) * 3 + 2] = 255;  // marks picture pixels against the black bars
    }
  FrameRenderer renderer;
  for (uint32_t r = 0; r < 4; ++r) {
    for (bool mirror : {false, true}) {
      // The turned picture fits its output exactly in one direction, with bars in the other.
      const uint32_t W = (r & 1) ? 30 : 40, H = (r & 1) ? 40 : 30;
      SCOPED_TRACE(testing::Message() << "r" << r << (mirror ? " mirror" : ""));
      std::vector<uint8_t> out(imageSize(W, H));
      ASSERT_TRUE(renderer.prepare(w, h, out.data(), out.size(), W, H, r, mirror));
      PictureRows rows(rgb, w);
      ASSERT_TRUE(renderer.run(rows));
      int bars = 0;
      for (uint32_t Y = 0; Y < H; ++Y) {
        for (uint32_t X = 0; X < W; ++X) {
          const uint8_t* d = &out[(H - 1 - Y) * imageStride(W) + X * 3];
          const auto p =
              mapClick((2 * X + 1) * 32768 / W, (2 * Y + 1) * 32768 / H, W, H, w, h, r, mirror);
          if (d[0] == 0) {
            EXPECT_FALSE(p.has_value()) << X << "," << Y;
            ++bars;
            continue;
          }
          ASSERT_TRUE(p.has_value()) << X << "," << Y;
          EXPECT_EQ(p->x * w / 65536, d[2]) << X << "," << Y;
          EXPECT_EQ(p->y * h / 65536, d[1]) << X << "," << Y;
        }
      }
      EXPECT_EQ(bars, 10 * 40);
    }
  }
}

TEST(FrameRenderer, RefusesWhatItsBuffersCannotHold) {
  struct Case {
    uint32_t w, h, W, H, r;
    size_t dstSize;  // 0: exactly the image size
    bool ok;
    const char* what;
  };
  const Case cases[] = {
      {3072, 8, 3072, 8, 0, 0, true, "widest input and output"},
      {3073, 8, 3073, 8, 0, 0, false, "input row too long"},
      {8, 3073, 8, 3073, 0, 0, false, "too many input rows"},
      {3072, 8, 3073, 8, 0, 0, false, "stretched output row too long"},
      {8, 3072, 8, 3073, 0, 0, false, "stretched output too tall"},
      {8, 3072, 3073, 8, 1, 0, false, "turned output too long"},
      {100, 100, 4000, 100, 0, 0, true, "wide output, letterboxed area small enough"},
      {16, 16, 16, 16, 4, 0, false, "rotation out of range"},
      {16, 16, 16, 16, 0, imageSize(16, 16) - 1, false, "destination too small"},
      {0, 16, 16, 16, 0, 0, false, "empty input"},
      {16, 16, 0, 16, 0, 0, false, "empty output"},
  };
  FrameRenderer renderer;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const size_t size = c.dstSize ? c.dstSize : imageSize(c.W, c.H);
    std::vector<uint8_t> out(size, kSentinel);
    EXPECT_EQ(renderer.prepare(c.w, c.h, out.data(), out.size(), c.W, c.H, c.r, false), c.ok);
    if (!c.ok) {
      EXPECT_EQ(out, std::vector<uint8_t>(size, kSentinel));
      PictureRows none(out, 0);
      EXPECT_FALSE(renderer.run(none)) << "a refused plan must not run";
    }
  }
}

// A picture so thin that its fitted area has no width: the output is black and every row
// is still read, so that the decoder can finish the picture.
TEST(FrameRenderer, NothingVisibleGivesABlackPicture) {
  const std::vector<uint8_t> rgb = randomPicture(1, 1000, 3);
  FrameRenderer renderer;
  std::vector<uint8_t> out(imageSize(100, 10), kSentinel);
  ASSERT_TRUE(renderer.prepare(1, 1000, out.data(), out.size(), 100, 10, 0, false));
  EXPECT_EQ(renderer.geometry().fittedWidth, 0u);
  PictureRows rows(rgb, 1);
  ASSERT_TRUE(renderer.run(rows));
  EXPECT_EQ(rows.rowsRead(), 1000u);
  EXPECT_EQ(out, std::vector<uint8_t>(out.size(), 0));
}

TEST(FrameRenderer, StopsWhenTheSourceFails) {
  const std::vector<uint8_t> rgb = randomPicture(8, 8, 7);
  FrameRenderer renderer;
  for (uint32_t rotation : {0u, 1u}) {
    for (auto [W, H] : {std::pair{8u, 8u}, std::pair{4u, 4u}, std::pair{16u, 16u}}) {
      std::vector<uint8_t> out(imageSize(W, H));
      ASSERT_TRUE(renderer.prepare(8, 8, out.data(), out.size(), W, H, rotation, false));
      PictureRows rows(rgb, 8, 3);
      EXPECT_FALSE(renderer.run(rows));
      EXPECT_EQ(rows.rowsRead(), 3u);
    }
  }
}

}  // namespace
}  // namespace decoder
