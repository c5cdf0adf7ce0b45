#include "output/pixel_convert.h"

#include <cstring>

#include "output/media_type.h"
#include "pixel_convert_kernels.h"

namespace output {
namespace {

constexpr size_t align4(size_t n) { return (n + 3) & ~size_t{3}; }

inline uint8_t luma(int r, int g, int b) {
  return static_cast<uint8_t>(((66 * r + 129 * g + 25 * b + 128) >> 8) + 16);
}
inline uint8_t chromaU(int r, int g, int b) {
  return static_cast<uint8_t>(((-38 * r - 74 * g + 112 * b + 128) >> 8) + 128);
}
inline uint8_t chromaV(int r, int g, int b) {
  return static_cast<uint8_t>(((112 * r - 94 * g - 18 * b + 128) >> 8) + 128);
}

// Row y of the picture counted from the top.
inline const uint8_t* sourceRow(const uint8_t* src, uint32_t width, uint32_t height, uint32_t y) {
  return src + size_t{rowSize(width)} * (height - 1 - y);
}

bool useSsse3(bool allowed) {
#if defined(VISTREL_OUTPUT_SSSE3)
  static const bool has = __builtin_cpu_supports("ssse3");
  return allowed && has;
#else
  (void)allowed;
  return false;
#endif
}

void packed4(const uint8_t* in, uint32_t width, uint8_t* out, bool swap, bool simd) {
  uint32_t x = 0;
#if defined(VISTREL_OUTPUT_SSSE3)
  if (simd) x = kernels::packed4RowSsse3(in, width, out, swap);
#else
  (void)simd;
#endif
  in += size_t{x} * 3;
  out += size_t{x} * 4;
  for (; x < width; ++x, in += 3, out += 4) {
    out[0] = swap ? in[2] : in[0];
    out[1] = in[1];
    out[2] = swap ? in[0] : in[2];
    out[3] = 255;
  }
}

void yuy2Row(const uint8_t* in, uint32_t width, uint8_t* out, bool simd) {
  uint32_t x = 0;
#if defined(VISTREL_OUTPUT_SSSE3)
  if (simd) x = kernels::yuy2RowSsse3(in, width, out);
#else
  (void)simd;
#endif
  out += size_t{x} * 2;
  for (; x < width; x += 2, out += 4) {
    const uint8_t* p0 = in + size_t{x} * 3;
    const uint8_t* p1 = x + 1 < width ? p0 + 3 : p0;
    const int r = (p0[2] + p1[2] + 1) >> 1, g = (p0[1] + p1[1] + 1) >> 1,
              b = (p0[0] + p1[0] + 1) >> 1;
    out[0] = luma(p0[2], p0[1], p0[0]);
    out[1] = chromaU(r, g, b);
    out[2] = luma(p1[2], p1[1], p1[0]);
    out[3] = chromaV(r, g, b);
  }
}

}  // namespace

const char* pixelFormatName(PixelFormat format) {
  switch (format) {
    case PixelFormat::kBgr: return "BGR";
    case PixelFormat::kRgb: return "RGB";
    case PixelFormat::kBgrx: return "BGRx";
    case PixelFormat::kRgbx: return "RGBx";
    case PixelFormat::kYuy2: return "YUY2";
    case PixelFormat::kI420: return "I420";
  }
  return "?";
}

std::optional<decoder::PixelOrder> straightOrder(PixelFormat format) {
  switch (format) {
    case PixelFormat::kBgr: return decoder::PixelOrder::kBgr;
    case PixelFormat::kRgb: return decoder::PixelOrder::kRgb;
    case PixelFormat::kBgrx: return decoder::PixelOrder::kBgrx;
    case PixelFormat::kRgbx: return decoder::PixelOrder::kRgbx;
    case PixelFormat::kYuy2:
    case PixelFormat::kI420: break;
  }
  return std::nullopt;
}

PictureLayout layoutFor(PixelFormat format, uint32_t width, uint32_t height) {
  PictureLayout l;
  switch (format) {
    case PixelFormat::kBgr:
    case PixelFormat::kRgb:
      l.stride = align4(size_t{width} * 3);
      l.size = l.stride * height;
      break;
    case PixelFormat::kBgrx:
    case PixelFormat::kRgbx:
      l.stride = size_t{width} * 4;
      l.size = l.stride * height;
      break;
    case PixelFormat::kYuy2:
      l.stride = align4(size_t{(width + 1) / 2} * 4);
      l.size = l.stride * height;
      break;
    case PixelFormat::kI420:
      l.stride = align4(width);
      l.chromaStride = align4((width + 1) / 2);
      l.size = l.stride * (height + (height & 1)) + 2 * l.chromaStride * ((height + 1) / 2);
      break;
  }
  return l;
}

void convertPicture(const uint8_t* src, uint32_t width, uint32_t height, PixelFormat format,
                    uint8_t* dst) {
  convertPictureWith(src, width, height, format, dst, true);
}

void convertPictureWith(const uint8_t* src, uint32_t width, uint32_t height, PixelFormat format,
                        uint8_t* dst, bool allowSimd) {
  const bool simd = useSsse3(allowSimd);
  const PictureLayout l = layoutFor(format, width, height);
  if (format == PixelFormat::kI420) {
    uint8_t* yPlane = dst;
    uint8_t* uPlane = dst + l.stride * (height + (height & 1));
    uint8_t* vPlane = uPlane + l.chromaStride * ((height + 1) / 2);
    for (uint32_t y = 0; y < height; y += 2) {
      const uint8_t* r0 = sourceRow(src, width, height, y);
      const uint8_t* r1 = y + 1 < height ? sourceRow(src, width, height, y + 1) : r0;
      uint8_t* y0 = yPlane + l.stride * y;
      uint8_t* y1 = y + 1 < height ? y0 + l.stride : nullptr;
      uint8_t* u = uPlane + l.chromaStride * (y / 2);
      uint8_t* v = vPlane + l.chromaStride * (y / 2);
      for (uint32_t x = 0; x < width; ++x) {
        y0[x] = luma(r0[x * 3 + 2], r0[x * 3 + 1], r0[x * 3]);
        if (y1 != nullptr) y1[x] = luma(r1[x * 3 + 2], r1[x * 3 + 1], r1[x * 3]);
      }
      for (uint32_t x = 0; x < width; x += 2) {
        const uint32_t x1 = x + 1 < width ? x + 1 : x;
        int sum[3];
        for (int c = 0; c < 3; ++c) {
          sum[c] = (r0[x * 3 + c] + r0[x1 * 3 + c] + r1[x * 3 + c] + r1[x1 * 3 + c] + 2) >> 2;
        }
        u[x / 2] = chromaU(sum[2], sum[1], sum[0]);
        v[x / 2] = chromaV(sum[2], sum[1], sum[0]);
      }
    }
    return;
  }
  for (uint32_t y = 0; y < height; ++y) {
    const uint8_t* in = sourceRow(src, width, height, y);
    uint8_t* out = dst + l.stride * y;
    switch (format) {
      case PixelFormat::kBgr:
        std::memcpy(out, in, size_t{width} * 3);
        break;
      case PixelFormat::kRgb:
        for (uint32_t x = 0; x < width; ++x) {
          out[x * 3] = in[x * 3 + 2];
          out[x * 3 + 1] = in[x * 3 + 1];
          out[x * 3 + 2] = in[x * 3];
        }
        break;
      case PixelFormat::kBgrx: packed4(in, width, out, false, simd); break;
      case PixelFormat::kRgbx: packed4(in, width, out, true, simd); break;
      case PixelFormat::kYuy2: yuy2Row(in, width, out, simd); break;
      case PixelFormat::kI420: break;
    }
  }
}

}  // namespace output
