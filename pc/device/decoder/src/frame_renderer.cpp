#include "decoder/frame_renderer.h"

#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstring>
#include <utility>
#include <vector>

#include "kernels.h"
#include "platform/byte_order.h"

namespace decoder {

namespace {
constexpr ptrdiff_t kPixelBytes = 3;
}  // namespace

struct FrameRenderer::Buffers {
  // JPEG rows as they come from the source (red, green, blue), in two slots used in turn
  // (halving needs the previous row too). Each slot starts 8 bytes past a 64-byte boundary
  // on purpose: rows that the system's libjpeg writes to a 32-byte boundary behave as if
  // streamed past the cache, and reading one straight back waits for memory (measured:
  // halving at 1.25-1.7x the bare decode with aligned slots, 1.0-1.1x with slots 1, 8 or
  // 16 bytes off). Rows written straight into the destination keep the caller's alignment.
  static constexpr size_t kSlotBytes = (size_t{kMaxJpegRowPixels} * 3 + 63) / 64 * 64 + 64;
  static constexpr size_t kSlotOffset = 8;
  std::vector<uint8_t> slots = std::vector<uint8_t>(2 * kSlotBytes + 64 + kSlotOffset);
  size_t nextSlot = 0;
  uint8_t* nextRow() {
    const uintptr_t at = reinterpret_cast<uintptr_t>(slots.data());
    uint8_t* first = slots.data() + ((64 - at % 64) % 64) + kSlotOffset;
    return first + (nextSlot++ & 1) * kSlotBytes;
  }
  // Quarter turns at the same size: kTurnBlock JPEG rows gathered before they are written
  // (runTurnedBlocks), starting 8 bytes past a 64-byte boundary like the slots.
  std::vector<uint8_t> turnBlock =
      std::vector<uint8_t>(size_t{kTurnBlock} * kMaxJpegRowPixels * 3 + 128 + kSlotOffset);
  uint8_t* turnRows() {
    const uintptr_t at = reinterpret_cast<uintptr_t>(turnBlock.data());
    return turnBlock.data() + ((64 - at % 64) % 64) + kSlotOffset;
  }
  // One finished output row as bytes (red, green, blue) before it is written.
  std::vector<uint8_t> staging = std::vector<uint8_t>(size_t{kMaxResampleSide} * 3 + 4);
  std::vector<ResampleWeight> xWeights = std::vector<ResampleWeight>(kMaxResampleSide);
  std::vector<ResampleWeight> yWeights = std::vector<ResampleWeight>(kMaxResampleSide);
  // The same weights per output sample (runTaps): its first input sample and the weights of
  // the samples from there on, taps per output sample, 0 for those that do not feed it.
  std::vector<uint32_t> xStarts = std::vector<uint32_t>(kMaxResampleSide);
  std::vector<uint32_t> xTaps = std::vector<uint32_t>(size_t{kMaxResampleSide} * kMaxTaps);
  std::vector<uint32_t> yStarts = std::vector<uint32_t>(kMaxResampleSide);
  std::vector<uint16_t> yTaps = std::vector<uint16_t>(size_t{kMaxResampleSide} * kMaxTaps);
  // Rows of 32-bit sums, kMaxResampleSide pixels x 3 channels, plus one spare pixel.
  // Reducing rows: rows[0] is the horizontally resampled input row, rows[1] and rows[2]
  // the current and next accumulator rows. Enlarging rows: rows[1] and rows[2] hold the
  // current and next input rows, horizontally resampled.
  std::vector<uint32_t> rows[3] = {std::vector<uint32_t>((size_t{kMaxResampleSide} + 1) * 3),
                                   std::vector<uint32_t>((size_t{kMaxResampleSide} + 1) * 3),
                                   std::vector<uint32_t>((size_t{kMaxResampleSide} + 1) * 3)};
};

namespace {

// Turns a weight table of nIn -> nOut samples into tap form: starts[j] and taps weights per
// output sample j, taps being the widest run of input samples that feeds one output sample.
// Runs that would reach past the last input sample start earlier, with leading zero
// weights, so that every tap reads a real sample. Returns taps, or 0 (tables untouched
// past their use) when that is above kMaxTaps.
template <typename Weight>
uint32_t buildTaps(const ResampleWeight* table, uint32_t nIn, uint32_t nOut, uint32_t* starts,
                   Weight* weights) {
  // Calls use(output, input, weight) for every pair with a weight, in the order of
  // the table, which is the order of the inputs.
  auto forEach = [&](auto use) {
    if (nIn >= nOut) {
      uint32_t o = 0;
      for (uint32_t i = 0; i < nIn && o < nOut; ++i) {
        use(o, i, table[i].w0);
        if (table[i].w1 > 0 && o + 1 < nOut) use(o + 1, i, table[i].w1);
        if (table[i].w1 != 0) ++o;
      }
    } else {
      uint32_t p = 0;
      for (uint32_t j = 0; j < nOut; ++j) {
        use(j, std::min(p, nIn - 1), table[j].w0);
        if (table[j].w1 > 0) use(j, std::min(p + 1, nIn - 1), table[j].w1);
        if (table[j].w1 != 0) ++p;
      }
    }
  };
  for (uint32_t j = 0; j < nOut; ++j) starts[j] = ~0u;
  uint32_t taps = 1;
  forEach([&](uint32_t o, uint32_t i, int32_t w) {
    if (w <= 0) return;
    if (starts[o] == ~0u) starts[o] = i;
    taps = std::max(taps, i - starts[o] + 1);
  });
  if (taps > kMaxTaps) return 0;
  uint32_t previous = 0;
  for (uint32_t j = 0; j < nOut; ++j) {
    if (starts[j] == ~0u) starts[j] = previous;  // fed by nothing: all weights 0
    starts[j] = std::min(starts[j], nIn - taps);
    previous = starts[j];
  }
  std::fill_n(weights, size_t{nOut} * taps, Weight{0});
  forEach([&](uint32_t o, uint32_t i, int32_t w) {
    if (w > 0) weights[size_t{o} * taps + (i - starts[o])] += static_cast<Weight>(w);
  });
  return taps;
}

}  // namespace

FrameRenderer::FrameRenderer() : buf_(std::make_unique<Buffers>()) {}
FrameRenderer::~FrameRenderer() = default;

bool FrameRenderer::prepare(uint32_t w, uint32_t h, uint8_t* dst, size_t dstSize, uint32_t W,
                            uint32_t H, uint32_t rotation, bool mirror) {
  prepared_ = false;
  if (dst == nullptr || w == 0 || h == 0 || W == 0 || H == 0 || rotation > 3) return false;
  if (w > kMaxResampleSide || h > kMaxResampleSide) return false;
  if (dstSize < imageSize(W, H)) return false;
  const FitGeometry g = computeFit(w, h, rotation, W, H);
  if (g.targetX > kMaxResampleSide || g.targetY > kMaxResampleSide) return false;

  fit_ = g;
  inWidth_ = w;
  inHeight_ = h;
  dst_ = dst;
  dstBytes_ = imageSize(W, H);
  // An axis is reduced when the picture has at least as many samples as the target along
  // it, enlarged otherwise. (With equal counts both rules give the same table.)
  auto plan = [](uint32_t nIn, uint32_t nOut, ResampleWeight* table, Axis* axis, uint32_t* k) {
    if (nOut == 0) return;
    if (nIn >= nOut)
      buildReducingWeights(nIn, nOut, table);
    else
      buildEnlargingWeights(nIn, nOut, table);
    *k = 1;
    if (nIn < nOut && nOut % nIn == 0) {
      *axis = Axis::kRepeat;
      *k = nOut / nIn;
    } else if (nIn >= nOut && nIn % nOut == 0) {
      *axis = nIn == nOut ? Axis::kRepeat : Axis::kGroup;
      *k = nIn / nOut;
    } else {
      *axis = nIn >= nOut ? Axis::kReduce : Axis::kEnlarge;
    }
  };
  plan(w, g.targetX, buf_->xWeights.data(), &axisX_, &ratioX_);
  plan(h, g.targetY, buf_->yWeights.data(), &axisY_, &ratioY_);
  tapsX_ = tapsY_ = 0;
  if (g.targetX > 0 && g.targetY > 0) {
    tapsX_ = buildTaps(buf_->xWeights.data(), w, g.targetX, buf_->xStarts.data(),
                       buf_->xTaps.data());
    tapsY_ = buildTaps(buf_->yWeights.data(), h, g.targetY, buf_->yStarts.data(),
                       buf_->yTaps.data());
  }

  // The first pixel written, the step between the pixels of a JPEG row and the step to the
  // next JPEG row, for each rotation; the top row is the last one in memory.
  const ptrdiff_t S = static_cast<ptrdiff_t>(imageStride(W));
  const ptrdiff_t P = kPixelBytes;
  const ptrdiff_t top = (static_cast<ptrdiff_t>(H) - 1) * S;
  const ptrdiff_t right = (static_cast<ptrdiff_t>(W) - 1) * P;
  const ptrdiff_t ox = g.offsetX;
  const ptrdiff_t oy = g.offsetY;
  ptrdiff_t first = 0, step = 0, line = 0;
  // clang-format off
  switch (rotation) {
    case 0: first = top + right; step = -P; line = -S; first += oy * line + ox * step; break;
    case 1: first = top;         step = -S; line = +P; first += ox * line + oy * step; break;
    case 2: first = 0;           step = +P; line = +S; first += oy * line + ox * step; break;
    default: first = right;      step = +S; line = -P; first += ox * line + oy * step; break;
  }
  // clang-format on
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

namespace {

using platform::load32;
using platform::store32;
using platform::byteSwap32;

// Writes n RGB pixels as BGR into consecutive pixels of one destination row, ascending
// (forward) or descending from p (backward). rgb may be p itself when going forward.
void writeContiguous(uint8_t* p, const uint8_t* rgb, uint32_t n, bool forward) {
  if (forward) {
    activeKernels().rgbToBgr(p, rgb, n);
    return;
  }
  uint32_t j = 0;
  if constexpr (std::endian::native == std::endian::little) {
    // Four pixels written leftwards are the twelve input bytes in reverse order.
    for (; j + 4 <= n; j += 4, rgb += 12, p -= 12) {
      const uint32_t a = load32(rgb), b = load32(rgb + 4), c = load32(rgb + 8);
      store32(p - 9, byteSwap32(c));
      store32(p - 5, byteSwap32(b));
      store32(p - 1, byteSwap32(a));
    }
  }
  for (; j < n; ++j, rgb += 3, p -= 3) {
    p[0] = rgb[2];
    p[1] = rgb[1];
    p[2] = rgb[0];
  }
}

}  // namespace

void FrameRenderer::writeRow(uint32_t line, const uint8_t* rgb) const {
  uint8_t* p = dst_ + base_ + static_cast<ptrdiff_t>(line) * lineStep_;
  const ptrdiff_t step = pixelStep_;
  const uint32_t n = fit_.targetX;
  if (step == 3 || step == -3) {
    writeContiguous(p, rgb, n, step == 3);
    return;
  }
  for (uint32_t j = 0; j < n; ++j, rgb += 3, p += step) {
    p[0] = rgb[2];
    p[1] = rgb[1];
    p[2] = rgb[0];
  }
}

// Resamples one row along x into targetX sums of (wx x value) per channel: a JPEG row
// (bytes), or a row of sums that already carry the vertical weights. The sums of the
// output pixel being built are kept in registers.
template <typename Sample>
void FrameRenderer::horizontalPass(const Sample* in, uint32_t* out) const {
  const ResampleWeight* wt = buf_->xWeights.data();
  const uint32_t n = fit_.targetX;
  switch (axisX_) {
    case Axis::kRepeat: {
      // Every weight is a whole one.
      const uint32_t k = ratioX_;
      for (uint32_t i = 0; i < inWidth_; ++i, in += 3) {
        const uint32_t r = uint32_t{in[0]} << 12, g = uint32_t{in[1]} << 12,
                       b = uint32_t{in[2]} << 12;
        for (uint32_t c = 0; c < k; ++c, out += 3) {
          out[0] = r;
          out[1] = g;
          out[2] = b;
        }
      }
      break;
    }
    case Axis::kGroup: {
      // k samples per output sample, each with the same weight.
      const uint32_t k = ratioX_;
      const uint32_t w = static_cast<uint32_t>(wt[0].w0);
      if (k == 2) {
        for (uint32_t j = 0; j < n; ++j, out += 3, in += 6) {
          out[0] = w * (uint32_t{in[0]} + in[3]);
          out[1] = w * (uint32_t{in[1]} + in[4]);
          out[2] = w * (uint32_t{in[2]} + in[5]);
        }
        break;
      }
      for (uint32_t j = 0; j < n; ++j, out += 3) {
        uint32_t r = 0, g = 0, b = 0;
        for (uint32_t c = 0; c < k; ++c, in += 3) {
          r += in[0];
          g += in[1];
          b += in[2];
        }
        out[0] = w * r;
        out[1] = w * g;
        out[2] = w * b;
      }
      break;
    }
    case Axis::kReduce: {
      uint32_t r = 0, g = 0, b = 0;
      for (uint32_t i = 0; i < inWidth_; ++i, in += 3) {
        const uint32_t w0 = static_cast<uint32_t>(wt[i].w0);
        const int32_t w1 = wt[i].w1;
        const uint32_t vr = in[0], vg = in[1], vb = in[2];
        r += w0 * vr;
        g += w0 * vg;
        b += w0 * vb;
        if (w1 != 0) {
          out[0] = r;
          out[1] = g;
          out[2] = b;
          out += 3;
          const uint32_t u1 = w1 > 0 ? static_cast<uint32_t>(w1) : 0;
          r = u1 * vr;
          g = u1 * vg;
          b = u1 * vb;
        }
      }
      // The table ends on an exact boundary, so every output pixel has been stored.
      break;
    }
    case Axis::kEnlarge: {
      const Sample* p = in;
      for (uint32_t j = 0; j < n; ++j, out += 3) {
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
      break;
    }
  }
}

// Writes one finished output row, given as one value (0..255) per channel in 32-bit words.
void FrameRenderer::writeValues(uint32_t line, const uint32_t* values) const {
  uint8_t* staging = buf_->staging.data();
  const size_t n = size_t{fit_.targetX} * 3;
  for (size_t c = 0; c < n; ++c) staging[c] = static_cast<uint8_t>(values[c]);
  writeRow(line, staging);
}

bool FrameRenderer::run(RowSource& source) {
  if (!prepared_) return false;
  prepared_ = false;
  if (!fit_.stretched) std::memset(dst_, 0, dstBytes_);
  if (fit_.targetX == 0 || fit_.targetY == 0) {
    // Nothing of the picture is visible; still consume it so that the source ends cleanly.
    for (uint32_t i = 0; i < inHeight_; ++i)
      if (!source.readRow(buf_->nextRow())) return false;
    return true;
  }
  if (axisX_ == Axis::kRepeat && axisY_ == Axis::kRepeat) {
    return ratioX_ == 1 && ratioY_ == 1 ? runIdentity(source) : runRepeating(source);
  }
  if (axisY_ == Axis::kGroup && axisX_ == Axis::kGroup) return runGroupedRows(source);
  if (tapsX_ != 0 && tapsY_ != 0) return runTaps(source);
  switch (axisY_) {
    case Axis::kGroup:
      return runGroupedRows(source);
    case Axis::kReduce:
      return runReducingRows(source);
    default:
      return runEnlargingRows(source);
  }
}

// Same size on both axes: every weight is a whole one, so each output byte is the input
// byte; no arithmetic needed.
bool FrameRenderer::runIdentity(RowSource& source) {
  if (pixelStep_ != kPixelBytes && pixelStep_ != -kPixelBytes) return runTurnedBlocks(source);
  uint8_t* row = nullptr;
  const uint32_t n = fit_.targetX;
  for (uint32_t k = 0; k < inHeight_; ++k) {
    uint8_t* line = dst_ + base_ + static_cast<ptrdiff_t>(k) * lineStep_;
    if (pixelStep_ == 3 && (reinterpret_cast<uintptr_t>(line) & 15) != 0) {
      // The row goes straight into its place and is turned into BGR there. (Not where the
      // line starts on a 16-byte boundary: the library would stream it past the cache and
      // reading it back would wait for memory; see the row slots.)
      if (!source.readRow(line)) return false;
      writeContiguous(line, line, n, true);
      continue;
    }
    if (!source.readRow(row = buf_->nextRow())) return false;
    writeRow(k, row);
  }
  return true;
}

// Same size, turned a quarter: a JPEG row runs along a destination column, so writing
// each row as it comes touches every destination row for one pixel. The rows are taken
// kTurnBlock at a time and written a destination row at a time instead, kTurnBlock
// neighbouring pixels each (bench_decoder, 640x480 turned: 1.36x the bare decode with a
// row at a time, 1.21x so). A source failing in a block still has the rows before it
// written.
bool FrameRenderer::runTurnedBlocks(RowSource& source) {
  const uint32_t n = fit_.targetX;
  const size_t rowBytes = size_t{n} * 3;
  uint8_t* block = buf_->turnRows();
  for (uint32_t k0 = 0; k0 < inHeight_; k0 += kTurnBlock) {
    const uint32_t want = std::min(kTurnBlock, inHeight_ - k0);
    uint32_t rows = 0;
    while (rows < want && source.readRow(block + rows * rowBytes)) ++rows;
    uint8_t* column = dst_ + base_ + static_cast<ptrdiff_t>(k0) * lineStep_;
    const ptrdiff_t along = lineStep_;
    if (rows == 0) return false;
    // The block's pixels of one destination row lie side by side; they are written in
    // ascending memory order (the last JPEG row first when the rows go leftwards), four
    // bytes at a time, each store's fourth byte being the next pixel's first.
    const bool ascending = along > 0;
    const uint8_t* firstIn = ascending ? block : block + size_t{rows - 1} * rowBytes;
    const ptrdiff_t inStep = ascending ? static_cast<ptrdiff_t>(rowBytes)
                                       : -static_cast<ptrdiff_t>(rowBytes);
    const ptrdiff_t lowest = ascending ? 0 : static_cast<ptrdiff_t>(rows - 1) * along;
    for (uint32_t j = 0; j < n; ++j, column += pixelStep_) {
      const uint8_t* in = firstIn + size_t{j} * 3;
      uint8_t* p = column + lowest;
      uint32_t r = 1;
      if constexpr (std::endian::native == std::endian::little) {
        // load32 reads one byte past the pixel: the block has room after its last row.
        for (; r < rows; ++r, in += inStep, p += kPixelBytes) store32(p, byteSwap32(load32(in)) >> 8);
      } else {
        for (; r < rows; ++r, in += inStep, p += kPixelBytes) {
          p[0] = in[2];
          p[1] = in[1];
          p[2] = in[0];
        }
      }
      p[0] = in[2];
      p[1] = in[1];
      p[2] = in[0];
    }
    if (rows < want) return false;
  }
  return true;
}

// Whole-number enlargement (or none) on both axes: every output pixel is a copy of one
// input pixel, so rows are copied as bytes.
bool FrameRenderer::runRepeating(RowSource& source) {
  uint8_t* row = nullptr;
  uint8_t* wide = buf_->staging.data();
  const uint32_t kx = ratioX_, ky = ratioY_;
  // Lines along destination rows are one run of bytes: repeats of a line are plain copies.
  const bool runs = pixelStep_ == 3 || pixelStep_ == -3;
  const size_t lineBytes = size_t{fit_.targetX} * 3;
  uint32_t line = 0;
  for (uint32_t i = 0; i < inHeight_; ++i) {
    if (!source.readRow(row = buf_->nextRow())) return false;
    const uint8_t* p = row;
    uint8_t* q = wide;
    const uint32_t first = line;
    if (kx == 2 && pixelStep_ == kPixelBytes) {
      // Doubled across, rows running forwards: each pixel goes into its place as BGR twice,
      // in one pass.
      activeKernels().doubleToBgr(dst_ + base_ + static_cast<ptrdiff_t>(line++) * lineStep_, p,
                                  inWidth_);
    } else if (kx == 2) {
      for (uint32_t x = 0; x < inWidth_; ++x, p += 3, q += 6) {
        const uint8_t r = p[0], g = p[1], b = p[2];
        q[0] = r, q[1] = g, q[2] = b, q[3] = r, q[4] = g, q[5] = b;
      }
    } else {
      for (uint32_t x = 0; x < inWidth_; ++x, p += 3) {
        for (uint32_t c = 0; c < kx; ++c, q += 3) {
          q[0] = p[0];
          q[1] = p[1];
          q[2] = p[2];
        }
      }
    }
    if (line == first) writeRow(line++, wide);
    if (runs) {
      const ptrdiff_t low = pixelStep_ > 0 ? 0 : -static_cast<ptrdiff_t>(lineBytes) + 3;
      const uint8_t* from = dst_ + base_ + static_cast<ptrdiff_t>(first) * lineStep_ + low;
      for (uint32_t c = 1; c < ky; ++c, ++line)
        std::memcpy(dst_ + base_ + static_cast<ptrdiff_t>(line) * lineStep_ + low, from, lineBytes);
    } else {
      for (uint32_t c = 1; c < ky; ++c) writeRow(line++, wide);
    }
  }
  return true;
}

// Whole-number reduction along y: k rows per output row, all with the same weight. When x
// is grouped as well, the k rows are first added byte by byte and the groups along x are
// summed once per output row, both weights applied together at the end.
bool FrameRenderer::runGroupedRows(RowSource& source) {
  uint8_t* row = nullptr;
  uint32_t* h = buf_->rows[0].data();
  uint32_t* sum = buf_->rows[1].data();
  const uint32_t k = ratioY_;
  const uint32_t wy = static_cast<uint32_t>(buf_->yWeights[0].w0);
  if (axisX_ == Axis::kGroup && ratioX_ == 2 && k == 2) {
    // Halving: both weights are 2048, so each channel is the sum of its four samples
    // shifted right by 2.
    uint8_t* staging = buf_->staging.data();
    const RenderKernels& kernels = activeKernels();
    for (uint32_t line = 0; line < fit_.targetY; ++line) {
      uint8_t* first = buf_->nextRow();
      if (!source.readRow(first)) return false;
      if (!source.readRow(row = buf_->nextRow())) return false;
      kernels.halveRows(staging, first, row, fit_.targetX);
      writeRow(line, staging);
    }
    return true;
  }
  if (axisX_ == Axis::kGroup) {
    const size_t inBytes = size_t{inWidth_} * 3;
    const uint32_t kx = ratioX_;
    const uint32_t w = wy * static_cast<uint32_t>(buf_->xWeights[0].w0);
    uint8_t* staging = buf_->staging.data();
    for (uint32_t line = 0; line < fit_.targetY; ++line) {
      if (!source.readRow(row = buf_->nextRow())) return false;
      for (size_t e = 0; e < inBytes; ++e) sum[e] = row[e];
      for (uint32_t c = 1; c < k; ++c) {
        if (!source.readRow(row = buf_->nextRow())) return false;
        for (size_t e = 0; e < inBytes; ++e) sum[e] += row[e];
      }
      const uint32_t* s = sum;
      uint8_t* q = staging;
      if (kx == 2) {
        for (uint32_t j = 0; j < fit_.targetX; ++j, s += 6, q += 3) {
          q[0] = static_cast<uint8_t>((w * (s[0] + s[3])) >> 24);
          q[1] = static_cast<uint8_t>((w * (s[1] + s[4])) >> 24);
          q[2] = static_cast<uint8_t>((w * (s[2] + s[5])) >> 24);
        }
      } else {
        for (uint32_t j = 0; j < fit_.targetX; ++j, q += 3) {
          uint32_t r = 0, g = 0, b = 0;
          for (uint32_t t = 0; t < kx; ++t, s += 3) {
            r += s[0];
            g += s[1];
            b += s[2];
          }
          q[0] = static_cast<uint8_t>((w * r) >> 24);
          q[1] = static_cast<uint8_t>((w * g) >> 24);
          q[2] = static_cast<uint8_t>((w * b) >> 24);
        }
      }
      writeRow(line, staging);
    }
    return true;
  }
  const size_t sums = size_t{fit_.targetX} * 3;
  for (uint32_t line = 0; line < fit_.targetY; ++line) {
    if (!source.readRow(row = buf_->nextRow())) return false;
    horizontalPass(row, sum);
    for (uint32_t c = 1; c < k; ++c) {
      if (!source.readRow(row = buf_->nextRow())) return false;
      horizontalPass(row, h);
      for (size_t e = 0; e < sums; ++e) sum[e] += h[e];
    }
    for (size_t e = 0; e < sums; ++e) sum[e] = (wy * sum[e]) >> 24;
    writeValues(line, sum);
  }
  return true;
}

// Reduction along y: the rows are weighted and added at full width first (one multiply-add
// per byte, which vectorises), and only each finished sum row is resampled along x, once
// per output row instead of once per input row. The products are the same, so are the
// sums.
bool FrameRenderer::runReducingRows(RowSource& source) {
  uint8_t* row = nullptr;
  uint32_t* out = buf_->rows[0].data();
  uint32_t* cur = buf_->rows[1].data();
  uint32_t* next = buf_->rows[2].data();
  const size_t inBytes = size_t{inWidth_} * 3;
  const size_t sums = size_t{fit_.targetX} * 3;
  std::memset(cur, 0, inBytes * sizeof(uint32_t));
  std::memset(next, 0, inBytes * sizeof(uint32_t));
  const ResampleWeight* wt = buf_->yWeights.data();
  uint32_t line = 0;
  for (uint32_t i = 0; i < inHeight_; ++i) {
    if (!source.readRow(row = buf_->nextRow())) return false;
    const uint32_t w0 = static_cast<uint32_t>(wt[i].w0);
    const int32_t w1 = wt[i].w1;
    // Weights fit 13 bits and samples 8: 16 x 16 -> 32-bit products, which the vectoriser
    // does with 16-bit multiplies (x86 without SSE4.1 has no 32-bit one).
    const uint16_t v0 = static_cast<uint16_t>(w0);
    if (w1 == 0) {
      for (size_t e = 0; e < inBytes; ++e) cur[e] += static_cast<uint32_t>(v0 * uint16_t{row[e]});
      continue;
    }
    // This input row completes the current output row.
    const uint16_t v1 = static_cast<uint16_t>(w1 > 0 ? w1 : 0);
    for (size_t e = 0; e < inBytes; ++e) {
      cur[e] += static_cast<uint32_t>(v0 * uint16_t{row[e]});
      next[e] += static_cast<uint32_t>(v1 * uint16_t{row[e]});
    }
    horizontalPass(cur, out);
    for (size_t c = 0; c < sums; ++c) out[c] >>= 24;  // the top byte of each sum
    writeValues(line, out);
    std::memset(cur, 0, inBytes * sizeof(uint32_t));
    std::swap(cur, next);
    if (++line == fit_.targetY) {
      // Only possible on the last input row; anything after it would feed nothing.
      for (++i; i < inHeight_; ++i)
        if (!source.readRow(row = buf_->nextRow())) return false;
      break;
    }
  }
  return true;
}

// Any other ratio, where no output sample takes more than kMaxTaps input samples on either
// axis: the taps input rows of an output row are weighed together at full width (kept in a
// ring of taps rows, each read once), and the row of sums is resampled along x straight
// into the destination where its rows run forwards. Both steps are kernels; the sums are
// those of the weight tables.
bool FrameRenderer::runTaps(RowSource& source) {
  const RenderKernels& kernels = activeKernels();
  const uint32_t taps = tapsY_;
  const size_t inBytes = size_t{inWidth_} * 3;
  constexpr size_t kRingStride = size_t{kMaxJpegRowPixels} * 3;
  static_assert(kMaxTaps <= kTurnBlock, "the ring of rows lives in the turn block");
  uint8_t* ring = buf_->turnRows();
  uint32_t* sums = buf_->rows[0].data();
  uint8_t* staging = buf_->staging.data();
  const uint32_t* xStarts = buf_->xStarts.data();
  const uint32_t* xTaps = buf_->xTaps.data();
  const uint32_t n = fit_.targetX;
  const uint8_t* rows[kMaxTaps];
  uint32_t read = 0;
  for (uint32_t k = 0; k < fit_.targetY; ++k) {
    const uint32_t first = buf_->yStarts[k];
    for (; read < first + taps; ++read)
      if (!source.readRow(ring + (read % taps) * kRingStride)) return false;
    for (uint32_t t = 0; t < taps; ++t) rows[t] = ring + ((first + t) % taps) * kRingStride;
    kernels.weighRows(sums, rows, &buf_->yTaps[size_t{k} * taps], taps, inBytes);
    if (pixelStep_ == kPixelBytes) {
      uint8_t* line = dst_ + base_ + static_cast<ptrdiff_t>(k) * lineStep_;
      kernels.weighPixels(line, sums, xStarts, xTaps, tapsX_, n, true);
    } else {
      kernels.weighPixels(staging, sums, xStarts, xTaps, tapsX_, n, false);
      writeRow(k, staging);
    }
  }
  // Rows below the last one used (not expected) are still consumed.
  for (; read < inHeight_; ++read)
    if (!source.readRow(ring + (read % taps) * kRingStride)) return false;
  return true;
}

bool FrameRenderer::runEnlargingRows(RowSource& source) {
  uint8_t* row = nullptr;
  uint32_t* out = buf_->rows[0].data();
  uint32_t* cur = buf_->rows[1].data();
  uint32_t* next = buf_->rows[2].data();
  const size_t sums = size_t{fit_.targetX} * 3;
  const ResampleWeight* wt = buf_->yWeights.data();
  if (!source.readRow(row = buf_->nextRow())) return false;
  horizontalPass(row, cur);
  uint32_t rowsRead = 1;
  for (uint32_t k = 0; k < fit_.targetY; ++k) {
    const uint32_t w0 = static_cast<uint32_t>(wt[k].w0);
    const int32_t w1 = wt[k].w1;
    if (w1 != 0 && rowsRead < inHeight_) {
      if (!source.readRow(row = buf_->nextRow())) return false;
      horizontalPass(row, next);
      ++rowsRead;
    } else if (w1 != 0) {
      // No rows left: the last one serves again.
      std::memcpy(next, cur, sums * sizeof(uint32_t));
    }
    if (w1 > 0) {
      const uint32_t u1 = static_cast<uint32_t>(w1);
      for (size_t c = 0; c < sums; ++c) out[c] = (w0 * cur[c] + u1 * next[c]) >> 24;
    } else {
      for (size_t c = 0; c < sums; ++c) out[c] = (w0 * cur[c]) >> 24;
    }
    writeValues(k, out);
    if (w1 != 0) std::swap(cur, next);
  }
  // Rows the table never asked for (not expected) are still consumed.
  for (; rowsRead < inHeight_; ++rowsRead)
    if (!source.readRow(row = buf_->nextRow())) return false;
  return true;
}

}  // namespace decoder
