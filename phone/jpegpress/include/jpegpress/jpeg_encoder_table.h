#pragma once

// The entry table of the JPEG encoder module "jpegpress.dll" (jpegpress.so on this
// platform). The module exports one function, DllGetData, that fills a caller-owned
// JpegEncoderTable; every other entry is reached through the table.
//
// Threading: one encoder must not be used by two threads at once; separate encoders and
// ConvertPreview calls are independent. The module keeps no pointer to caller memory after
// a call returns.

#include <cstdint>

struct JpegEncoder;

// Six 32-bit words describing one source picture; owned by the caller. EncodeFrame may
// overwrite `format` with 4 (planar input) when the stored quality is 150 or more.
struct EncodeParams {
  uint32_t width;     // source width in pixels, a multiple of 16 (32 with shift 1)
  uint32_t height;    // source height in pixels, a multiple of 16 (32 with shift 1)
  uint32_t format;    // 0 UYVY, 1 RGB555, 2 RGB565, 3 BGR24, 4 planar Y Cb Cr 4:2:0,
                      // 5 planar Y Cr Cb 4:2:0
  uint32_t shift;     // low 8 bits: 0 full size, 1 halve in both directions (format 0)
  uint32_t rotation;  // 0 none, 1 quarter turn counter-clockwise, 2 half, 3 clockwise
  uint32_t sampling;  // 1 4:2:0, 4 grayscale, anything else 4:2:2
};

// Pixel layout codes of EncodeParams::format and of ConvertPreview.
enum : uint32_t {
  kJpegFormatUyvy = 0,
  kJpegFormatRgb555 = 1,
  kJpegFormatRgb565 = 2,
  kJpegFormatBgr24 = 3,
  kJpegFormatPlanar = 4,
  kJpegFormatPlanarCrCb = 5,
};

enum : uint32_t {
  kJpegSampling420 = 1,
  kJpegSampling422 = 2,
  kJpegSamplingGray = 4,
};

// Results are truth values (only the low byte counts) or lengths in bytes.
struct JpegEncoderTable {
  // Stores a new encoder in *encoder, or null when memory ran out. Always 1.
  uint32_t (*CreateEncoder)(JpegEncoder** encoder);
  // Frees the encoder; null is allowed. Always 1.
  uint32_t (*DestroyEncoder)(JpegEncoder* encoder);
  // Builds the quantisation tables for `quality` and drops the cached header. Always 1.
  uint32_t (*SetQuality)(JpegEncoder* encoder, uint32_t quality);
  // Encodes one frame into `output` (room for the whole file; not checked); returns the
  // file length, or 0 when the combination is not supported (nothing is written then).
  uint32_t (*EncodeFrame)(JpegEncoder* encoder, uint8_t* output, const uint8_t* input,
                          EncodeParams* params, uint32_t writeHeader);
  // Scales, turns and converts a YUV frame into an RGB565 preview. 1 when the destination
  // was written, 0 when the call is not handled (nothing written).
  uint32_t (*ConvertPreview)(uint16_t* destination, int32_t destinationWidth,
                             int32_t destinationHeight, int32_t destinationStrideBytes,
                             const uint8_t* source, int32_t sourceWidth, int32_t sourceHeight,
                             uint32_t format, uint32_t turn, uint8_t* work);
};

// Signature of the module's single export.
using DllGetDataFunction = uint32_t (*)(JpegEncoderTable* table);
inline constexpr const char kJpegpressModuleName[] = "jpegpress.dll";
