// Kernels for processors with AVX2 (which also have the byte shuffles of SSSE3): the SSE2
// table plus the BGR24 conversions, whose loader separates the three interleaved
// components with byte shuffles.

#include <immintrin.h>

#include "kernels_x86.h"
#include "kernels_x86_convert.h"

namespace jpegpress {
namespace {

// Shuffle control picking component c (0 blue, 1 green, 2 red) of 16 pixels out of the
// 16-byte part `part` of 48 interleaved bytes; other positions become zero.
struct ShuffleMasks {
  alignas(16) int8_t m[3][3][16];
};

constexpr ShuffleMasks makeMasks() {
  ShuffleMasks s{};
  for (int c = 0; c < 3; ++c)
    for (int part = 0; part < 3; ++part)
      for (int pos = 0; pos < 16; ++pos) {
        const int index = 3 * pos + c - 16 * part;
        s.m[c][part][pos] = static_cast<int8_t>(index >= 0 && index < 16 ? index : -128);
      }
  return s;
}

constexpr ShuffleMasks kMasks = makeMasks();

inline __m128i component(const __m128i* parts, int c) {
  __m128i v = _mm_shuffle_epi8(parts[0], _mm_load_si128(reinterpret_cast<const __m128i*>(kMasks.m[c][0])));
  v = _mm_or_si128(v, _mm_shuffle_epi8(parts[1], _mm_load_si128(reinterpret_cast<const __m128i*>(kMasks.m[c][1]))));
  return _mm_or_si128(v, _mm_shuffle_epi8(parts[2], _mm_load_si128(reinterpret_cast<const __m128i*>(kMasks.m[c][2]))));
}

inline void bgr24Row(const uint8_t* row, x86::Row16& out) {
  const __m128i parts[3] = {x86::load(row), x86::load(row + 16), x86::load(row + 32)};
  const __m128i zero = _mm_setzero_si128();
  const __m128i b = component(parts, 0), g = component(parts, 1), r = component(parts, 2);
  out.blo = _mm_unpacklo_epi8(b, zero);
  out.bhi = _mm_unpackhi_epi8(b, zero);
  out.glo = _mm_unpacklo_epi8(g, zero);
  out.ghi = _mm_unpackhi_epi8(g, zero);
  out.rlo = _mm_unpacklo_epi8(r, zero);
  out.rhi = _mm_unpackhi_epi8(r, zero);
}

// Eight pixels: 24 bytes, read as 16 + 8 so that nothing past the area is touched.
inline void bgr24Row8(const uint8_t* row, x86::Row8& out) {
  const __m128i parts[3] = {x86::load(row), _mm_loadl_epi64(reinterpret_cast<const __m128i*>(row + 16)),
                            _mm_setzero_si128()};
  const __m128i zero = _mm_setzero_si128();
  out.b = _mm_unpacklo_epi8(component(parts, 0), zero);
  out.g = _mm_unpacklo_epi8(component(parts, 1), zero);
  out.r = _mm_unpacklo_epi8(component(parts, 2), zero);
}

KernelTable makeAvx2() {
  KernelTable t = sse2Kernels();
  t.name = "avx2";
  t.convert[kLayoutBgr24][kArea420] = x86::convertRgb420<bgr24Row>;
  t.convert[kLayoutBgr24][kArea422H] = x86::convertRgb422<bgr24Row>;
  t.convert[kLayoutBgr24][kArea422V] = x86::convertRgb422V<bgr24Row8>;
  t.convert[kLayoutBgr24][kAreaGray] = x86::convertRgbGray<bgr24Row8>;
  return t;
}

}  // namespace

const KernelTable& avx2Kernels() {
  static const KernelTable table = makeAvx2();
  return table;
}

}  // namespace jpegpress
