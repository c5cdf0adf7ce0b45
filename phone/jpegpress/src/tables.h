#pragma once

// Fixed tables of the baseline encoder: the example quantisation and Huffman tables of
// the JPEG standard (T.81 Annex K), the zigzag order and the scale factors of the
// scaled forward DCT.

#include <cstdint>

#include "jpegpress/standard_huffman.h"

namespace jpegpress {

// Quantisation bases, natural (row-major) order: K.1 luminance, K.2 chrominance.
extern const uint8_t kLumaQuantBase[64];
extern const uint8_t kChromaQuantBase[64];

// The Huffman tables (K.3 to K.6): kDcLuma, kDcChroma, kAcLuma, kAcChroma, shared with the
// camera module through the public header.

struct Zigzag {
  uint8_t natural[64];      // natural index of each zigzag position
  uint8_t columnMajor[64];  // column-major index (u * 8 + v for row v, column u)
};

// Walks the anti-diagonals, alternating direction, starting rightwards on the first row.
constexpr Zigzag makeZigzag() {
  Zigzag z{};
  int k = 0;
  for (int d = 0; d < 15; ++d) {
    for (int i = 0; i <= d; ++i) {
      const int row = (d % 2 == 0) ? d - i : i;
      const int col = d - row;
      if (row > 7 || col > 7) continue;
      z.natural[k] = static_cast<uint8_t>(row * 8 + col);
      z.columnMajor[k] = static_cast<uint8_t>(col * 8 + row);
      ++k;
    }
  }
  return z;
}

// The DCT leaves its coefficients in column-major order; entropy coding reads them in
// zigzag order.
inline constexpr Zigzag kZigzag = makeZigzag();
inline constexpr const uint8_t* kZigzagToNatural = kZigzag.natural;
inline constexpr const uint8_t* kZigzagToColumnMajor = kZigzag.columnMajor;

// 2^12 / (s(v) s(u)) with s(0) = 1 and s(k) = sqrt(2) cos(k pi / 16), rounded: the output
// scale of the forward DCT (16 s(v) s(u) times the coefficient) folded into the quantiser.
// Symmetric, so row- and column-major order coincide.
extern const uint16_t kDctScale[64];

}  // namespace jpegpress
