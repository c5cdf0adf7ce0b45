// Encoder behaviour: quality tables, header bytes, conformance of every layout, sampling
// and rotation as decoded by libjpeg, rotation equivalence and the call rules.

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <jpeglib.h>
#include <memory>
#include <vector>

#include "encoder.h"
#include "jpeg_test_support.h"
#include "tables.h"

namespace jpegpress {
namespace {

using namespace jpegpress::testing;

struct EncoderDeleter {
  void operator()(JpegEncoder* e) const { destroyEncoder(e); }
};
using EncoderPtr = std::unique_ptr<JpegEncoder, EncoderDeleter>;

EncoderPtr makeEncoder(uint32_t quality) {
  JpegEncoder* e = nullptr;
  EXPECT_EQ(createEncoder(&e), 1u);
  if (e != nullptr) setQuality(e, quality);
  return EncoderPtr(e);
}

std::vector<uint8_t> encode(const std::vector<uint8_t>& input, EncodeParams params,
                            uint32_t quality) {
  EncoderPtr e = makeEncoder(quality);
  std::vector<uint8_t> out(size_t{params.width} * params.height * 4 + 4096);
  const uint32_t length = encodeFrame(e.get(), out.data(), input.data(), &params, 1);
  out.resize(length);
  return out;
}

// Picture data of one layout, with the RGB picture the encoder is meant to see.
struct LayoutData {
  uint32_t format;
  std::vector<uint8_t> bytes;
  RgbPicture reference;
};

LayoutData layoutData(uint32_t format, const RgbPicture& p) {
  switch (format) {
    case kJpegFormatUyvy: return {format, toUyvy(p), p};
    case kJpegFormatRgb555: return {format, toRgb555(p), widenedRgb555(p)};
    case kJpegFormatRgb565: return {format, toRgb565(p), widenedRgb565(p)};
    case kJpegFormatBgr24: return {format, toBgr24(p), p};
    case kJpegFormatPlanarCrCb: return {format, toPlanar(p, true), p};
    default: return {format, toPlanar(p), p};
  }
}

// Luminance of an RGB picture by the encoder's own integer formula.
std::vector<uint8_t> lumaOf(const RgbPicture& p) {
  std::vector<uint8_t> y(static_cast<size_t>(p.width) * p.height);
  for (size_t i = 0; i < y.size(); ++i)
    y[i] = static_cast<uint8_t>((77 * p.rgb[3 * i] + 150 * p.rgb[3 * i + 1] + 29 * p.rgb[3 * i + 2]) >> 8);
  return y;
}

RgbPicture turnedRgb(const RgbPicture& p, int rotation) {
  RgbPicture t;
  t.width = (rotation & 1) ? p.height : p.width;
  t.height = (rotation & 1) ? p.width : p.height;
  t.rgb = turnPacked(p.rgb, p.width, p.height, 3, rotation);
  return t;
}

// ---- quality tables ----

struct QualityCase {
  uint32_t quality;
  int lumaAll;    // every luminance entry equals this, or -1
  int chromaAll;  // likewise for chrominance
};

TEST(SetQuality, ExtremesAndWrapping) {
  const QualityCase cases[] = {{0, 255, 255},   {1, 255, 255}, {100, 1, 1},
                               {101, 1, 1},     {127, 1, 1},   {128, 255, 255},
                               {255, 1, 1},     {0x1000064, 1, 1}};
  for (const QualityCase& c : cases) {
    EncoderPtr e = makeEncoder(c.quality);
    for (int i = 0; i < 64; ++i) {
      EXPECT_EQ(e->lumaQuant[i], c.lumaAll) << "quality " << c.quality << " entry " << i;
      EXPECT_EQ(e->chromaQuant[i], c.chromaAll) << "quality " << c.quality << " entry " << i;
    }
    EXPECT_EQ(e->quality, c.quality);
  }
}

TEST(SetQuality, FiftyGivesTheExampleTablesAnd203MatchesSeventyFive) {
  EncoderPtr fifty = makeEncoder(50);
  EXPECT_EQ(0, std::memcmp(fifty->lumaQuant, kLumaQuantBase, 64));
  EXPECT_EQ(0, std::memcmp(fifty->chromaQuant, kChromaQuantBase, 64));
  EXPECT_EQ(fifty->lumaQuant[0], 16);
  EXPECT_EQ(fifty->lumaQuant[63], 99);
  EXPECT_EQ(fifty->chromaQuant[0], 17);
  EncoderPtr a = makeEncoder(75), b = makeEncoder(128 + 75);
  EXPECT_EQ(0, std::memcmp(a->lumaQuant, b->lumaQuant, 64));
  EXPECT_EQ(0, std::memcmp(a->chromaQuant, b->chromaQuant, 64));
  EXPECT_EQ(0, std::memcmp(a->lumaReciprocal, b->lumaReciprocal, 128));
}

TEST(SetQuality, ReciprocalsFollowTheDctScale) {
  EncoderPtr e = makeEncoder(1);
  // Entry (row v, column u) at u * 8 + v; quantiser value 255 everywhere.
  EXPECT_EQ(e->lumaReciprocal[0], (4096 + 127) / 255);
  EXPECT_EQ(e->lumaReciprocal[7 * 8 + 0], (14846 + 127) / 255);
  EncoderPtr best = makeEncoder(100);
  EXPECT_EQ(best->lumaReciprocal[63], 53809);
  for (int v = 0; v < 8; ++v)
    for (int u = 0; u < 8; ++u) {
      const double s[8] = {1, 1.387039845, 1.306562965, 1.175875602,
                           1, 0.785694958, 0.541196100, 0.275899379};
      EXPECT_NEAR(kDctScale[v * 8 + u], 4096.0 / (s[u] * s[v]), 0.5);
    }
}

// ---- header ----

// libjpeg's encoder at the same quality: an independent source of the DQT bytes and of
// the Annex K Huffman segments.
std::vector<Segment> libjpegHeader(int quality, bool gray) {
  jpeg_compress_struct info;
  jpeg_error_mgr errors;
  info.err = jpeg_std_error(&errors);
  jpeg_create_compress(&info);
  unsigned char* buffer = nullptr;
  unsigned long size = 0;
  jpeg_mem_dest(&info, &buffer, &size);
  info.image_width = 16;
  info.image_height = 16;
  info.input_components = gray ? 1 : 3;
  info.in_color_space = gray ? JCS_GRAYSCALE : JCS_RGB;
  jpeg_set_defaults(&info);
  jpeg_set_quality(&info, quality, TRUE);
  jpeg_start_compress(&info, TRUE);
  std::vector<uint8_t> row(16 * 3, 128);
  JSAMPROW r = row.data();
  while (info.next_scanline < 16) jpeg_write_scanlines(&info, &r, 1);
  jpeg_finish_compress(&info);
  std::vector<Segment> segments = headerSegments(buffer, size);
  jpeg_destroy_compress(&info);
  std::free(buffer);
  return segments;
}

std::vector<Segment> segmentsWith(const std::vector<Segment>& all, uint8_t marker) {
  std::vector<Segment> out;
  for (const Segment& s : all)
    if (s.marker == marker) out.push_back(s);
  return out;
}

TEST(Header, SegmentsInOrderWithJfif102) {
  const RgbPicture p = naturalPicture(32, 16, 1);
  const auto file = encode(toBgr24(p), {32, 16, kJpegFormatBgr24, 0, 0, kJpegSampling420}, 75);
  const auto segments = headerSegments(file.data(), file.size());
  std::vector<uint8_t> markers;
  for (const Segment& s : segments) markers.push_back(s.marker);
  EXPECT_EQ(markers, (std::vector<uint8_t>{0xE0, 0xDB, 0xDB, 0xC4, 0xC4, 0xC4, 0xC4, 0xC0, 0xDA}));
  EXPECT_EQ(segments[0].body, (std::vector<uint8_t>{'J', 'F', 'I', 'F', 0, 1, 2, 0, 0, 72, 0, 72, 0, 0}));
  EXPECT_EQ(segments[7].body, (std::vector<uint8_t>{8, 0, 16, 0, 32, 3, 1, 0x22, 0, 2, 0x11, 1, 3, 0x11, 1}));
  EXPECT_EQ(segments[8].body, (std::vector<uint8_t>{3, 1, 0x00, 2, 0x11, 3, 0x11, 0, 63, 0}));
  EXPECT_EQ(file[0], 0xFF);
  EXPECT_EQ(file[1], 0xD8);
  EXPECT_EQ(file[file.size() - 2], 0xFF);
  EXPECT_EQ(file[file.size() - 1], 0xD9);
  // One Huffman table per segment, DC 0, AC 0, DC 1, AC 1, each as libjpeg writes them.
  const auto reference = segmentsWith(libjpegHeader(75, false), 0xC4);
  const auto ours = segmentsWith(segments, 0xC4);
  ASSERT_EQ(reference.size(), 4u);
  for (int i = 0; i < 4; ++i) EXPECT_EQ(ours[i].body, reference[i].body) << "table " << i;
  EXPECT_EQ(ours[0].body.size() + 2, 19u + 12u);
  EXPECT_EQ(ours[1].body.size() + 2, 19u + 162u);
}

TEST(Header, QuantisationSegmentsMatchLibjpegAtEveryQuality) {
  const RgbPicture p = naturalPicture(16, 16, 2);
  const auto bgr = toBgr24(p);
  for (int q = 1; q <= 100; ++q) {
    const auto file = encode(bgr, {16, 16, kJpegFormatBgr24, 0, 0, kJpegSampling420}, q);
    const auto ours = segmentsWith(headerSegments(file.data(), file.size()), 0xDB);
    const auto reference = segmentsWith(libjpegHeader(q, false), 0xDB);
    ASSERT_EQ(ours.size(), 2u);
    ASSERT_EQ(reference.size(), 2u);
    EXPECT_EQ(ours[0].body, reference[0].body) << "quality " << q;
    EXPECT_EQ(ours[1].body, reference[1].body) << "quality " << q;
  }
}

TEST(Header, GrayscaleHasOneComponentAndTwoByTwoWhenTurned) {
  const RgbPicture p = naturalPicture(32, 16, 3);
  for (int rotation = 0; rotation < 4; ++rotation) {
    const auto file = encode(toBgr24(p),
                             {32, 16, kJpegFormatBgr24, 0, uint32_t(rotation), kJpegSamplingGray}, 60);
    const auto segments = headerSegments(file.data(), file.size());
    std::vector<uint8_t> markers;
    for (const Segment& s : segments) markers.push_back(s.marker);
    EXPECT_EQ(markers, (std::vector<uint8_t>{0xE0, 0xDB, 0xC4, 0xC4, 0xC0, 0xDA}));
    const uint8_t sampling = (rotation & 1) ? 0x22 : 0x11;
    const uint8_t lines = (rotation & 1) ? 32 : 16, samples = (rotation & 1) ? 16 : 32;
    EXPECT_EQ(segments[4].body, (std::vector<uint8_t>{8, 0, lines, 0, samples, 1, 1, sampling, 0}));
    EXPECT_EQ(segments[5].body, (std::vector<uint8_t>{1, 1, 0x00, 0, 63, 0}));
  }
}

TEST(Header, QuarterTurnedRgb565FrameSwapsTheSize) {
  const RgbPicture p = naturalPicture(176, 144, 4);
  const auto file = encode(toRgb565(p), {176, 144, kJpegFormatRgb565, 0, 1, kJpegSampling420}, 75);
  const auto sof = segmentsWith(headerSegments(file.data(), file.size()), 0xC0);
  ASSERT_EQ(sof.size(), 1u);
  EXPECT_EQ((sof[0].body[1] << 8) | sof[0].body[2], 176);  // lines
  EXPECT_EQ((sof[0].body[3] << 8) | sof[0].body[4], 144);  // samples per line
  const Decoded d = decodeJpeg(file.data(), file.size());
  EXPECT_EQ(d.error, "");
  EXPECT_EQ(d.width, 144);
  EXPECT_EQ(d.height, 176);
}

// ---- conformance ----

const char* formatName(uint32_t f) {
  static const char* names[] = {"UYVY", "RGB555", "RGB565", "BGR24", "planar", "planar-CrCb"};
  return names[f];
}

// PSNR of libjpeg's own encoding of the same picture (RGB, or the luminance for
// grayscale) at the same quality and sampling.
double libjpegPsnr(const RgbPicture& p, uint32_t sampling, int quality) {
  std::vector<uint8_t> file;
  if (sampling == kJpegSamplingGray) {
    const auto luma = lumaOf(p);
    file = libjpegEncode(luma.data(), p.width, p.height, 1, quality, 1, 1);
    const Decoded d = decodeJpeg(file.data(), file.size());
    return psnr(d.pixels.data(), luma.data(), luma.size());
  }
  file = libjpegEncode(p.rgb.data(), p.width, p.height, 3, quality, 2,
                       sampling == kJpegSampling420 ? 2 : 1);
  const Decoded d = decodeJpeg(file.data(), file.size());
  return psnr(d.pixels.data(), p.rgb.data(), p.rgb.size());
}

// Our fast DCT may lose a little against libjpeg's accurate one; YUV sources also carry
// the rounding of their own conversion.
constexpr double kPsnrMarginDb = 0.75;

TEST(Conformance, EveryLayoutSamplingAndRotationDecodesCleanly) {
  const int w = 96, h = 64;
  const RgbPicture p = naturalPicture(w, h, 5);
  // RGB bounds: chroma subsampling of the hard edges costs most; grayscale compares luma.
  const uint32_t samplings[] = {kJpegSampling420, kJpegSampling422, kJpegSamplingGray};
  for (uint32_t format = 0; format <= 5; ++format) {
    const LayoutData data = layoutData(format, p);
    for (const uint32_t sampling : samplings) {
      if (format >= kJpegFormatPlanar && sampling == kJpegSampling422) continue;
      for (uint32_t rotation = 0; rotation < 4; ++rotation) {
        SCOPED_TRACE(std::string(formatName(format)) + " sampling " + std::to_string(sampling) +
                     " rotation " + std::to_string(rotation));
        const auto file = encode(data.bytes, {w, h, format, 0, rotation, sampling}, 90);
        ASSERT_GT(file.size(), 600u);
        const Decoded d = decodeJpeg(file.data(), file.size());
        ASSERT_EQ(d.error, "");
        EXPECT_EQ(d.warnings, 0);
        const RgbPicture expected = turnedRgb(data.reference, static_cast<int>(rotation));
        ASSERT_EQ(d.width, expected.width);
        ASSERT_EQ(d.height, expected.height);
        // Packed YUV turned a quarter keeps its stored chroma of horizontal pairs, which
        // become vertical pairs: as 4:2:2 output that is chroma halved both ways.
        const bool pairedTwice = format == kJpegFormatUyvy && sampling == kJpegSampling422 &&
                                 (rotation & 1) != 0;
        const double bound =
            libjpegPsnr(expected, pairedTwice ? kJpegSampling420 : sampling, 90) - kPsnrMarginDb;
        if (sampling == kJpegSamplingGray) {
          ASSERT_EQ(d.components, 1);
          const auto luma = lumaOf(expected);
          EXPECT_GE(psnr(d.pixels.data(), luma.data(), luma.size()), bound);
        } else {
          ASSERT_EQ(d.components, 3);
          EXPECT_GE(psnr(d.pixels.data(), expected.rgb.data(), expected.rgb.size()), bound);
        }
        // libjpeg's own entropy coder gives the same bytes for the same coefficients.
        const auto again = transcodeWithLibjpeg(file.data(), file.size());
        EXPECT_EQ(entropyData(file.data(), file.size()), entropyData(again.data(), again.size()));
      }
    }
  }
}

TEST(Conformance, QualitySetsTheErrorAndTheSize) {
  const RgbPicture p = naturalPicture(64, 64, 6);
  const auto bgr = toBgr24(p);
  double lastPsnr = 0;
  size_t lastSize = 0;
  for (uint32_t q : {10u, 50u, 75u, 90u, 100u}) {
    const auto file = encode(bgr, {64, 64, kJpegFormatBgr24, 0, 0, kJpegSampling420}, q);
    const Decoded d = decodeJpeg(file.data(), file.size());
    ASSERT_EQ(d.error, "");
    const double value = psnr(d.pixels.data(), p.rgb.data(), p.rgb.size());
    EXPECT_GT(value, lastPsnr) << "quality " << q;
    EXPECT_GT(file.size(), lastSize) << "quality " << q;
    EXPECT_GE(value, libjpegPsnr(p, kJpegSampling420, static_cast<int>(q)) - kPsnrMarginDb)
        << "quality " << q;
    lastPsnr = value;
    lastSize = file.size();
  }
}

TEST(Conformance, LastCoefficientNonZeroGetsNoEndOfBlock) {
  // Noise at quality 100 leaves many blocks whose 63rd coefficient is non-zero; libjpeg's
  // coder, which follows the standard, must produce the very same bits.
  const RgbPicture p = noisePicture(64, 32, 7);
  for (uint32_t sampling : {kJpegSamplingGray, kJpegSampling420}) {
    const auto file = encode(toBgr24(p), {64, 32, kJpegFormatBgr24, 0, 0, sampling}, 100);
    int lastNonZero = 0;
    const auto again = transcodeWithLibjpeg(file.data(), file.size(), &lastNonZero);
    ASSERT_FALSE(again.empty());
    EXPECT_GT(lastNonZero, 0);
    EXPECT_EQ(entropyData(file.data(), file.size()), entropyData(again.data(), again.size()));
  }
}

TEST(Conformance, NoiseAtBestQualityFitsThePipelineBuffer) {
  // The pipeline encodes into width x height x 2 bytes behind a 32-byte header. Noise in
  // every sample at quality 100 needs more than that (about 2.3 bytes per pixel at 4:2:0,
  // 3.1 at 4:2:2); the encoder then drops the AC coefficients of the last MCUs and stays
  // inside the buffer with a valid file.
  const int w = 320, h = 240;
  const RgbPicture p = noisePicture(w, h, 8);
  for (uint32_t format = 0; format <= 4; ++format) {
    LayoutData data = layoutData(format, p);
    // YUV layouts get noise in their own samples, which is harsher than converted RGB noise.
    if (format == kJpegFormatUyvy || format == kJpegFormatPlanar) {
      const RgbPicture raw = noisePicture(w, h, 80 + format);
      std::copy(raw.rgb.begin(), raw.rgb.begin() + data.bytes.size(), data.bytes.begin());
    }
    for (uint32_t sampling : {kJpegSampling420, kJpegSampling422, kJpegSamplingGray}) {
      if (format == kJpegFormatPlanar && sampling == kJpegSampling422) continue;
      for (uint32_t rotation : {0u, 1u}) {
        const auto file = encode(data.bytes, {w, h, format, 0, rotation, sampling}, 100);
        EXPECT_LE(file.size() + 32, size_t{w} * h * 2) << formatName(format) << " sampling " << sampling;
        const Decoded d = decodeJpeg(file.data(), file.size());
        EXPECT_EQ(d.error, "");
        EXPECT_EQ(d.warnings, 0);
        if (rotation == 0)
          std::printf("noise, quality 100, %-6s sampling %u: %.3f bytes per pixel\n",
                      formatName(format), sampling, static_cast<double>(file.size() + 32) / (w * h));
      }
    }
  }
}

TEST(Conformance, FullRoomKeepsEveryBlockAverage) {
  // Past the point where the room runs short, blocks keep only their DC coefficient: the
  // picture loses detail but every 8x8 block keeps its mean.
  const int w = 320, h = 240;
  const RgbPicture raw = noisePicture(w, h, 90);
  std::vector<uint8_t> planar(raw.rgb.begin(), raw.rgb.begin() + w * h * 3 / 2);
  const auto file = encode(planar, {w, h, kJpegFormatPlanar, 0, 0, kJpegSampling420}, 100);
  ASSERT_LE(file.size() + 32, size_t{w} * h * 2);
  const Decoded d = decodeJpeg(file.data(), file.size(), /*ycc=*/true);
  ASSERT_EQ(d.error, "");
  int dcOnlyBlocks = 0;
  for (int by = 0; by < h / 8; ++by)
    for (int bx = 0; bx < w / 8; ++bx) {
      double source = 0, decoded = 0, error = 0;
      for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 8; ++x) {
          const size_t i = static_cast<size_t>(by * 8 + y) * w + bx * 8 + x;
          source += planar[i];
          decoded += d.pixels[3 * i];
          error += std::abs(static_cast<int>(planar[i]) - d.pixels[3 * i]);
        }
      EXPECT_NEAR(decoded / 64, source / 64, 1.5) << "block " << bx << "," << by;
      // A block coded whole at quality 100 is within a few units per pixel; a DC-only one
      // is off by the noise itself.
      if (error / 64 > 20) ++dcOnlyBlocks;
    }
  // The last rows of MCUs go without AC coefficients, the first ones keep them.
  std::printf("blocks reduced to their DC coefficient: %d of %d\n", dcOnlyBlocks, (w / 8) * (h / 8));
  EXPECT_GT(dcOnlyBlocks, 0);
  EXPECT_LT(dcOnlyBlocks, (w / 8) * (h / 8) / 2);
}

// ---- rotation ----

TEST(Rotation, TurningWhileEncodingEqualsEncodingTheTurnedPicture) {
  const int w = 48, h = 32;
  const RgbPicture p = naturalPicture(w, h, 9);
  struct Input {
    uint32_t format;
    int bytesPerPixel;  // 0 for planar
  } inputs[] = {{kJpegFormatRgb555, 2}, {kJpegFormatRgb565, 2}, {kJpegFormatBgr24, 3},
                {kJpegFormatPlanar, 0}, {kJpegFormatPlanarCrCb, 0}};
  for (const Input& in : inputs) {
    const LayoutData data = layoutData(in.format, p);
    for (uint32_t sampling : {kJpegSampling420, kJpegSampling422, kJpegSamplingGray}) {
      if (in.bytesPerPixel == 0 && sampling == kJpegSampling422) continue;
      for (int rotation = 1; rotation < 4; ++rotation) {
        SCOPED_TRACE(std::string(formatName(in.format)) + " sampling " + std::to_string(sampling) +
                     " rotation " + std::to_string(rotation));
        const auto turned = in.bytesPerPixel
                                ? turnPacked(data.bytes, w, h, in.bytesPerPixel, rotation)
                                : turnPlanar(data.bytes, w, h, rotation);
        const uint32_t tw = (rotation & 1) ? h : w, th = (rotation & 1) ? w : h;
        auto direct = encode(data.bytes, {w, h, in.format, 0, uint32_t(rotation), sampling}, 80);
        auto reference = encode(turned, {tw, th, in.format, 0, 0, sampling}, 80);
        if (sampling == kJpegSamplingGray && (rotation & 1)) {
          // Only the declared sampling of the single component differs (2x2 when turned).
          auto sof = [](std::vector<uint8_t>& f) {
            for (size_t i = 0; i + 1 < f.size(); ++i)
              if (f[i] == 0xFF && f[i + 1] == 0xC0) return i + 11;
            return size_t{0};
          };
          ASSERT_EQ(direct[sof(direct)], 0x22);
          direct[sof(direct)] = 0x11;
        }
        EXPECT_EQ(direct, reference);
      }
    }
  }
}

// ---- call rules ----

TEST(EncodeFrame, PlanarWith422ReturnsZeroAndWritesNothing) {
  EncoderPtr e = makeEncoder(75);
  std::vector<uint8_t> input(32 * 32 * 3 / 2, 100), out(8192, 0xAB);
  const std::vector<uint8_t> untouched = out;
  EncodeParams params{32, 32, kJpegFormatPlanar, 0, 0, kJpegSampling422};
  EXPECT_EQ(encodeFrame(e.get(), out.data(), input.data(), &params, 1), 0u);
  EXPECT_EQ(out, untouched);
}

TEST(EncodeFrame, UnsupportedCombinationsReturnZeroAndWriteNothing) {
  EncoderPtr e = makeEncoder(75);
  std::vector<uint8_t> input(64 * 64 * 3, 100), out(65536, 0xAB);
  const std::vector<uint8_t> untouched = out;
  const EncodeParams cases[] = {
      {32, 32, 6, 0, 0, kJpegSampling420},                           // unknown layout
      {32, 32, 0xFFFFFFFF, 0, 0, kJpegSampling420},                  //
      {64, 64, kJpegFormatRgb565, 1, 0, kJpegSampling420},           // halving only UYVY
      {64, 64, kJpegFormatPlanar, 1, 0, kJpegSampling420},           //
      {64, 64, kJpegFormatUyvy, 2, 0, kJpegSampling420},             // no quarter size
      {32, 32, kJpegFormatPlanar, 0, 0, 3},                          // planar as 4:2:2
      {32, 32, kJpegFormatPlanarCrCb, 0, 0, kJpegSampling422},       //
      {32, 32, kJpegFormatBgr24, 0, 4, kJpegSampling420},            // no such rotation
      {0, 32, kJpegFormatBgr24, 0, 0, kJpegSampling420},             // no pixels
      {32, 0, kJpegFormatUyvy, 0, 1, kJpegSamplingGray},             //
      {65536, 16, kJpegFormatBgr24, 0, 0, kJpegSampling420},         // beyond SOF0's fields
      {40, 32, kJpegFormatBgr24, 0, 0, kJpegSampling420},            // not whole MCUs
      {32, 24, kJpegFormatPlanar, 0, 0, kJpegSampling420},           //
      {32, 8, kJpegFormatRgb565, 0, 0, kJpegSamplingGray},           //
      {48, 64, kJpegFormatUyvy, 1, 0, kJpegSampling420},             // halved: 32-multiples
  };
  for (EncodeParams params : cases) {
    EXPECT_EQ(encodeFrame(e.get(), out.data(), input.data(), &params, 1), 0u)
        << "format " << params.format << " shift " << params.shift << " sampling "
        << params.sampling << " rotation " << params.rotation;
  }
  EXPECT_EQ(out, untouched);
  // Only the low 8 bits of the shift count.
  EncodeParams params{32, 32, kJpegFormatBgr24, 0x100, 0, kJpegSampling420};
  EXPECT_GT(encodeFrame(e.get(), out.data(), input.data(), &params, 1), 0u);
}

TEST(EncodeFrame, QualityOf150OrMoreForcesPlanarInTheCallersRecord) {
  const RgbPicture p = naturalPicture(32, 32, 10);
  const auto planar = toPlanar(p);
  EncoderPtr e = makeEncoder(128 + 75);
  std::vector<uint8_t> out(32 * 32 * 4 + 4096);
  EncodeParams params{32, 32, kJpegFormatBgr24, 0, 0, kJpegSampling420};
  const uint32_t length = encodeFrame(e.get(), out.data(), planar.data(), &params, 1);
  EXPECT_EQ(params.format, kJpegFormatPlanar);
  out.resize(length);
  EXPECT_EQ(out, encode(planar, {32, 32, kJpegFormatPlanar, 0, 0, kJpegSampling420}, 75));
  // Below 150 the record is left alone (149 & 0x7F = 21).
  EncoderPtr low = makeEncoder(149);
  EncodeParams kept{32, 32, kJpegFormatBgr24, 0, 0, kJpegSampling420};
  const auto bgr = toBgr24(p);
  EXPECT_GT(encodeFrame(low.get(), out.data(), bgr.data(), &kept, 1), 0u);
  EXPECT_EQ(kept.format, kJpegFormatBgr24);
}

TEST(EncodeFrame, HeaderIsCachedUntilQualityChangesOrTheFlagAsks) {
  const RgbPicture p = naturalPicture(32, 32, 11);
  const auto bgr = toBgr24(p);
  EncoderPtr e = makeEncoder(70);
  EncodeParams params{32, 32, kJpegFormatBgr24, 0, 0, kJpegSampling420};
  std::vector<uint8_t> first(16384, 0), second(16384, 0x5A);
  // Right after SetQuality the header is written even with flag 0.
  const uint32_t length = encodeFrame(e.get(), first.data(), bgr.data(), &params, 0);
  first.resize(length);
  ASSERT_EQ(decodeJpeg(first.data(), first.size()).error, "");
  const uint32_t headerLength = e->headerLength;
  ASSERT_GT(headerLength, 0u);
  // Flag 0 again: only the data behind the cached header length are written.
  EXPECT_EQ(encodeFrame(e.get(), second.data(), bgr.data(), &params, 0), length);
  for (uint32_t i = 0; i < headerLength; ++i) ASSERT_EQ(second[i], 0x5A) << i;
  EXPECT_TRUE(std::equal(first.begin() + headerLength, first.end(), second.begin() + headerLength));
  // A flag whose low byte is 0 counts as 0; any other low byte writes the header.
  EXPECT_EQ(encodeFrame(e.get(), second.data(), bgr.data(), &params, 0x100), length);
  EXPECT_EQ(second[0], 0x5A);
  EXPECT_EQ(encodeFrame(e.get(), second.data(), bgr.data(), &params, 1), length);
  EXPECT_TRUE(std::equal(first.begin(), first.end(), second.begin()));
  // SetQuality drops the cache.
  std::fill(second.begin(), second.end(), 0x5A);
  setQuality(e.get(), 70);
  EXPECT_EQ(e->headerLength, 0u);
  EXPECT_EQ(encodeFrame(e.get(), second.data(), bgr.data(), &params, 0), length);
  EXPECT_TRUE(std::equal(first.begin(), first.end(), second.begin()));
}

// The halving rule in the test's own words: 2x2 rounded means of luminance, and of the
// chroma of two neighbouring macropixels in two rows.
std::vector<uint8_t> halveUyvyReference(const std::vector<uint8_t>& src, int w, int h) {
  std::vector<uint8_t> out(static_cast<size_t>(w / 2) * (h / 2) * 2);
  auto at = [&](int x, int y, int offset) { return src[(static_cast<size_t>(y) * w + x) * 2 + offset]; };
  for (int y = 0; y < h / 2; ++y)
    for (int x = 0; x < w / 2; ++x) {
      uint8_t* o = &out[(static_cast<size_t>(y) * (w / 2) + x) * 2];
      int sum = 0;
      for (int j = 0; j < 2; ++j)
        for (int i = 0; i < 2; ++i) sum += at(2 * x + i, 2 * y + j, 1);
      o[1] = static_cast<uint8_t>((sum + 2) >> 2);
      if ((x & 1) == 0) {
        const int m = 2 * x;  // first source pixel of the output pair's first macropixel
        int u = 0, v = 0;
        for (int j = 0; j < 2; ++j)
          for (int i = 0; i < 2; ++i) {
            u += at(m + 2 * i, 2 * y + j, 0);
            v += at(m + 2 * i, 2 * y + j, 2);
          }
        o[0] = static_cast<uint8_t>((u + 2) >> 2);
        o[2] = static_cast<uint8_t>((v + 2) >> 2);
      }
    }
  return out;
}

TEST(EncodeFrame, HalvingPackedYuvEqualsEncodingTheHalvedPicture) {
  const int w = 64, h = 96;
  const auto uyvy = toUyvy(naturalPicture(w, h, 12));
  const auto halved = halveUyvyReference(uyvy, w, h);
  for (uint32_t sampling : {kJpegSampling420, kJpegSampling422, kJpegSamplingGray}) {
    for (uint32_t rotation = 0; rotation < 4; ++rotation) {
      const auto direct = encode(uyvy, {w, h, kJpegFormatUyvy, 1, rotation, sampling}, 85);
      const auto reference = encode(halved, {w / 2, h / 2, kJpegFormatUyvy, 0, rotation, sampling}, 85);
      EXPECT_EQ(direct, reference) << "sampling " << sampling << " rotation " << rotation;
      const Decoded d = decodeJpeg(direct.data(), direct.size());
      EXPECT_EQ(d.error, "");
      EXPECT_EQ(d.width, (rotation & 1) ? h / 2 : w / 2);
    }
  }
}

}  // namespace
}  // namespace jpegpress
