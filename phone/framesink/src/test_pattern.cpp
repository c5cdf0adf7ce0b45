#include "framesink/test_pattern.h"

#include <algorithm>
#include <string>

#include "formats.h"

namespace framesink {
namespace {

constexpr uint32_t kStampColumns = 16;
constexpr uint32_t kStampRows = 5;
constexpr uint32_t kCellHeightDivisor = 24;
constexpr uint16_t kCheckMask = 0x5A5A;

struct Yuv {
  uint8_t y, u, v;
};

// White, yellow, cyan, green, magenta, red, blue, black at 75 %.
constexpr Yuv kBars[8] = {{180, 128, 128}, {162, 44, 142}, {131, 156, 44}, {112, 72, 58},
                          {84, 184, 198},  {65, 100, 212}, {35, 212, 114}, {16, 128, 128}};

// 3 x 5 glyphs, one row of 3 bits per entry, most significant bit at the left.
constexpr uint8_t kDigits[10][5] = {
    {7, 5, 5, 5, 7}, {2, 6, 2, 2, 7}, {7, 1, 7, 4, 7}, {7, 1, 7, 1, 7}, {5, 5, 7, 1, 1},
    {7, 4, 7, 1, 7}, {7, 4, 7, 5, 7}, {7, 1, 1, 1, 1}, {7, 5, 7, 5, 7}, {7, 5, 7, 1, 7}};
constexpr uint8_t kLetterF[5] = {7, 4, 6, 4, 4};
constexpr uint8_t kLetterT[5] = {7, 2, 2, 2, 2};

const uint8_t* glyph(char c) {
  if (c >= '0' && c <= '9') return kDigits[c - '0'];
  if (c == 'F') return kLetterF;
  if (c == 'T') return kLetterT;
  return nullptr;
}

uint16_t stampRow(const TestPatternStamp& s, uint32_t row) {
  switch (row) {
    case 0: return static_cast<uint16_t>(s.frameNumber >> 16);
    case 1: return static_cast<uint16_t>(s.frameNumber);
    case 2: return static_cast<uint16_t>(s.timestampMs >> 16);
    case 3: return static_cast<uint16_t>(s.timestampMs);
    default: return static_cast<uint16_t>((s.frameNumber ^ s.timestampMs ^ kCheckMask) & 0xFFFF);
  }
}

class Painter {
 public:
  Painter(uint32_t width, uint32_t height, const TestPatternStamp& stamp, int32_t brightness)
      : h_(height), stamp_(stamp),
        cellW_(std::max<uint32_t>(width / kStampColumns, 1)),
        cellH_(std::max<uint32_t>(height / kCellHeightDivisor, 1)),
        barW_(std::max<uint32_t>(width / 8, 1)),
        scale_(std::max<uint32_t>(height / 60, 1)),
        shift_((std::clamp(brightness, kTestPatternBrightnessMin, kTestPatternBrightnessMax) -
                kTestPatternBrightnessDefault) * 16) {
    lines_[0] = "F" + std::to_string(stamp.frameNumber);
    lines_[1] = "T" + std::to_string(stamp.timestampMs);
    const size_t chars = std::max(lines_[0].size(), lines_[1].size());
    boxW_ = static_cast<uint32_t>((chars * 4 + 1) * scale_);
    boxH_ = 13 * scale_;
    boxX_ = 2 * scale_;
    boxY_ = h_ > boxH_ + 2 * scale_ ? h_ - boxH_ - 2 * scale_ : 0;
  }

  Yuv at(uint32_t x, uint32_t y) const {
    if (y < kStampRows * cellH_) {
      const uint32_t col = x / cellW_;
      if (col >= kStampColumns) return {16, 128, 128};
      const bool bit = (stampRow(stamp_, y / cellH_) >> (kStampColumns - 1 - col)) & 1;
      return {static_cast<uint8_t>(bit ? 235 : 16), 128, 128};
    }
    if (x >= boxX_ && x < boxX_ + boxW_ && y >= boxY_ && y < boxY_ + boxH_) {
      const uint32_t lx = (x - boxX_) / scale_;
      const uint32_t ly = (y - boxY_) / scale_;
      if (lx >= 1 && ly >= 1) {
        const uint32_t line = (ly - 1) / 6, row = (ly - 1) % 6;
        const uint32_t ch = (lx - 1) / 4, col = (lx - 1) % 4;
        if (line < 2 && row < 5 && col < 3 && ch < lines_[line].size()) {
          const uint8_t* g = glyph(lines_[line][ch]);
          if (g && ((g[row] >> (2 - col)) & 1)) return {235, 128, 128};
        }
      }
      return {16, 128, 128};
    }
    const uint32_t bar = ((x + stamp_.frameNumber * 4) / barW_) % 8;
    Yuv c = kBars[bar];
    c.y = static_cast<uint8_t>(std::clamp(int32_t{c.y} + shift_, 16, 235));
    return c;
  }

