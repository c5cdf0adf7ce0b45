#pragma once

// The inner routines of the encoder and of the preview conversion, reached through one
// table of function pointers chosen once per process. Each routine exists as a portable
// C++ version; SIMD versions (x86-64 today, room for NEON) must give exactly the same
// results, which the tests check on random input.

#include <cstddef>
#include <cstdint>
#include <vector>

struct JpegEncoder;

#include "tables.h"

namespace jpegpress {

// The shape of the source area read for one MCU (in pixels, before any turn) and the
// blocks it produces, in this order:
//   k420  16x16: four luminance blocks in raster order, Cb, Cr (chroma of 2x2 pixels)
//   k422H 16x8:  left and right luminance block, Cb, Cr (chroma of horizontal pairs)
//   k422V 8x16:  top and bottom luminance block, Cb, Cr (chroma of vertical pairs); used
//                for 4:2:2 output of a quarter-turned picture
//   kGray 8x8:   one luminance block
enum Area : int { kArea420 = 0, kArea422H = 1, kArea422V = 2, kAreaGray = 3, kAreaCount = 4 };

// Source layouts of the conversion kernels (the planar Cr-first layout is the planar one
// with its plane pointers exchanged).
enum Layout : int {
  kLayoutUyvy = 0,
  kLayoutRgb555 = 1,
  kLayoutRgb565 = 2,
  kLayoutBgr24 = 3,
  kLayoutPlanar = 4,
  kLayoutCount = 5,
};

// Where an MCU's source area starts. Packed layouts use plane[0] and stride[0] (bytes per
// row); the planar layout has Y, Cb, Cr in plane[0..2], the chroma planes at half
// resolution with stride[1].
struct SourceArea {
  const uint8_t* plane[3];
  ptrdiff_t stride[2];
};

// Writes the area's blocks as level-shifted samples (value - 128), row-major per block.
using ConvertFn = void (*)(const SourceArea& area, int16_t* blocks);
// Forward DCT of one block of samples in place, then quantisation by the reciprocal
// table; the 64 results are left in column-major order (u * 8 + v).
using ForwardDctFn = void (*)(int16_t* block, const uint16_t* reciprocals);
// The same for two blocks with the same reciprocals (wide SIMD does both at once).
using ForwardDct2Fn = void (*)(int16_t* a, int16_t* b, const uint16_t* reciprocals);
// The forward DCT with quantisation of a block turned first, from `in` (left as it is)
// into `out`: exactly forwardDct of turnBlockPortable(rotation, in). The turn costs no
// pass of its own: SIMD versions load the rows of the turned block straight into
// registers (a transpose and a renaming of registers).
using ForwardDctTurnedFn = void (*)(const int16_t* in, int16_t* out, const uint16_t* reciprocals);
// The same for two blocks with the same reciprocals.
using ForwardDctTurned2Fn = void (*)(const int16_t* inA, const int16_t* inB, int16_t* outA,
                                     int16_t* outB, const uint16_t* reciprocals);

// Puts the 64 column-major coefficients into zigzag order and returns the mask of the
// non-zero AC ones: bit k set when zigzag[k] != 0, for k = 1..63 (bit 0 always clear).
using ZigzagFn = uint64_t (*)(const int16_t* coefficients, int16_t* zigzag);
// The same mask without the copy, for a walk whose coder reads the coefficients through
// kZigzagToColumnMajor.
using ZigzagMaskFn = uint64_t (*)(const int16_t* coefficients);

struct KernelTable;

// The frame as the MCU walk sees it.
enum class Sampling { k420, k422, kGray };

struct Shape {
  Sampling sampling;
  int rotation;        // 0..3
  int shift;           // 0 or 1
  int width, height;   // source size in working pixels (after the shift)
  int outWidth, outHeight;
};

struct Source {
  Layout layout;
  const uint8_t* base;
  const uint8_t* cb;  // planar only
  const uint8_t* cr;
  int bytesPerPixel;
  int fullWidth;  // EncodeParams width
};

// Codes every MCU of the frame into `out`, which has `room` bytes; returns the bytes
// written.
using EncodeScanFn = uint32_t (*)(const KernelTable& kernels, JpegEncoder& encoder,
                                  const Shape& shape, const Source& source, uint8_t* out,
                                  size_t room);

// The walk compiled for every processor of the architecture (scan_body.h); SIMD tables may
// carry a copy compiled for their instruction set.
uint32_t encodeScanGeneric(const KernelTable& kernels, JpegEncoder& encoder, const Shape& shape,
                           const Source& source, uint8_t* out, size_t room);

struct KernelTable {
  const char* name;
  ConvertFn convert[kLayoutCount][kAreaCount];  // null where the pair is not supported
  ForwardDctFn forwardDct;
  ForwardDct2Fn forwardDct2;
  // Indexed by the rotation 1..3 (index 0 unused).
  ForwardDctTurnedFn forwardDctTurned[4];
  ForwardDctTurned2Fn forwardDctTurned2[4];
  ZigzagFn zigzag;
  // The zigzag mask that this table's own walk (encodeScan) inlines, kept here so that the
  // kernel tests can compare it with zigzag; null where the walk has none.
  ZigzagMaskFn zigzagMask = nullptr;
  // The MCU walk with its entropy coder that calls the routines above.
  EncodeScanFn encodeScan = encodeScanGeneric;
};

// The portable kernels, always available.
const KernelTable& portableKernels();
// The best SIMD kernels this processor runs, or null when there are none.
const KernelTable* simdKernels();
// Every SIMD table this processor runs, narrowest first (the tests check each).
std::vector<const KernelTable*> supportedSimdKernels();
// The table the encoder uses: chosen on first use, for the whole process. The environment
// variable VISTREL_JPEGPRESS_PORTABLE set to a non-empty value other than "0" forces the
// portable kernels.
const KernelTable& activeKernels();

// Portable building blocks shared by the SIMD tables for the routines they do not cover.
void forwardDctPortable(int16_t* block, const uint16_t* reciprocals);
// Turns one 8x8 block: rotation 1 out[r][c] = in[c][7-r], 2 out[i] = in[63-i],
// 3 out[r][c] = in[7-c][r].
void turnBlockPortable(int rotation, const int16_t* in, int16_t* out);
// The zigzag gather alone (no mask), shared by the SIMD versions.
inline void zigzagGather(const int16_t* coefficients, int16_t* zigzag) {
#pragma GCC unroll 64
  for (int k = 0; k < 64; ++k) zigzag[k] = coefficients[kZigzag.columnMajor[k]];
}

}  // namespace jpegpress
