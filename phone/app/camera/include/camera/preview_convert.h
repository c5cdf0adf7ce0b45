#pragma once

// Conversion of a normalised camera frame into the program's 16-bit RGB 5-6-5 preview
// bitmap: the picture is fitted with one 16.16 step for both axes (proportions kept), centred
// (across on a multiple of 4, down on a multiple of 8), turned for the rotation, and the
// bitmap is cleared first whenever margins would show. jpegpress's ConvertPreview is tried
// first; the program's own nearest-neighbour conversion is the fallback.
//
// Threading: runs on the producer's thread; no state.
//
// PreviewConvert keeps the name the device program's preview path knows it by.

#include <cstdint>

#include "jpegpress/jpeg_encoder_table.h"
#include "sources/capture_source.h"

namespace camera {

struct PreviewBitmap {
  uint16_t* pixels = nullptr;  // first row at the top
  uint32_t width = 0;
  uint32_t height = 0;
  uint32_t strideBytes = 0;    // from one row to the next
};

// Where the fitted picture lands in the bitmap, before turning (width x height of the
// scaled picture) and in the bitmap (x, y of its top-left corner).
struct PreviewPlacement {
  uint32_t width = 0, height = 0;  // scaled picture, unturned
  uint32_t x = 0, y = 0;           // in the bitmap
  uint32_t step = 0;               // 16.16 source pixels per output pixel
  bool clear = false;              // the bitmap is cleared first
};

// The placement for a frame of w x h at `rotation` (0..3, 1 = a quarter turn
// counter-clockwise). False when a size is 0.
bool placePreview(const PreviewBitmap& bitmap, uint32_t w, uint32_t h, uint32_t rotation,
                  PreviewPlacement* placement);

// Converts `frame` ("YV12", "UYVY", RGB 5-6-5 or 8-8-8) into the bitmap. `scratch` is a
// work area of w x h x 2 bytes (the output buffer). `jpegpress` may be null. False for
// "IJPG" frames and layouts neither converter handles.
bool PreviewConvert(const PreviewBitmap& bitmap, const sources::FrameDescriptor& frame,
                    uint32_t rotation, uint8_t* scratch, const JpegEncoderTable* jpegpress);

}  // namespace camera
