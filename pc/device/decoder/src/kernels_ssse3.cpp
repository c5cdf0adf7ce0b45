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

}  // namespace

const RenderKernels* Ssse3Kernels() {
  static const RenderKernels kernels{rgbToBgrSsse3};
  return &kernels;
}

}  // namespace decoder
