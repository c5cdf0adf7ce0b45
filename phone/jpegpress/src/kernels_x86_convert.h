#pragma once

// Colour conversion kernels for x86-64 in 128-bit lanes, shared by the SSE2 table and the
// AVX2 table (which adds the BGR24 loader, as it needs byte shuffles). Every kernel gives
// exactly the samples of its portable twin: the same integer formulas, lane by lane.
// Only areas 16 pixels wide are covered here, so that no load reaches past the area.

#include <emmintrin.h>

#include <cstdint>

#include "kernels.h"

namespace jpegpress::x86 {
// Everything here is compiled once per instruction set (the SSE2 and the AVX2 file include
// it with different code-generation flags). Internal linkage keeps each file's copy its own:
// as ordinary inline functions the linker would keep one copy for both, and the SSE2 table
// could end up running instructions built for AVX2.
namespace {

// Sixteen pixels of one row as 16-bit R, G, B (pixels 0-7 in lo, 8-15 in hi).
struct Row16 {
  __m128i rlo, rhi, glo, ghi, blo, bhi;
};

inline __m128i load(const uint8_t* p) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p)); }
inline void store(int16_t* p, __m128i v) { _mm_store_si128(reinterpret_cast<__m128i*>(p), v); }

inline void rgb565Row(const uint8_t* row, Row16& out) {
  const __m128i mask5 = _mm_set1_epi16(0xF8), mask6 = _mm_set1_epi16(0xFC);
  const __m128i a = load(row), b = load(row + 16);
  out.rlo = _mm_and_si128(_mm_srli_epi16(a, 8), mask5);
  out.rhi = _mm_and_si128(_mm_srli_epi16(b, 8), mask5);
  out.glo = _mm_and_si128(_mm_srli_epi16(a, 3), mask6);
  out.ghi = _mm_and_si128(_mm_srli_epi16(b, 3), mask6);
  out.blo = _mm_and_si128(_mm_slli_epi16(a, 3), mask5);
  out.bhi = _mm_and_si128(_mm_slli_epi16(b, 3), mask5);
}

inline void rgb555Row(const uint8_t* row, Row16& out) {
  const __m128i mask5 = _mm_set1_epi16(0xF8);
  const __m128i a = load(row), b = load(row + 16);
  out.rlo = _mm_and_si128(_mm_srli_epi16(a, 7), mask5);
  out.rhi = _mm_and_si128(_mm_srli_epi16(b, 7), mask5);
  out.glo = _mm_and_si128(_mm_srli_epi16(a, 2), mask5);
  out.ghi = _mm_and_si128(_mm_srli_epi16(b, 2), mask5);
  out.blo = _mm_and_si128(_mm_slli_epi16(a, 3), mask5);
  out.bhi = _mm_and_si128(_mm_slli_epi16(b, 3), mask5);
}

// (77 R + 150 G + 29 B) >> 8 - 128; the sum stays below 65536, so unsigned 16-bit lanes
// hold it exactly.
inline __m128i luma8(__m128i r, __m128i g, __m128i b) {
  __m128i s = _mm_mullo_epi16(r, _mm_set1_epi16(77));
  s = _mm_add_epi16(s, _mm_mullo_epi16(g, _mm_set1_epi16(150)));
  s = _mm_add_epi16(s, _mm_mullo_epi16(b, _mm_set1_epi16(29)));
  return _mm_sub_epi16(_mm_srli_epi16(s, 8), _mm_set1_epi16(128));
}

// Chroma of horizontal pixel pairs from 16-bit component values (already summed over
// rows where needed): the multiply-add of neighbouring lanes forms each pair's sum times
// the factor. Eight results from the 16 pixels.
template <int Shift>
inline void chroma8(const __m128i* r, const __m128i* g, const __m128i* b, int16_t* cb, int16_t* cr) {
  const __m128i cbR = _mm_set1_epi16(-43), cbG = _mm_set1_epi16(-85), cbB = _mm_set1_epi16(128);
  const __m128i crR = _mm_set1_epi16(128), crG = _mm_set1_epi16(-107), crB = _mm_set1_epi16(-21);
  __m128i outCb[2], outCr[2];
  for (int h = 0; h < 2; ++h) {
    __m128i x = _mm_add_epi32(_mm_madd_epi16(r[h], cbR), _mm_madd_epi16(g[h], cbG));
    x = _mm_add_epi32(x, _mm_madd_epi16(b[h], cbB));
    outCb[h] = _mm_srai_epi32(x, Shift);
    __m128i y = _mm_add_epi32(_mm_madd_epi16(r[h], crR), _mm_madd_epi16(g[h], crG));
    y = _mm_add_epi32(y, _mm_madd_epi16(b[h], crB));
    outCr[h] = _mm_srai_epi32(y, Shift);
  }
  store(cb, _mm_packs_epi32(outCb[0], outCb[1]));
  store(cr, _mm_packs_epi32(outCr[0], outCr[1]));
}

