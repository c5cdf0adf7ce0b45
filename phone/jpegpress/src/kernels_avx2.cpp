// Kernels for processors with AVX2 (which also have the byte shuffles of SSSE3): the SSE2
// table plus the BGR24 conversions, whose loader separates the three interleaved
// components with byte shuffles.

#include <immintrin.h>

#include <utility>

#include "kernels_x86.h"
#include "kernels_x86_convert.h"
#include "zigzag_avx2.h"

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

// Eight pixels: 24 bytes, read as 16 + 8 so that nothing past the area is touched; only
// the first two parts of the shuffle controls hold entries for pixels 0-7.
inline __m128i component8(__m128i first, __m128i second, int c) {
  const __m128i v = _mm_shuffle_epi8(first, _mm_load_si128(reinterpret_cast<const __m128i*>(kMasks.m[c][0])));
  return _mm_or_si128(v, _mm_shuffle_epi8(second, _mm_load_si128(reinterpret_cast<const __m128i*>(kMasks.m[c][1]))));
}

inline void bgr24Row8(const uint8_t* row, x86::Row8& out) {
  const __m128i first = x86::load(row);
  const __m128i second = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(row + 16));
  const __m128i zero = _mm_setzero_si128();
  out.b = _mm_unpacklo_epi8(component8(first, second, 0), zero);
  out.g = _mm_unpacklo_epi8(component8(first, second, 1), zero);
  out.r = _mm_unpacklo_epi8(component8(first, second, 2), zero);
}

// 4:2:0 from BGR24 with the two rows of each pair side by side, one per 128-bit half:
// one set of shuffles and one luminance formula serve both rows.
void convertBgr420(const SourceArea& area, int16_t* blocks) {
  const uint8_t* base = area.plane[0];
  const ptrdiff_t stride = area.stride[0];
  const __m256i zero = _mm256_setzero_si256();
  __m256i masks[3][3];
  for (int c = 0; c < 3; ++c)
    for (int part = 0; part < 3; ++part)
      masks[c][part] = _mm256_broadcastsi128_si256(
          _mm_load_si128(reinterpret_cast<const __m128i*>(kMasks.m[c][part])));
  auto pairOf = [](const uint8_t* a, const uint8_t* b) {
    return _mm256_inserti128_si256(_mm256_castsi128_si256(x86::load(a)), x86::load(b), 1);
  };
  auto luma = [](__m256i r, __m256i g, __m256i b) {
    __m256i y = _mm256_mullo_epi16(r, _mm256_set1_epi16(77));
    y = _mm256_add_epi16(y, _mm256_mullo_epi16(g, _mm256_set1_epi16(150)));
    y = _mm256_add_epi16(y, _mm256_mullo_epi16(b, _mm256_set1_epi16(29)));
    return _mm256_sub_epi16(_mm256_srli_epi16(y, 8), _mm256_set1_epi16(128));
  };
  for (int cy = 0; cy < 8; ++cy) {
    const int y0 = 2 * cy;
    const uint8_t* r0 = base + y0 * stride;
    const uint8_t* r1 = r0 + stride;
    const __m256i parts[3] = {pairOf(r0, r1), pairOf(r0 + 16, r1 + 16), pairOf(r0 + 32, r1 + 32)};
    __m256i lo[3], hi[3];  // pixels 0-7 and 8-15 of both rows, 16-bit
    for (int c = 0; c < 3; ++c) {
      __m256i v = _mm256_shuffle_epi8(parts[0], masks[c][0]);
      v = _mm256_or_si256(v, _mm256_shuffle_epi8(parts[1], masks[c][1]));
      v = _mm256_or_si256(v, _mm256_shuffle_epi8(parts[2], masks[c][2]));
      lo[c] = _mm256_unpacklo_epi8(v, zero);
      hi[c] = _mm256_unpackhi_epi8(v, zero);
    }
    const __m256i yLo = luma(lo[2], lo[1], lo[0]), yHi = luma(hi[2], hi[1], hi[0]);
    int16_t* top = blocks + (y0 >> 3) * 128 + (y0 & 7) * 8;
    x86::store(top, _mm256_castsi256_si128(yLo));
    x86::store(top + 8, _mm256_extracti128_si256(yLo, 1));
    x86::store(top + 64, _mm256_castsi256_si128(yHi));
    x86::store(top + 72, _mm256_extracti128_si256(yHi, 1));
    auto rows = [](__m256i v) { return _mm_add_epi16(_mm256_castsi256_si128(v), _mm256_extracti128_si256(v, 1)); };
    const __m128i r[2] = {rows(lo[2]), rows(hi[2])};
    const __m128i g[2] = {rows(lo[1]), rows(hi[1])};
    const __m128i b[2] = {rows(lo[0]), rows(hi[0])};
    x86::chroma8<10>(r, g, b, blocks + 256 + cy * 8, blocks + 320 + cy * 8);
  }
}

