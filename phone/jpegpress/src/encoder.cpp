#include "encoder.h"

#include <cstdlib>
#include <cstring>
#include <initializer_list>

#include "scan_body.h"
#include "tables.h"

namespace jpegpress {
namespace {

// Code assignment of T.81 Annex C: codes of each length follow each other, and the next
// length continues from the last code shifted left by one. Each code is stored already
// shifted left by its symbol's size (the count of extra bits that follow it), beside the
// total length, so the coder adds the extra bits with one OR.
void buildCodes(const HuffmanTable& table, uint64_t* codes) {
  std::memset(codes, 0, 256 * sizeof(uint64_t));
  uint32_t code = 0;
  int k = 0;
  for (int length = 1; length <= 16; ++length) {
    for (int i = 0; i < table.counts[length - 1]; ++i) {
      const int symbol = table.symbols[k++];
      const int size = symbol & 15;
      codes[symbol] = (static_cast<uint64_t>(code) << size) |
                      (static_cast<uint64_t>(length + size) << 32);
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

Sampling samplingOf(uint32_t code) {
  if (code == kJpegSampling420) return Sampling::k420;
  if (code == kJpegSamplingGray) return Sampling::kGray;
  return Sampling::k422;
}

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

// The pipeline keeps a message header of this size in front of the file.
constexpr size_t kPipelineHeaderBytes = 32;

}  // namespace

uint32_t encodeScanGeneric(const KernelTable& kernels, JpegEncoder& encoder, const Shape& shape,
                           const Source& source, uint8_t* out, size_t room) {
  return encodeScanBody<nullptr>(kernels, encoder, shape, source, out, room);
}

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
      e->headerLength + kernels.encodeScan(kernels, *e, s, src, output + e->headerLength, room);
  output[length++] = 0xFF;
  output[length++] = 0xD9;
  return length;
}

uint32_t encodeFrame(JpegEncoder* e, uint8_t* output, const uint8_t* input, EncodeParams* params,
                     uint32_t writeHeaderFlag) {
  return encodeFrameWith(activeKernels(), e, output, input, params, writeHeaderFlag);
}

}  // namespace jpegpress
