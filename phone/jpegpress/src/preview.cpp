// Conversion of a YUV camera frame into the RGB565 preview: scaling, quarter turns and
// colour conversion in one pass over the source.

#include <cstddef>
#include <cstdint>
#include <initializer_list>

#include "encoder.h"

namespace jpegpress {
namespace {

// Destination addressing of the scaled picture (width w, height h) for one turn: pixel
// (x, y) lands at base + x * stepX + y * stepY bytes.
struct Placement {
  uint8_t* base;
  ptrdiff_t stepX, stepY;
};

// Turn codes of the preview: 0 counter-clockwise, 1 none, 2 clockwise, 3 half.
Placement placementFor(uint8_t* dst, ptrdiff_t stride, int w, int h, uint32_t turn) {
  switch (turn) {
    case 0: return {dst + (w - 1) * stride, -stride, 2};  // row w-1-x, column y
    case 2: return {dst + (h - 1) * 2, stride, -2};       // row x, column h-1-y
    case 3: return {dst + (h - 1) * stride + (w - 1) * 2, -2, -stride};
    default: return {dst, 2, stride};
  }
}

inline int clampTo(int v, int hi) { return v < 0 ? 0 : (v > hi ? hi : v); }

inline void store(uint8_t* p, uint32_t pixel) {
  p[0] = static_cast<uint8_t>(pixel);
  p[1] = static_cast<uint8_t>(pixel >> 8);
}

// The chroma part of a pixel, shared by the pixels of a pair or group.
struct ChromaTerms {
  int r, g, b;
};

// Studio-range BT.601 in Q10, straight into 5- and 6-bit fields.
inline ChromaTerms chromaQ10(int u, int v) {
  return {1634 * v - 209152, 157952 - 401 * u - 833 * v, 2065 * u - 264320};
}
inline uint32_t pixelQ10(int y, const ChromaTerms& c) {
  const int luma = 1192 * y - 19072;
  const int r = clampTo((luma + c.r) >> 13, 31);
  const int g = clampTo((luma + c.g) >> 12, 63);
  const int b = clampTo((luma + c.b) >> 13, 31);
  return static_cast<uint32_t>(r << 11 | g << 5 | b);
}

// The same factors in Q8.
inline ChromaTerms chromaQ8(int cb, int cr) {
  return {409 * cr - 52352, 39424 - 100 * cb - 208 * cr, 516 * cb - 66048};
}
inline uint32_t pixelQ8(int y, const ChromaTerms& c) {
  const int luma = 298 * y - 4768;
  const int r = clampTo((luma + c.r) >> 11, 31);
  const int g = clampTo((luma + c.g) >> 10, 63);
  const int b = clampTo((luma + c.b) >> 11, 31);
  return static_cast<uint32_t>(r << 11 | g << 5 | b);
}

// Packed frame whose size is exactly k times the destination's: no filtering, the
// top-left pixel of each k x k group, the chroma of the first pair of each output pair.
void decimate(const Placement& out, int w, int h, const uint8_t* src, int srcWidth, int k) {
  const ptrdiff_t srcStride = static_cast<ptrdiff_t>(srcWidth) * 2;
  for (int y = 0; y < h; ++y) {
    const uint8_t* row = src + static_cast<ptrdiff_t>(k) * y * srcStride;
    uint8_t* line = out.base + y * out.stepY;
    for (int x = 0; x < w; x += 2) {
      // The output pair's group starts at source pixel k * x, the first of a macropixel.
      const uint8_t* pair = row + 2 * static_cast<ptrdiff_t>(k) * x;
      const ChromaTerms c = chromaQ10(pair[0], pair[2]);
      store(line + x * out.stepX, pixelQ10(pair[1], c));
      if (x + 1 < w) store(line + (x + 1) * out.stepX, pixelQ10(pair[2 * k + 1], c));
    }
  }
}

struct Planes {
  const uint8_t* y;
  const uint8_t* cb;
  const uint8_t* cr;
  int width, height;  // luminance size; chroma planes are width/2 x height/2
};

int64_t stepOf(int source, int destination) {
  return (static_cast<int64_t>((source & ~1) - 1) * 65536) / ((destination & ~1) - 1);
}

// Nearest-neighbour scaling in 16.16 steps; each 2 x 2 group of output pixels shares the
// chroma sample under its first pixel. Source positions past the last row or column (odd
// destination sizes) are held at the edge.
void scale(const Placement& out, int w, int h, const Planes& p) {
  const int64_t stepX = stepOf(p.width, w);
  const int64_t stepY = stepOf(p.height, h);
  const int chromaWidth = p.width / 2, chromaHeight = p.height / 2;
  for (int y = 0; y < h; ++y) {
    const int sy = clampTo(static_cast<int>((y * stepY + 0x8000) >> 16), p.height - 1);
    const int groupY = clampTo(static_cast<int>(((y & ~1) * stepY + 0x8000) >> 16), p.height - 1);
    const int cy = clampTo(groupY >> 1, chromaHeight - 1);
    const uint8_t* luma = p.y + static_cast<ptrdiff_t>(sy) * p.width;
    const uint8_t* cbRow = p.cb + static_cast<ptrdiff_t>(cy) * chromaWidth;
    const uint8_t* crRow = p.cr + static_cast<ptrdiff_t>(cy) * chromaWidth;
    uint8_t* line = out.base + y * out.stepY;
    for (int x = 0; x < w; x += 2) {
      const int sx = clampTo(static_cast<int>((x * stepX + 0x8000) >> 16), p.width - 1);
      const int cx = clampTo(sx >> 1, chromaWidth - 1);
      const ChromaTerms c = chromaQ8(cbRow[cx], crRow[cx]);
      store(line + x * out.stepX, pixelQ8(luma[sx], c));
      if (x + 1 < w) {
        const int next = clampTo(static_cast<int>(((x + 1) * stepX + 0x8000) >> 16), p.width - 1);
        store(line + (x + 1) * out.stepX, pixelQ8(luma[next], c));
      }
    }
  }
}

// Packed U Y0 V Y1 into planar 4:2:0 (chroma: rounded mean of the two rows of a pair),
// optionally turned on the way: the planes then hold the turned picture.
Planes toPlanar(const uint8_t* src, int w, int h, uint32_t turn, uint8_t* work) {
  const bool quarter = turn == 0 || turn == 2;
  const int pw = quarter ? h : w, ph = quarter ? w : h;
  uint8_t* yPlane = work;
  uint8_t* cbPlane = work + static_cast<ptrdiff_t>(w) * h;
  uint8_t* crPlane = cbPlane + static_cast<ptrdiff_t>(w / 2) * (h / 2);
  const ptrdiff_t srcStride = static_cast<ptrdiff_t>(w) * 2;
  // Sample addressing for one plane of size (cw x ch) with turned row length prow.
  auto place = [turn](int x, int y, int cw, int ch, int prow) -> ptrdiff_t {
    switch (turn) {
      case 0: return static_cast<ptrdiff_t>(cw - 1 - x) * prow + y;
      case 2: return static_cast<ptrdiff_t>(x) * prow + (ch - 1 - y);
      case 3: return static_cast<ptrdiff_t>(ch - 1 - y) * prow + (cw - 1 - x);
      default: return static_cast<ptrdiff_t>(y) * prow + x;
    }
  };
  for (int y = 0; y < h; ++y) {
    const uint8_t* row = src + y * srcStride;
    for (int x = 0; x < w; ++x) yPlane[place(x, y, w, h, pw)] = row[2 * x + 1];
  }
  const int cw = w / 2, ch = h / 2;
  const int prow = quarter ? ch : cw;
  for (int cy = 0; cy < ch; ++cy) {
    const uint8_t* r0 = src + 2 * cy * srcStride;
    const uint8_t* r1 = r0 + srcStride;
    for (int cx = 0; cx < cw; ++cx) {
      const ptrdiff_t at = place(cx, cy, cw, ch, prow);
      cbPlane[at] = static_cast<uint8_t>((r0[4 * cx] + r1[4 * cx] + 1) >> 1);
      crPlane[at] = static_cast<uint8_t>((r0[4 * cx + 2] + r1[4 * cx + 2] + 1) >> 1);
    }
  }
  return {yPlane, cbPlane, crPlane, pw, ph};
}

}  // namespace

uint32_t convertPreview(uint16_t* destination, int32_t w, int32_t h, int32_t strideBytes,
                        const uint8_t* source, int32_t srcWidth, int32_t srcHeight,
                        uint32_t format, uint32_t turn, uint8_t* work) {
  if (turn > 3 || w <= 0 || h <= 0 || srcWidth <= 0 || srcHeight <= 0) return 0;
  if (format != kJpegFormatUyvy && format != kJpegFormatPlanar && format != kJpegFormatPlanarCrCb)
    return 0;
  auto* dst = reinterpret_cast<uint8_t*>(destination);
  const ptrdiff_t stride = strideBytes;

  if (format == kJpegFormatUyvy) {
    for (int k : {2, 4, 8}) {
      if (srcWidth == k * w && srcHeight == k * h) {
        decimate(placementFor(dst, stride, w, h, turn), w, h, source, srcWidth, k);
        return 1;
      }
    }
    if (work == nullptr) return 0;
  }
  // The general path divides by (size rounded down to even) - 1; a packed source also
  // needs whole macropixels.
  if (w < 2 || h < 2 || srcWidth < 2 || srcHeight < 2) return 0;
  if (format == kJpegFormatUyvy && (srcWidth & 1) != 0) return 0;

  if (format == kJpegFormatUyvy) {
    const bool foldTurn = static_cast<int64_t>(srcWidth) * srcHeight < 131072;
    if (foldTurn) {
      const Planes planes = toPlanar(source, srcWidth, srcHeight, turn, work);
      const bool quarter = turn == 0 || turn == 2;
      const int ow = quarter ? h : w, oh = quarter ? w : h;
      scale(placementFor(dst, stride, ow, oh, 1), ow, oh, planes);
    } else {
      const Planes planes = toPlanar(source, srcWidth, srcHeight, 1, work);
      scale(placementFor(dst, stride, w, h, turn), w, h, planes);
    }
    return 1;
  }
  const ptrdiff_t lumaBytes = static_cast<ptrdiff_t>(srcWidth) * srcHeight;
  const uint8_t* first = source + lumaBytes;
  const uint8_t* second = first + static_cast<ptrdiff_t>(srcWidth / 2) * (srcHeight / 2);
  Planes planes{source, first, second, srcWidth, srcHeight};
  if (format == kJpegFormatPlanarCrCb) {
    planes.cb = second;
    planes.cr = first;
  }
  scale(placementFor(dst, stride, w, h, turn), w, h, planes);
  return 1;
}

}  // namespace jpegpress
