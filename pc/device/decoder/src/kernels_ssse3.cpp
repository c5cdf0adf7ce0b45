// Kernels for x86 processors with SSSE3; this file is built with -mssse3 and only called
// after the processor was checked.
#include <tmmintrin.h>

#include "kernels.h"

namespace decoder {

namespace {

// Five pixels per step: each 16-byte load holds them plus one byte of the next pixel, which
// is stored back unchanged; the next step starts at that byte. Every load is issued before
// the store that overlaps it, so nothing waits for a store (which matters in place), and
// every store stays inside the row.
void rgbToBgrSsse3(uint8_t* dst, const uint8_t* src, uint32_t n) {
  const __m128i order = _mm_setr_epi8(2, 1, 0, 5, 4, 3, 8, 7, 6, 11, 10, 9, 14, 13, 12, 15);
  const size_t bytes = size_t{n} * 3;
  size_t i = 0;
  if (bytes >= 16) {
    __m128i cur = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src));
    for (; i + 31 <= bytes; i += 15) {
      const __m128i next = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + i + 15));
      _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + i), _mm_shuffle_epi8(cur, order));
      cur = next;
    }
    _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + i), _mm_shuffle_epi8(cur, order));
    i += 15;
  }
  for (; i < bytes; i += 3) {
    const uint8_t r = src[i], g = src[i + 1], b = src[i + 2];
    dst[i] = b;
    dst[i + 1] = g;
    dst[i + 2] = r;
  }
}

// Eight output pixels per step from 48 bytes of each row: the rows are added as 16-bit
// lanes, each lane plus the one three places on (the next pixel's same channel), shifted
// right by 2, packed to bytes; then the 24 wanted bytes (positions 6j, 6j + 1, 6j + 2) are
// picked out of the three packed vectors. Reads exactly 6n bytes of each row.
void halveRowsSsse3(uint8_t* dst, const uint8_t* a, const uint8_t* b, uint32_t n) {
  const __m128i zero = _mm_setzero_si128();
  const __m128i pick00 = _mm_setr_epi8(0, 1, 2, 6, 7, 8, 12, 13, 14, -1, -1, -1, -1, -1, -1, -1);
  const __m128i pick10 = _mm_setr_epi8(-1, -1, -1, -1, -1, -1, -1, -1, -1, 2, 3, 4, 8, 9, 10, 14);
  const __m128i pick11 =
      _mm_setr_epi8(15, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1);
  const __m128i pick21 = _mm_setr_epi8(-1, 0, 4, 5, 6, 10, 11, 12, -1, -1, -1, -1, -1, -1, -1, -1);
  uint32_t j = 0;
  for (; j + 8 <= n; j += 8, a += 48, b += 48, dst += 24) {
    __m128i s[7];
    for (int k = 0; k < 3; ++k) {
      const __m128i va = _mm_loadu_si128(reinterpret_cast<const __m128i*>(a + 16 * k));
      const __m128i vb = _mm_loadu_si128(reinterpret_cast<const __m128i*>(b + 16 * k));
      s[2 * k] = _mm_add_epi16(_mm_unpacklo_epi8(va, zero), _mm_unpacklo_epi8(vb, zero));
      s[2 * k + 1] = _mm_add_epi16(_mm_unpackhi_epi8(va, zero), _mm_unpackhi_epi8(vb, zero));
    }
    s[6] = zero;  // lanes beyond the block feed only positions that are not picked
    __m128i t[6];
    for (int k = 0; k < 6; ++k)
      t[k] = _mm_srli_epi16(_mm_add_epi16(s[k], _mm_alignr_epi8(s[k + 1], s[k], 6)), 2);
    const __m128i p0 = _mm_packus_epi16(t[0], t[1]);
    const __m128i p1 = _mm_packus_epi16(t[2], t[3]);
    const __m128i p2 = _mm_packus_epi16(t[4], t[5]);
    const __m128i lo = _mm_or_si128(_mm_shuffle_epi8(p0, pick00), _mm_shuffle_epi8(p1, pick10));
    const __m128i hi = _mm_or_si128(_mm_shuffle_epi8(p1, pick11), _mm_shuffle_epi8(p2, pick21));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(dst), lo);
    _mm_storel_epi64(reinterpret_cast<__m128i*>(dst + 16), hi);
  }
  for (; j < n; ++j, a += 6, b += 6, dst += 3) {
    for (int c = 0; c < 3; ++c)
      dst[c] = static_cast<uint8_t>((uint32_t{a[c]} + a[c + 3] + b[c] + b[c + 3]) >> 2);
  }
}

// Five input pixels per step from one 16-byte load (the sixteenth byte unused), made into
// 30 output bytes by two shuffles; while at least 16 bytes of input are left, so nothing
// past the row is read. Then the portable kernel for the rest.
void doubleToBgrSsse3(uint8_t* dst, const uint8_t* src, uint32_t n) {
  const __m128i first = _mm_setr_epi8(2, 1, 0, 2, 1, 0, 5, 4, 3, 5, 4, 3, 8, 7, 6, 8);
  const __m128i second = _mm_setr_epi8(6, 8, 7, 6, 11, 10, 9, 11, 10, 9, 14, 13, 12, 14, 13, 12);
  uint32_t x = 0;
  // The two stores overlap by two bytes (both write the same values there).
  for (; x + 6 <= n; x += 5, src += 15, dst += 30) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(dst), _mm_shuffle_epi8(v, first));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + 14), _mm_shuffle_epi8(v, second));
  }
  portableKernels().doubleToBgr(dst, src, n - x);
}

}  // namespace

void useSsse3Kernels(RenderKernels& kernels) {
  kernels.rgbToBgr = rgbToBgrSsse3;
  kernels.halveRows = halveRowsSsse3;
  kernels.doubleToBgr = doubleToBgrSsse3;
}

}  // namespace decoder
