#pragma once

// Normalisation of a raw camera picture, in place, before preview and compression:
//  1. a picture smaller than width x height bytes that begins FF D8 FF E0 is "IJPG";
//  2. "YV16" becomes "YV12" (every second chroma row kept);
//  3. "NV12" becomes "YV12" (the interleaved chroma split into two planes);
//  4. swap: "UYVY" with swap set exchanges the 16-bit halves of every 32-bit word;
//     "YV12" with swap clear exchanges its two chroma planes;
//  5. flip: the picture is turned upside down by swapping whole rows.
// Inside the program "YV12" is luma, then U, then V.

#include <cstddef>
#include <cstdint>

#include "sources/capture_source.h"

namespace camera {

// Bytes a picture of `format` and size w x h occupies; 0 for formats without a fixed size
// ("IJPG") or unknown ones.
size_t pictureBytes(uint32_t format, uint32_t w, uint32_t h);

// Normalises `frame` in place; `scratch` holds at least w x h / 4 bytes (the output
// buffer). False when the picture cannot be worked on: fewer bytes than its format and
// size need, or an odd or zero size for a planar or packed YUV layout. An unknown format
// passes through untouched.
bool normaliseFrame(sources::FrameDescriptor& frame, bool swap, bool flip, uint8_t* scratch);

}  // namespace camera
