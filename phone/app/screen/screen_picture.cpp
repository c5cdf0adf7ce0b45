#include "screen/screen_picture.h"

#include <bit>
#include <cstring>

namespace screen {
namespace {

// One colour of a pixel word: where it sits and how many bits it has.
struct Channel {
  uint32_t mask, shift, bits;
  explicit Channel(uint32_t m)
      : mask(m), shift(m ? static_cast<uint32_t>(std::countr_zero(m)) : 0),
        bits(static_cast<uint32_t>(std::popcount(m))) {}
  // The colour with `want` bits.
  uint32_t take(uint32_t pixel, uint32_t want) const {
    const uint32_t v = (pixel & mask) >> shift;
    return bits >= want ? v >> (bits - want) : v << (want - bits);
  }
};

}  // namespace

uint32_t wordSum(const platform::ScreenImage& image) {
  const size_t rowBytes = size_t{image.width} * (image.layout.bitsPerPixel / 8);
  uint32_t sum = 0;
  uint32_t word = 0;
  uint32_t filled = 0;  // bytes of `word` taken so far
  for (uint32_t y = 0; y < image.height; ++y) {
    const uint8_t* p = image.pixels + size_t{y} * image.strideBytes;
    size_t n = rowBytes;
    // Finish the word a row before began.
    while (filled != 0 && n != 0) {
      word |= uint32_t{*p++} << (8 * filled);
      --n;
      if (++filled == 4) {
        sum += word;
        word = 0;
        filled = 0;
      }
    }
    for (; n >= 4; n -= 4, p += 4) sum += uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 | uint32_t{p[3]} << 24;
    for (; n != 0; --n) word |= uint32_t{*p++} << (8 * filled++);
  }
  return sum + word;
}

bool convertToRgb565(const platform::ScreenImage& image, uint16_t* out) {
  const platform::PixelLayout& l = image.layout;
  const uint32_t bytes = l.bitsPerPixel / 8;
  if (l.bitsPerPixel != 16 && l.bitsPerPixel != 24 && l.bitsPerPixel != 32) return false;
  for (uint32_t m : {l.redMask, l.greenMask, l.blueMask})
    if (m == 0 || std::popcount(m) > 16 || (bytes < 4 && (m >> l.bitsPerPixel) != 0)) return false;
  const uint32_t w = image.width;
  if (l.bitsPerPixel == 16 && l.redMask == 0xF800 && l.greenMask == 0x07E0 && l.blueMask == 0x001F) {
    for (uint32_t y = 0; y < image.height; ++y)
      std::memcpy(out + size_t{y} * w, image.pixels + size_t{y} * image.strideBytes, size_t{w} * 2);
    return true;
  }
  if (l.bitsPerPixel == 32 && l.redMask == 0xFF0000 && l.greenMask == 0x00FF00 && l.blueMask == 0x0000FF) {
    for (uint32_t y = 0; y < image.height; ++y) {
      const uint8_t* p = image.pixels + size_t{y} * image.strideBytes;
      uint16_t* o = out + size_t{y} * w;
      for (uint32_t x = 0; x < w; ++x, p += 4)
        o[x] = static_cast<uint16_t>((p[2] & 0xF8) << 8 | (p[1] & 0xFC) << 3 | p[0] >> 3);
    }
    return true;
  }
  const Channel red(l.redMask), green(l.greenMask), blue(l.blueMask);
  for (uint32_t y = 0; y < image.height; ++y) {
    const uint8_t* p = image.pixels + size_t{y} * image.strideBytes;
    uint16_t* o = out + size_t{y} * w;
    for (uint32_t x = 0; x < w; ++x, p += bytes) {
      uint32_t pixel = 0;
      for (uint32_t i = 0; i < bytes; ++i) pixel |= uint32_t{p[i]} << (8 * i);
      o[x] = static_cast<uint16_t>(red.take(pixel, 5) << 11 | green.take(pixel, 6) << 5 | blue.take(pixel, 5));
    }
  }
  return true;
}

void mapTap(uint32_t argument, uint32_t width, uint32_t height, uint32_t rotation, bool flipped,
            uint32_t& x, uint32_t& y) {
  const uint32_t px = argument & 0xFFFF, py = argument >> 16;
  uint32_t sx = px, sy = py;
  switch (rotation & 3) {
    case 1: sx = 65535 - py, sy = px; break;
    case 2: sx = 65535 - px, sy = 65535 - py; break;
    case 3: sx = py, sy = 65535 - px; break;
    default: break;
  }
  if (flipped) sy = 65535 - sy;
  x = static_cast<uint32_t>(uint64_t{sx} * width >> 16);
  y = static_cast<uint32_t>(uint64_t{sy} * height >> 16);
}

}  // namespace screen
