#include "kernels.h"

#include <gtest/gtest.h>

#include <vector>

namespace decoder {
namespace {

std::vector<uint8_t> Bytes(size_t n, uint32_t seed) {
  std::vector<uint8_t> v(n);
  for (uint8_t& b : v) {
    seed = seed * 1103515245u + 12345u;
    b = static_cast<uint8_t>(seed >> 24);
  }
  return v;
}

// The portable kernels, the active ones and the processor's own, if it has any.
std::vector<const RenderKernels*> tablesInUse() {
  std::vector<const RenderKernels*> tables = {&portableKernels(), &activeKernels()};
  if (const RenderKernels* simd = simdKernels()) tables.push_back(simd);
  return tables;
}

// Every kernel table in use (the portable one, and the processor's if it has one) turns
// rows of any length around exactly, into another buffer or in place, and writes nothing
// beyond the row.
TEST(RenderKernels, RgbToBgrForEveryLengthInPlaceAndNot) {
  for (const RenderKernels* k : tablesInUse()) {
    for (uint32_t n = 0; n <= 70; ++n) {
      SCOPED_TRACE(n);
      const std::vector<uint8_t> src = Bytes(size_t{n} * 3, n + 1);
      std::vector<uint8_t> expected(src.size());
      for (uint32_t j = 0; j < n; ++j) {
        expected[j * 3] = src[j * 3 + 2];
        expected[j * 3 + 1] = src[j * 3 + 1];
        expected[j * 3 + 2] = src[j * 3];
      }
      std::vector<uint8_t> dst(src.size() + 16, 0xEE);
      k->rgbToBgr(dst.data(), src.data(), n);
      EXPECT_TRUE(std::equal(expected.begin(), expected.end(), dst.begin()));
      for (size_t i = src.size(); i < dst.size(); ++i)
        ASSERT_EQ(dst[i], 0xEE) << "wrote past the row";

      std::vector<uint8_t> inPlace = src;
      inPlace.resize(src.size() + 16, 0xEE);
      k->rgbToBgr(inPlace.data(), inPlace.data(), n);
      EXPECT_TRUE(std::equal(expected.begin(), expected.end(), inPlace.begin()));
      for (size_t i = src.size(); i < inPlace.size(); ++i) ASSERT_EQ(inPlace[i], 0xEE);
    }
  }
}

TEST(RenderKernels, HalveRowsForEveryLength) {
  for (const RenderKernels* k : tablesInUse()) {
    for (uint32_t n = 0; n <= 40; ++n) {
      SCOPED_TRACE(n);
      const std::vector<uint8_t> a = Bytes(size_t{n} * 6, n + 5), b = Bytes(size_t{n} * 6, n + 9);
      std::vector<uint8_t> dst(size_t{n} * 3 + 16, 0xEE);
      k->halveRows(dst.data(), a.data(), b.data(), n);
      for (uint32_t j = 0; j < n; ++j)
        for (uint32_t c = 0; c < 3; ++c)
          ASSERT_EQ(dst[j * 3 + c],
                    (a[j * 6 + c] + a[j * 6 + 3 + c] + b[j * 6 + c] + b[j * 6 + 3 + c]) >> 2)
              << j << "," << c;
      for (size_t i = size_t{n} * 3; i < dst.size(); ++i) ASSERT_EQ(dst[i], 0xEE) << "past the end";
    }
  }
}

TEST(RenderKernels, DoubleToBgrForEveryLength) {
  for (const RenderKernels* k : tablesInUse()) {
    for (uint32_t n = 0; n <= 40; ++n) {
      SCOPED_TRACE(n);
      const std::vector<uint8_t> src = Bytes(size_t{n} * 3, n + 3);
      std::vector<uint8_t> dst(size_t{n} * 6 + 16, 0xEE);
      k->doubleToBgr(dst.data(), src.data(), n);
      for (uint32_t j = 0; j < 2 * n; ++j)
        for (uint32_t c = 0; c < 3; ++c)
          ASSERT_EQ(dst[j * 3 + c], src[(j / 2) * 3 + 2 - c]) << j << "," << c;
      for (size_t i = size_t{n} * 6; i < dst.size(); ++i) ASSERT_EQ(dst[i], 0xEE) << "past the end";
    }
  }
}

// Both resampling kernels against their sums written out, for every tap count and lengths
// around the kernels' steps (16 bytes, 4 pixels), both byte orders; nothing is written
// past the row.
TEST(RenderKernels, WeighRowsAndPixelsGiveTheWeightedSums) {
  for (const RenderKernels* k : tablesInUse()) {
    for (uint32_t taps = 1; taps <= kMaxTaps; ++taps) {
      // Weights up to the whole one, as the tables give at the ends of a run.
      std::vector<uint16_t> rowWeights(taps);
      for (uint32_t t = 0; t < taps; ++t) rowWeights[t] = static_cast<uint16_t>(4096 - 517 * t);
      for (size_t n : {size_t{0}, size_t{1}, size_t{15}, size_t{16}, size_t{33}, size_t{100}}) {
        SCOPED_TRACE(testing::Message() << "rows: taps " << taps << ", n " << n);
        std::vector<std::vector<uint8_t>> rows;
        std::vector<const uint8_t*> pointers;
        for (uint32_t t = 0; t < taps; ++t) rows.push_back(Bytes(n, 31 * taps + t + uint32_t(n)));
        for (const auto& r : rows) pointers.push_back(r.data());
        std::vector<uint32_t> out(n + 8, 0xEEEEEEEEu);
        k->weighRows(out.data(), pointers.data(), rowWeights.data(), taps, n);
        for (size_t e = 0; e < n; ++e) {
          uint32_t sum = 0;
          for (uint32_t t = 0; t < taps; ++t) sum += uint32_t{rowWeights[t]} * rows[t][e];
          ASSERT_EQ(out[e], sum) << e;
        }
        for (size_t e = n; e < out.size(); ++e) ASSERT_EQ(out[e], 0xEEEEEEEEu) << "past the end";
      }
      for (uint32_t n : {0u, 1u, 3u, 4u, 5u, 9u, 23u}) {
        for (bool bgr : {false, true}) {
          SCOPED_TRACE(testing::Message() << "pixels: taps " << taps << ", n " << n
                                          << (bgr ? ", bgr" : ""));
          // Sums of up to 20 bits, as rows weighed by weights adding up to a whole one give.
          const uint32_t inPixels = n + taps + 2;
          std::vector<uint32_t> in(size_t{inPixels} * 3 + 1);
          uint32_t seed = n * 7 + taps;
          for (uint32_t& v : in) {
            seed = seed * 1103515245u + 12345u;
            v = seed >> 12;
          }
          std::vector<uint32_t> starts(n), weights(size_t{n} * taps);
          for (uint32_t j = 0; j < n; ++j) {
            starts[j] = (j * 5 / 4) % (inPixels - taps + 1);
            for (uint32_t t = 0; t < taps; ++t) weights[size_t{j} * taps + t] = (j * 131 + t * 977) % 4097;
          }
          std::vector<uint8_t> dst(size_t{n} * 3 + 16, 0xEE);
          k->weighPixels(dst.data(), in.data(), starts.data(), weights.data(), taps, n, bgr);
          for (uint32_t j = 0; j < n; ++j)
            for (uint32_t c = 0; c < 3; ++c) {
              uint32_t sum = 0;
              for (uint32_t t = 0; t < taps; ++t)
                sum += weights[size_t{j} * taps + t] * in[(size_t{starts[j]} + t) * 3 + c];
              ASSERT_EQ(dst[j * 3 + (bgr ? 2 - c : c)], sum >> 24) << j << "," << c;
            }
          for (size_t i = size_t{n} * 3; i < dst.size(); ++i) ASSERT_EQ(dst[i], 0xEE) << "past the end";
        }
      }
    }
  }
}

}  // namespace
}  // namespace decoder