// 4:2:2 from BGR24, two rows per iteration, one per 128-bit half; chroma of horizontal
// pairs by multiply-add of neighbouring lanes, as the 128-bit version.
void convertBgr422(const SourceArea& area, int16_t* blocks) {
  const uint8_t* base = area.plane[0];
  const ptrdiff_t stride = area.stride[0];
  const __m256i zero = _mm256_setzero_si256();
  __m256i masks[3][3];
  for (int c = 0; c < 3; ++c)
    for (int part = 0; part < 3; ++part)
      masks[c][part] = _mm256_broadcastsi128_si256(
          _mm_load_si128(reinterpret_cast<const __m128i*>(kMasks.m[c][part])));
  auto pairOf = [](const uint8_t* a, const uint8_t* b) {
    return _mm256_inserti128_si256(_mm256_castsi128_si256(x86::load(a)), x86::load(b), 1);
  };
  auto luma = [](__m256i r, __m256i g, __m256i b) {
    __m256i y = _mm256_mullo_epi16(r, _mm256_set1_epi16(77));
    y = _mm256_add_epi16(y, _mm256_mullo_epi16(g, _mm256_set1_epi16(150)));
    y = _mm256_add_epi16(y, _mm256_mullo_epi16(b, _mm256_set1_epi16(29)));
    return _mm256_sub_epi16(_mm256_srli_epi16(y, 8), _mm256_set1_epi16(128));
  };
  auto chroma = [](const __m256i* lo, const __m256i* hi, short fr, short fg, short fb) {
    const __m256i cr = _mm256_set1_epi16(fr), cg = _mm256_set1_epi16(fg), cb = _mm256_set1_epi16(fb);
    __m256i a = _mm256_add_epi32(_mm256_madd_epi16(lo[2], cr), _mm256_madd_epi16(lo[1], cg));
    a = _mm256_srai_epi32(_mm256_add_epi32(a, _mm256_madd_epi16(lo[0], cb)), 9);
    __m256i b = _mm256_add_epi32(_mm256_madd_epi16(hi[2], cr), _mm256_madd_epi16(hi[1], cg));
    b = _mm256_srai_epi32(_mm256_add_epi32(b, _mm256_madd_epi16(hi[0], cb)), 9);
    return _mm256_packs_epi32(a, b);  // per half: that row's 8 chroma samples
  };
  for (int y = 0; y < 8; y += 2) {
    const uint8_t* r0 = base + y * stride;
    const uint8_t* r1 = r0 + stride;
    const __m256i parts[3] = {pairOf(r0, r1), pairOf(r0 + 16, r1 + 16), pairOf(r0 + 32, r1 + 32)};
    __m256i lo[3], hi[3];
    for (int c = 0; c < 3; ++c) {
      __m256i v = _mm256_shuffle_epi8(parts[0], masks[c][0]);
      v = _mm256_or_si256(v, _mm256_shuffle_epi8(parts[1], masks[c][1]));
      v = _mm256_or_si256(v, _mm256_shuffle_epi8(parts[2], masks[c][2]));
      lo[c] = _mm256_unpacklo_epi8(v, zero);
      hi[c] = _mm256_unpackhi_epi8(v, zero);
    }
    const __m256i yLo = luma(lo[2], lo[1], lo[0]), yHi = luma(hi[2], hi[1], hi[0]);
    x86::store(blocks + y * 8, _mm256_castsi256_si128(yLo));
    x86::store(blocks + y * 8 + 8, _mm256_extracti128_si256(yLo, 1));
    x86::store(blocks + 64 + y * 8, _mm256_castsi256_si128(yHi));
    x86::store(blocks + 64 + y * 8 + 8, _mm256_extracti128_si256(yHi, 1));
    const __m256i cbv = chroma(lo, hi, -43, -85, 128), crv = chroma(lo, hi, 128, -107, -21);
    x86::store(blocks + 128 + y * 8, _mm256_castsi256_si128(cbv));
    x86::store(blocks + 128 + y * 8 + 8, _mm256_extracti128_si256(cbv, 1));
    x86::store(blocks + 192 + y * 8, _mm256_castsi256_si128(crv));
    x86::store(blocks + 192 + y * 8 + 8, _mm256_extracti128_si256(crv, 1));
  }
}

