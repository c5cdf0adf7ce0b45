// SSE2 kernels: the forward DCT with quantisation, also of turned blocks. Each gives exactly
// the results of its portable twin (same operations in the same order, 16-bit lanes).

#include <emmintrin.h>

#include "kernels_x86.h"
#include "kernels_x86_convert.h"

namespace jpegpress {
namespace {

// x * f in Q15, rounded as the portable mulQ15: the high half of x * 2f, plus one when
// the low half reaches 0x8000.
inline __m128i mulFraction(__m128i x, short twiceFraction) {
  const __m128i f = _mm_set1_epi16(twiceFraction);
  return _mm_add_epi16(_mm_mulhi_epi16(x, f), _mm_srli_epi16(_mm_mullo_epi16(x, f), 15));
}

constexpr short k2C0_292893219 = 2 * 9598;
constexpr short k2C0_382683433 = 2 * 12540;
constexpr short k2C0_458803900 = 2 * 15034;
constexpr short k2C0_306562965 = 2 * 10045;

inline void dct8(__m128i* d) {
  const __m128i t0 = _mm_add_epi16(d[0], d[7]), t7 = _mm_sub_epi16(d[0], d[7]);
  const __m128i t1 = _mm_add_epi16(d[1], d[6]), t6 = _mm_sub_epi16(d[1], d[6]);
  const __m128i t2 = _mm_add_epi16(d[2], d[5]), t5 = _mm_sub_epi16(d[2], d[5]);
  const __m128i t3 = _mm_add_epi16(d[3], d[4]), t4 = _mm_sub_epi16(d[3], d[4]);
  const __m128i t10 = _mm_add_epi16(t0, t3), t13 = _mm_sub_epi16(t0, t3);
  const __m128i t11 = _mm_add_epi16(t1, t2), t12 = _mm_sub_epi16(t1, t2);
  d[0] = _mm_add_epi16(t10, t11);
  d[4] = _mm_sub_epi16(t10, t11);
  const __m128i m = _mm_add_epi16(t12, t13);
  const __m128i z1 = _mm_sub_epi16(m, mulFraction(m, k2C0_292893219));
  d[2] = _mm_add_epi16(t13, z1);
  d[6] = _mm_sub_epi16(t13, z1);
  const __m128i a = _mm_add_epi16(t4, t5), b = _mm_add_epi16(t5, t6), c = _mm_add_epi16(t6, t7);
  const __m128i z5 = mulFraction(_mm_sub_epi16(a, c), k2C0_382683433);
  const __m128i z2 = _mm_add_epi16(_mm_sub_epi16(a, mulFraction(a, k2C0_458803900)), z5);
  const __m128i z4 = _mm_add_epi16(_mm_add_epi16(c, mulFraction(c, k2C0_306562965)), z5);
  const __m128i z3 = _mm_sub_epi16(b, mulFraction(b, k2C0_292893219));
  const __m128i z11 = _mm_add_epi16(t7, z3), z13 = _mm_sub_epi16(t7, z3);
  d[5] = _mm_add_epi16(z13, z2);
  d[3] = _mm_sub_epi16(z13, z2);
  d[1] = _mm_add_epi16(z11, z4);
  d[7] = _mm_sub_epi16(z11, z4);
}

inline void transpose8(__m128i* r) {
  const __m128i a0 = _mm_unpacklo_epi16(r[0], r[1]), a1 = _mm_unpackhi_epi16(r[0], r[1]);
  const __m128i a2 = _mm_unpacklo_epi16(r[2], r[3]), a3 = _mm_unpackhi_epi16(r[2], r[3]);
  const __m128i a4 = _mm_unpacklo_epi16(r[4], r[5]), a5 = _mm_unpackhi_epi16(r[4], r[5]);
  const __m128i a6 = _mm_unpacklo_epi16(r[6], r[7]), a7 = _mm_unpackhi_epi16(r[6], r[7]);
  const __m128i b0 = _mm_unpacklo_epi32(a0, a2), b1 = _mm_unpackhi_epi32(a0, a2);
  const __m128i b2 = _mm_unpacklo_epi32(a1, a3), b3 = _mm_unpackhi_epi32(a1, a3);
  const __m128i b4 = _mm_unpacklo_epi32(a4, a6), b5 = _mm_unpackhi_epi32(a4, a6);
  const __m128i b6 = _mm_unpacklo_epi32(a5, a7), b7 = _mm_unpackhi_epi32(a5, a7);
  r[0] = _mm_unpacklo_epi64(b0, b4);
  r[1] = _mm_unpackhi_epi64(b0, b4);
  r[2] = _mm_unpacklo_epi64(b1, b5);
  r[3] = _mm_unpackhi_epi64(b1, b5);
  r[4] = _mm_unpacklo_epi64(b2, b6);
  r[5] = _mm_unpackhi_epi64(b2, b6);
  r[6] = _mm_unpacklo_epi64(b3, b7);
  r[7] = _mm_unpackhi_epi64(b3, b7);
}

// The DCT of the eight rows in `r` (samples, not yet doubled) with quantisation, into
// `out`.
inline void dctQuantise(__m128i* r, const uint16_t* reciprocals, int16_t* out) {
  for (int i = 0; i < 8; ++i) r[i] = _mm_add_epi16(r[i], r[i]);
  dct8(r);  // vertical frequencies: r[v] holds (v, column)
  transpose8(r);
  dct8(r);  // r[u] holds (v, u) for v = 0..7: column-major
  for (int i = 0; i < 8; ++i) {
    const __m128i x = r[i];
    const __m128i sign = _mm_srai_epi16(x, 15);
    const __m128i magnitude = _mm_sub_epi16(_mm_xor_si128(x, sign), sign);
    const __m128i recip = _mm_load_si128(reinterpret_cast<const __m128i*>(reciprocals + 8 * i));
    const __m128i high = _mm_mulhi_epu16(magnitude, recip);
    const __m128i low = _mm_mullo_epi16(magnitude, recip);
    const __m128i q = _mm_add_epi16(high, _mm_srli_epi16(low, 15));
    _mm_store_si128(reinterpret_cast<__m128i*>(out + 8 * i),
                    _mm_sub_epi16(_mm_xor_si128(q, sign), sign));
  }
}

inline __m128i reverse8(__m128i v) {
  v = _mm_shuffle_epi32(v, _MM_SHUFFLE(0, 1, 2, 3));
  v = _mm_shufflelo_epi16(v, _MM_SHUFFLE(2, 3, 0, 1));
  return _mm_shufflehi_epi16(v, _MM_SHUFFLE(2, 3, 0, 1));
}

inline __m128i loadRow(const int16_t* in, int row) {
  return _mm_load_si128(reinterpret_cast<const __m128i*>(in + 8 * row));
}

void forwardDctSse2(int16_t* block, const uint16_t* reciprocals) {
  __m128i r[8];
  for (int i = 0; i < 8; ++i) r[i] = loadRow(block, i);
  dctQuantise(r, reciprocals, block);
}

// The rows of the block turned by `Rotation`, straight into registers:
//   1  out[r][c] = in[c][7-r]: row r is row 7-r of the transpose;
//   2  out[i] = in[63-i]:      row r is row 7-r reversed;
//   3  out[r][c] = in[7-c][r]: the transpose of the rows taken bottom up.
template <int Rotation>
inline void loadTurned(const int16_t* in, __m128i* r) {
  if constexpr (Rotation == 1) {
    __m128i t[8];
    for (int i = 0; i < 8; ++i) t[i] = loadRow(in, i);
    transpose8(t);
    for (int i = 0; i < 8; ++i) r[i] = t[7 - i];
  } else if constexpr (Rotation == 2) {
    for (int i = 0; i < 8; ++i) r[i] = reverse8(loadRow(in, 7 - i));
  } else {
    for (int i = 0; i < 8; ++i) r[i] = loadRow(in, 7 - i);
    transpose8(r);
  }
}

template <int Rotation>
void forwardDctTurnedSse2(const int16_t* in, int16_t* out, const uint16_t* reciprocals) {
  __m128i r[8];
  loadTurned<Rotation>(in, r);
  dctQuantise(r, reciprocals, out);
}

template <int Rotation>
void forwardDctTurned2Sse2(const int16_t* inA, const int16_t* inB, int16_t* outA, int16_t* outB,
                           const uint16_t* reciprocals) {
  forwardDctTurnedSse2<Rotation>(inA, outA, reciprocals);
  forwardDctTurnedSse2<Rotation>(inB, outB, reciprocals);
}

// The gather stays scalar; the mask comes from eight compares.
uint64_t zigzagSse2(const int16_t* coefficients, int16_t* zigzag) {
  zigzagGather(coefficients, zigzag);
  const __m128i zero = _mm_setzero_si128();
  uint64_t mask = 0;
  for (int i = 0; i < 4; ++i) {
    const __m128i a = _mm_load_si128(reinterpret_cast<const __m128i*>(zigzag + 16 * i));
    const __m128i b = _mm_load_si128(reinterpret_cast<const __m128i*>(zigzag + 16 * i + 8));
    const __m128i zeros = _mm_packs_epi16(_mm_cmpeq_epi16(a, zero), _mm_cmpeq_epi16(b, zero));
    mask |= static_cast<uint64_t>(static_cast<uint16_t>(~_mm_movemask_epi8(zeros))) << (16 * i);
  }
  return mask & ~uint64_t{1};
}

void forwardDct2Sse2(int16_t* a, int16_t* b, const uint16_t* reciprocals) {
  forwardDctSse2(a, reciprocals);
  forwardDctSse2(b, reciprocals);
}

KernelTable makeSse2() {
  KernelTable t = portableKernels();
  t.name = "sse2";
  x86::addSse2Conversions(t);
  t.forwardDct = forwardDctSse2;
  t.forwardDct2 = forwardDct2Sse2;
  t.forwardDctTurned[1] = forwardDctTurnedSse2<1>;
  t.forwardDctTurned[2] = forwardDctTurnedSse2<2>;
  t.forwardDctTurned[3] = forwardDctTurnedSse2<3>;
  t.forwardDctTurned2[1] = forwardDctTurned2Sse2<1>;
  t.forwardDctTurned2[2] = forwardDctTurned2Sse2<2>;
  t.forwardDctTurned2[3] = forwardDctTurned2Sse2<3>;
  t.zigzag = zigzagSse2;
  return t;
}

}  // namespace

const KernelTable& sse2Kernels() {
  static const KernelTable table = makeSse2();
  return table;
}

}  // namespace jpegpress
