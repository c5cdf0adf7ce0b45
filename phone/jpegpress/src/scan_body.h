#pragma once

// The MCU walk and its entropy coder. Every translation unit that includes this header gets
// its own copy (internal linkage), so that a copy compiled for a wider instruction set is
// never merged with the generic one.

#include <cstdint>
#include <cstring>

#include "bit_writer.h"
#include "encoder.h"

namespace jpegpress {
namespace {

// Halves a packed U Y0 V Y1 area: each output value is the rounded mean of the 2 x 2
// source values of the same kind (luminance of 2 x 2 pixels, chroma of two macropixels in
// two rows). `w` and `h` are the halved size in pixels.
void halveUyvy(const uint8_t* src, ptrdiff_t stride, int w, int h, uint8_t* out) {
  for (int y = 0; y < h; ++y) {
    const uint8_t* r0 = src + 2 * y * stride;
    const uint8_t* r1 = r0 + stride;
    uint8_t* o = out + y * w * 2;
    for (int m = 0; m < w / 2; ++m) {
      const uint8_t* a = r0 + 8 * m;
      const uint8_t* b = r1 + 8 * m;
      o[4 * m + 0] = static_cast<uint8_t>((a[0] + a[4] + b[0] + b[4] + 2) >> 2);
      o[4 * m + 1] = static_cast<uint8_t>((a[1] + a[3] + b[1] + b[3] + 2) >> 2);
      o[4 * m + 2] = static_cast<uint8_t>((a[2] + a[6] + b[2] + b[6] + 2) >> 2);
      o[4 * m + 3] = static_cast<uint8_t>((a[5] + a[7] + b[5] + b[7] + 2) >> 2);
    }
  }
}

// Asks for the source row [q, q + bytes) of a quarter-turned walk one MCU ahead. Turned by
// 1 the walk moves left and turned by 3 right, so the previous column of areas (the
// previous MCU row) has read the lines on the row's trailing side: one request for the
// line at the leading edge brings in the line the walk has not read yet, where there is
// one, and the row's page translation. The first column asks for every line of the row.
inline void prefetchRowAhead(const uint8_t* q, int bytes, int rotation, bool firstColumn) {
  if (firstColumn) {
    for (int at = 0; at < bytes; at += 64) __builtin_prefetch(q + at);
    __builtin_prefetch(q + bytes - 1);
  } else {
    __builtin_prefetch(rotation == 1 ? q : q + bytes - 1);
  }
}

// Room guarantees. One block costs at most 22 bits of DC and 63 x 26 bits of AC, twice
// that with every byte stuffed: 415 bytes, and one more for rounding to whole bytes; with
// its AC coefficients dropped, 26 bits stuffed: 7 bytes. 16 more cover the up to 63 bits
// still pending in the writer.
constexpr size_t kWorstBlockBytes = 416;
constexpr size_t kWorstDcOnlyBlockBytes = 7;
constexpr size_t kPendingBytes = 16;

// With a kMask (the AVX2 walk's zigzag mask, inlined) each block's mask comes from it and
// the coder reads the coefficients where the DCT left them; without, the table's zigzag
// makes an ordered copy.
template <ZigzagMaskFn kMask>
uint32_t encodeScanBody(const KernelTable& k, JpegEncoder& e, const Shape& s, const Source& src,
                        uint8_t* out, size_t room) {
  int mcuWidth = 16, mcuHeight = 16;
  Area area = kArea420;
  int lumaBlocks = 4;
  if (s.sampling == Sampling::k422) {
    mcuHeight = 8;
    area = (s.rotation & 1) ? kArea422V : kArea422H;
    lumaBlocks = 2;
  } else if (s.sampling == Sampling::kGray) {
    // A single-component scan codes its blocks one by one in raster order.
    mcuWidth = mcuHeight = 8;
    area = kAreaGray;
    lumaBlocks = 1;
  }
  const bool odd = (s.rotation & 1) != 0;
  const int areaWidth = odd ? mcuHeight : mcuWidth;
  const int areaHeight = odd ? mcuWidth : mcuHeight;
  const int areaBlocksAcross = areaWidth / 8;
  const int areaBlocksDown = areaHeight / 8;
  const int totalBlocks = lumaBlocks + (s.sampling == Sampling::kGray ? 0 : 2);
  const ConvertFn convert = k.convert[src.layout][area];

  // Where each source-area luminance block goes in the MCU (raster order of the output).
  int placement[4];
  for (int by = 0; by < areaBlocksDown; ++by) {
    for (int bx = 0; bx < areaBlocksAcross; ++bx) {
      int col = bx, row = by, across = areaBlocksAcross;
      switch (s.rotation) {
        case 1: col = by; row = areaBlocksAcross - 1 - bx; across = areaBlocksDown; break;
        case 2: col = areaBlocksAcross - 1 - bx; row = areaBlocksDown - 1 - by; break;
        case 3: col = areaBlocksDown - 1 - by; row = bx; across = areaBlocksDown; break;
        default: break;
      }
      placement[by * areaBlocksAcross + bx] = row * across + col;
    }
  }

  // The file must fit the room the caller has (2 bytes per source pixel, less the 32 bytes
  // the pipeline keeps in front). While the worst case of the next MCU cannot be ruled out,
  // each MCU is first coded into a staging area and kept only if the rest of the picture,
  // coded without AC coefficients, still fits behind it; otherwise it too is coded without
  // its AC coefficients. Only pictures far beyond natural content (full-range noise at the
  // best qualities) ever lose detail this way, and the stream stays a valid baseline JPEG.
  const size_t mcuCount = static_cast<size_t>(s.outWidth / mcuWidth) * (s.outHeight / mcuHeight);
  const size_t worstMcu = kWorstBlockBytes * totalBlocks;
  const size_t dcOnlyMcu = kWorstDcOnlyBlockBytes * totalBlocks;
  size_t mcusLeft = mcuCount;
  static_assert(sizeof(JpegEncoder::staging) >= kWorstBlockBytes * 6 + kPendingBytes);

  BitWriter bits(out);
  int dcLuma = 0, dcCb = 0, dcCr = 0;
  const ptrdiff_t packedStride = static_cast<ptrdiff_t>(src.bytesPerPixel) * src.fullWidth;
  const int unit = src.bytesPerPixel << s.shift;
  const bool prefetchAhead = odd;
  const int areaRowBytes = src.bytesPerPixel * areaWidth;
  SourceArea sa{};
  for (int oy = 0; oy < s.outHeight; oy += mcuHeight) {
    for (int ox = 0; ox < s.outWidth; ox += mcuWidth) {
      // Top-left corner of the source area, in working pixels.
      int x = ox, y = oy;
      switch (s.rotation) {
        case 1: x = s.width - oy - areaWidth; y = ox; break;
        case 2: x = s.width - ox - areaWidth; y = s.height - oy - areaHeight; break;
        case 3: x = oy; y = s.height - ox - areaHeight; break;
        default: break;
      }
      if (src.layout == kLayoutPlanar) {
        const ptrdiff_t chromaStride = src.fullWidth / 2;
        sa.plane[0] = src.base + x + static_cast<ptrdiff_t>(y) * src.fullWidth;
        sa.plane[1] = src.cb + x / 2 + static_cast<ptrdiff_t>(y / 2) * chromaStride;
        sa.plane[2] = src.cr + x / 2 + static_cast<ptrdiff_t>(y / 2) * chromaStride;
        sa.stride[0] = src.fullWidth;
        sa.stride[1] = chromaStride;
      } else {
        const uint8_t* p = src.base + static_cast<ptrdiff_t>(unit) * x +
                           static_cast<ptrdiff_t>(y << s.shift) * packedStride;
        if (s.shift) {
          halveUyvy(p, packedStride, areaWidth, areaHeight, e.halved);
          sa.plane[0] = e.halved;
          sa.stride[0] = areaWidth * 2;
        } else {
          sa.plane[0] = p;
          sa.stride[0] = packedStride;
        }
      }
      --mcusLeft;
      if (prefetchAhead) {
        // A quarter turn walks the source down (or up) a column of areas, which the
        // hardware prefetcher does not follow: ask for the area of the next MCU, one
        // request per row (measured against other choices in docs/jpegpress.md).
        const int ahead = s.rotation == 1 ? y + areaHeight : y - areaHeight;
        if (ahead >= 0 && ahead + areaHeight <= s.height) {
          const bool firstColumn = oy == 0;
          auto prefetchRows = [&](const uint8_t* q, ptrdiff_t stride, int rows, int bytes) {
            for (int r = 0; r < rows; ++r, q += stride)
              prefetchRowAhead(q, bytes, s.rotation, firstColumn);
          };
          if (src.layout == kLayoutPlanar) {
            const ptrdiff_t chromaStride = src.fullWidth / 2;
            const ptrdiff_t chromaOffset = x / 2 + static_cast<ptrdiff_t>(ahead / 2) * chromaStride;
            prefetchRows(src.base + x + static_cast<ptrdiff_t>(ahead) * src.fullWidth, src.fullWidth,
                         areaHeight, areaWidth);
            if (area == kArea420) {
              prefetchRows(src.cb + chromaOffset, chromaStride, areaHeight / 2, areaWidth / 2);
              prefetchRows(src.cr + chromaOffset, chromaStride, areaHeight / 2, areaWidth / 2);
            }
          } else {
            prefetchRows(src.base + static_cast<ptrdiff_t>(unit) * x +
                             static_cast<ptrdiff_t>(ahead << s.shift) * packedStride,
                         packedStride, areaHeight << s.shift, areaRowBytes << s.shift);
          }
        }
      }
      if (s.rotation == 0) {
        convert(sa, e.blocks);
        if (lumaBlocks == 1) {
          k.forwardDct(e.blocks, e.lumaReciprocal);
        } else {
          for (int b = 0; b < lumaBlocks; b += 2)
            k.forwardDct2(e.blocks + b * 64, e.blocks + (b + 1) * 64, e.lumaReciprocal);
        }
        if (totalBlocks > lumaBlocks) {
          k.forwardDct2(e.blocks + lumaBlocks * 64, e.blocks + (lumaBlocks + 1) * 64,
                        e.chromaReciprocal);
        }
      } else {
        // Each block is turned on its way into the DCT and lands where the turn moves it.
        convert(sa, e.unturned);
        const ForwardDctTurned2Fn dct2 = k.forwardDctTurned2[s.rotation];
        const int16_t* in = e.unturned;
        if (lumaBlocks == 1) {
          k.forwardDctTurned[s.rotation](in, e.blocks, e.lumaReciprocal);
        } else {
          for (int b = 0; b < lumaBlocks; b += 2)
            dct2(in + b * 64, in + (b + 1) * 64, e.blocks + placement[b] * 64,
                 e.blocks + placement[b + 1] * 64, e.lumaReciprocal);
        }
        if (totalBlocks > lumaBlocks) {
          dct2(in + lumaBlocks * 64, in + (lumaBlocks + 1) * 64, e.blocks + lumaBlocks * 64,
               e.blocks + (lumaBlocks + 1) * 64, e.chromaReciprocal);
        }
      }

      constexpr bool kMaskOnly = kMask != nullptr;
      alignas(16) int16_t zigzag[kMaskOnly ? 1 : 6][64];
      const int16_t* coded[6];
      uint64_t nonZero[6];
      for (int b = 0; b < totalBlocks; ++b) {
        if constexpr (kMaskOnly) {
          coded[b] = e.blocks + b * 64;
          nonZero[b] = kMask(coded[b]);
        } else {
          coded[b] = zigzag[b];
          nonZero[b] = k.zigzag(e.blocks + b * 64, zigzag[b]);
        }
      }
      auto codeMcu = [&](BitWriter& w) {
        for (int b = 0; b < lumaBlocks; ++b)
          w.block<kMaskOnly>(coded[b], nonZero[b], dcLuma, e.dcLumaCodes, e.acLumaCodes);
        if (totalBlocks > lumaBlocks) {
          w.block<kMaskOnly>(coded[lumaBlocks], nonZero[lumaBlocks], dcCb, e.dcChromaCodes,
                             e.acChromaCodes);
          w.block<kMaskOnly>(coded[lumaBlocks + 1], nonZero[lumaBlocks + 1], dcCr,
                             e.dcChromaCodes, e.acChromaCodes);
        }
      };
      const size_t written = static_cast<size_t>(bits.position() - out);
      const size_t reserve = mcusLeft * dcOnlyMcu + kPendingBytes;
      if (written + worstMcu + reserve <= room) {
        codeMcu(bits);
        continue;
      }
      const int savedLuma = dcLuma, savedCb = dcCb, savedCr = dcCr;
      BitWriter staged = bits.redirected(e.staging);
      codeMcu(staged);
      const size_t stagedBytes = static_cast<size_t>(staged.position() - e.staging);
      if (written + stagedBytes + reserve <= room) {
        std::memcpy(bits.position(), e.staging, stagedBytes);
        bits = staged.redirected(bits.position() + stagedBytes);
        continue;
      }
      dcLuma = savedLuma;
      dcCb = savedCb;
      dcCr = savedCr;
      // Without AC coefficients: only the DC value (zigzag position 0) is left.
      for (int b = 0; b < totalBlocks; ++b) nonZero[b] = 0;
      codeMcu(bits);
    }
  }
  return static_cast<uint32_t>(bits.finish() - out);
}

}  // namespace
}  // namespace jpegpress
