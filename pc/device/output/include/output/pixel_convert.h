#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>

#include "decoder/render_geometry.h"

namespace output {

// The picture layouts the Linux outputs hand to programs. All are top-down.
enum class PixelFormat {
  kBgr,   // 3 bytes: blue, green, red (the rendered picture's own bytes)
  kRgb,   // 3 bytes: red, green, blue
  kBgrx,  // 4 bytes: blue, green, red, 255
  kRgbx,  // 4 bytes: red, green, blue, 255
  kYuy2,  // 4 bytes per 2 pixels: Y0 U Y1 V (BT.601, limited range)
  kI420,  // planes Y, U, V; chroma halved both ways
};

const char* pixelFormatName(PixelFormat format);

// The byte order the decoder writes a picture of this format in straight (its rows in
// layoutFor's stride), with the same bytes as a rendered picture converted by
// convertPicture; none for the YUV formats.
std::optional<decoder::PixelOrder> straightOrder(PixelFormat format);

// The layout of one picture: bytes per row of the first plane and the whole size. Rows
// are padded to 4 bytes, chroma planes of I420 are (width + 1) / 2 wide (rows padded to 4)
// and (height + 1) / 2 high, stored after the luma plane (whose row count is rounded up
// to even): the layout GStreamer and V4L2
// assume when a buffer carries no plane offsets.
struct PictureLayout {
  size_t stride = 0;
  size_t chromaStride = 0;  // I420 only
  size_t size = 0;
};
PictureLayout layoutFor(PixelFormat format, uint32_t width, uint32_t height);

// One pass from a rendered picture (bottom-up 24-bit BGR, rows padded to 4 bytes, as the
// engine renders) to a top-down picture of the given format and the layout above. dst
// must hold layoutFor(...).size bytes.
void convertPicture(const uint8_t* bottomUpBgr, uint32_t width, uint32_t height,
                    PixelFormat format, uint8_t* dst);
// The same; with allowSimd false, without the processor's own row kernels (for
// comparing the two).
void convertPictureWith(const uint8_t* bottomUpBgr, uint32_t width, uint32_t height,
                        PixelFormat format, uint8_t* dst, bool allowSimd);

}  // namespace output
