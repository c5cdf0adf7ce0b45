#pragma once

// Helpers shared by the module's tests, fuzzer and benchmark: synthetic pictures in every
// source layout, reference conversions, turning, and decoding with libjpeg.

#include <cstdint>
#include <string>
#include <vector>

namespace jpegpress::testing {

// A picture as 8-bit R, G, B per pixel.
struct RgbPicture {
  int width = 0, height = 0;
  std::vector<uint8_t> rgb;  // 3 bytes per pixel, row-major
};

// A natural-looking frame: smooth shading, hard-edged shapes, fine texture and a little
// grain; deterministic for a seed.
RgbPicture naturalPicture(int width, int height, uint32_t seed);
// Independent uniform noise in every channel.
RgbPicture noisePicture(int width, int height, uint32_t seed);

// Source layouts as the encoder reads them.
std::vector<uint8_t> toBgr24(const RgbPicture& p);
std::vector<uint8_t> toRgb565(const RgbPicture& p);
std::vector<uint8_t> toRgb555(const RgbPicture& p);
// Full-range YCbCr (the JFIF conversion): packed U Y0 V Y1 with chroma of each horizontal
// pair, and planar 4:2:0 (Y, Cb, Cr; or Y, Cr, Cb) with chroma of each 2x2 group.
std::vector<uint8_t> toUyvy(const RgbPicture& p);
std::vector<uint8_t> toPlanar(const RgbPicture& p, bool crFirst = false);

// What the encoder sees of a 16-bit layout: components widened by shifting left.
RgbPicture widenedRgb565(const RgbPicture& p);
RgbPicture widenedRgb555(const RgbPicture& p);

// The picture turned as the encoder's rotation code says (1 quarter turn counter-clockwise,
// 2 half, 3 clockwise), for a packed layout of `bytesPerPixel` and for planar 4:2:0.
std::vector<uint8_t> turnPacked(const std::vector<uint8_t>& src, int width, int height,
                                int bytesPerPixel, int rotation);
std::vector<uint8_t> turnPlanar(const std::vector<uint8_t>& src, int width, int height,
                                int rotation);

// A decoded file. `warnings` counts libjpeg's warnings; `error` is non-empty when decoding
// failed.
struct Decoded {
  int width = 0, height = 0, components = 0;
  std::vector<uint8_t> pixels;  // interleaved, `components` bytes per pixel
  int warnings = 0;
  std::string error;
};
// Decodes to RGB (3 components) or, for a single-component file, to grayscale; with
// `ycc` the colour file is returned as Y, Cb, Cr without conversion.
Decoded decodeJpeg(const uint8_t* data, size_t size, bool ycc = false);

// Peak signal-to-noise ratio in dB of two equally sized byte arrays.
double psnr(const uint8_t* a, const uint8_t* b, size_t count);

// Extracts the entropy-coded data (between the end of SOS and EOI) of a file.
std::vector<uint8_t> entropyData(const uint8_t* data, size_t size);
// Each marker segment (marker byte after 0xFF, and the bytes after the length field), up
// to and including SOS.
struct Segment {
  uint8_t marker;
  std::vector<uint8_t> body;
};
std::vector<Segment> headerSegments(const uint8_t* data, size_t size);

// Re-encodes the file's quantised coefficients with libjpeg's own entropy coder (standard
// tables, no restart markers) and returns the result. Empty on failure. `coefficient63`
// counts blocks whose last zigzag coefficient is non-zero.
std::vector<uint8_t> transcodeWithLibjpeg(const uint8_t* data, size_t size,
                                          int* coefficient63 = nullptr);

}  // namespace jpegpress::testing

namespace jpegpress::testing {

// libjpeg's encoder (default settings: accurate integer DCT, standard tables) on
// interleaved RGB (3 components) or grayscale (1) samples, at `quality`, with luminance
// sampling h x v (ignored for grayscale).
std::vector<uint8_t> libjpegEncode(const uint8_t* samples, int width, int height, int components,
                                   int quality, int h, int v);

}  // namespace jpegpress::testing
