#include "camera/picture_repack.h"

#include <algorithm>
#include <cstring>

#include "platform/byte_order.h"

namespace camera {
namespace {

inline uint8_t clampByte(int32_t v) { return static_cast<uint8_t>(v < 0 ? 0 : (v > 255 ? 255 : v)); }

using platform::load16;

bool sizeOk(uint32_t w, uint32_t h, uint32_t r) {
  return w != 0 && h != 0 && (w & 1) == 0 && (h & 1) == 0 && r <= 3;
}

// Index in the turned plane of sample (x, y) of a plane of pw x ph samples.
template <uint32_t R>
inline size_t turnedIndex(size_t x, size_t y, size_t pw, size_t ph) {
  if constexpr (R == 0) return y * pw + x;
  if constexpr (R == 1) return (pw - 1 - x) * ph + y;
  if constexpr (R == 2) return (ph - 1 - y) * pw + (pw - 1 - x);
  return x * ph + (ph - 1 - y);
}

// Quarter turns walk the source in tiles of 8 rows so that the column writes of the
// turned plane stay within a few cache lines.
template <uint32_t R>
void turnPlane(uint8_t* dst, const uint8_t* src, size_t pw, size_t ph) {
  if constexpr (R == 0) {
    std::memcpy(dst, src, pw * ph);
  } else if constexpr (R == 2) {
    // The whole plane back to front.
    const size_t n = pw * ph;
    for (size_t i = 0; i < n; ++i) dst[i] = src[n - 1 - i];
  } else {
    constexpr size_t kTile = 8;
    for (size_t y0 = 0; y0 < ph; y0 += kTile) {
      const size_t y1 = std::min(ph, y0 + kTile);
      for (size_t x0 = 0; x0 < pw; x0 += kTile) {
        const size_t x1 = std::min(pw, x0 + kTile);
        for (size_t y = y0; y < y1; ++y) {
          const uint8_t* row = src + y * pw;
          for (size_t x = x0; x < x1; ++x) dst[turnedIndex<R>(x, y, pw, ph)] = row[x];
        }
      }
    }
  }
}

template <uint32_t R>
void turnPlanar(uint8_t* dst, const uint8_t* src, size_t w, size_t h) {
  const size_t luma = w * h;
  const size_t chroma = luma / 4;
  turnPlane<R>(dst, src, w, h);
  turnPlane<R>(dst + luma, src + luma, w / 2, h / 2);
  turnPlane<R>(dst + luma + chroma, src + luma + chroma, w / 2, h / 2);
}

template <uint32_t R>
void uyvyToPlanar(uint8_t* dst, const uint8_t* src, size_t w, size_t h) {
  const size_t luma = w * h;
  const size_t cw = w / 2, ch = h / 2;
  uint8_t* yPlane = dst;
  uint8_t* uPlane = dst + luma;
  uint8_t* vPlane = dst + luma + luma / 4;
  const size_t rowBytes = w * 2;
  for (size_t k = 0; k < ch; ++k) {
    const uint8_t* top = src + 2 * k * rowBytes;
    const uint8_t* bottom = top + rowBytes;
    const size_t y = 2 * k;
    for (size_t m = 0; m < cw; ++m) {
      const uint8_t* a = top + 4 * m;
      const uint8_t* b = bottom + 4 * m;
      const size_t x = 2 * m;
      yPlane[turnedIndex<R>(x, y, w, h)] = a[1];
      yPlane[turnedIndex<R>(x + 1, y, w, h)] = a[3];
      yPlane[turnedIndex<R>(x, y + 1, w, h)] = b[1];
      yPlane[turnedIndex<R>(x + 1, y + 1, w, h)] = b[3];
      const size_t c = turnedIndex<R>(m, k, cw, ch);
      uPlane[c] = static_cast<uint8_t>((a[0] + b[0] + 1) >> 1);
      vPlane[c] = static_cast<uint8_t>((a[2] + b[2] + 1) >> 1);
    }
  }
}

}  // namespace

bool RgbToUyvy(uint8_t* picture, size_t size, uint32_t bits) {
  const size_t words = size / 4;
  if (bits == 24) {
    for (size_t j = 0; j < words; ++j) {
      const uint8_t* s = picture + 6 * j;
      const int32_t b0 = s[0], g0 = s[1], r0 = s[2], b1 = s[3], g1 = s[4], r1 = s[5];
      const int32_t y0 = (77 * r0 + 150 * g0 + 29 * b0) >> 8;
      const int32_t y1 = (77 * r1 + 150 * g1 + 29 * b1) >> 8;
      const int32_t u = ((((b0 - y0) * 145) >> 8) + (((b1 - y1) * 145) >> 8) + 254) >> 1;
      const int32_t v = ((((r0 - y0) * 183) >> 8) + (((r1 - y1) * 183) >> 8) + 254) >> 1;
      // The output word never overtakes the six bytes just read.
      uint8_t* d = picture + 4 * j;
      d[0] = clampByte(u);
      d[1] = static_cast<uint8_t>(y0);
      d[2] = clampByte(v);
      d[3] = static_cast<uint8_t>(y1);
    }
    return true;
  }
  if (bits != 16 && bits != 15) return false;
  const bool is565 = bits == 16;
  for (size_t j = 0; j < words; ++j) {
    uint8_t* d = picture + 4 * j;
    int32_t r[2], g[2], b[2], y[2];
    for (int i = 0; i < 2; ++i) {
      const uint32_t p = load16(d + 2 * i);
      if (is565) {
        r[i] = static_cast<int32_t>(p >> 11);
        g[i] = static_cast<int32_t>((p >> 5) & 0x3F) << 2;
      } else {
        r[i] = static_cast<int32_t>((p >> 10) & 0x1F);
        g[i] = static_cast<int32_t>((p >> 5) & 0x1F) << 3;
      }
      b[i] = static_cast<int32_t>(p & 0x1F);
      y[i] = (616 * r[i] + 150 * g[i] + 232 * b[i]) >> 8;
    }
    // Within 2..252 for 5- and 6-bit inputs, so no clamping.
    const int32_t u = (((1160 * b[1] - 145 * y[1]) >> 8) + ((1160 * b[0] - 145 * y[0]) >> 8) + 256) >> 1;
    const int32_t v = (((1464 * r[1] - 183 * y[1]) >> 8) + ((1464 * r[0] - 183 * y[0]) >> 8) + 256) >> 1;
    d[0] = static_cast<uint8_t>(u);
    d[1] = static_cast<uint8_t>(y[0]);
    d[2] = static_cast<uint8_t>(v);
    d[3] = static_cast<uint8_t>(y[1]);
  }
  return true;
}

bool TurnPlanar(uint8_t* destination, const uint8_t* source, uint32_t w, uint32_t h, uint32_t r) {
  if (!sizeOk(w, h, r)) return false;
  switch (r) {
    case 0: turnPlanar<0>(destination, source, w, h); break;
    case 1: turnPlanar<1>(destination, source, w, h); break;
    case 2: turnPlanar<2>(destination, source, w, h); break;
    default: turnPlanar<3>(destination, source, w, h); break;
  }
  return true;
}

bool UyvyToPlanar(uint8_t* destination, const uint8_t* source, uint32_t w, uint32_t h,
                  uint32_t r) {
  if (!sizeOk(w, h, r)) return false;
  switch (r) {
    case 0: uyvyToPlanar<0>(destination, source, w, h); break;
    case 1: uyvyToPlanar<1>(destination, source, w, h); break;
    case 2: uyvyToPlanar<2>(destination, source, w, h); break;
    default: uyvyToPlanar<3>(destination, source, w, h); break;
  }
  return true;
}

}  // namespace camera
