#include "camera/picture_repack.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <random>
#include <vector>

namespace camera {
namespace {

struct RgbCase {
  const char* name;
  uint32_t bits;
  std::vector<uint8_t> input;         // two pixels
  std::array<uint8_t, 4> expected;    // U, Y0, V, Y1
};

TEST(RgbToUyvy, PairsGiveTheExactWord) {
  const RgbCase cases[] = {
      // 24 bits, bytes B, G, R per pixel.
      {"white 24", 24, {255, 255, 255, 255, 255, 255}, {127, 255, 127, 255}},
      {"black 24", 24, {0, 0, 0, 0, 0, 0}, {127, 0, 127, 0}},
      {"red 24 (negative U rounds down)", 24, {0, 0, 255, 0, 0, 255}, {83, 76, 254, 76}},
      {"yellow 24 (U clamped to 0)", 24, {0, 255, 255, 0, 255, 255}, {0, 226, 147, 226}},
      {"white then black 24", 24, {255, 255, 255, 0, 0, 0}, {127, 255, 127, 0}},
      // 16 bits, little-endian pixels, pixel 0 in the low half.
      {"white 565", 16, {0xFF, 0xFF, 0xFF, 0xFF}, {126, 250, 126, 250}},
      {"black 565", 16, {0, 0, 0, 0}, {128, 0, 128, 0}},
      {"red 565", 16, {0x00, 0xF8, 0x00, 0xF8}, {86, 74, 252, 74}},
      {"white then black 565", 16, {0xFF, 0xFF, 0, 0}, {127, 250, 127, 0}},
      {"white 555", 15, {0xFF, 0x7F, 0xFF, 0x7F}, {128, 248, 128, 248}},
  };
  for (const RgbCase& c : cases) {
    std::vector<uint8_t> picture = c.input;
    ASSERT_TRUE(RgbToUyvy(picture.data(), 4, c.bits)) << c.name;
    EXPECT_EQ((std::array<uint8_t, 4>{picture[0], picture[1], picture[2], picture[3]}), c.expected)
        << c.name;
  }
}

TEST(RgbToUyvy, WholePictureInPlaceMatchesPairByPair) {
  // 16 x 2 pixels of 24-bit RGB: each output word must equal the word of its own pair
  // converted alone, although later pairs are read after earlier words were written.
  std::mt19937 random(7);
  std::vector<uint8_t> picture(16 * 2 * 3);
  for (auto& b : picture) b = static_cast<uint8_t>(random());
  const std::vector<uint8_t> original = picture;
  ASSERT_TRUE(RgbToUyvy(picture.data(), 16 * 2 * 2, 24));
  for (size_t j = 0; j < 16; ++j) {
    std::vector<uint8_t> pair(original.begin() + 6 * j, original.begin() + 6 * j + 6);
    ASSERT_TRUE(RgbToUyvy(pair.data(), 4, 24));
    for (int k = 0; k < 4; ++k) EXPECT_EQ(picture[4 * j + k], pair[k]) << "word " << j;
  }
  EXPECT_FALSE(RgbToUyvy(picture.data(), 4, 32));
}

// A planar picture whose every byte differs from its neighbours.
std::vector<uint8_t> randomPlanar(uint32_t w, uint32_t h, uint32_t seed) {
  std::mt19937 random(seed);
  std::vector<uint8_t> p(w * h * 3 / 2);
  for (auto& b : p) b = static_cast<uint8_t>(random());
  return p;
}

TEST(TurnPlanar, OppositeTurnsGiveThePictureBack) {
  for (auto [w, h] : {std::pair<uint32_t, uint32_t>{16, 16}, {32, 16}, {160, 120}}) {
    const std::vector<uint8_t> start = randomPlanar(w, h, w + h);
    std::vector<uint8_t> once(start.size()), twice(start.size());
    const std::pair<uint32_t, uint32_t> pairs[] = {{1, 3}, {3, 1}, {2, 2}};
    for (auto [first, second] : pairs) {
      ASSERT_TRUE(TurnPlanar(once.data(), start.data(), w, h, first));
      EXPECT_NE(once, start);
      const uint32_t tw = (first & 1) ? h : w, th = (first & 1) ? w : h;
      ASSERT_TRUE(TurnPlanar(twice.data(), once.data(), tw, th, second));
      EXPECT_EQ(twice, start) << w << "x" << h << " r=" << first << " then r=" << second;
    }
  }
}

// Where each turn puts the source's top-left sample, in a plane of w x h samples:
// the output plane is h wide for odd turns.
struct CornerCase {
  uint32_t r;
  uint32_t column, row;  // of the output, for a 32 x 16 source
};

TEST(TurnPlanar, TopLeftSampleLandsInTheTurnedCorner) {
  const uint32_t w = 32, h = 16;
  const CornerCase cases[] = {{1, 0, w - 1},      // bottom-left
                              {2, w - 1, h - 1},  // bottom-right
                              {3, h - 1, 0}};     // top-right
  for (const CornerCase& c : cases) {
    std::vector<uint8_t> source(w * h * 3 / 2, 0), out(source.size(), 0);
    source[0] = 200;              // luma (0, 0)
    source[w * h] = 201;          // U (0, 0)
    source[w * h * 5 / 4] = 202;  // V (0, 0)
    ASSERT_TRUE(TurnPlanar(out.data(), source.data(), w, h, c.r));
    const uint32_t outW = (c.r & 1) ? h : w;
    EXPECT_EQ(out[c.row * outW + c.column], 200) << "r=" << c.r;
    const uint32_t chromaIndex = (c.row / 2) * (outW / 2) + c.column / 2;
    EXPECT_EQ(out[w * h + chromaIndex], 201) << "r=" << c.r;
    EXPECT_EQ(out[w * h * 5 / 4 + chromaIndex], 202) << "r=" << c.r;
  }
}

// A UYVY picture from its planes: luma per pixel, U and V per pixel pair and row.
std::vector<uint8_t> packUyvy(const std::vector<uint8_t>& y, const std::vector<uint8_t>& u,
                              const std::vector<uint8_t>& v, uint32_t w, uint32_t h) {
  std::vector<uint8_t> out(w * h * 2);
  for (uint32_t row = 0; row < h; ++row)
    for (uint32_t m = 0; m < w / 2; ++m) {
      uint8_t* word = &out[(row * w + 2 * m) * 2];
      word[0] = u[row * (w / 2) + m];
      word[1] = y[row * w + 2 * m];
      word[2] = v[row * (w / 2) + m];
      word[3] = y[row * w + 2 * m + 1];
    }
  return out;
}

TEST(UyvyToPlanar, ChromaIsTheRoundedMeanOfTheRowPair) {
  const uint32_t w = 16, h = 2;
  std::vector<uint8_t> y(w * h, 90), u(w / 2 * h), v(w / 2 * h);
  for (uint32_t m = 0; m < w / 2; ++m) {
    u[m] = 10, u[w / 2 + m] = 21;  // (10 + 21 + 1) >> 1 = 16
    v[m] = 0, v[w / 2 + m] = 255;  // (0 + 255 + 1) >> 1 = 128
  }
  const std::vector<uint8_t> packed = packUyvy(y, u, v, w, h);
  std::vector<uint8_t> out(w * h * 3 / 2);
  ASSERT_TRUE(UyvyToPlanar(out.data(), packed.data(), w, h, 0));
  for (uint32_t i = 0; i < w * h; ++i) EXPECT_EQ(out[i], 90);
  for (uint32_t i = 0; i < w / 2; ++i) {
    EXPECT_EQ(out[w * h + i], 16) << i;
    EXPECT_EQ(out[w * h + w / 2 + i], 128) << i;
  }
}

TEST(UyvyToPlanar, EveryTurnEqualsTurningTheUnturnedConversion) {
  const uint32_t w = 48, h = 32;
  std::mt19937 random(3);
  std::vector<uint8_t> packed(w * h * 2);
  for (auto& b : packed) b = static_cast<uint8_t>(random());
  std::vector<uint8_t> flat(w * h * 3 / 2);
  ASSERT_TRUE(UyvyToPlanar(flat.data(), packed.data(), w, h, 0));
  // Luma straight from the packed words.
  for (uint32_t row = 0; row < h; ++row)
    for (uint32_t x = 0; x < w; ++x)
      ASSERT_EQ(flat[row * w + x], packed[(row * w + (x & ~1u)) * 2 + 1 + (x & 1) * 2]);
  for (uint32_t r = 1; r <= 3; ++r) {
    std::vector<uint8_t> direct(flat.size()), viaTurn(flat.size());
    ASSERT_TRUE(UyvyToPlanar(direct.data(), packed.data(), w, h, r));
    ASSERT_TRUE(TurnPlanar(viaTurn.data(), flat.data(), w, h, r));
    EXPECT_EQ(direct, viaTurn) << "r=" << r;
  }
}

TEST(UyvyToPlanar, TopLeftSampleLandsInTheTurnedCorner) {
  const uint32_t w = 32, h = 16;
  std::vector<uint8_t> packed(w * h * 2, 0);
  packed[1] = 200;  // Y of pixel (0, 0)
  for (uint32_t r = 1; r <= 3; r += 2) {
    std::vector<uint8_t> out(w * h * 3 / 2, 0);
    ASSERT_TRUE(UyvyToPlanar(out.data(), packed.data(), w, h, r));
    const uint32_t outW = h;
    const size_t expected = r == 1 ? size_t{w - 1} * outW : outW - 1;  // bottom-left / top-right
    EXPECT_EQ(out[expected], 200) << "r=" << r;
  }
}

TEST(Repack, OddOrEmptySizesAndLargeTurnsAreRefused) {
  std::vector<uint8_t> a(64 * 64 * 2, 1), b(64 * 64 * 2, 0);
  const uint32_t sizes[][2] = {{15, 16}, {16, 15}, {0, 16}, {16, 0}};
  for (const auto& s : sizes) {
    EXPECT_FALSE(TurnPlanar(b.data(), a.data(), s[0], s[1], 1));
    EXPECT_FALSE(UyvyToPlanar(b.data(), a.data(), s[0], s[1], 1));
  }
  EXPECT_FALSE(TurnPlanar(b.data(), a.data(), 16, 16, 4));
  EXPECT_FALSE(UyvyToPlanar(b.data(), a.data(), 16, 16, 4));
  for (uint8_t byte : b) ASSERT_EQ(byte, 0);
}

}  // namespace
}  // namespace camera
