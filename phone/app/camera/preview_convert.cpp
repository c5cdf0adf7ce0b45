#include "camera/preview_convert.h"

#include <algorithm>
#include <cstring>

#include "camera/frame_normalise.h"

namespace camera {
namespace {

using namespace sources;

inline int32_t clamp255(int32_t v) { return v < 0 ? 0 : (v > 255 ? 255 : v); }

inline uint16_t yuvTo565(int32_t y, int32_t u, int32_t v) {
  u -= 128;
  v -= 128;
  const int32_t r = clamp255(y + v + ((v * 103) >> 8));
  const int32_t g = clamp255(y - ((u * 88 + v * 183) >> 8));
  const int32_t b = clamp255(y + u + ((u * 197) >> 8));
  return static_cast<uint16_t>(((r & 0xF8) << 8) | ((g & 0xFC) << 3) | (b >> 3));
}

uint32_t previewFormatCode(uint32_t format) {
  switch (format) {
    case kFormatUyvy: return kJpegFormatUyvy;
    case kFormatRgb555: return kJpegFormatRgb555;
    case kFormatRgb565: return kJpegFormatRgb565;
    case kFormatRgb24: return kJpegFormatBgr24;
    case kFormatIyuv: return kJpegFormatPlanarCrCb;
    default: return kJpegFormatPlanar;
  }
}

}  // namespace

bool placePreview(const PreviewBitmap& bitmap, uint32_t w, uint32_t h, uint32_t rotation,
                  PreviewPlacement* out) {
  if (w == 0 || h == 0 || bitmap.width == 0 || bitmap.height == 0) return false;
  const bool quarter = (rotation & 1) != 0;
  // The box the unturned picture must fit.
  const uint64_t boxW = quarter ? bitmap.height : bitmap.width;
  const uint64_t boxH = quarter ? bitmap.width : bitmap.height;
  const uint64_t stepX = (uint64_t{w} << 16) / boxW;
  const uint64_t stepY = (uint64_t{h} << 16) / boxH;
  PreviewPlacement p;
  uint64_t fw, fh;
  if (stepX >= stepY) {
    p.step = static_cast<uint32_t>(stepX);
    fw = boxW;
    fh = stepX ? std::min<uint64_t>(boxH, (uint64_t{h} << 16) / stepX) : boxH;
  } else {
    p.step = static_cast<uint32_t>(stepY);
    fh = boxH;
    fw = stepY ? std::min<uint64_t>(boxW, ((uint64_t{w} << 16) / stepY) & ~uint64_t{3}) : boxW;
  }
  if (fw == 0 || fh == 0 || p.step == 0) return false;
  p.width = static_cast<uint32_t>(fw);
  p.height = static_cast<uint32_t>(fh);
  const uint32_t shownW = quarter ? p.height : p.width;
  const uint32_t shownH = quarter ? p.width : p.height;
  const uint32_t marginW = bitmap.width - shownW, marginH = bitmap.height - shownH;
  p.x = (marginW / 2) & ~3u;
  p.y = (marginH / 2) & ~7u;
  p.clear = marginW > 3 || marginH > 7 || stepX != stepY;
  *out = p;
  return true;
}

bool PreviewConvert(const PreviewBitmap& bitmap, const FrameDescriptor& frame, uint32_t rotation,
                    uint8_t* scratch, const JpegEncoderTable* jpegpress) {
  if (frame.format == kFormatJpeg || !frame.data || !bitmap.pixels) return false;
  rotation &= 3;
  PreviewPlacement p;
  if (!placePreview(bitmap, frame.width, frame.height, rotation, &p)) return false;
  const size_t need = pictureBytes(frame.format, frame.width, frame.height);
  if (need != 0 && frame.sizeBytes < need) return false;
  const bool fallbackFormat = frame.format == kFormatYv12 || frame.format == kFormatUyvy ||
                              frame.format == kFormatRgb565 || frame.format == kFormatRgb24;

  // The turn code of ConvertPreview: 0 counter-clockwise, 1 none, 2 clockwise, 3 half.
  const uint32_t turn = (1 - rotation) & 3;
  const size_t strideWords = bitmap.strideBytes / 2;
  uint16_t* origin = bitmap.pixels + p.y * strideWords + p.x;
  const auto clearBitmap = [&] {
    for (uint32_t row = 0; row < bitmap.height; ++row)
      std::memset(bitmap.pixels + row * strideWords, 0, size_t{bitmap.width} * 2);
  };

  if (jpegpress && jpegpress->ConvertPreview) {
    if (p.clear) clearBitmap();
    if (jpegpress->ConvertPreview(origin, static_cast<int32_t>(p.width), static_cast<int32_t>(p.height),
                                  static_cast<int32_t>(bitmap.strideBytes), frame.data,
                                  static_cast<int32_t>(frame.width), static_cast<int32_t>(frame.height),
                                  previewFormatCode(frame.format), turn, scratch))
      return true;
  }
  if (!fallbackFormat) return false;
  if (p.clear) clearBitmap();

  const uint32_t w = frame.width, h = frame.height;
  const uint8_t* data = frame.data;
  const size_t luma = size_t{w} * h;
  for (uint32_t y = 0; y < p.height; ++y) {
    const uint32_t sy = std::min<uint32_t>(h - 1, static_cast<uint32_t>((uint64_t{y} * p.step) >> 16));
    for (uint32_t x = 0; x < p.width; ++x) {
      const uint32_t sx = std::min<uint32_t>(w - 1, static_cast<uint32_t>((uint64_t{x} * p.step) >> 16));
      uint16_t pixel;
      switch (frame.format) {
        case kFormatYv12: {
          const size_t c = size_t{sy / 2} * (w / 2) + sx / 2;
          pixel = yuvTo565(data[size_t{sy} * w + sx], data[luma + c], data[luma + luma / 4 + c]);
          break;
        }
        case kFormatUyvy: {
          const uint8_t* word = data + size_t{sy} * w * 2 + (sx & ~1u) * 2;
          pixel = yuvTo565(word[1 + (sx & 1) * 2], word[0], word[2]);
          break;
        }
        case kFormatRgb565: {
          const uint8_t* px = data + (size_t{sy} * w + sx) * 2;
          pixel = static_cast<uint16_t>(px[0] | (px[1] << 8));
          break;
        }
        default: {  // RGB 8-8-8, bytes B, G, R
          const uint8_t* px = data + (size_t{sy} * w + sx) * 3;
          pixel = static_cast<uint16_t>(((px[2] & 0xF8) << 8) | ((px[1] & 0xFC) << 3) | (px[0] >> 3));
          break;
        }
      }
      // Where the rotation puts pixel (x, y) of the scaled picture.
      uint32_t col, row;
      switch (rotation) {
        case 0: col = x; row = y; break;
        case 1: col = y; row = p.width - 1 - x; break;
        case 2: col = p.width - 1 - x; row = p.height - 1 - y; break;
        default: col = p.height - 1 - y; row = x; break;
      }
      origin[row * strideWords + col] = pixel;
    }
  }
  return true;
}

}  // namespace camera