template <void (*LoadRow)(const uint8_t*, Row16&)>
void convertRgb420(const SourceArea& area, int16_t* blocks) {
  const uint8_t* base = area.plane[0];
  const ptrdiff_t stride = area.stride[0];
  int16_t* cb = blocks + 4 * 64;
  int16_t* cr = blocks + 5 * 64;
  for (int cy = 0; cy < 8; ++cy) {
    Row16 a, b;
    const int y0 = 2 * cy;
    LoadRow(base + y0 * stride, a);
    LoadRow(base + (y0 + 1) * stride, b);
    int16_t* top = blocks + (y0 >> 3) * 128 + (y0 & 7) * 8;
    store(top, luma8(a.rlo, a.glo, a.blo));
    store(top + 64, luma8(a.rhi, a.ghi, a.bhi));
    store(top + 8, luma8(b.rlo, b.glo, b.blo));
    store(top + 72, luma8(b.rhi, b.ghi, b.bhi));
    const __m128i r[2] = {_mm_add_epi16(a.rlo, b.rlo), _mm_add_epi16(a.rhi, b.rhi)};
    const __m128i g[2] = {_mm_add_epi16(a.glo, b.glo), _mm_add_epi16(a.ghi, b.ghi)};
    const __m128i bl[2] = {_mm_add_epi16(a.blo, b.blo), _mm_add_epi16(a.bhi, b.bhi)};
    chroma8<10>(r, g, bl, cb + cy * 8, cr + cy * 8);
  }
}

template <void (*LoadRow)(const uint8_t*, Row16&)>
void convertRgb422(const SourceArea& area, int16_t* blocks) {
  const uint8_t* base = area.plane[0];
  const ptrdiff_t stride = area.stride[0];
  for (int y = 0; y < 8; ++y) {
    Row16 a;
    LoadRow(base + y * stride, a);
    store(blocks + y * 8, luma8(a.rlo, a.glo, a.blo));
    store(blocks + 64 + y * 8, luma8(a.rhi, a.ghi, a.bhi));
    const __m128i r[2] = {a.rlo, a.rhi}, g[2] = {a.glo, a.ghi}, b[2] = {a.blo, a.bhi};
    chroma8<9>(r, g, b, blocks + 128 + y * 8, blocks + 192 + y * 8);
  }
}

// Packed U Y0 V Y1, 16 pixels per row: luminance is the high byte of each 16-bit word,
// U and V the low bytes of alternate words.
inline void uyvyRow(const uint8_t* row, __m128i& ylo, __m128i& yhi, __m128i& u, __m128i& v) {
  const __m128i a = load(row), b = load(row + 16);
  ylo = _mm_srli_epi16(a, 8);
  yhi = _mm_srli_epi16(b, 8);
  const __m128i low = _mm_set1_epi16(0xFF), word = _mm_set1_epi32(0xFFFF);
  const __m128i ca = _mm_and_si128(a, low), cb = _mm_and_si128(b, low);
  u = _mm_packs_epi32(_mm_and_si128(ca, word), _mm_and_si128(cb, word));
  v = _mm_packs_epi32(_mm_srli_epi32(ca, 16), _mm_srli_epi32(cb, 16));
}

inline void convertUyvy420(const SourceArea& area, int16_t* blocks) {
  const __m128i bias = _mm_set1_epi16(128);
  const uint8_t* base = area.plane[0];
  const ptrdiff_t stride = area.stride[0];
  for (int cy = 0; cy < 8; ++cy) {
    const int y0 = 2 * cy;
    __m128i ylo0, yhi0, u0, v0, ylo1, yhi1, u1, v1;
    uyvyRow(base + y0 * stride, ylo0, yhi0, u0, v0);
    uyvyRow(base + (y0 + 1) * stride, ylo1, yhi1, u1, v1);
    int16_t* top = blocks + (y0 >> 3) * 128 + (y0 & 7) * 8;
    store(top, _mm_sub_epi16(ylo0, bias));
    store(top + 64, _mm_sub_epi16(yhi0, bias));
    store(top + 8, _mm_sub_epi16(ylo1, bias));
    store(top + 72, _mm_sub_epi16(yhi1, bias));
    // (a + b + 1) >> 1, exactly the rounding average of unsigned lanes.
    store(blocks + 256 + cy * 8, _mm_sub_epi16(_mm_avg_epu16(u0, u1), bias));
    store(blocks + 320 + cy * 8, _mm_sub_epi16(_mm_avg_epu16(v0, v1), bias));
  }
}

