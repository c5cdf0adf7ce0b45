// NEON kernels for AArch64, where Advanced SIMD is part of every processor: colour
// conversions of every layout and area shape, the forward DCT with quantisation (also of
// turned blocks) and the zigzag order. Each gives exactly the results of its portable twin
// (the same integer formulas, lane by lane).

#include <arm_neon.h>

#include "kernels.h"

namespace jpegpress {
namespace {

// ---- colour conversion -----------------------------------------------------------------

// Eight pixels as 16-bit R, G, B.
struct Rgb8 {
  uint16x8_t r, g, b;
};

// Sixteen pixels of one row: pixels 0-7 and 8-15.
struct Rgb16 {
  Rgb8 lo, hi;
};

inline Rgb8 widen(uint8x8_t r, uint8x8_t g, uint8x8_t b) {
  return {vmovl_u8(r), vmovl_u8(g), vmovl_u8(b)};
}

// The structure loads separate the interleaved components and read exactly the area's
// bytes (48 for sixteen pixels, 24 for eight).
inline void bgr24Row16(const uint8_t* row, Rgb16& out) {
  const uint8x16x3_t v = vld3q_u8(row);
  out.lo = widen(vget_low_u8(v.val[2]), vget_low_u8(v.val[1]), vget_low_u8(v.val[0]));
  out.hi = widen(vget_high_u8(v.val[2]), vget_high_u8(v.val[1]), vget_high_u8(v.val[0]));
}
inline void bgr24Row8(const uint8_t* row, Rgb8& out) {
  const uint8x8x3_t v = vld3_u8(row);
  out = widen(v.val[2], v.val[1], v.val[0]);
}

// 5- and 6-bit components widened by shifting left, as the portable reader does.
inline Rgb8 rgb565(uint16x8_t v) {
  const uint16x8_t mask5 = vdupq_n_u16(0xF8), mask6 = vdupq_n_u16(0xFC);
  return {vandq_u16(vshrq_n_u16(v, 8), mask5), vandq_u16(vshrq_n_u16(v, 3), mask6),
          vandq_u16(vshlq_n_u16(v, 3), mask5)};
}
inline Rgb8 rgb555(uint16x8_t v) {
  const uint16x8_t mask5 = vdupq_n_u16(0xF8);
  return {vandq_u16(vshrq_n_u16(v, 7), mask5), vandq_u16(vshrq_n_u16(v, 2), mask5),
          vandq_u16(vshlq_n_u16(v, 3), mask5)};
}
inline uint16x8_t load16(const uint8_t* p) { return vreinterpretq_u16_u8(vld1q_u8(p)); }

inline void rgb565Row16(const uint8_t* row, Rgb16& out) {
  out.lo = rgb565(load16(row));
  out.hi = rgb565(load16(row + 16));
}
inline void rgb565Row8(const uint8_t* row, Rgb8& out) { out = rgb565(load16(row)); }
inline void rgb555Row16(const uint8_t* row, Rgb16& out) {
  out.lo = rgb555(load16(row));
  out.hi = rgb555(load16(row + 16));
}
inline void rgb555Row8(const uint8_t* row, Rgb8& out) { out = rgb555(load16(row)); }

// (77 R + 150 G + 29 B) >> 8 - 128; the sum stays below 65536 in unsigned lanes.
inline int16x8_t luma8(const Rgb8& c) {
  uint16x8_t s = vmulq_n_u16(c.r, 77);
  s = vmlaq_n_u16(s, c.g, 150);
  s = vmlaq_n_u16(s, c.b, 29);
  return vsubq_s16(vreinterpretq_s16_u16(vshrq_n_u16(s, 8)), vdupq_n_s16(128));
}

inline void store(int16_t* p, int16x8_t v) { vst1q_s16(p, v); }

// Cb and Cr of eight groups from their component sums (each below 2^11).
template <int Shift>
inline void chroma8(uint16x8_t r, uint16x8_t g, uint16x8_t b, int16_t* cb, int16_t* cr) {
  const int16x8_t sr = vreinterpretq_s16_u16(r), sg = vreinterpretq_s16_u16(g),
                  sb = vreinterpretq_s16_u16(b);
  auto mix = [&](int16_t fr, int16_t fg, int16_t fb) {
    int32x4_t lo = vmull_n_s16(vget_low_s16(sr), fr);
    lo = vmlal_n_s16(lo, vget_low_s16(sg), fg);
    lo = vmlal_n_s16(lo, vget_low_s16(sb), fb);
    int32x4_t hi = vmull_high_n_s16(sr, fr);
    hi = vmlal_high_n_s16(hi, sg, fg);
    hi = vmlal_high_n_s16(hi, sb, fb);
    return vcombine_s16(vmovn_s32(vshrq_n_s32(lo, Shift)), vmovn_s32(vshrq_n_s32(hi, Shift)));
  };
  store(cb, mix(-43, -85, 128));
  store(cr, mix(128, -107, -21));
}

template <void (*LoadRow)(const uint8_t*, Rgb16&)>
void convertRgb420(const SourceArea& area, int16_t* blocks) {
  const uint8_t* base = area.plane[0];
  const ptrdiff_t stride = area.stride[0];
  for (int cy = 0; cy < 8; ++cy) {
    const int y0 = 2 * cy;
    Rgb16 a, b;
    LoadRow(base + y0 * stride, a);
    LoadRow(base + (y0 + 1) * stride, b);
    int16_t* top = blocks + (y0 >> 3) * 128 + (y0 & 7) * 8;
    store(top, luma8(a.lo));
    store(top + 64, luma8(a.hi));
    store(top + 8, luma8(b.lo));
    store(top + 72, luma8(b.hi));
    // Sums of the two rows, then of neighbouring pixels.
    const uint16x8_t r = vpaddq_u16(vaddq_u16(a.lo.r, b.lo.r), vaddq_u16(a.hi.r, b.hi.r));
    const uint16x8_t g = vpaddq_u16(vaddq_u16(a.lo.g, b.lo.g), vaddq_u16(a.hi.g, b.hi.g));
    const uint16x8_t bl = vpaddq_u16(vaddq_u16(a.lo.b, b.lo.b), vaddq_u16(a.hi.b, b.hi.b));
    chroma8<10>(r, g, bl, blocks + 256 + cy * 8, blocks + 320 + cy * 8);
  }
}

template <void (*LoadRow)(const uint8_t*, Rgb16&)>
void convertRgb422H(const SourceArea& area, int16_t* blocks) {
  for (int y = 0; y < 8; ++y) {
    Rgb16 a;
    LoadRow(area.plane[0] + y * area.stride[0], a);
    store(blocks + y * 8, luma8(a.lo));
    store(blocks + 64 + y * 8, luma8(a.hi));
    chroma8<9>(vpaddq_u16(a.lo.r, a.hi.r), vpaddq_u16(a.lo.g, a.hi.g), vpaddq_u16(a.lo.b, a.hi.b),
               blocks + 128 + y * 8, blocks + 192 + y * 8);
  }
}

// 8 wide, 16 high: chroma of vertical pairs.
template <void (*LoadRow)(const uint8_t*, Rgb8&)>
void convertRgb422V(const SourceArea& area, int16_t* blocks) {
  const uint8_t* base = area.plane[0];
  const ptrdiff_t stride = area.stride[0];
  for (int cy = 0; cy < 8; ++cy) {
    const int y0 = 2 * cy;
    Rgb8 a, b;
    LoadRow(base + y0 * stride, a);
    LoadRow(base + (y0 + 1) * stride, b);
    int16_t* out = blocks + (y0 >> 3) * 64 + (y0 & 7) * 8;
    store(out, luma8(a));
    store(out + 8, luma8(b));
    chroma8<9>(vaddq_u16(a.r, b.r), vaddq_u16(a.g, b.g), vaddq_u16(a.b, b.b),
               blocks + 128 + cy * 8, blocks + 192 + cy * 8);
  }
}

template <void (*LoadRow)(const uint8_t*, Rgb8&)>
void convertRgbGray(const SourceArea& area, int16_t* blocks) {
  for (int y = 0; y < 8; ++y) {
    Rgb8 a;
    LoadRow(area.plane[0] + y * area.stride[0], a);
    store(blocks + y * 8, luma8(a));
  }
}

inline int16x8_t centred(uint8x8_t v) {
  return vreinterpretq_s16_u16(vsubl_u8(v, vdup_n_u8(128)));
}

// Packed U Y0 V Y1, sixteen pixels (32 bytes): the four-way structure load gives U, Y0, V
// and Y1 of the eight macropixels.
struct Uyvy16 {
  uint8x8_t u, v;
  uint8x8_t lumaLo, lumaHi;  // pixels 0-7, 8-15
};
inline Uyvy16 uyvyRow16(const uint8_t* row) {
  const uint8x8x4_t p = vld4_u8(row);
  return {p.val[0], p.val[2], vzip1_u8(p.val[1], p.val[3]), vzip2_u8(p.val[1], p.val[3])};
}

void convertUyvy420(const SourceArea& area, int16_t* blocks) {
  const uint8_t* base = area.plane[0];
  const ptrdiff_t stride = area.stride[0];
  for (int cy = 0; cy < 8; ++cy) {
    const int y0 = 2 * cy;
    const Uyvy16 a = uyvyRow16(base + y0 * stride);
    const Uyvy16 b = uyvyRow16(base + (y0 + 1) * stride);
    int16_t* top = blocks + (y0 >> 3) * 128 + (y0 & 7) * 8;
    store(top, centred(a.lumaLo));
    store(top + 64, centred(a.lumaHi));
    store(top + 8, centred(b.lumaLo));
    store(top + 72, centred(b.lumaHi));
    // vrhadd is (a + b + 1) >> 1, the rounded average of the two rows.
    store(blocks + 256 + cy * 8, centred(vrhadd_u8(a.u, b.u)));
    store(blocks + 320 + cy * 8, centred(vrhadd_u8(a.v, b.v)));
  }
}

void convertUyvy422H(const SourceArea& area, int16_t* blocks) {
  for (int y = 0; y < 8; ++y) {
    const Uyvy16 a = uyvyRow16(area.plane[0] + y * area.stride[0]);
    store(blocks + y * 8, centred(a.lumaLo));
    store(blocks + 64 + y * 8, centred(a.lumaHi));
    store(blocks + 128 + y * 8, centred(a.u));
    store(blocks + 192 + y * 8, centred(a.v));
  }
}

// Eight packed pixels (16 bytes): luminance, and U and V of the four macropixels each
// repeated for its two pixels.
struct Uyvy8 {
  uint8x8_t luma, u, v;
};
inline Uyvy8 uyvyRow8(const uint8_t* row) {
  const uint8x8x2_t p = vld2_u8(row);  // even bytes U V U V ..., odd bytes the luminance
  return {p.val[1], vtrn1_u8(p.val[0], p.val[0]), vtrn2_u8(p.val[0], p.val[0])};
}

void convertUyvy422V(const SourceArea& area, int16_t* blocks) {
  const uint8_t* base = area.plane[0];
  const ptrdiff_t stride = area.stride[0];
  for (int cy = 0; cy < 8; ++cy) {
    const int y0 = 2 * cy;
    const Uyvy8 a = uyvyRow8(base + y0 * stride);
    const Uyvy8 b = uyvyRow8(base + (y0 + 1) * stride);
    int16_t* out = blocks + (y0 >> 3) * 64 + (y0 & 7) * 8;
    store(out, centred(a.luma));
    store(out + 8, centred(b.luma));
    store(blocks + 128 + cy * 8, centred(vrhadd_u8(a.u, b.u)));
    store(blocks + 192 + cy * 8, centred(vrhadd_u8(a.v, b.v)));
  }
}

void convertUyvyGray(const SourceArea& area, int16_t* blocks) {
  for (int y = 0; y < 8; ++y)
    store(blocks + y * 8, centred(uyvyRow8(area.plane[0] + y * area.stride[0]).luma));
}

void convertPlanar420(const SourceArea& area, int16_t* blocks) {
  for (int y = 0; y < 16; ++y) {
    const uint8x16_t v = vld1q_u8(area.plane[0] + y * area.stride[0]);
    int16_t* out = blocks + (y >> 3) * 128 + (y & 7) * 8;
    store(out, centred(vget_low_u8(v)));
    store(out + 64, centred(vget_high_u8(v)));
  }
  for (int y = 0; y < 8; ++y) {
    store(blocks + 256 + y * 8, centred(vld1_u8(area.plane[1] + y * area.stride[1])));
    store(blocks + 320 + y * 8, centred(vld1_u8(area.plane[2] + y * area.stride[1])));
  }
}

void convertPlanarGray(const SourceArea& area, int16_t* blocks) {
  for (int y = 0; y < 8; ++y)
    store(blocks + y * 8, centred(vld1_u8(area.plane[0] + y * area.stride[0])));
}

// ---- forward DCT and quantisation --------------------------------------------------------

// vqrdmulh with the Q15 fraction f is (2 x f + 2^15) >> 16 = (x f + 0x4000) >> 15, the
// portable mulQ15 (it saturates only for -1 * -1, which no fraction here is).
constexpr int16_t kC0_292893219 = 9598;
constexpr int16_t kC0_382683433 = 12540;
constexpr int16_t kC0_458803900 = 15034;
constexpr int16_t kC0_306562965 = 10045;

inline int16x8_t mulQ15(int16x8_t x, int16_t f) { return vqrdmulhq_n_s16(x, f); }

inline void dct8(int16x8_t* d) {
  const int16x8_t t0 = vaddq_s16(d[0], d[7]), t7 = vsubq_s16(d[0], d[7]);
  const int16x8_t t1 = vaddq_s16(d[1], d[6]), t6 = vsubq_s16(d[1], d[6]);
  const int16x8_t t2 = vaddq_s16(d[2], d[5]), t5 = vsubq_s16(d[2], d[5]);
  const int16x8_t t3 = vaddq_s16(d[3], d[4]), t4 = vsubq_s16(d[3], d[4]);
  const int16x8_t t10 = vaddq_s16(t0, t3), t13 = vsubq_s16(t0, t3);
  const int16x8_t t11 = vaddq_s16(t1, t2), t12 = vsubq_s16(t1, t2);
  d[0] = vaddq_s16(t10, t11);
  d[4] = vsubq_s16(t10, t11);
  const int16x8_t m = vaddq_s16(t12, t13);
  const int16x8_t z1 = vsubq_s16(m, mulQ15(m, kC0_292893219));
  d[2] = vaddq_s16(t13, z1);
  d[6] = vsubq_s16(t13, z1);
  const int16x8_t a = vaddq_s16(t4, t5), b = vaddq_s16(t5, t6), c = vaddq_s16(t6, t7);
  const int16x8_t z5 = mulQ15(vsubq_s16(a, c), kC0_382683433);
  const int16x8_t z2 = vaddq_s16(vsubq_s16(a, mulQ15(a, kC0_458803900)), z5);
  const int16x8_t z4 = vaddq_s16(vaddq_s16(c, mulQ15(c, kC0_306562965)), z5);
  const int16x8_t z3 = vsubq_s16(b, mulQ15(b, kC0_292893219));
  const int16x8_t z11 = vaddq_s16(t7, z3), z13 = vsubq_s16(t7, z3);
  d[5] = vaddq_s16(z13, z2);
  d[3] = vsubq_s16(z13, z2);
  d[1] = vaddq_s16(z11, z4);
  d[7] = vsubq_s16(z11, z4);
}

inline void transpose8(int16x8_t* r) {
  int16x8_t a[8];
  for (int i = 0; i < 8; i += 2) {
    a[i] = vtrn1q_s16(r[i], r[i + 1]);
    a[i + 1] = vtrn2q_s16(r[i], r[i + 1]);
  }
  int32x4_t b[8];
  for (int i = 0; i < 8; i += 4)
    for (int j = 0; j < 2; ++j) {
      b[i + j] = vtrn1q_s32(vreinterpretq_s32_s16(a[i + j]), vreinterpretq_s32_s16(a[i + j + 2]));
      b[i + j + 2] = vtrn2q_s32(vreinterpretq_s32_s16(a[i + j]), vreinterpretq_s32_s16(a[i + j + 2]));
    }
  for (int j = 0; j < 4; ++j) {
    r[j] = vreinterpretq_s16_s64(
        vtrn1q_s64(vreinterpretq_s64_s32(b[j]), vreinterpretq_s64_s32(b[j + 4])));
    r[j + 4] = vreinterpretq_s16_s64(
        vtrn2q_s64(vreinterpretq_s64_s32(b[j]), vreinterpretq_s64_s32(b[j + 4])));
  }
}

inline void load8(const int16_t* in, int16x8_t* r) {
  for (int i = 0; i < 8; ++i) r[i] = vld1q_s16(in + 8 * i);
}

// The DCT of the eight rows in `r` (samples, not yet doubled) with quantisation, into
// `out`.
inline void dctQuantise(int16x8_t* r, const uint16_t* reciprocals, int16_t* out) {
  for (int i = 0; i < 8; ++i) r[i] = vaddq_s16(r[i], r[i]);
  dct8(r);  // vertical frequencies: r[v] holds (v, column)
  transpose8(r);
  dct8(r);  // r[u] holds (v, u) for v = 0..7: column-major
  for (int i = 0; i < 8; ++i) {
    // sign(x) * ((|x| * reciprocal + 2^15) >> 16)
    const uint16x8_t magnitude = vreinterpretq_u16_s16(vabsq_s16(r[i]));
    const uint16x8_t recip = vld1q_u16(reciprocals + 8 * i);
    const uint16x4_t lo = vrshrn_n_u32(vmull_u16(vget_low_u16(magnitude), vget_low_u16(recip)), 16);
    const uint16x4_t hi = vrshrn_n_u32(vmull_high_u16(magnitude, recip), 16);
    const int16x8_t q = vreinterpretq_s16_u16(vcombine_u16(lo, hi));
    const uint16x8_t negative = vcltzq_s16(r[i]);
    vst1q_s16(out + 8 * i, vbslq_s16(negative, vnegq_s16(q), q));
  }
}

void forwardDctNeon(int16_t* block, const uint16_t* reciprocals) {
  int16x8_t r[8];
  load8(block, r);
  dctQuantise(r, reciprocals, block);
}

void forwardDct2Neon(int16_t* a, int16_t* b, const uint16_t* reciprocals) {
  forwardDctNeon(a, reciprocals);
  forwardDctNeon(b, reciprocals);
}

inline int16x8_t reverse8(int16x8_t v) {
  const int16x8_t halves = vrev64q_s16(v);
  return vextq_s16(halves, halves, 4);
}

// The rows of the block turned by `Rotation`, straight into registers:
//   1  out[r][c] = in[c][7-r]: row r is row 7-r of the transpose;
//   2  out[i] = in[63-i]:      row r is row 7-r reversed;
//   3  out[r][c] = in[7-c][r]: the transpose of the rows taken bottom up.
template <int Rotation>
void forwardDctTurnedNeon(const int16_t* in, int16_t* out, const uint16_t* reciprocals) {
  int16x8_t r[8];
  if constexpr (Rotation == 1) {
    int16x8_t t[8];
    load8(in, t);
    transpose8(t);
    for (int i = 0; i < 8; ++i) r[i] = t[7 - i];
  } else if constexpr (Rotation == 2) {
    for (int i = 0; i < 8; ++i) r[i] = reverse8(vld1q_s16(in + 8 * (7 - i)));
  } else {
    for (int i = 0; i < 8; ++i) r[i] = vld1q_s16(in + 8 * (7 - i));
    transpose8(r);
  }
  dctQuantise(r, reciprocals, out);
}

template <int Rotation>
void forwardDctTurned2Neon(const int16_t* inA, const int16_t* inB, int16_t* outA, int16_t* outB,
                           const uint16_t* reciprocals) {
  forwardDctTurnedNeon<Rotation>(inA, outA, reciprocals);
  forwardDctTurnedNeon<Rotation>(inB, outB, reciprocals);
}

// ---- zigzag order -------------------------------------------------------------------------

// Byte indices into the 128 bytes of the column-major block for each output byte: the
// first lookup covers source bytes 0-63, the second (indices minus 64) bytes 64-127; an
// index out of a lookup's range leaves the byte to the other.
struct ZigzagIndices {
  alignas(16) uint8_t low[128];
  alignas(16) uint8_t high[128];
};

constexpr ZigzagIndices makeZigzagIndices() {
  ZigzagIndices z{};
  for (int k = 0; k < 64; ++k)
    for (int byte = 0; byte < 2; ++byte) {
      const int source = 2 * kZigzag.columnMajor[k] + byte;
      z.low[2 * k + byte] = static_cast<uint8_t>(source < 64 ? source : 0xFF);
      z.high[2 * k + byte] = static_cast<uint8_t>(source >= 64 ? source - 64 : 0xFF);
    }
  return z;
}

constexpr ZigzagIndices kZigzagIndices = makeZigzagIndices();

uint64_t zigzagNeon(const int16_t* coefficients, int16_t* zigzag) {
  const uint8_t* bytes = reinterpret_cast<const uint8_t*>(coefficients);
  const uint8x16x4_t low = vld1q_u8_x4(bytes);
  const uint8x16x4_t high = vld1q_u8_x4(bytes + 64);
  uint8x16_t zeros[4];  // 0xFF for each zero coefficient, in zigzag order
  for (int i = 0; i < 8; ++i) {
    uint8x16_t v = vqtbl4q_u8(low, vld1q_u8(kZigzagIndices.low + 16 * i));
    v = vqtbx4q_u8(v, high, vld1q_u8(kZigzagIndices.high + 16 * i));
    const int16x8_t coefficients8 = vreinterpretq_s16_u8(v);
    vst1q_s16(zigzag + 8 * i, coefficients8);
    const uint8x8_t zero8 = vmovn_u16(vceqzq_s16(coefficients8));
    if (i % 2 == 0) zeros[i / 2] = vcombine_u8(zero8, zero8);
    else zeros[i / 2] = vcombine_u8(vget_low_u8(zeros[i / 2]), zero8);
  }
  // One bit per coefficient: weight each byte by its bit, then add neighbours until each
  // byte holds eight coefficients.
  static constexpr uint8_t kWeights[16] = {1, 2, 4, 8, 16, 32, 64, 128,
                                           1, 2, 4, 8, 16, 32, 64, 128};
  const uint8x16_t weights = vld1q_u8(kWeights);
  uint8x16_t m[4];
  for (int i = 0; i < 4; ++i) m[i] = vandq_u8(vmvnq_u8(zeros[i]), weights);
  const uint8x16_t sum = vpaddq_u8(vpaddq_u8(m[0], m[1]), vpaddq_u8(m[2], m[3]));
  const uint64_t mask = vgetq_lane_u64(vreinterpretq_u64_u8(vpaddq_u8(sum, sum)), 0);
  return mask & ~uint64_t{1};
}

KernelTable makeNeon() {
  KernelTable t{};
  t.name = "neon";
  t.convert[kLayoutUyvy][kArea420] = convertUyvy420;
  t.convert[kLayoutUyvy][kArea422H] = convertUyvy422H;
  t.convert[kLayoutUyvy][kArea422V] = convertUyvy422V;
  t.convert[kLayoutUyvy][kAreaGray] = convertUyvyGray;
#define JP_RGB(L, row16, row8)                                  \
  t.convert[L][kArea420] = convertRgb420<row16>;               \
  t.convert[L][kArea422H] = convertRgb422H<row16>;             \
  t.convert[L][kArea422V] = convertRgb422V<row8>;              \
  t.convert[L][kAreaGray] = convertRgbGray<row8>;
  JP_RGB(kLayoutRgb555, rgb555Row16, rgb555Row8)
  JP_RGB(kLayoutRgb565, rgb565Row16, rgb565Row8)
  JP_RGB(kLayoutBgr24, bgr24Row16, bgr24Row8)
#undef JP_RGB
  t.convert[kLayoutPlanar][kArea420] = convertPlanar420;
  t.convert[kLayoutPlanar][kAreaGray] = convertPlanarGray;
  t.forwardDct = forwardDctNeon;
  t.forwardDct2 = forwardDct2Neon;
  t.forwardDctTurned[1] = forwardDctTurnedNeon<1>;
  t.forwardDctTurned[2] = forwardDctTurnedNeon<2>;
  t.forwardDctTurned[3] = forwardDctTurnedNeon<3>;
  t.forwardDctTurned2[1] = forwardDctTurned2Neon<1>;
  t.forwardDctTurned2[2] = forwardDctTurned2Neon<2>;
  t.forwardDctTurned2[3] = forwardDctTurned2Neon<3>;
  t.zigzag = zigzagNeon;
  return t;
}

}  // namespace

const KernelTable* simdKernels() {
  static const KernelTable table = makeNeon();
  return &table;
}

std::vector<const KernelTable*> supportedSimdKernels() { return {simdKernels()}; }

}  // namespace jpegpress
