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

// Every kernel table in use (the portable one, and the processor's if it has one) turns
// rows of any length around exactly, into another buffer or in place, and writes nothing
// beyond the row.
TEST(RenderKernels, RgbToBgrForEveryLengthInPlaceAndNot) {
  std::vector<const RenderKernels*> tables = {&PortableKernels(), &ActiveKernels()};
  if (const RenderKernels* simd = SimdKernels()) tables.push_back(simd);
  for (const RenderKernels* k : tables) {
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
  std::vector<const RenderKernels*> tables = {&PortableKernels(), &ActiveKernels()};
  if (const RenderKernels* simd = SimdKernels()) tables.push_back(simd);
  for (const RenderKernels* k : tables) {
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

}  // namespace
}  // namespace decoder
