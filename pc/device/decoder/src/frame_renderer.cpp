#include "decoder/frame_renderer.h"

#include <algorithm>
#include <cstring>
#include <utility>
#include <vector>

namespace decoder {

namespace {
constexpr ptrdiff_t kPixelBytes = 3;
}  // namespace

struct FrameRenderer::Buffers {
  // One JPEG row as it comes from the source (red, green, blue).
  std::vector<uint8_t> row = std::vector<uint8_t>(size_t{kMaxJpegRowPixels} * 3);
  std::vector<ResampleWeight> xWeights = std::vector<ResampleWeight>(kMaxResampleSide);
  std::vector<ResampleWeight> yWeights = std::vector<ResampleWeight>(kMaxResampleSide);
  // Rows of 32-bit sums, kMaxResampleSide pixels x 3 channels, plus one spare pixel.
  // Reducing rows: rows[0] is the horizontally resampled input row, rows[1] and rows[2]
  // the current and next accumulator rows. Enlarging rows: rows[1] and rows[2] hold the
  // current and next input rows, horizontally resampled.
  std::vector<uint32_t> rows[3] = {std::vector<uint32_t>((size_t{kMaxResampleSide} + 1) * 3),
                                   std::vector<uint32_t>((size_t{kMaxResampleSide} + 1) * 3),
                                   std::vector<uint32_t>((size_t{kMaxResampleSide} + 1) * 3)};
};

FrameRenderer::FrameRenderer() : buf_(std::make_unique<Buffers>()) {}
FrameRenderer::~FrameRenderer() = default;

bool FrameRenderer::prepare(uint32_t w, uint32_t h, uint8_t* dst, size_t dstSize, uint32_t W,
                            uint32_t H, uint32_t rotation, bool mirror) {
  prepared_ = false;
  if (dst == nullptr || w == 0 || h == 0 || W == 0 || H == 0 || rotation > 3) return false;
  if (w > kMaxResampleSide || h > kMaxResampleSide) return false;
  if (dstSize < ImageSize(W, H)) return false;
  const FitGeometry g = ComputeFit(w, h, rotation, W, H);
  if (g.targetX > kMaxResampleSide || g.targetY > kMaxResampleSide) return false;

  fit_ = g;
  inWidth_ = w;
  inHeight_ = h;
  dst_ = dst;
  dstBytes_ = ImageSize(W, H);
  // An axis is reduced when the picture has at least as many samples as the target along
  // it, enlarged otherwise. (With equal counts both rules give the same table.)
  reduceX_ = w >= g.targetX;
  reduceY_ = h >= g.targetY;
  if (g.targetX > 0) {
    if (reduceX_) BuildReducingWeights(w, g.targetX, buf_->xWeights.data());
    else BuildEnlargingWeights(w, g.targetX, buf_->xWeights.data());
  }
  if (g.targetY > 0) {
    if (reduceY_) BuildReducingWeights(h, g.targetY, buf_->yWeights.data());
    else BuildEnlargingWeights(h, g.targetY, buf_->yWeights.data());
  }

  // The first pixel written, the step between the pixels of a JPEG row and the step to the
  // next JPEG row, for each rotation; the top row is the last one in memory.
  const ptrdiff_t S = static_cast<ptrdiff_t>(ImageStride(W));
  const ptrdiff_t P = kPixelBytes;
  const ptrdiff_t top = (static_cast<ptrdiff_t>(H) - 1) * S;
  const ptrdiff_t right = (static_cast<ptrdiff_t>(W) - 1) * P;
  const ptrdiff_t ox = g.offsetX;
  const ptrdiff_t oy = g.offsetY;
  ptrdiff_t first = 0, step = 0, line = 0;
  switch (rotation) {
    case 0: first = top + right; step = -P; line = -S; first += oy * line + ox * step; break;
    case 1: first = top;         step = -S; line = +P; first += ox * line + oy * step; break;
    case 2: first = 0;           step = +P; line = +S; first += oy * line + ox * step; break;
    default: first = right;      step = +S; line = -P; first += ox * line + oy * step; break;
  }
  // A JPEG row is written from its last pixel to its first, so its pixel j lands at
  // first + (targetX - 1 - j) * step.
  const ptrdiff_t tx = g.targetX;
  const ptrdiff_t ty = g.targetY;
  base_ = first + (tx > 0 ? (tx - 1) * step : 0);
  pixelStep_ = -step;
  lineStep_ = line;
  if (mirror) {
    // Flip the shown picture left to right within the fitted area: whichever of the two
    // steps moves along a destination row is reversed.
    if (pixelStep_ == P || pixelStep_ == -P) {
      if (tx > 0) base_ += (tx - 1) * pixelStep_;
      pixelStep_ = -pixelStep_;
    } else {
      if (ty > 0) base_ += (ty - 1) * lineStep_;
      lineStep_ = -lineStep_;
    }
  }
  prepared_ = true;
  return true;
}

void FrameRenderer::writeRow(uint32_t line, const uint8_t* rgb) const {
  uint8_t* p = dst_ + base_ + static_cast<ptrdiff_t>(line) * lineStep_;
  const ptrdiff_t step = pixelStep_;
  for (uint32_t j = 0; j < fit_.targetX; ++j, rgb += 3, p += step) {
    p[0] = rgb[2];
    p[1] = rgb[1];
    p[2] = rgb[0];
  }
}

// Resamples one input row along x into targetX sums of (wx x value) per channel.
void FrameRenderer::horizontalPass(const uint8_t* in, uint32_t* out) const {
  const ResampleWeight* wt = buf_->xWeights.data();
  if (reduceX_) {
    std::memset(out, 0, (size_t{fit_.targetX} + 1) * 3 * sizeof(uint32_t));
    uint32_t* o = out;
    for (uint32_t i = 0; i < inWidth_; ++i, in += 3) {
      const uint32_t w0 = static_cast<uint32_t>(wt[i].w0);
      const int32_t w1 = wt[i].w1;
      o[0] += w0 * in[0];
      o[1] += w0 * in[1];
      o[2] += w0 * in[2];
      if (w1 != 0) {
        if (w1 > 0) {
          const uint32_t u1 = static_cast<uint32_t>(w1);
          o[3] += u1 * in[0];
          o[4] += u1 * in[1];
          o[5] += u1 * in[2];
        }
        o += 3;
      }
    }
  } else {
    const uint8_t* p = in;
    for (uint32_t j = 0; j < fit_.targetX; ++j, out += 3) {
      const uint32_t w0 = static_cast<uint32_t>(wt[j].w0);
      const int32_t w1 = wt[j].w1;
      uint32_t r = w0 * p[0], g = w0 * p[1], b = w0 * p[2];
      if (w1 != 0) {
        if (w1 > 0) {
          const uint32_t u1 = static_cast<uint32_t>(w1);
          r += u1 * p[3];
          g += u1 * p[4];
          b += u1 * p[5];
        }
        p += 3;
      }
      out[0] = r;
      out[1] = g;
      out[2] = b;
    }
  }
}

bool FrameRenderer::run(RowSource& source) {
  if (!prepared_) return false;
  prepared_ = false;
  if (!fit_.stretched) std::memset(dst_, 0, dstBytes_);
  if (fit_.targetX == 0 || fit_.targetY == 0) {
    // Nothing of the picture is visible; still consume it so that the source ends cleanly.
    for (uint32_t i = 0; i < inHeight_; ++i)
      if (!source.readRow(buf_->row.data())) return false;
    return true;
  }
  if (inWidth_ == fit_.targetX && inHeight_ == fit_.targetY) return runIdentity(source);
  return reduceY_ ? runReducingRows(source) : runEnlargingRows(source);
}

// Same size on both axes: every weight is a whole one, so each output byte is the input
// byte; no arithmetic needed.
bool FrameRenderer::runIdentity(RowSource& source) {
  uint8_t* row = buf_->row.data();
  for (uint32_t k = 0; k < inHeight_; ++k) {
    if (!source.readRow(row)) return false;
    writeRow(k, row);
  }
  return true;
}

bool FrameRenderer::runReducingRows(RowSource& source) {
  uint8_t* row = buf_->row.data();
  uint32_t* h = buf_->rows[0].data();
  uint32_t* cur = buf_->rows[1].data();
  uint32_t* next = buf_->rows[2].data();
  const size_t sums = size_t{fit_.targetX} * 3;
  std::memset(cur, 0, sums * sizeof(uint32_t));
  std::memset(next, 0, sums * sizeof(uint32_t));
  const ResampleWeight* wt = buf_->yWeights.data();
  uint32_t line = 0;
  for (uint32_t i = 0; i < inHeight_; ++i) {
    if (!source.readRow(row)) return false;
    horizontalPass(row, h);
    const uint32_t w0 = static_cast<uint32_t>(wt[i].w0);
    const int32_t w1 = wt[i].w1;
    if (w1 == 0) {
      for (size_t c = 0; c < sums; ++c) cur[c] += w0 * h[c];
      continue;
    }
    // This input row completes the current output row.
    const uint32_t u1 = w1 > 0 ? static_cast<uint32_t>(w1) : 0;
    uint8_t* p = dst_ + base_ + static_cast<ptrdiff_t>(line) * lineStep_;
    for (uint32_t j = 0; j < fit_.targetX; ++j, p += pixelStep_) {
      const size_t c = size_t{j} * 3;
      const uint32_t r = cur[c] + w0 * h[c];
      const uint32_t g = cur[c + 1] + w0 * h[c + 1];
      const uint32_t b = cur[c + 2] + w0 * h[c + 2];
      p[0] = static_cast<uint8_t>(b >> 24);
      p[1] = static_cast<uint8_t>(g >> 24);
      p[2] = static_cast<uint8_t>(r >> 24);
      cur[c] = cur[c + 1] = cur[c + 2] = 0;
      next[c] += u1 * h[c];
      next[c + 1] += u1 * h[c + 1];
      next[c + 2] += u1 * h[c + 2];
    }
    std::swap(cur, next);
    if (++line == fit_.targetY) {
      // Only possible on the last input row; anything after it would feed nothing.
      for (++i; i < inHeight_; ++i)
        if (!source.readRow(row)) return false;
      break;
    }
  }
  return true;
}

bool FrameRenderer::runEnlargingRows(RowSource& source) {
  uint8_t* row = buf_->row.data();
  uint32_t* cur = buf_->rows[1].data();
  uint32_t* next = buf_->rows[2].data();
  const ResampleWeight* wt = buf_->yWeights.data();
  if (!source.readRow(row)) return false;
  horizontalPass(row, cur);
  uint32_t rowsRead = 1;
  for (uint32_t k = 0; k < fit_.targetY; ++k) {
    const uint32_t w0 = static_cast<uint32_t>(wt[k].w0);
    const int32_t w1 = wt[k].w1;
    if (w1 != 0 && rowsRead < inHeight_) {
      if (!source.readRow(row)) return false;
      horizontalPass(row, next);
      ++rowsRead;
    } else if (w1 != 0) {
      // No rows left: the last one serves again.
      std::memcpy(next, cur, size_t{fit_.targetX} * 3 * sizeof(uint32_t));
    }
    uint8_t* p = dst_ + base_ + static_cast<ptrdiff_t>(k) * lineStep_;
    if (w1 > 0) {
      const uint32_t u1 = static_cast<uint32_t>(w1);
      for (uint32_t j = 0; j < fit_.targetX; ++j, p += pixelStep_) {
        const size_t c = size_t{j} * 3;
        p[0] = static_cast<uint8_t>((w0 * cur[c + 2] + u1 * next[c + 2]) >> 24);
        p[1] = static_cast<uint8_t>((w0 * cur[c + 1] + u1 * next[c + 1]) >> 24);
        p[2] = static_cast<uint8_t>((w0 * cur[c] + u1 * next[c]) >> 24);
      }
    } else {
      for (uint32_t j = 0; j < fit_.targetX; ++j, p += pixelStep_) {
        const size_t c = size_t{j} * 3;
        p[0] = static_cast<uint8_t>((w0 * cur[c + 2]) >> 24);
        p[1] = static_cast<uint8_t>((w0 * cur[c + 1]) >> 24);
        p[2] = static_cast<uint8_t>((w0 * cur[c]) >> 24);
      }
    }
    if (w1 != 0) std::swap(cur, next);
  }
  // Rows the table never asked for (not expected) are still consumed.
  for (; rowsRead < inHeight_; ++rowsRead)
    if (!source.readRow(row)) return false;
  return true;
}

}  // namespace decoder
