#include "kernels.h"

#include <bit>
#include <cstdlib>
#include <cstring>

#include "platform/byte_order.h"

namespace decoder {

namespace {

using platform::load32;
using platform::store32;

// Four pixels at a time as three 32-bit words; each block is loaded before it is stored,
// so dst == src works.
void rgbToBgrPortable(uint8_t* dst, const uint8_t* src, uint32_t n) {
  uint32_t j = 0;
  if constexpr (std::endian::native == std::endian::little) {
    for (; j + 4 <= n; j += 4, src += 12, dst += 12) {
      const uint32_t a = load32(src), b = load32(src + 4), c = load32(src + 8);
      // a = R0 G0 B0 R1, b = G1 B1 R2 G2, c = B2 R3 G3 B3 (first byte lowest)
      store32(dst, ((a >> 16) & 0xFFu) | (a & 0xFF00u) | ((a & 0xFFu) << 16) |
                       (((b >> 8) & 0xFFu) << 24));
      store32(dst + 4, (b & 0xFFu) | ((a >> 24) << 8) | ((c & 0xFFu) << 16) | (b & 0xFF000000u));
      store32(dst + 8, ((b >> 16) & 0xFFu) | ((c >> 24) << 8) | (c & 0xFF0000u) |
                           (((c >> 8) & 0xFFu) << 24));
    }
  }
  for (; j < n; ++j, src += 3, dst += 3) {
    const uint8_t r = src[0], g = src[1], b = src[2];
    dst[0] = b;
    dst[1] = g;
    dst[2] = r;
  }
}

void halveRowsPortable(uint8_t* dst, const uint8_t* a, const uint8_t* b, uint32_t n) {
  for (uint32_t j = 0; j < n; ++j, a += 6, b += 6, dst += 3) {
    for (int c = 0; c < 3; ++c)
      dst[c] = static_cast<uint8_t>((uint32_t{a[c]} + a[c + 3] + b[c] + b[c + 3]) >> 2);
  }
}

// One pixel a step as one 32-bit word (its fourth byte is the next pixel's first, or
// unused), each store's spare byte being overwritten by the next store; the last pixel
// byte by byte, so that nothing past the row is read.
void doubleToBgrPortable(uint8_t* dst, const uint8_t* src, uint32_t n) {
  if (n == 0) return;
  uint32_t x = 1;
  if constexpr (std::endian::native == std::endian::little) {
    for (; x < n; ++x, src += 3, dst += 6) {
      const uint32_t v = load32(src);  // R G B x, first byte lowest
      const uint32_t bgr = ((v & 0xFFu) << 16) | (v & 0xFF00u) | ((v >> 16) & 0xFFu);
      store32(dst, bgr | (bgr << 24));
      store32(dst + 4, bgr >> 8);
    }
  }
  for (x -= 1; x < n; ++x, src += 3, dst += 6) {
    dst[0] = dst[3] = src[2];
    dst[1] = dst[4] = src[1];
    dst[2] = dst[5] = src[0];
  }
}

void weighRowsPortable(uint32_t* out, const uint8_t* const* rows, const uint16_t* weights,
                       uint32_t taps, size_t n) {
  const uint32_t w0 = weights[0];
  const uint8_t* r0 = rows[0];
  for (size_t e = 0; e < n; ++e) out[e] = w0 * r0[e];
  for (uint32_t t = 1; t < taps; ++t) {
    const uint32_t w = weights[t];
    const uint8_t* r = rows[t];
    for (size_t e = 0; e < n; ++e) out[e] += w * r[e];
  }
}

void weighPixelsPortable(uint8_t* dst, const uint32_t* in, const uint32_t* starts,
                         const uint32_t* weights, uint32_t taps, uint32_t n, bool bgr) {
  const int first = bgr ? 2 : 0, last = bgr ? 0 : 2;
  for (uint32_t j = 0; j < n; ++j, dst += 3, weights += taps) {
    const uint32_t* p = in + size_t{starts[j]} * 3;
    uint32_t r = 0, g = 0, b = 0;
    for (uint32_t t = 0; t < taps; ++t, p += 3) {
      r += weights[t] * p[0];
      g += weights[t] * p[1];
      b += weights[t] * p[2];
    }
    dst[first] = static_cast<uint8_t>(r >> 24);
    dst[1] = static_cast<uint8_t>(g >> 24);
    dst[last] = static_cast<uint8_t>(b >> 24);
  }
}

bool portableForced() {
  const char* value = std::getenv("VISTREL_DECODER_PORTABLE");
  return value != nullptr && value[0] != '\0' && std::strcmp(value, "0") != 0;
}

}  // namespace

const RenderKernels& portableKernels() {
  static const RenderKernels kernels{rgbToBgrPortable, halveRowsPortable, doubleToBgrPortable,
                                     weighRowsPortable, weighPixelsPortable};
  return kernels;
}

const RenderKernels& activeKernels() {
  static const RenderKernels* const chosen = [] {
    const RenderKernels* simd = portableForced() ? nullptr : simdKernels();
    return simd != nullptr ? simd : &portableKernels();
  }();
  return *chosen;
}

}  // namespace decoder