// Turned 4:2:2 from BGR24: the two rows of each vertical pair go through the shuffles and
// the luminance formula together, one row per 128-bit half.
void convertBgr422V(const SourceArea& area, int16_t* blocks) {
  const uint8_t* base = area.plane[0];
  const ptrdiff_t stride = area.stride[0];
  const __m256i zero = _mm256_setzero_si256();
  __m256i masks[3][2];
  for (int c = 0; c < 3; ++c)
    for (int part = 0; part < 2; ++part)
      masks[c][part] = _mm256_broadcastsi128_si256(
          _mm_load_si128(reinterpret_cast<const __m128i*>(kMasks.m[c][part])));
  for (int cy = 0; cy < 8; ++cy) {
    const int y0 = 2 * cy;
    const uint8_t* r0 = base + y0 * stride;
    const uint8_t* r1 = r0 + stride;
    const __m256i first = _mm256_inserti128_si256(_mm256_castsi128_si256(x86::load(r0)), x86::load(r1), 1);
    const __m256i second = _mm256_inserti128_si256(
        _mm256_castsi128_si256(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(r0 + 16))),
        _mm_loadl_epi64(reinterpret_cast<const __m128i*>(r1 + 16)), 1);
    __m256i comp[3];
    for (int c = 0; c < 3; ++c) {
      const __m256i v = _mm256_or_si256(_mm256_shuffle_epi8(first, masks[c][0]),
                                        _mm256_shuffle_epi8(second, masks[c][1]));
      comp[c] = _mm256_unpacklo_epi8(v, zero);  // 8 pixels of each row as 16-bit lanes
    }
    const __m256i b = comp[0], g = comp[1], r = comp[2];
    __m256i y = _mm256_mullo_epi16(r, _mm256_set1_epi16(77));
    y = _mm256_add_epi16(y, _mm256_mullo_epi16(g, _mm256_set1_epi16(150)));
    y = _mm256_add_epi16(y, _mm256_mullo_epi16(b, _mm256_set1_epi16(29)));
    y = _mm256_sub_epi16(_mm256_srli_epi16(y, 8), _mm256_set1_epi16(128));
    int16_t* out = blocks + (y0 >> 3) * 64 + (y0 & 7) * 8;
    x86::store(out, _mm256_castsi256_si128(y));
    x86::store(out + 8, _mm256_extracti128_si256(y, 1));
    const __m128i rs = _mm_add_epi16(_mm256_castsi256_si128(r), _mm256_extracti128_si256(r, 1));
    const __m128i gs = _mm_add_epi16(_mm256_castsi256_si128(g), _mm256_extracti128_si256(g, 1));
    const __m128i bs = _mm_add_epi16(_mm256_castsi256_si128(b), _mm256_extracti128_si256(b, 1));
    x86::store(blocks + 128 + cy * 8, x86::chromaVertical(rs, gs, bs, -43, -85, 128));
    x86::store(blocks + 192 + cy * 8, x86::chromaVertical(rs, gs, bs, 128, -107, -21));
  }
}

template <size_t... J>
inline uint64_t zigzagAll(const int16_t* coefficients, int16_t* zigzag, std::index_sequence<J...>) {
  __m128i columns[8];
  for (int i = 0; i < 8; ++i)
    columns[i] = _mm_load_si128(reinterpret_cast<const __m128i*>(coefficients + 8 * i));
  const __m128i out[8] = {
      gatherVector<2, static_cast<int>(J)>(columns, std::make_index_sequence<8>())...};
  const __m128i zero = _mm_setzero_si128();
  uint64_t mask = 0;
  for (int j = 0; j < 8; ++j) _mm_store_si128(reinterpret_cast<__m128i*>(zigzag + 8 * j), out[j]);
  for (int i = 0; i < 4; ++i) {
    const __m128i zeros = _mm_packs_epi16(_mm_cmpeq_epi16(out[2 * i], zero), _mm_cmpeq_epi16(out[2 * i + 1], zero));
    mask |= static_cast<uint64_t>(static_cast<uint16_t>(~_mm_movemask_epi8(zeros))) << (16 * i);
  }
  return mask & ~uint64_t{1};
}

uint64_t zigzagAvx2(const int16_t* coefficients, int16_t* zigzag) {
  return zigzagAll(coefficients, zigzag, std::make_index_sequence<8>());
}

