#pragma once

// The zigzag byte shuffles of the AVX2 table, included by its kernels and by its walk
// (scan_avx2.cpp), which inlines the mask. Only translation units compiled for AVX2
// include this header; its unnamed namespace gives each its own copy.

#include <immintrin.h>

#include <cstddef>
#include <cstdint>
#include <utility>

#include "tables.h"

namespace jpegpress {
namespace {

// Zigzag order by byte shuffles of vectors of kLaneBytes-byte coefficients (2: as the DCT
// stores them, 1: packed to bytes). Source vector i holds the column-major coefficients
// kLanes * i onwards; output vector j (zigzag positions kLanes * j onwards) is the OR of the
// shuffles of those source vectors that hold any of its entries.
template <int kLaneBytes>
struct ZigzagShuffles {
  static constexpr int kLanes = 16 / kLaneBytes;
  static constexpr int kVectors = 64 / kLanes;
  alignas(16) int8_t mask[kVectors][kVectors][16];
  bool used[kVectors][kVectors];
};

template <int kLaneBytes>
constexpr ZigzagShuffles<kLaneBytes> makeZigzagShuffles() {
  using Z = ZigzagShuffles<kLaneBytes>;
  Z z{};
  for (int j = 0; j < Z::kVectors; ++j)
    for (int i = 0; i < Z::kVectors; ++i)
      for (int p = 0; p < Z::kLanes; ++p) {
        const int c = kZigzag.columnMajor[Z::kLanes * j + p];
        const bool here = c / Z::kLanes == i;
        for (int byte = 0; byte < kLaneBytes; ++byte)
          z.mask[j][i][kLaneBytes * p + byte] =
              static_cast<int8_t>(here ? kLaneBytes * (c % Z::kLanes) + byte : -128);
        z.used[j][i] = z.used[j][i] || here;
      }
  return z;
}

template <int kLaneBytes>
constexpr ZigzagShuffles<kLaneBytes> kZigzagShuffles = makeZigzagShuffles<kLaneBytes>();

template <int kLaneBytes, int J, int I>
inline void gatherPart(__m128i& out, const __m128i* sources) {
  if constexpr (kZigzagShuffles<kLaneBytes>.used[J][I]) {
    const __m128i m =
        _mm_load_si128(reinterpret_cast<const __m128i*>(kZigzagShuffles<kLaneBytes>.mask[J][I]));
    out = _mm_or_si128(out, _mm_shuffle_epi8(sources[I], m));
  }
}

template <int kLaneBytes, int J, size_t... I>
inline __m128i gatherVector(const __m128i* sources, std::index_sequence<I...>) {
  __m128i out = _mm_setzero_si128();
  (gatherPart<kLaneBytes, J, static_cast<int>(I)>(out, sources), ...);
  return out;
}

// Zero flags of zigzag positions 16J..16J+15, at bits 16J..16J+15.
template <int J>
inline uint64_t zeroQuarter(const __m128i* packed) {
  const __m128i bytes = gatherVector<1, J>(packed, std::make_index_sequence<4>());
  const int zeros = _mm_movemask_epi8(_mm_cmpeq_epi8(bytes, _mm_setzero_si128()));
  return static_cast<uint64_t>(static_cast<unsigned>(zeros)) << (16 * J);
}

// The mask alone, for the walk that reads the coefficients through kZigzagToColumnMajor:
// the 64 coefficients packed to bytes with signed saturation (non-zero stays non-zero), so
// that 16 zigzag positions come from at most four byte vectors.
uint64_t zigzagMaskAvx2(const int16_t* coefficients) {
  __m128i packed[4];
  for (int m = 0; m < 4; ++m) {
    const __m128i a = _mm_load_si128(reinterpret_cast<const __m128i*>(coefficients + 16 * m));
    const __m128i b = _mm_load_si128(reinterpret_cast<const __m128i*>(coefficients + 16 * m + 8));
    packed[m] = _mm_packs_epi16(a, b);
  }
  const uint64_t zeros = zeroQuarter<0>(packed) | zeroQuarter<1>(packed) |
                         zeroQuarter<2>(packed) | zeroQuarter<3>(packed);
  return ~zeros & ~uint64_t{1};
}

}  // namespace
}  // namespace jpegpress
