// Row kernels with SSSE3 byte shuffles; built with -mssse3 and used only where the
// processor has it. They give exactly the bytes of the portable loops.
#include <tmmintrin.h>

#include <cstdint>

#include "pixel_convert_kernels.h"

namespace output::kernels {

uint32_t packed4RowSsse3(const uint8_t* in, uint32_t width, uint8_t* out, bool swap) {
  // Four pixels per step from one 16-byte load (12 bytes used).
  const __m128i shuffle =
      swap ? _mm_setr_epi8(2, 1, 0, -128, 5, 4, 3, -128, 8, 7, 6, -128, 11, 10, 9, -128)
           : _mm_setr_epi8(0, 1, 2, -128, 3, 4, 5, -128, 6, 7, 8, -128, 9, 10, 11, -128);
  const __m128i alpha = _mm_set1_epi32(static_cast<int>(0xFF000000u));
  uint32_t x = 0;
  for (; size_t{x} * 3 + 16 <= size_t{width} * 3; x += 4) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + size_t{x} * 3));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + size_t{x} * 4),
                     _mm_or_si128(_mm_shuffle_epi8(v, shuffle), alpha));
  }
  return x;
}

namespace {

// The shuffles that put channel c of pixels 0..7 (3 bytes each, from two loads at byte 0
// and byte 8) into 16-bit lanes.
struct ChannelMasks {
  __m128i lo, hi;
};
ChannelMasks masksFor(int c) {
  alignas(16) int8_t lo[16], hi[16];
  for (int i = 0; i < 8; ++i) {
    const int pos = 3 * i + c;
    lo[2 * i] = pos <= 15 ? static_cast<int8_t>(pos) : -128;
    hi[2 * i] = pos > 15 ? static_cast<int8_t>(pos - 8) : -128;
    lo[2 * i + 1] = hi[2 * i + 1] = -128;
  }
  return {_mm_load_si128(reinterpret_cast<const __m128i*>(lo)),
          _mm_load_si128(reinterpret_cast<const __m128i*>(hi))};
}

}  // namespace

uint32_t yuy2RowSsse3(const uint8_t* in, uint32_t width, uint8_t* out) {
  static const ChannelMasks mb = masksFor(0), mg = masksFor(1), mr = masksFor(2);
  const __m128i one = _mm_set1_epi16(1);
  const __m128i round = _mm_set1_epi16(128);
  const __m128i lumaBase = _mm_set1_epi16(16);
  const __m128i even = _mm_set1_epi32(0x0000FFFF);
  uint32_t x = 0;
  for (; size_t{x} * 3 + 24 <= size_t{width} * 3; x += 8) {
    const uint8_t* p = in + size_t{x} * 3;
    const __m128i lo = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    const __m128i hi = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 8));
    const __m128i b = _mm_or_si128(_mm_shuffle_epi8(lo, mb.lo), _mm_shuffle_epi8(hi, mb.hi));
    const __m128i g = _mm_or_si128(_mm_shuffle_epi8(lo, mg.lo), _mm_shuffle_epi8(hi, mg.hi));
    const __m128i r = _mm_or_si128(_mm_shuffle_epi8(lo, mr.lo), _mm_shuffle_epi8(hi, mr.hi));
    // Y = ((66 R + 129 G + 25 B + 128) >> 8) + 16, in unsigned 16-bit lanes.
    __m128i y = _mm_add_epi16(_mm_mullo_epi16(r, _mm_set1_epi16(66)),
                              _mm_mullo_epi16(g, _mm_set1_epi16(129)));
    y = _mm_add_epi16(y, _mm_mullo_epi16(b, _mm_set1_epi16(25)));
    y = _mm_add_epi16(_mm_srli_epi16(_mm_add_epi16(y, round), 8), lumaBase);
    // Pair averages in the even lanes.
    const __m128i ra = _mm_srli_epi16(_mm_add_epi16(_mm_add_epi16(r, _mm_srli_si128(r, 2)), one), 1);
    const __m128i ga = _mm_srli_epi16(_mm_add_epi16(_mm_add_epi16(g, _mm_srli_si128(g, 2)), one), 1);
    const __m128i ba = _mm_srli_epi16(_mm_add_epi16(_mm_add_epi16(b, _mm_srli_si128(b, 2)), one), 1);
    __m128i u = _mm_add_epi16(_mm_mullo_epi16(ra, _mm_set1_epi16(-38)),
                              _mm_mullo_epi16(ga, _mm_set1_epi16(-74)));
    u = _mm_add_epi16(u, _mm_mullo_epi16(ba, _mm_set1_epi16(112)));
    u = _mm_add_epi16(_mm_srai_epi16(_mm_add_epi16(u, round), 8), round);
    __m128i v = _mm_add_epi16(_mm_mullo_epi16(ra, _mm_set1_epi16(112)),
                              _mm_mullo_epi16(ga, _mm_set1_epi16(-94)));
    v = _mm_add_epi16(v, _mm_mullo_epi16(ba, _mm_set1_epi16(-18)));
    v = _mm_add_epi16(_mm_srai_epi16(_mm_add_epi16(v, round), 8), round);
    // Pixel i carries U of its pair when even, V when odd: Y0 U Y1 V ...
    const __m128i c = _mm_or_si128(_mm_and_si128(u, even), _mm_andnot_si128(even, _mm_slli_si128(v, 2)));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + size_t{x} * 2),
                     _mm_or_si128(y, _mm_slli_epi16(c, 8)));
  }
  return x;
}

}  // namespace output::kernels
