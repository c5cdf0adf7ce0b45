#pragma once

// Repacking of normalised camera pictures for the system encoder. The system encoder
// object only accepts planar pictures in the program's "YV12" layout (luma plane, then U,
// then V, each chroma plane a quarter of the luma plane), already turned; these routines
// make them. They give the same orientation as jpegpress's EncodeFrame for the same
// rotation value, so both encoders produce the same picture.
//
// Rotation r: 0 none; 1 a quarter turn counter-clockwise (pixel (x, y) goes to
// (y, w - 1 - x)); 2 a half turn; 3 a quarter turn clockwise (pixel (x, y) goes to
// (h - 1 - y, x)). An odd rotation gives a picture h pixels wide and w pixels high.
//
// Camera modes have sizes that are multiples of 16; the routines accept any even width
// and height and refuse (false, nothing written) odd or zero sizes and rotations above 3.
// Each makes one pass over the picture and allocates nothing. Thread-safe (no state).
//
// RgbToUyvy, UyvyToPlanar and TurnPlanar keep the names the device program's picture
// pipeline knows them by.

#include <cstddef>
#include <cstdint>

namespace camera {

// Converts an RGB picture in place into "UYVY". `size` is the "UYVY" size (w x h x 2
// bytes, rounded down to whole 32-bit words); `bits` is 24 (bytes B, G, R), 16 (RGB
// 5-6-5) or 15 (RGB 5-5-5) in little-endian 16-bit pixels. False for other `bits`.
bool RgbToUyvy(uint8_t* picture, size_t size, uint32_t bits);

// Writes the "YV12" picture `source` (w x h) turned by r into `destination`, which must
// hold w x h x 3 / 2 bytes and must not overlap the source. r = 0 copies.
bool TurnPlanar(uint8_t* destination, const uint8_t* source, uint32_t w, uint32_t h,
                uint32_t r);

// Writes the "UYVY" picture `source` (w x h) turned by r into `destination` as "YV12"
// (w x h x 3 / 2 bytes, no overlap). The chroma of each row pair is the rounded mean
// (a + b + 1) >> 1 of the two rows.
bool UyvyToPlanar(uint8_t* destination, const uint8_t* source, uint32_t w, uint32_t h,
                  uint32_t r);

}  // namespace camera