// ---- forward DCT of two blocks at once: block a in the low 128 bits, b in the high ----

// (x * f + 0x4000) >> 15 in one instruction, as the portable mulQ15.
inline __m256i mulFraction(__m256i x, short fraction) {
  return _mm256_mulhrs_epi16(x, _mm256_set1_epi16(fraction));
}

inline void dct8(__m256i* d) {
  const __m256i t0 = _mm256_add_epi16(d[0], d[7]), t7 = _mm256_sub_epi16(d[0], d[7]);
  const __m256i t1 = _mm256_add_epi16(d[1], d[6]), t6 = _mm256_sub_epi16(d[1], d[6]);
  const __m256i t2 = _mm256_add_epi16(d[2], d[5]), t5 = _mm256_sub_epi16(d[2], d[5]);
  const __m256i t3 = _mm256_add_epi16(d[3], d[4]), t4 = _mm256_sub_epi16(d[3], d[4]);
  const __m256i t10 = _mm256_add_epi16(t0, t3), t13 = _mm256_sub_epi16(t0, t3);
  const __m256i t11 = _mm256_add_epi16(t1, t2), t12 = _mm256_sub_epi16(t1, t2);
  d[0] = _mm256_add_epi16(t10, t11);
  d[4] = _mm256_sub_epi16(t10, t11);
  const __m256i m = _mm256_add_epi16(t12, t13);
  const __m256i z1 = _mm256_sub_epi16(m, mulFraction(m, 9598));
  d[2] = _mm256_add_epi16(t13, z1);
  d[6] = _mm256_sub_epi16(t13, z1);
  const __m256i a = _mm256_add_epi16(t4, t5), b = _mm256_add_epi16(t5, t6), c = _mm256_add_epi16(t6, t7);
  const __m256i z5 = mulFraction(_mm256_sub_epi16(a, c), 12540);
  const __m256i z2 = _mm256_add_epi16(_mm256_sub_epi16(a, mulFraction(a, 15034)), z5);
  const __m256i z4 = _mm256_add_epi16(_mm256_add_epi16(c, mulFraction(c, 10045)), z5);
  const __m256i z3 = _mm256_sub_epi16(b, mulFraction(b, 9598));
  const __m256i z11 = _mm256_add_epi16(t7, z3), z13 = _mm256_sub_epi16(t7, z3);
  d[5] = _mm256_add_epi16(z13, z2);
  d[3] = _mm256_sub_epi16(z13, z2);
  d[1] = _mm256_add_epi16(z11, z4);
  d[7] = _mm256_sub_epi16(z11, z4);
}

// 8x8 transposes of both halves (the unpacks work within each 128-bit half).
inline void transpose8(__m256i* r) {
  const __m256i a0 = _mm256_unpacklo_epi16(r[0], r[1]), a1 = _mm256_unpackhi_epi16(r[0], r[1]);
  const __m256i a2 = _mm256_unpacklo_epi16(r[2], r[3]), a3 = _mm256_unpackhi_epi16(r[2], r[3]);
  const __m256i a4 = _mm256_unpacklo_epi16(r[4], r[5]), a5 = _mm256_unpackhi_epi16(r[4], r[5]);
  const __m256i a6 = _mm256_unpacklo_epi16(r[6], r[7]), a7 = _mm256_unpackhi_epi16(r[6], r[7]);
  const __m256i b0 = _mm256_unpacklo_epi32(a0, a2), b1 = _mm256_unpackhi_epi32(a0, a2);
  const __m256i b2 = _mm256_unpacklo_epi32(a1, a3), b3 = _mm256_unpackhi_epi32(a1, a3);
  const __m256i b4 = _mm256_unpacklo_epi32(a4, a6), b5 = _mm256_unpackhi_epi32(a4, a6);
  const __m256i b6 = _mm256_unpacklo_epi32(a5, a7), b7 = _mm256_unpackhi_epi32(a5, a7);
  r[0] = _mm256_unpacklo_epi64(b0, b4);
  r[1] = _mm256_unpackhi_epi64(b0, b4);
  r[2] = _mm256_unpacklo_epi64(b1, b5);
  r[3] = _mm256_unpackhi_epi64(b1, b5);
  r[4] = _mm256_unpacklo_epi64(b2, b6);
  r[5] = _mm256_unpackhi_epi64(b2, b6);
  r[6] = _mm256_unpacklo_epi64(b3, b7);
  r[7] = _mm256_unpackhi_epi64(b3, b7);
}

