#pragma once

// Fixed tables of the baseline encoder: the example quantisation and Huffman tables of
// the JPEG standard (T.81 Annex K), the zigzag order and the scale factors of the
// scaled forward DCT.

#include <cstdint>

namespace jpegpress {

// Quantisation bases, natural (row-major) order: K.1 luminance, K.2 chrominance.
extern const uint8_t kLumaQuantBase[64];
extern const uint8_t kChromaQuantBase[64];

// Huffman table specifications: 16 code counts per length, then the symbols.
struct HuffmanSpec {
  uint8_t counts[16];
  const uint8_t* symbols;
  int symbolCount;
};
extern const HuffmanSpec kDcLuma;    // K.3
extern const HuffmanSpec kDcChroma;  // K.4
extern const HuffmanSpec kAcLuma;    // K.5
extern const HuffmanSpec kAcChroma;  // K.6

// Natural index of each zigzag position.
extern const uint8_t kZigzagToNatural[64];
// Column-major index (u * 8 + v for row v, column u) of each zigzag position; the DCT
// leaves its coefficients in column-major order.
extern const uint8_t kZigzagToColumnMajor[64];

// 2^12 / (s(v) s(u)) with s(0) = 1 and s(k) = sqrt(2) cos(k pi / 16), rounded: the output
// scale of the forward DCT (16 s(v) s(u) times the coefficient) folded into the quantiser.
// Symmetric, so row- and column-major order coincide.
extern const uint16_t kDctScale[64];

}  // namespace jpegpress