inline void convertUyvy422(const SourceArea& area, int16_t* blocks) {
  const __m128i bias = _mm_set1_epi16(128);
  for (int y = 0; y < 8; ++y) {
    __m128i ylo, yhi, u, v;
    uyvyRow(area.plane[0] + y * area.stride[0], ylo, yhi, u, v);
    store(blocks + y * 8, _mm_sub_epi16(ylo, bias));
    store(blocks + 64 + y * 8, _mm_sub_epi16(yhi, bias));
    store(blocks + 128 + y * 8, _mm_sub_epi16(u, bias));
    store(blocks + 192 + y * 8, _mm_sub_epi16(v, bias));
  }
}

inline __m128i widen8(const uint8_t* p) {
  return _mm_sub_epi16(
      _mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(p)), _mm_setzero_si128()),
      _mm_set1_epi16(128));
}

inline void convertPlanar420(const SourceArea& area, int16_t* blocks) {
  const __m128i zero = _mm_setzero_si128(), bias = _mm_set1_epi16(128);
  for (int y = 0; y < 16; ++y) {
    const __m128i v = load(area.plane[0] + y * area.stride[0]);
    int16_t* out = blocks + (y >> 3) * 128 + (y & 7) * 8;
    store(out, _mm_sub_epi16(_mm_unpacklo_epi8(v, zero), bias));
    store(out + 64, _mm_sub_epi16(_mm_unpackhi_epi8(v, zero), bias));
  }
  for (int y = 0; y < 8; ++y) {
    store(blocks + 256 + y * 8, widen8(area.plane[1] + y * area.stride[1]));
    store(blocks + 320 + y * 8, widen8(area.plane[2] + y * area.stride[1]));
  }
}

inline void convertPlanarGray(const SourceArea& area, int16_t* blocks) {
  for (int y = 0; y < 8; ++y) store(blocks + y * 8, widen8(area.plane[0] + y * area.stride[0]));
}

// ---- areas 8 pixels wide (grayscale, and 4:2:2 of a quarter-turned picture) ----

// Eight pixels of one row as 16-bit R, G, B.
struct Row8 {
  __m128i r, g, b;
};

inline void rgb565Row8(const uint8_t* row, Row8& out) {
  const __m128i mask5 = _mm_set1_epi16(0xF8), mask6 = _mm_set1_epi16(0xFC);
  const __m128i a = load(row);
  out.r = _mm_and_si128(_mm_srli_epi16(a, 8), mask5);
  out.g = _mm_and_si128(_mm_srli_epi16(a, 3), mask6);
  out.b = _mm_and_si128(_mm_slli_epi16(a, 3), mask5);
}

inline void rgb555Row8(const uint8_t* row, Row8& out) {
  const __m128i mask5 = _mm_set1_epi16(0xF8);
  const __m128i a = load(row);
  out.r = _mm_and_si128(_mm_srli_epi16(a, 7), mask5);
  out.g = _mm_and_si128(_mm_srli_epi16(a, 2), mask5);
  out.b = _mm_and_si128(_mm_slli_epi16(a, 3), mask5);
}

// Chroma of vertical pairs: per pixel, from component sums of two rows.
inline __m128i chromaVertical(__m128i r, __m128i g, __m128i b, short fr, short fg, short fb) {
  const __m128i zero = _mm_setzero_si128();
  const __m128i rg = _mm_set1_epi32(static_cast<int>(static_cast<uint16_t>(fr)) |
                                    (static_cast<int>(static_cast<uint16_t>(fg)) << 16));
  const __m128i bOnly = _mm_set1_epi32(static_cast<uint16_t>(fb));
  const __m128i lo = _mm_add_epi32(_mm_madd_epi16(_mm_unpacklo_epi16(r, g), rg),
                                   _mm_madd_epi16(_mm_unpacklo_epi16(b, zero), bOnly));
  const __m128i hi = _mm_add_epi32(_mm_madd_epi16(_mm_unpackhi_epi16(r, g), rg),
                                   _mm_madd_epi16(_mm_unpackhi_epi16(b, zero), bOnly));
  return _mm_packs_epi32(_mm_srai_epi32(lo, 9), _mm_srai_epi32(hi, 9));
}

