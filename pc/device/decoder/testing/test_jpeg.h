#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

// JPEG fixtures made at run time with the system's JPEG library, and a plain reference
// decode with it. Used by the decoder's tests, its fuzzer and its benchmark.
namespace decoder_testing {

enum class Sampling { k420, k444 };

struct JpegOptions {
  int quality = 90;
  Sampling sampling = Sampling::k420;
  bool progressive = false;
  unsigned restartInterval = 0;  // MCUs between restart markers, 0 for none
};

// A deterministic picture of w x h, red, green, blue, top row first: smooth gradients with
// a few sharp edges, so that both the colours and the positions matter.
std::vector<uint8_t> testPicture(uint32_t w, uint32_t h);

// Compresses an RGB picture (3 bytes per pixel, top row first).
std::vector<uint8_t> encodeRgb(const uint8_t* rgb, uint32_t w, uint32_t h,
                               const JpegOptions& options = {});
// Compresses a grey picture (1 byte per pixel).
std::vector<uint8_t> encodeGray(const uint8_t* grey, uint32_t w, uint32_t h, int quality = 90);
// Compresses a CMYK picture (4 bytes per pixel) as a four-component JPEG.
std::vector<uint8_t> encodeCmyk(const uint8_t* cmyk, uint32_t w, uint32_t h, int quality = 90);

// Decodes with the library's defaults and RGB output: top row first, 3 bytes per pixel.
// Empty on any error.
std::vector<uint8_t> referenceDecode(const std::vector<uint8_t>& jpeg, uint32_t* w, uint32_t* h);

// PSNR in dB of a rendered picture (bottom-up, 3 bytes per pixel blue, green, red, rows
// padded to 4 bytes) against an RGB picture of the same size (top row first); 99 when they
// are equal.
double renderedPsnr(const std::vector<uint8_t>& rendered, const std::vector<uint8_t>& rgb, uint32_t w,
                    uint32_t h);

}  // namespace decoder_testing
