#include "encoder.h"

#include <cstdlib>
#include <cstring>
#include <initializer_list>

#include "bit_writer.h"
#include "tables.h"

namespace jpegpress {
namespace {

// Code assignment of T.81 Annex C: codes of each length follow each other, and the next
// length continues from the last code shifted left by one.
void buildCodes(const HuffmanTable& table, uint32_t* codes) {
  std::memset(codes, 0, 256 * sizeof(uint32_t));
  uint32_t code = 0;
  int k = 0;
  for (int length = 1; length <= 16; ++length) {
    for (int i = 0; i < table.counts[length - 1]; ++i) {
      codes[table.symbols[k++]] = code | (static_cast<uint32_t>(length) << 16);
      ++code;
    }
    code <<= 1;
  }
}

void scaleTable(const uint8_t* base, uint32_t scale, uint8_t* quant, uint16_t* reciprocal) {
  for (int i = 0; i < 64; ++i) {
    uint32_t value = (base[i] * scale + 50) / 100;
    if (value == 0) value = 1;
    if (value > 255) value = 255;
    quant[i] = static_cast<uint8_t>(value);
  }
  // Row v, column u goes to u * 8 + v.
  for (int v = 0; v < 8; ++v) {
    for (int u = 0; u < 8; ++u) {
      const uint32_t t = quant[v * 8 + u];
      reciprocal[u * 8 + v] = static_cast<uint16_t>((kDctScale[v * 8 + u] + t / 2) / t);
    }
  }
}

// ---- header --------------------------------------------------------------------------

struct ByteWriter {
  uint8_t* p;
  void byte(uint32_t v) { *p++ = static_cast<uint8_t>(v); }
  void word(uint32_t v) {
    byte(v >> 8);
    byte(v);
  }
};

void writeHuffmanSegment(ByteWriter& w, uint32_t classAndId, const HuffmanTable& table) {
  w.word(0xFFC4);
  w.word(19 + table.symbolCount);
  w.byte(classAndId);
  for (uint8_t count : table.counts) w.byte(count);
  for (int i = 0; i < table.symbolCount; ++i) w.byte(table.symbols[i]);
}

void writeQuantSegment(ByteWriter& w, uint32_t id, const uint8_t* quant) {
  w.word(0xFFDB);
  w.word(67);
  w.byte(id);
  for (int k = 0; k < 64; ++k) w.byte(quant[kZigzagToNatural[k]]);
}

// ---- frame shape -----------------------------------------------------------------------

enum class Sampling { k420, k422, kGray };

Sampling samplingOf(uint32_t code) {
  if (code == kJpegSampling420) return Sampling::k420;
  if (code == kJpegSamplingGray) return Sampling::kGray;
  return Sampling::k422;
}

struct Shape {
  Sampling sampling;
  int rotation;        // 0..3
  int shift;           // 0 or 1
  int width, height;   // source size in working pixels (after the shift)
  int outWidth, outHeight;
};

uint32_t writeHeader(const JpegEncoder& e, const Shape& s, uint8_t* out) {
  ByteWriter w{out};
  const bool gray = s.sampling == Sampling::kGray;
  w.word(0xFFD8);
  // APP0 JFIF 1.02, density units 0 (pixel ratio only), 72 x 72, no thumbnail.
  w.word(0xFFE0);
  w.word(16);
  for (char c : {'J', 'F', 'I', 'F', '\0'}) w.byte(static_cast<uint8_t>(c));
  w.byte(1);
  w.byte(2);
  w.byte(0);
  w.word(72);
  w.word(72);
  w.byte(0);
  w.byte(0);
  writeQuantSegment(w, 0, e.lumaQuant);
  if (!gray) writeQuantSegment(w, 1, e.chromaQuant);
  writeHuffmanSegment(w, 0x00, kDcLuma);
  writeHuffmanSegment(w, 0x10, kAcLuma);
  if (!gray) {
    writeHuffmanSegment(w, 0x01, kDcChroma);
    writeHuffmanSegment(w, 0x11, kAcChroma);
  }
  const int components = gray ? 1 : 3;
  w.word(0xFFC0);
  w.word(8 + 3 * components);
  w.byte(8);
  w.word(static_cast<uint32_t>(s.outHeight));
  w.word(static_cast<uint32_t>(s.outWidth));
  w.byte(static_cast<uint32_t>(components));
  uint32_t lumaSampling = 0x21;
  if (s.sampling == Sampling::k420) lumaSampling = 0x22;
  if (gray) lumaSampling = (s.rotation & 1) ? 0x22 : 0x11;
  w.byte(1);
  w.byte(lumaSampling);
  w.byte(0);
  if (!gray) {
    for (uint32_t id = 2; id <= 3; ++id) {
      w.byte(id);
      w.byte(0x11);
      w.byte(1);
    }
  }
  w.word(0xFFDA);
  w.word(6 + 2 * components);
  w.byte(static_cast<uint32_t>(components));
  w.byte(1);
  w.byte(0x00);
  if (!gray) {
    w.byte(2);
    w.byte(0x11);
    w.byte(3);
    w.byte(0x11);
  }
  w.byte(0);
  w.byte(63);
  w.byte(0);
  return static_cast<uint32_t>(w.p - out);
}

// ---- MCU walk ----------------------------------------------------------------------------

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

struct Source {
  Layout layout;
  const uint8_t* base;
  const uint8_t* cb;  // planar only
  const uint8_t* cr;
  int bytesPerPixel;
  int fullWidth;  // EncodeParams width
};

// Room guarantees. One block costs at most 22 bits of DC and 63 x 26 bits of AC, twice
// that with every byte stuffed: 415 bytes, and one more for rounding to whole bytes; with
// its AC coefficients dropped, 26 bits stuffed: 7 bytes. 16 more cover the up to 63 bits
// still pending in the writer.
constexpr size_t kWorstBlockBytes = 416;
constexpr size_t kWorstDcOnlyBlockBytes = 7;
constexpr size_t kPendingBytes = 16;
constexpr size_t kPipelineHeaderBytes = 32;

uint32_t encodeScan(const KernelTable& k, JpegEncoder& e, const Shape& s, const Source& src,
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
        // hardware prefetcher does not follow: ask for the area of the next MCU.
        const int ahead = s.rotation == 1 ? y + areaHeight : y - areaHeight;
        if (ahead >= 0 && ahead + areaHeight <= s.height) {
          auto prefetchRows = [](const uint8_t* q, ptrdiff_t stride, int rows, int bytes) {
            for (int r = 0; r < rows; ++r, q += stride) {
              __builtin_prefetch(q);
              __builtin_prefetch(q + bytes - 1);
            }
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

      alignas(16) int16_t zigzag[6][64];
      uint64_t nonZero[6];
      for (int b = 0; b < totalBlocks; ++b) nonZero[b] = k.zigzag(e.blocks + b * 64, zigzag[b]);
      auto codeMcu = [&](BitWriter& w) {
        for (int b = 0; b < lumaBlocks; ++b)
          w.block(zigzag[b], nonZero[b], dcLuma, e.dcLumaCodes, e.acLumaCodes);
        if (totalBlocks > lumaBlocks) {
          w.block(zigzag[lumaBlocks], nonZero[lumaBlocks], dcCb, e.dcChromaCodes, e.acChromaCodes);
          w.block(zigzag[lumaBlocks + 1], nonZero[lumaBlocks + 1], dcCr, e.dcChromaCodes,
                  e.acChromaCodes);
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

uint32_t createEncoder(JpegEncoder** encoder) {
  auto* e = static_cast<JpegEncoder*>(std::aligned_alloc(alignof(JpegEncoder),
                                                         (sizeof(JpegEncoder) + 63) & ~size_t{63}));
  if (e != nullptr) {
    std::memset(e, 0, sizeof *e);
    buildCodes(kDcLuma, e->dcLumaCodes);
    buildCodes(kAcLuma, e->acLumaCodes);
    buildCodes(kDcChroma, e->dcChromaCodes);
    buildCodes(kAcChroma, e->acChromaCodes);
  }
  *encoder = e;
  return 1;
}

uint32_t destroyEncoder(JpegEncoder* encoder) {
  std::free(encoder);
  return 1;
}

uint32_t setQuality(JpegEncoder* e, uint32_t quality) {
  e->quality = quality;
  uint32_t q = quality & 0x7F;
  if (q == 0) q = 1;
  if (q > 100) q = 100;
  const uint32_t scale = q < 50 ? 5000 / q : 200 - 2 * q;
  scaleTable(kLumaQuantBase, scale, e->lumaQuant, e->lumaReciprocal);
  scaleTable(kChromaQuantBase, scale, e->chromaQuant, e->chromaReciprocal);
  e->headerLength = 0;
  return 1;
}

uint32_t encodeFrameWith(const KernelTable& kernels, JpegEncoder* e, uint8_t* output,
                         const uint8_t* input, EncodeParams* params, uint32_t writeHeaderFlag) {
  if (params->format == kJpegFormatPlanar && params->sampling == kJpegSampling422) return 0;
  if (e->quality >= 150) params->format = kJpegFormatPlanar;

  Shape s{};
  s.sampling = samplingOf(params->sampling);
  s.rotation = static_cast<int>(params->rotation & 3);
  const uint32_t shift = params->shift & 0xFF;
  const uint32_t format = params->format;
  // Supported: every layout at full size, the packed YUV layout halved; planar input only
  // as 4:2:0 or grayscale. Anything else would not give a meaningful picture.
  if (format > kJpegFormatPlanarCrCb || shift > 1) return 0;
  if (shift == 1 && format != kJpegFormatUyvy) return 0;
  if (format >= kJpegFormatPlanar && s.sampling == Sampling::k422) return 0;
  if (params->rotation > 3) return 0;
  // A frame without pixels, or larger than SOF0's 16-bit size fields, has no valid file.
  if (params->width == 0 || params->height == 0 || params->width > 65535 || params->height > 65535)
    return 0;
  // The picture is read in whole MCUs: any other size would read past the source.
  if (params->width % (16u << shift) != 0 || params->height % (16u << shift) != 0) return 0;
  s.shift = static_cast<int>(shift);
  s.width = static_cast<int>(params->width >> shift);
  s.height = static_cast<int>(params->height >> shift);
  s.outWidth = (s.rotation & 1) ? s.height : s.width;
  s.outHeight = (s.rotation & 1) ? s.width : s.height;

  Source src{};
  src.base = input;
  src.fullWidth = static_cast<int>(params->width);
  switch (format) {
    case kJpegFormatUyvy: src.layout = kLayoutUyvy; src.bytesPerPixel = 2; break;
    case kJpegFormatRgb555: src.layout = kLayoutRgb555; src.bytesPerPixel = 2; break;
    case kJpegFormatRgb565: src.layout = kLayoutRgb565; src.bytesPerPixel = 2; break;
    case kJpegFormatBgr24: src.layout = kLayoutBgr24; src.bytesPerPixel = 3; break;
    default: {
      src.layout = kLayoutPlanar;
      src.bytesPerPixel = 1;
      const size_t lumaBytes = size_t{params->width} * params->height;
      const uint8_t* first = input + lumaBytes;
      const uint8_t* second = first + lumaBytes / 4;
      src.cb = format == kJpegFormatPlanar ? first : second;
      src.cr = format == kJpegFormatPlanar ? second : first;
      break;
    }
  }

  if (e->headerLength == 0 || (writeHeaderFlag & 0xFF) != 0) {
    e->headerLength = writeHeader(*e, s, output);
  }
  // Room for the entropy-coded data and EOI: the pipeline's buffer holds 2 bytes per
  // source pixel behind its 32-byte message header.
  const size_t pixels = size_t{params->width} * params->height;
  const size_t total = pixels * 2 > kPipelineHeaderBytes ? pixels * 2 - kPipelineHeaderBytes : 0;
  const size_t room = total > e->headerLength + 2 ? total - e->headerLength - 2 : 0;
  uint32_t length =
      e->headerLength + encodeScan(kernels, *e, s, src, output + e->headerLength, room);
  output[length++] = 0xFF;
  output[length++] = 0xD9;
  return length;
}

uint32_t encodeFrame(JpegEncoder* e, uint8_t* output, const uint8_t* input, EncodeParams* params,
                     uint32_t writeHeaderFlag) {
  return encodeFrameWith(activeKernels(), e, output, input, params, writeHeaderFlag);
}

}  // namespace jpegpress