 private:
  uint32_t h_;
  TestPatternStamp stamp_;
  uint32_t cellW_, cellH_, barW_, scale_;
  int32_t shift_;
  std::string lines_[2];
  uint32_t boxX_ = 0, boxY_ = 0, boxW_ = 0, boxH_ = 0;
};

}  // namespace

bool renderTestPattern(uint8_t* out, uint32_t width, uint32_t height, uint32_t format,
                       const TestPatternStamp& stamp, int32_t brightness) {
  if (out == nullptr || width == 0 || height == 0 || width % 2 || height % 2) return false;
  const Painter painter(width, height, stamp, brightness);
  if (format == kFormatUyvy) {
    for (uint32_t y = 0; y < height; ++y) {
      uint8_t* row = out + size_t{y} * width * 2;
      for (uint32_t x = 0; x < width; x += 2) {
        const Yuv a = painter.at(x, y);
        const Yuv b = painter.at(x + 1, y);
        row[x * 2] = a.u;
        row[x * 2 + 1] = a.y;
        row[x * 2 + 2] = a.v;
        row[x * 2 + 3] = b.y;
      }
    }
    return true;
  }
  if (format == kFormatYv12) {
    uint8_t* luma = out;
    uint8_t* vPlane = out + size_t{width} * height;
    uint8_t* uPlane = vPlane + size_t{width / 2} * (height / 2);
    for (uint32_t y = 0; y < height; ++y) {
      for (uint32_t x = 0; x < width; ++x) {
        const Yuv c = painter.at(x, y);
        luma[size_t{y} * width + x] = c.y;
        if ((x | y) % 2 == 0) {
          const size_t i = size_t{y / 2} * (width / 2) + x / 2;
          uPlane[i] = c.u;
          vPlane[i] = c.v;
        }
      }
    }
    return true;
  }
  return false;
}

bool readTestPatternStamp(uint32_t width, uint32_t height,
                          const std::function<uint8_t(uint32_t x, uint32_t y)>& luma,
                          TestPatternStamp& out) {
  if (width < kStampColumns || height < kCellHeightDivisor) return false;
  const uint32_t cellW = width / kStampColumns;
  const uint32_t cellH = height / kCellHeightDivisor;
  uint16_t rows[kStampRows] = {};
  for (uint32_t r = 0; r < kStampRows; ++r) {
    for (uint32_t c = 0; c < kStampColumns; ++c) {
      const uint32_t cx = c * cellW + cellW / 2, cy = r * cellH + cellH / 2;
      const uint32_t dx = cellW / 4, dy = cellH / 4;
      const uint32_t sum = luma(cx, cy) + luma(cx - dx, cy) + luma(cx + dx, cy) + luma(cx, cy - dy) +
                           luma(cx, cy + dy);
      rows[r] = static_cast<uint16_t>(rows[r] << 1 | (sum > 5 * 125 ? 1 : 0));
    }
  }
  TestPatternStamp s;
  s.frameNumber = uint32_t{rows[0]} << 16 | rows[1];
  s.timestampMs = uint32_t{rows[2]} << 16 | rows[3];
  if (rows[4] != stampRow(s, 4)) return false;
  out = s;
  return true;
}

bool readTestPatternStamp(const uint8_t* data, uint32_t sizeBytes, uint32_t width, uint32_t height,
                          uint32_t format, TestPatternStamp& out) {
  if (data == nullptr) return false;
  if (format == kFormatUyvy) {
    if (uint64_t{width} * height * 2 > sizeBytes) return false;
    return readTestPatternStamp(width, height,
                                [&](uint32_t x, uint32_t y) { return data[(size_t{y} * width + x) * 2 + 1]; }, out);
  }
  if (format == kFormatYv12 || format == kFormatIyuv) {
    if (uint64_t{width} * height > sizeBytes) return false;
    return readTestPatternStamp(width, height,
                                [&](uint32_t x, uint32_t y) { return data[size_t{y} * width + x]; }, out);
  }
  return false;
}

}  // namespace framesink
