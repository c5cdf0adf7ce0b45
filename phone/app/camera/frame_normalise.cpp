#include "camera/frame_normalise.h"

#include <algorithm>
#include <cstring>

namespace camera {
namespace {

using namespace sources;

void flipRows(uint8_t* plane, size_t rowBytes, size_t rows) {
  for (size_t top = 0, bottom = rows - 1; top < bottom; ++top, --bottom)
    std::swap_ranges(plane + top * rowBytes, plane + (top + 1) * rowBytes, plane + bottom * rowBytes);
}

bool isYuv(uint32_t format) {
  return format == kFormatYv12 || format == kFormatNv12 || format == kFormatYv16 ||
         format == kFormatUyvy || format == kFormatIyuv;
}

}  // namespace

size_t pictureBytes(uint32_t format, uint32_t w, uint32_t h) {
  const size_t pixels = static_cast<size_t>(w) * h;
  switch (format) {
    case kFormatYv12:
    case kFormatNv12:
    case kFormatIyuv:
      return pixels * 3 / 2;
    case kFormatYv16:
    case kFormatUyvy:
    case kFormatRgb565:
    case kFormatRgb555:
      return pixels * 2;
    case kFormatRgb24:
      return pixels * 3;
    default:
      return 0;
  }
}

bool normaliseFrame(FrameDescriptor& frame, bool swap, bool flip, uint8_t* scratch) {
  const size_t w = frame.width, h = frame.height;
  const size_t luma = w * h;
  uint8_t* data = frame.data;

  // 1. A complete JPEG picture in a raw mode.
  if (frame.sizeBytes < luma && frame.sizeBytes >= 4 && data[0] == 0xFF && data[1] == 0xD8 &&
      data[2] == 0xFF && data[3] == 0xE0) {
    frame.format = kFormatJpeg;
    return true;
  }
  if (frame.format == kFormatJpeg) return true;

  const size_t need = pictureBytes(frame.format, frame.width, frame.height);
  if (need == 0) return true;  // unknown layout: passed on as it is
  if (w == 0 || h == 0 || frame.sizeBytes < need) return false;
  if (isYuv(frame.format) && ((w | h) & 1)) return false;

  // 2. Planar 4:2:2 to 4:2:0: every second chroma row, planes packed behind the luma.
  if (frame.format == kFormatYv16) {
    const size_t cw = w / 2, rows = h / 2;
    const size_t step = w & ~static_cast<size_t>(1);
    const uint8_t* u = data + luma;
    const uint8_t* v = u + cw * h;
    uint8_t* out = data + luma;
    for (size_t i = 0; i < rows; ++i) std::memmove(out + i * cw, u + i * step, cw);
    out += cw * rows;
    for (size_t i = 0; i < rows; ++i) std::memmove(out + i * cw, v + i * step, cw);
    frame.sizeBytes = static_cast<uint32_t>(luma * 3 / 2);
    frame.format = kFormatYv12;
  }

  // 3. Interleaved chroma to two planes; the second of each pair waits in the scratch.
  if (frame.format == kFormatNv12) {
    const size_t quarter = luma / 4;
    uint8_t* chroma = data + luma;
    for (size_t i = 0; i < quarter; ++i) {
      const uint8_t first = chroma[2 * i];
      scratch[i] = chroma[2 * i + 1];
      chroma[i] = first;
    }
    std::memcpy(chroma + quarter, scratch, quarter);
    frame.sizeBytes = static_cast<uint32_t>(luma * 3 / 2);
    frame.format = kFormatYv12;
  }

  // 4. Colour-plane order.
  if (swap && frame.format == kFormatUyvy) {
    for (size_t i = 0; i + 4 <= need; i += 4) {
      std::swap(data[i], data[i + 2]);
      std::swap(data[i + 1], data[i + 3]);
    }
  } else if (!swap && frame.format == kFormatYv12) {
    const size_t quarter = luma / 4;
    std::swap_ranges(data + luma, data + luma + quarter, data + luma + quarter);
  }

  // 5. Upside down.
  if (flip) {
    switch (frame.format) {
      case kFormatYv12:
        flipRows(data, w, h);
        flipRows(data + luma, w / 2, h / 2);
        flipRows(data + luma + luma / 4, w / 2, h / 2);
        break;
      case kFormatUyvy:
      case kFormatRgb565:
      case kFormatRgb555:
        flipRows(data, w * 2, h);
        break;
      case kFormatRgb24:
        flipRows(data, w * 3, h);
        break;
      default:
        break;
    }
  }
  return true;
}

}  // namespace camera
