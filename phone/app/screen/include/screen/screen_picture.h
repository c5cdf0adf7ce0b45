#pragma once

// The screen source's work on one picture of the screen: the change test and the
// conversion to the pipeline's RGB 5-6-5.

#include <cstdint>

#include "platform/screen.h"

namespace screen {

// The 32-bit word sum of the picture: its visible bytes (width x bytes per pixel of each
// row, rows one after the other, padding left out) read as little-endian 32-bit words and
// added modulo 2^32; a last partial word counts with zero bytes behind it. The picture is
// taken as changed when this sum differs from the sum of the last picture delivered.
uint32_t wordSum(const platform::ScreenImage& image);

// Writes the picture as width x height RGB 5-6-5 pixels (little-endian 16-bit words) to
// `out`. Each colour keeps its top bits (5, 6 and 5). False, writing nothing, when the
// layout is unusable (a pixel size other than 16, 24 or 32 bits, a colour mask that is
// empty or wider than 16 bits).
bool convertToRgb565(const platform::ScreenImage& image, uint16_t* out);

// Where a tap lands on the screen. `argument` is the tap command's point in the picture
// sent to the PC (x in the low 16 bits, y in the high 16 bits, each 0..65535 across the
// picture); the picture was the screen turned by `rotation` quarter turns (0..3, the
// encoder's turn) after its rows were turned upside down when `flipped`. Gives the pixel
// of a `width` x `height` screen.
void mapTap(uint32_t argument, uint32_t width, uint32_t height, uint32_t rotation, bool flipped,
            uint32_t& x, uint32_t& y);

}  // namespace screen
