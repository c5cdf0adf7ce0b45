// Resampling kernels for x86 processors with SSE4.1; this file is built with -msse4.1 and
// only called after the processor was checked.
#include <smmintrin.h>

#include <cstring>

#include "kernels.h"

namespace decoder {

namespace {

// Sixteen bytes of every row per step: the rows are taken in pairs, their bytes interleaved
// and widened to 16-bit lanes, and each pair of lanes multiplied by its two weights and
// added in one step (the weights fit 13 bits, the bytes 8, so every product and pair sum
// is exact). A third or fifth row pairs with itself at the weight 0.
template <uint32_t Pairs>
void weighRowPairs(uint32_t* out, const uint8_t* const* rows, const uint16_t* weights,
                   uint32_t taps, size_t n) {
  const __m128i zero = _mm_setzero_si128();
  __m128i pairWeights[Pairs];
  const uint8_t* a[Pairs];
  const uint8_t* b[Pairs];
  for (uint32_t q = 0; q < Pairs; ++q) {
    const bool both = 2 * q + 1 < taps;
    a[q] = rows[2 * q];
    b[q] = both ? rows[2 * q + 1] : rows[2 * q];
    const uint32_t second = both ? weights[2 * q + 1] : 0;
    pairWeights[q] = _mm_set1_epi32(static_cast<int>(weights[2 * q] | (second << 16)));
  }
  size_t e = 0;
  for (; e + 16 <= n; e += 16) {
    __m128i s0 = zero, s1 = zero, s2 = zero, s3 = zero;
    for (uint32_t q = 0; q < Pairs; ++q) {
      const __m128i va = _mm_loadu_si128(reinterpret_cast<const __m128i*>(a[q] + e));
      const __m128i vb = _mm_loadu_si128(reinterpret_cast<const __m128i*>(b[q] + e));
      const __m128i lo = _mm_unpacklo_epi8(va, vb);
      const __m128i hi = _mm_unpackhi_epi8(va, vb);
      s0 = _mm_add_epi32(s0, _mm_madd_epi16(_mm_unpacklo_epi8(lo, zero), pairWeights[q]));
      s1 = _mm_add_epi32(s1, _mm_madd_epi16(_mm_unpackhi_epi8(lo, zero), pairWeights[q]));
      s2 = _mm_add_epi32(s2, _mm_madd_epi16(_mm_unpacklo_epi8(hi, zero), pairWeights[q]));
      s3 = _mm_add_epi32(s3, _mm_madd_epi16(_mm_unpackhi_epi8(hi, zero), pairWeights[q]));
    }
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + e), s0);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + e + 4), s1);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + e + 8), s2);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + e + 12), s3);
  }
  for (; e < n; ++e) {
    uint32_t s = 0;
    for (uint32_t t = 0; t < taps; ++t) s += uint32_t{weights[t]} * rows[t][e];
    out[e] = s;
  }
}

void weighRowsSse41(uint32_t* out, const uint8_t* const* rows, const uint16_t* weights,
                    uint32_t taps, size_t n) {
  static_assert(kMaxTaps <= 8);
  switch ((taps + 1) / 2) {
    case 1: return weighRowPairs<1>(out, rows, weights, taps, n);
    case 2: return weighRowPairs<2>(out, rows, weights, taps, n);
    case 3: return weighRowPairs<3>(out, rows, weights, taps, n);
    default: return weighRowPairs<4>(out, rows, weights, taps, n);
  }
}

// Four pixels per step: each pixel's sums are one 4-lane product sum (the fourth lane, read
// one value past the pixel, is thrown away), shifted to their top bytes, and the four
// results are packed to bytes and put in order with one shuffle, which also turns them
// into BGR where asked. The last n % 4 pixels go through the portable kernel.
template <uint32_t Taps>
void weighPixelsTaps(uint8_t* dst, const uint32_t* in, const uint32_t* starts,
                     const uint32_t* weights, uint32_t n, bool bgr) {
  const __m128i order = bgr ? _mm_setr_epi8(2, 1, 0, 6, 5, 4, 10, 9, 8, 14, 13, 12, -1, -1, -1, -1)
                            : _mm_setr_epi8(0, 1, 2, 4, 5, 6, 8, 9, 10, 12, 13, 14, -1, -1, -1, -1);
  uint32_t j = 0;
  for (; j + 4 <= n; j += 4, dst += 12) {
    __m128i acc[4];
    for (uint32_t q = 0; q < 4; ++q) {
      const uint32_t* p = in + size_t{starts[j + q]} * 3;
      const uint32_t* w = weights + size_t{j + q} * Taps;
      __m128i s = _mm_mullo_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p)),
                                  _mm_set1_epi32(static_cast<int>(w[0])));
      for (uint32_t t = 1; t < Taps; ++t) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 3 * t));
        s = _mm_add_epi32(s, _mm_mullo_epi32(v, _mm_set1_epi32(static_cast<int>(w[t]))));
      }
      acc[q] = _mm_srli_epi32(s, 24);
    }
    const __m128i bytes = _mm_shuffle_epi8(
        _mm_packus_epi16(_mm_packus_epi32(acc[0], acc[1]), _mm_packus_epi32(acc[2], acc[3])),
        order);
    _mm_storel_epi64(reinterpret_cast<__m128i*>(dst), bytes);
    const int last = _mm_cvtsi128_si32(_mm_srli_si128(bytes, 8));
    std::memcpy(dst + 8, &last, 4);
  }
  if (j < n)
    portableKernels().weighPixels(dst, in, starts + j, weights + size_t{j} * Taps, Taps, n - j, bgr);
}

void weighPixelsSse41(uint8_t* dst, const uint32_t* in, const uint32_t* starts,
                      const uint32_t* weights, uint32_t taps, uint32_t n, bool bgr) {
  static_assert(kMaxTaps <= 8);
  switch (taps) {
    case 1: return weighPixelsTaps<1>(dst, in, starts, weights, n, bgr);
    case 2: return weighPixelsTaps<2>(dst, in, starts, weights, n, bgr);
    case 3: return weighPixelsTaps<3>(dst, in, starts, weights, n, bgr);
    case 4: return weighPixelsTaps<4>(dst, in, starts, weights, n, bgr);
    case 5: return weighPixelsTaps<5>(dst, in, starts, weights, n, bgr);
    case 6: return weighPixelsTaps<6>(dst, in, starts, weights, n, bgr);
    case 7: return weighPixelsTaps<7>(dst, in, starts, weights, n, bgr);
    default: return weighPixelsTaps<8>(dst, in, starts, weights, n, bgr);
  }
}

}  // namespace

void useSse41Kernels(RenderKernels& kernels) {
  kernels.weighRows = weighRowsSse41;
  kernels.weighPixels = weighPixelsSse41;
}

}  // namespace decoder
