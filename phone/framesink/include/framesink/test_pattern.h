#pragma once

// The built-in test-pattern camera's picture: moving colour bars, the running frame
// number and a time stamp written in digits, and both numbers once more as a stamp of
// blocks that a program can read back, even after JPEG compression and scaling.
//
// The stamp: the top 5/24 of the picture is 5 rows of 16 cells (each cell width/16 by
// height/24 pixels). Row 0 holds bits 31..16 of the frame number, row 1 bits 15..0, rows
// 2 and 3 the time stamp (milliseconds of the system tick) the same way, row 4 the low 16
// bits of (frame number XOR time stamp XOR 0x5A5A) as a check. A set bit is a white cell
// (luma 235), a clear bit a black one (luma 16); the most significant bit is at the left.
//
// Threading: plain functions over caller memory.

#include <cstdint>
#include <functional>

namespace framesink {

struct TestPatternStamp {
  uint32_t frameNumber = 0;
  uint32_t timestampMs = 0;
};

// Sizes the test-pattern camera offers: every size in "UYVY", then every size in
// "YV12" (luma, V, U).
inline constexpr uint32_t kTestPatternSizes[][2] = {
    {160, 120}, {176, 144}, {320, 240}, {640, 480}, {1280, 960}};

// The brightness control of the test-pattern camera (picture property 0).
inline constexpr int32_t kTestPatternBrightnessMin = 0;
inline constexpr int32_t kTestPatternBrightnessMax = 8;
inline constexpr int32_t kTestPatternBrightnessDefault = 4;

// Draws one picture of `width` x `height` (both even) in "UYVY" or "YV12" into `out`
// (width x height x 2 or x 3/2 bytes). `brightness` shifts the luma of everything but the
// stamp. False for another format or an odd size.
bool renderTestPattern(uint8_t* out, uint32_t width, uint32_t height, uint32_t format,
                       const TestPatternStamp& stamp, int32_t brightness);

// Reads the stamp back from a picture whose luma at (x, y) `luma` returns. False when the
// check row does not match (not a test pattern, or damaged).
bool readTestPatternStamp(uint32_t width, uint32_t height,
                          const std::function<uint8_t(uint32_t x, uint32_t y)>& luma,
                          TestPatternStamp& out);

// The same for a "UYVY", "YV12" or "IYUV" picture in memory.
bool readTestPatternStamp(const uint8_t* data, uint32_t sizeBytes, uint32_t width, uint32_t height,
                          uint32_t format, TestPatternStamp& out);

}  // namespace framesink
