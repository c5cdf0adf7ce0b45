#include <cstdlib>
#include <cstring>

#include "kernels.h"
#include "tables.h"

namespace jpegpress {
namespace {

// ---- colour conversion -------------------------------------------------------------

// Area geometry: width and height in pixels, chroma group width and height (0 for none).
template <Area A>
struct Geometry;
template <>
struct Geometry<kArea420> {
  static constexpr int w = 16, h = 16, gw = 2, gh = 2, shift = 10;
};
template <>
struct Geometry<kArea422H> {
  static constexpr int w = 16, h = 8, gw = 2, gh = 1, shift = 9;
};
template <>
struct Geometry<kArea422V> {
  static constexpr int w = 8, h = 16, gw = 1, gh = 2, shift = 9;
};
template <>
struct Geometry<kAreaGray> {
  static constexpr int w = 8, h = 8, gw = 0;
};

// Index of the sample of area pixel (x, y) in the area's luminance blocks.
template <int W>
constexpr int lumaIndex(int x, int y) {
  return ((y >> 3) * (W >> 3) + (x >> 3)) * 64 + (y & 7) * 8 + (x & 7);
}

struct Rgb {
  int r, g, b;
};

template <Layout L>
inline Rgb readRgb(const uint8_t* row, int x) {
  if constexpr (L == kLayoutBgr24) {
    const uint8_t* p = row + 3 * x;
    return {p[2], p[1], p[0]};
  } else {
    const int v = row[2 * x] | (row[2 * x + 1] << 8);
    if constexpr (L == kLayoutRgb555) {
      return {((v >> 10) & 31) << 3, ((v >> 5) & 31) << 3, (v & 31) << 3};
    } else {
      return {((v >> 11) & 31) << 3, ((v >> 5) & 63) << 2, (v & 31) << 3};
    }
  }
}

inline int16_t lumaOf(const Rgb& c) {
  return static_cast<int16_t>(((77 * c.r + 150 * c.g + 29 * c.b) >> 8) - 128);
}

// RGB layouts: luminance per pixel, chroma from the sums over each group.
template <Layout L, Area A>
void convertRgb(const SourceArea& area, int16_t* blocks) {
  using G = Geometry<A>;
  constexpr int kLumaBlocks = (G::w / 8) * (G::h / 8);
  const uint8_t* base = area.plane[0];
  const ptrdiff_t stride = area.stride[0];
  for (int y = 0; y < G::h; ++y) {
    const uint8_t* row = base + y * stride;
    for (int x = 0; x < G::w; ++x) blocks[lumaIndex<G::w>(x, y)] = lumaOf(readRgb<L>(row, x));
  }
  if constexpr (G::gw != 0) {
    int16_t* cb = blocks + kLumaBlocks * 64;
    int16_t* cr = cb + 64;
    for (int cy = 0; cy < 8; ++cy) {
      for (int cx = 0; cx < 8; ++cx) {
        int sr = 0, sg = 0, sb = 0;
        for (int j = 0; j < G::gh; ++j) {
          const uint8_t* row = base + (cy * G::gh + j) * stride;
          for (int i = 0; i < G::gw; ++i) {
            const Rgb c = readRgb<L>(row, cx * G::gw + i);
            sr += c.r;
            sg += c.g;
            sb += c.b;
          }
        }
        cb[cy * 8 + cx] = static_cast<int16_t>((-43 * sr - 85 * sg + 128 * sb) >> G::shift);
        cr[cy * 8 + cx] = static_cast<int16_t>((128 * sr - 107 * sg - 21 * sb) >> G::shift);
      }
    }
  }
}

// Packed U Y0 V Y1: luminance as stored, chroma of a horizontal pair as stored; chroma
// of two rows is their rounded average.
template <Area A>
void convertUyvy(const SourceArea& area, int16_t* blocks) {
  using G = Geometry<A>;
  constexpr int kLumaBlocks = (G::w / 8) * (G::h / 8);
  const uint8_t* base = area.plane[0];
  const ptrdiff_t stride = area.stride[0];
  for (int y = 0; y < G::h; ++y) {
    const uint8_t* row = base + y * stride;
    for (int x = 0; x < G::w; ++x) blocks[lumaIndex<G::w>(x, y)] = int16_t(row[2 * x + 1] - 128);
  }
  if constexpr (G::gw != 0) {
    int16_t* cb = blocks + kLumaBlocks * 64;
    int16_t* cr = cb + 64;
    for (int cy = 0; cy < 8; ++cy) {
      const uint8_t* row = base + cy * G::gh * stride;
      for (int cx = 0; cx < 8; ++cx) {
        // The macropixel holding the group's first pixel.
        const int m = (cx * G::gw) >> 1;
        int u = row[4 * m], v = row[4 * m + 2];
        if constexpr (G::gh == 2) {
          u = (u + row[stride + 4 * m] + 1) >> 1;
          v = (v + row[stride + 4 * m + 2] + 1) >> 1;
        }
        cb[cy * 8 + cx] = static_cast<int16_t>(u - 128);
        cr[cy * 8 + cx] = static_cast<int16_t>(v - 128);
      }
    }
  }
}

template <Area A>
void convertPlanar(const SourceArea& area, int16_t* blocks) {
  using G = Geometry<A>;
  for (int y = 0; y < G::h; ++y) {
    const uint8_t* row = area.plane[0] + y * area.stride[0];
    for (int x = 0; x < G::w; ++x) blocks[lumaIndex<G::w>(x, y)] = int16_t(row[x] - 128);
  }
  if constexpr (A == kArea420) {
    for (int c = 0; c < 2; ++c) {
      int16_t* out = blocks + (4 + c) * 64;
      for (int y = 0; y < 8; ++y) {
        const uint8_t* row = area.plane[1 + c] + y * area.stride[1];
        for (int x = 0; x < 8; ++x) out[y * 8 + x] = int16_t(row[x] - 128);
      }
    }
  }
}

// ---- forward DCT and quantisation ----------------------------------------------------

// x * f for a fraction f below one half held in Q15, rounded to nearest (halves up): the
// value of the rounding multiply-high instructions (SSSE3 pmulhrsw, NEON vqrdmulh) and of
// the high half of the 16-bit product with 2f plus the top bit of its low half (SSE2).
constexpr int kC0_292893219 = 9598;   // 1 - 0.707106781
constexpr int kC0_382683433 = 12540;
constexpr int kC0_458803900 = 15034;  // 1 - 0.541196100
constexpr int kC0_306562965 = 10045;  // 1.306562965 - 1

inline int16_t mulQ15(int x, int c) { return static_cast<int16_t>((x * c + 0x4000) >> 15); }

// One scaled 8-point DCT (Arai, Agui, Nakajima) over in[0], in[step], ... in[7 step].
// All intermediate values stay within 16 bits for level-shifted 8-bit samples doubled.
inline void dct8(const int16_t* in, int inStep, int16_t* out, int outStep) {
  auto s16 = [](int v) { return static_cast<int16_t>(v); };
  const int16_t d0 = in[0], d1 = in[inStep], d2 = in[2 * inStep], d3 = in[3 * inStep];
  const int16_t d4 = in[4 * inStep], d5 = in[5 * inStep], d6 = in[6 * inStep],
                d7 = in[7 * inStep];
  const int16_t t0 = s16(d0 + d7), t7 = s16(d0 - d7), t1 = s16(d1 + d6), t6 = s16(d1 - d6);
  const int16_t t2 = s16(d2 + d5), t5 = s16(d2 - d5), t3 = s16(d3 + d4), t4 = s16(d3 - d4);
  // Even part.
  const int16_t t10 = s16(t0 + t3), t13 = s16(t0 - t3), t11 = s16(t1 + t2), t12 = s16(t1 - t2);
  out[0] = s16(t10 + t11);
  out[4 * outStep] = s16(t10 - t11);
  const int16_t m = s16(t12 + t13);
  const int16_t z1 = s16(m - mulQ15(m, kC0_292893219));
  out[2 * outStep] = s16(t13 + z1);
  out[6 * outStep] = s16(t13 - z1);
  // Odd part.
  const int16_t a = s16(t4 + t5), b = s16(t5 + t6), c = s16(t6 + t7);
  const int16_t z5 = mulQ15(s16(a - c), kC0_382683433);
  const int16_t z2 = s16(a - mulQ15(a, kC0_458803900) + z5);
  const int16_t z4 = s16(c + mulQ15(c, kC0_306562965) + z5);
  const int16_t z3 = s16(b - mulQ15(b, kC0_292893219));
  const int16_t z11 = s16(t7 + z3), z13 = s16(t7 - z3);
  out[5 * outStep] = s16(z13 + z2);
  out[3 * outStep] = s16(z13 - z2);
  out[1 * outStep] = s16(z11 + z4);
  out[7 * outStep] = s16(z11 - z4);
}

template <int Rotation>
void forwardDctTurnedPortable(const int16_t* in, int16_t* out, const uint16_t* reciprocals) {
  turnBlockPortable(Rotation, in, out);
  forwardDctPortable(out, reciprocals);
}

template <int Rotation>
void forwardDctTurned2Portable(const int16_t* inA, const int16_t* inB, int16_t* outA,
                               int16_t* outB, const uint16_t* reciprocals) {
  forwardDctTurnedPortable<Rotation>(inA, outA, reciprocals);
  forwardDctTurnedPortable<Rotation>(inB, outB, reciprocals);
}

uint64_t zigzagPortable(const int16_t* coefficients, int16_t* zigzag) {
  zigzagGather(coefficients, zigzag);
  uint64_t mask = 0;
  for (int k = 1; k < 64; ++k) mask |= static_cast<uint64_t>(zigzag[k] != 0) << k;
  return mask;
}

void forwardDct2Portable(int16_t* a, int16_t* b, const uint16_t* reciprocals) {
  forwardDctPortable(a, reciprocals);
  forwardDctPortable(b, reciprocals);
}

KernelTable makePortable() {
  KernelTable t{};
  t.name = "portable";
  t.convert[kLayoutUyvy][kArea420] = convertUyvy<kArea420>;
  t.convert[kLayoutUyvy][kArea422H] = convertUyvy<kArea422H>;
  t.convert[kLayoutUyvy][kArea422V] = convertUyvy<kArea422V>;
  t.convert[kLayoutUyvy][kAreaGray] = convertUyvy<kAreaGray>;
#define JP_RGB(L)                                              \
  t.convert[L][kArea420] = convertRgb<L, kArea420>;            \
  t.convert[L][kArea422H] = convertRgb<L, kArea422H>;          \
  t.convert[L][kArea422V] = convertRgb<L, kArea422V>;          \
  t.convert[L][kAreaGray] = convertRgb<L, kAreaGray>;
  JP_RGB(kLayoutRgb555)
  JP_RGB(kLayoutRgb565)
  JP_RGB(kLayoutBgr24)
#undef JP_RGB
  t.convert[kLayoutPlanar][kArea420] = convertPlanar<kArea420>;
  t.convert[kLayoutPlanar][kAreaGray] = convertPlanar<kAreaGray>;
  t.forwardDct = forwardDctPortable;
  t.forwardDct2 = forwardDct2Portable;
  t.forwardDctTurned[1] = forwardDctTurnedPortable<1>;
  t.forwardDctTurned[2] = forwardDctTurnedPortable<2>;
  t.forwardDctTurned[3] = forwardDctTurnedPortable<3>;
  t.forwardDctTurned2[1] = forwardDctTurned2Portable<1>;
  t.forwardDctTurned2[2] = forwardDctTurned2Portable<2>;
  t.forwardDctTurned2[3] = forwardDctTurned2Portable<3>;
  t.zigzag = zigzagPortable;
  return t;
}

}  // namespace

void forwardDctPortable(int16_t* block, const uint16_t* reciprocals) {
  int16_t in[64];
  int16_t vertical[64];
  for (int i = 0; i < 64; ++i) in[i] = static_cast<int16_t>(block[i] * 2);
  // Columns first (vertical frequencies v), then rows (horizontal frequencies u); the
  // second pass stores coefficient (v, u) at u * 8 + v.
  for (int c = 0; c < 8; ++c) dct8(in + c, 8, vertical + c, 8);
  for (int v = 0; v < 8; ++v) dct8(vertical + v * 8, 1, block + v, 8);
  // Quantise |x| * reciprocal / 2^16, rounded to nearest, with the sign put back.
  for (int i = 0; i < 64; ++i) {
    const int x = block[i];
    const unsigned magnitude = static_cast<unsigned>(std::abs(x));
    const int q = static_cast<int>((magnitude * reciprocals[i] + 0x8000u) >> 16);
    block[i] = static_cast<int16_t>(x < 0 ? -q : q);
  }
}

void turnBlockPortable(int rotation, const int16_t* in, int16_t* out) {
  for (int r = 0; r < 8; ++r) {
    for (int c = 0; c < 8; ++c) {
      int from = r * 8 + c;
      if (rotation == 1) from = c * 8 + 7 - r;
      if (rotation == 2) from = 63 - from;
      if (rotation == 3) from = (7 - c) * 8 + r;
      out[r * 8 + c] = in[from];
    }
  }
}

const KernelTable& portableKernels() {
  static const KernelTable table = makePortable();
  return table;
}

}  // namespace jpegpress