// The DCT of the eight row pairs in `r` (samples, not yet doubled) with quantisation, into
// `outA` (low halves) and `outB` (high halves).
inline void dctQuantise2(__m256i* r, const uint16_t* reciprocals, int16_t* outA, int16_t* outB) {
  for (int i = 0; i < 8; ++i) r[i] = _mm256_add_epi16(r[i], r[i]);
  dct8(r);
  transpose8(r);
  dct8(r);
  for (int i = 0; i < 8; ++i) {
    const __m256i x = r[i];
    const __m256i magnitude = _mm256_abs_epi16(x);
    const __m256i recip = _mm256_broadcastsi128_si256(
        _mm_load_si128(reinterpret_cast<const __m128i*>(reciprocals + 8 * i)));
    const __m256i high = _mm256_mulhi_epu16(magnitude, recip);
    const __m256i low = _mm256_mullo_epi16(magnitude, recip);
    const __m256i q = _mm256_add_epi16(high, _mm256_srli_epi16(low, 15));
    // x's sign back on the quotient (x == 0 gives 0, as q is 0 there).
    const __m256i result = _mm256_sign_epi16(q, x);
    _mm_store_si128(reinterpret_cast<__m128i*>(outA + 8 * i), _mm256_castsi256_si128(result));
    _mm_store_si128(reinterpret_cast<__m128i*>(outB + 8 * i), _mm256_extracti128_si256(result, 1));
  }
}

// Row `row` of block a in the low half, of block b in the high half.
inline __m256i loadRowPair(const int16_t* a, const int16_t* b, int row) {
  return _mm256_inserti128_si256(
      _mm256_castsi128_si256(_mm_load_si128(reinterpret_cast<const __m128i*>(a + 8 * row))),
      _mm_load_si128(reinterpret_cast<const __m128i*>(b + 8 * row)), 1);
}

void forwardDct2Avx2(int16_t* a, int16_t* b, const uint16_t* reciprocals) {
  __m256i r[8];
  for (int i = 0; i < 8; ++i) r[i] = loadRowPair(a, b, i);
  dctQuantise2(r, reciprocals, a, b);
}

// Both blocks turned while loading, as the SSE2 version does for one (every shuffle here
// stays within its 128-bit half).
template <int Rotation>
void forwardDctTurned2Avx2(const int16_t* inA, const int16_t* inB, int16_t* outA, int16_t* outB,
                           const uint16_t* reciprocals) {
  __m256i r[8];
  if constexpr (Rotation == 1) {
    __m256i t[8];
    for (int i = 0; i < 8; ++i) t[i] = loadRowPair(inA, inB, i);
    transpose8(t);
    for (int i = 0; i < 8; ++i) r[i] = t[7 - i];
  } else if constexpr (Rotation == 2) {
    for (int i = 0; i < 8; ++i) {
      __m256i v = _mm256_shuffle_epi32(loadRowPair(inA, inB, 7 - i), _MM_SHUFFLE(0, 1, 2, 3));
      v = _mm256_shufflelo_epi16(v, _MM_SHUFFLE(2, 3, 0, 1));
      r[i] = _mm256_shufflehi_epi16(v, _MM_SHUFFLE(2, 3, 0, 1));
    }
  } else {
    for (int i = 0; i < 8; ++i) r[i] = loadRowPair(inA, inB, 7 - i);
    transpose8(r);
  }
  dctQuantise2(r, reciprocals, outA, outB);
}

KernelTable makeAvx2() {
  KernelTable t = sse2Kernels();
  t.name = "avx2";
  t.zigzag = zigzagAvx2;
  t.zigzagMask = zigzagMaskAvx2;
  t.encodeScan = encodeScanAvx2;
  t.forwardDct2 = forwardDct2Avx2;
  t.forwardDctTurned2[1] = forwardDctTurned2Avx2<1>;
  t.forwardDctTurned2[2] = forwardDctTurned2Avx2<2>;
  t.forwardDctTurned2[3] = forwardDctTurned2Avx2<3>;
  t.convert[kLayoutBgr24][kArea420] = convertBgr420;
  t.convert[kLayoutBgr24][kArea422H] = convertBgr422;
  t.convert[kLayoutBgr24][kArea422V] = convertBgr422V;
  t.convert[kLayoutBgr24][kAreaGray] = x86::convertRgbGray<bgr24Row8>;
  return t;
}

}  // namespace

const KernelTable& avx2Kernels() {
  static const KernelTable table = makeAvx2();
  return table;
}

}  // namespace jpegpress
