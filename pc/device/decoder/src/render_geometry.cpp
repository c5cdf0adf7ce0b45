#include "decoder/render_geometry.h"

#include <atomic>
#include <algorithm>
#include <cstring>

namespace decoder {

FitGeometry computeFit(uint32_t w, uint32_t h, uint32_t rotation, uint32_t W, uint32_t H) {
  FitGeometry g;
  const bool turned = (rotation & 1) != 0;
  g.rotatedWidth = turned ? h : w;
  g.rotatedHeight = turned ? w : h;
  const uint64_t num = uint64_t{H} * g.rotatedWidth;  // q = num / den
  const uint64_t den = uint64_t{W} * g.rotatedHeight;
  // 0.98 <= q <= 1.02, in exact integer arithmetic.
  g.stretched = num * 50 >= den * 49 && num * 50 <= den * 51;
  g.fittedWidth = W;
  g.fittedHeight = H;
  if (!g.stretched && den != 0 && g.rotatedWidth != 0) {
    if (num < den) {
      g.fittedWidth = static_cast<uint32_t>(num / g.rotatedHeight);
      g.offsetX = (W - g.fittedWidth) / 2;
    } else {
      g.fittedHeight = static_cast<uint32_t>(uint64_t{W} * g.rotatedHeight / g.rotatedWidth);
      g.offsetY = (H - g.fittedHeight) / 2;
    }
  }
  g.targetX = turned ? g.fittedHeight : g.fittedWidth;
  g.targetY = turned ? g.fittedWidth : g.fittedHeight;
  return g;
}

namespace {

// The one rule behind both tables: `a` units arrive per entry and `count` units make one
// step on the other side; an entry that crosses a step boundary is split in two.
void buildWeights(uint32_t a, uint32_t count, int32_t full, uint32_t c, ResampleWeight* table) {
  uint64_t acc = 0;
  for (uint32_t i = 0; i < count; ++i) {
    const uint64_t e = acc + a;
    if (e > count) {
      table[i].w0 = static_cast<int32_t>((count - acc) * kWeightOne / c);
      table[i].w1 = static_cast<int32_t>((e - count) * kWeightOne / c);
      acc = e - count;
    } else {
      table[i].w0 = full;
      if (e == count) {
        table[i].w1 = -1;
        acc = 0;
      } else {
        table[i].w1 = 0;
        acc = e;
      }
    }
  }
}

}  // namespace

void buildReducingWeights(uint32_t nIn, uint32_t nOut, ResampleWeight* table) {
  buildWeights(nOut, nIn, static_cast<int32_t>(uint64_t{nOut} * kWeightOne / nIn), nIn, table);
}

void buildEnlargingWeights(uint32_t nIn, uint32_t nOut, ResampleWeight* table) {
  buildWeights(nIn, nOut, kWeightOne, nIn, table);
}

namespace {

constexpr uint8_t kBars[8][3] = {
    {255, 255, 255}, {255, 255, 0}, {0, 255, 255}, {0, 255, 0},
    {255, 0, 255},   {255, 0, 0},   {0, 0, 255},   {0, 0, 0},
};

std::atomic<uint32_t> gColourBarPhase{0};

}  // namespace

uint32_t nextColourBarPhase(uint32_t W) {
  if (W == 0) return 0;
  uint32_t old = gColourBarPhase.load(std::memory_order_relaxed);
  uint32_t use;
  do {
    use = old % W;
  } while (!gColourBarPhase.compare_exchange_weak(old, (use + 1) % W, std::memory_order_relaxed));
  return use;
}

bool drawColourBars(uint8_t* dst, size_t dstSize, uint32_t W, uint32_t H, uint32_t phase) {
  if (dst == nullptr || W == 0 || H == 0 || dstSize < imageSize(W, H)) return false;
  const size_t stride = imageStride(W);
  uint8_t* first = dst;
  for (uint32_t x = 0; x < W; ++x) {
    const uint64_t d = ((uint64_t{phase} + x) % W) * 8;
    const uint32_t k = static_cast<uint32_t>(d / W);
    const uint32_t k2 = (k + 1) % 8;
    const uint64_t f = d % W;
    for (int c = 0; c < 3; ++c) {
      // Stored blue, green, red.
      first[x * 3 + c] =
          static_cast<uint8_t>((f * kBars[k2][2 - c] + (W - f) * kBars[k][2 - c]) / W);
    }
  }
  for (uint32_t y = 1; y < H; ++y) std::memcpy(dst + y * stride, first, size_t{W} * 3);
  return true;
}

bool drawNoSignal(uint8_t* dst, size_t dstSize, uint32_t W, uint32_t H) {
  if (dst == nullptr || W == 0 || H == 0 || dstSize < imageSize(W, H)) return false;
  const size_t stride = imageStride(W);
  for (uint32_t y = 0; y < H; ++y) {
    uint8_t* row = dst + y * stride;
    for (size_t i = 0; i < size_t{W} * 3; ++i) row[i] = static_cast<uint8_t>(row[i] >> 1);
  }
  // 5 x 7 glyphs, one row per byte, the leftmost column in bit 4.
  struct Glyph {
    char c;
    uint8_t rows[7];
  };
  static constexpr Glyph kFont[] = {
      {'N', {0x11, 0x19, 0x15, 0x13, 0x11, 0x11, 0x11}},
      {'O', {0x0E, 0x11, 0x11, 0x11, 0x11, 0x11, 0x0E}},
      {'S', {0x0F, 0x10, 0x10, 0x0E, 0x01, 0x01, 0x1E}},
      {'I', {0x0E, 0x04, 0x04, 0x04, 0x04, 0x04, 0x0E}},
      {'G', {0x0E, 0x11, 0x10, 0x17, 0x11, 0x11, 0x0F}},
      {'A', {0x0E, 0x11, 0x11, 0x1F, 0x11, 0x11, 0x11}},
      {'L', {0x10, 0x10, 0x10, 0x10, 0x10, 0x10, 0x1F}},
  };
  static constexpr char kText[] = "NO SIGNAL";
  constexpr uint32_t kColumns = (sizeof kText - 1) * 6 - 1;
  const uint32_t scale = std::max<uint32_t>(1, W / 3 / kColumns);
  if (kColumns * scale > W || 7 * scale > H) return true;  // too small for words: dimmed only
  const uint32_t left = (W - kColumns * scale) / 2;
  const uint32_t top = (H - 7 * scale) / 2;
  for (size_t k = 0; k + 1 < sizeof kText; ++k) {
    const Glyph* glyph = nullptr;
    for (const Glyph& g : kFont) {
      if (g.c == kText[k]) glyph = &g;
    }
    if (glyph == nullptr) continue;  // the space
    for (uint32_t gy = 0; gy < 7 * scale; ++gy) {
      const uint8_t bits = glyph->rows[gy / scale];
      uint8_t* row = dst + size_t{H - 1 - (top + gy)} * stride;  // bottom-up rows
      for (uint32_t gx = 0; gx < 5 * scale; ++gx) {
        if ((bits >> (4 - gx / scale) & 1) == 0) continue;
        const size_t x = left + k * 6 * scale + gx;
        std::memset(row + x * 3, 0xFF, 3);
      }
    }
  }
  return true;
}

bool drawColourBars(uint8_t* dst, size_t dstSize, uint32_t W, uint32_t H) {
  if (dst == nullptr || W == 0 || H == 0 || dstSize < imageSize(W, H)) return false;
  return drawColourBars(dst, dstSize, W, H, nextColourBarPhase(W));
}

std::optional<PhonePoint> mapClick(uint32_t x, uint32_t y, uint32_t W, uint32_t H, uint32_t w,
                                   uint32_t h, uint32_t rotation, bool mirror) {
  if (rotation > 3) return std::nullopt;
  const bool turned = (rotation & 1) != 0;
  const int64_t rw = turned ? h : w;
  const int64_t rh = turned ? w : h;
  if (W == 0 || H == 0 || rw == 0 || rh == 0) return std::nullopt;
  int64_t px = x;
  int64_t py = y;
  if (rw * H < rh * W) {
    const int64_t W2 = rw * H / rh;
    if (W2 == 0) return std::nullopt;
    px = (px * W - (int64_t{W} - W2) * 32768) / W2;
  } else {
    const int64_t H2 = rh * W / rw;
    if (H2 == 0) return std::nullopt;
    py = (py * H - (int64_t{H} - H2) * 32768) / H2;
  }
  if (px < 0 || px > 65535 || py < 0 || py > 65535) return std::nullopt;
  if (mirror) px = 65535 - px;
  const uint32_t ux = static_cast<uint32_t>(px);
  const uint32_t uy = static_cast<uint32_t>(py);
  switch (rotation) {
    case 0:
      return PhonePoint{ux, uy};
    case 1:
      return PhonePoint{65535 - uy, ux};
    case 2:
      return PhonePoint{65535 - ux, 65535 - uy};
    default:
      return PhonePoint{uy, 65535 - ux};
  }
}

}  // namespace decoder