template <void (*LoadRow)(const uint8_t*, Row8&)>
void convertRgb422V(const SourceArea& area, int16_t* blocks) {
  const uint8_t* base = area.plane[0];
  const ptrdiff_t stride = area.stride[0];
  for (int cy = 0; cy < 8; ++cy) {
    const int y0 = 2 * cy;
    Row8 a, b;
    LoadRow(base + y0 * stride, a);
    LoadRow(base + (y0 + 1) * stride, b);
    int16_t* out = blocks + (y0 >> 3) * 64 + (y0 & 7) * 8;
    store(out, luma8(a.r, a.g, a.b));
    store(out + 8, luma8(b.r, b.g, b.b));
    const __m128i r = _mm_add_epi16(a.r, b.r), g = _mm_add_epi16(a.g, b.g), bl = _mm_add_epi16(a.b, b.b);
    store(blocks + 128 + cy * 8, chromaVertical(r, g, bl, -43, -85, 128));
    store(blocks + 192 + cy * 8, chromaVertical(r, g, bl, 128, -107, -21));
  }
}

template <void (*LoadRow)(const uint8_t*, Row8&)>
void convertRgbGray(const SourceArea& area, int16_t* blocks) {
  for (int y = 0; y < 8; ++y) {
    Row8 a;
    LoadRow(area.plane[0] + y * area.stride[0], a);
    store(blocks + y * 8, luma8(a.r, a.g, a.b));
  }
}

// Eight packed pixels: luminance, and U and V of the four macropixels, each repeated for
// its two pixels.
inline void uyvyRow8(const uint8_t* row, __m128i& y, __m128i& u, __m128i& v) {
  const __m128i a = load(row);
  y = _mm_srli_epi16(a, 8);
  const __m128i c = _mm_and_si128(a, _mm_set1_epi16(0xFF));
  // Low word of each 32-bit lane is U, high word V; spread each over two lanes.
  const __m128i uu = _mm_and_si128(c, _mm_set1_epi32(0xFFFF));
  const __m128i vv = _mm_srli_epi32(c, 16);
  u = _mm_or_si128(uu, _mm_slli_epi32(uu, 16));
  v = _mm_or_si128(vv, _mm_slli_epi32(vv, 16));
}

inline void convertUyvy422V(const SourceArea& area, int16_t* blocks) {
  const __m128i bias = _mm_set1_epi16(128);
  const uint8_t* base = area.plane[0];
  const ptrdiff_t stride = area.stride[0];
  for (int cy = 0; cy < 8; ++cy) {
    const int y0 = 2 * cy;
    __m128i ya, ua, va, yb, ub, vb;
    uyvyRow8(base + y0 * stride, ya, ua, va);
    uyvyRow8(base + (y0 + 1) * stride, yb, ub, vb);
    int16_t* out = blocks + (y0 >> 3) * 64 + (y0 & 7) * 8;
    store(out, _mm_sub_epi16(ya, bias));
    store(out + 8, _mm_sub_epi16(yb, bias));
    store(blocks + 128 + cy * 8, _mm_sub_epi16(_mm_avg_epu16(ua, ub), bias));
    store(blocks + 192 + cy * 8, _mm_sub_epi16(_mm_avg_epu16(va, vb), bias));
  }
}

inline void convertUyvyGray(const SourceArea& area, int16_t* blocks) {
  const __m128i bias = _mm_set1_epi16(128);
  for (int y = 0; y < 8; ++y) {
    const __m128i a = load(area.plane[0] + y * area.stride[0]);
    store(blocks + y * 8, _mm_sub_epi16(_mm_srli_epi16(a, 8), bias));
  }
}

// Fills the conversions this header provides into `t`.
inline void addSse2Conversions(KernelTable& t) {
  t.convert[kLayoutUyvy][kArea420] = convertUyvy420;
  t.convert[kLayoutUyvy][kArea422H] = convertUyvy422;
  t.convert[kLayoutRgb565][kArea420] = convertRgb420<rgb565Row>;
  t.convert[kLayoutRgb565][kArea422H] = convertRgb422<rgb565Row>;
  t.convert[kLayoutRgb555][kArea420] = convertRgb420<rgb555Row>;
  t.convert[kLayoutRgb555][kArea422H] = convertRgb422<rgb555Row>;
  t.convert[kLayoutUyvy][kArea422V] = convertUyvy422V;
  t.convert[kLayoutUyvy][kAreaGray] = convertUyvyGray;
  t.convert[kLayoutRgb565][kArea422V] = convertRgb422V<rgb565Row8>;
  t.convert[kLayoutRgb565][kAreaGray] = convertRgbGray<rgb565Row8>;
  t.convert[kLayoutRgb555][kArea422V] = convertRgb422V<rgb555Row8>;
  t.convert[kLayoutRgb555][kAreaGray] = convertRgbGray<rgb555Row8>;
  t.convert[kLayoutPlanar][kArea420] = convertPlanar420;
  t.convert[kLayoutPlanar][kAreaGray] = convertPlanarGray;
}

}  // namespace
}  // namespace jpegpress::x86
