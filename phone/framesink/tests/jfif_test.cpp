#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "fake_v4l2.h"
#include "formats.h"
#include "framesink/test_pattern.h"
#include "picture_fixes.h"
#include "sink_graph.h"
#include "test_support.h"
#include "v4l2_camera.h"

#if FRAMESINK_HAVE_LIBJPEG
#include "platform/linux/v4l2_kernel.h"

#include <csetjmp>
#include <cstdio>
#include <jpeglib.h>
#endif

namespace framesink::testing {
namespace {

using platform::testing::FakeV4l2;
using platform::testing::FakeVideoNode;

using Bytes = std::vector<uint8_t>;

Bytes segment(uint8_t marker, const Bytes& body) {
  Bytes s = {0xFF, marker, static_cast<uint8_t>((body.size() + 2) >> 8), static_cast<uint8_t>(body.size() + 2)};
  s.insert(s.end(), body.begin(), body.end());
  return s;
}

Bytes concat(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

const Bytes kSoi = {0xFF, 0xD8};
const Bytes kEoi = {0xFF, 0xD9};
const Bytes kScanData = {0x12, 0xFF, 0x00, 0x34, 0xFF, 0xD0, 0x56};

Bytes fix(const Bytes& in, size_t room = 0) {
  Bytes out(room ? room : in.size() + jfifExtraBytes());
  out.resize(jfifFromCameraJpeg(in.data(), in.size(), out.data(), out.size()));
  return out;
}

bool hasMarker(const Bytes& b, uint8_t marker) {
  for (size_t i = 0; i + 1 < b.size(); ++i)
    if (b[i] == 0xFF && b[i + 1] == marker) return true;
  return false;
}

TEST(Jfif, HeaderComesFirstTablesAreAddedOnceAndTheFileEndsAtItsEnd) {
  const Bytes avi1 = segment(0xE0, {'A', 'V', 'I', '1', 0, 0});
  const Bytes camera = concat({kSoi, avi1, segment(0xDB, Bytes(65, 1)), segment(0xDA, Bytes(10, 0)), kScanData,
                               kEoi, Bytes(100, 0)});
  const Bytes out = fix(camera);
  ASSERT_FALSE(out.empty());
  const uint8_t head[] = {0xFF, 0xD8, 0xFF, 0xE0, 0x00, 0x10, 'J', 'F', 'I', 'F', 0};
  EXPECT_EQ(std::memcmp(out.data(), head, sizeof head), 0);
  EXPECT_TRUE(hasMarker(out, 0xC4));
  EXPECT_EQ(out[out.size() - 2], 0xFF);
  EXPECT_EQ(out[out.size() - 1], 0xD9);  // the padding after the end is gone

  // A picture with its own tables and JFIF header gets neither a second time.
  const Bytes dht = segment(0xC4, Bytes(20, 0));
  const Bytes jfif = segment(0xE0, {'J', 'F', 'I', 'F', 0, 1, 2, 0, 0, 1, 0, 1, 0, 0});
  const Bytes complete = concat({kSoi, jfif, dht, segment(0xDA, Bytes(10, 0)), kScanData, kEoi});
  const Bytes same = fix(complete);
  EXPECT_EQ(same.size(), complete.size());
}

TEST(Jfif, MalformedPicturesAreRefused) {
  const Bytes sos = segment(0xDA, Bytes(10, 0));
  const struct {
    const char* what;
    Bytes bytes;
  } cases[] = {
      {"empty", {}},
      {"no SOI", concat({segment(0xDB, Bytes(4, 0)), sos, kScanData, kEoi})},
      {"no scan", concat({kSoi, segment(0xDB, Bytes(4, 0)), kEoi})},
      {"cut before the end", concat({kSoi, sos, kScanData})},
      {"segment longer than the picture", concat({kSoi, Bytes{0xFF, 0xDB, 0x40, 0x00, 1, 2}})},
      {"segment length below 2", concat({kSoi, Bytes{0xFF, 0xDB, 0x00, 0x01}, sos, kScanData, kEoi})},
      {"garbage between segments", concat({kSoi, Bytes{0x00}, sos, kScanData, kEoi})},
  };
  for (const auto& c : cases) EXPECT_TRUE(fix(c.bytes).empty()) << c.what;

  const Bytes good = concat({kSoi, sos, kScanData, kEoi});
  EXPECT_FALSE(fix(good).empty());
  EXPECT_TRUE(fix(good, good.size() + 100).empty());  // no room for the tables
}

#if FRAMESINK_HAVE_LIBJPEG

// A baseline JPEG of an RGB picture, made with libjpeg's standard tables.
Bytes encodeRgb(uint32_t w, uint32_t h, const Bytes& rgb, int quality) {
  jpeg_compress_struct c{};
  jpeg_error_mgr err{};
  c.err = jpeg_std_error(&err);
  jpeg_create_compress(&c);
  unsigned char* mem = nullptr;
  unsigned long size = 0;
  jpeg_mem_dest(&c, &mem, &size);
  c.image_width = w;
  c.image_height = h;
  c.input_components = 3;
  c.in_color_space = JCS_RGB;
  jpeg_set_defaults(&c);
  jpeg_set_quality(&c, quality, TRUE);
  jpeg_start_compress(&c, TRUE);
  for (uint32_t y = 0; y < h; ++y) {
    JSAMPROW r = const_cast<uint8_t*>(rgb.data()) + size_t{y} * w * 3;
    jpeg_write_scanlines(&c, &r, 1);
  }
  jpeg_finish_compress(&c);
  Bytes out(mem, mem + size);
  jpeg_destroy_compress(&c);
  free(mem);
  return out;
}

Bytes encodeGradient(uint32_t w, uint32_t h) {
  Bytes rgb(size_t{w} * h * 3);
  for (uint32_t y = 0; y < h; ++y)
    for (uint32_t x = 0; x < w; ++x) {
      uint8_t* p = &rgb[(size_t{y} * w + x) * 3];
      p[0] = static_cast<uint8_t>(x * 255 / w);
      p[1] = static_cast<uint8_t>(y * 255 / h);
      p[2] = 128;
    }
  return encodeRgb(w, h, rgb, 90);
}

// Drops the APP0 and DHT segments, as motion-JPEG cameras send their pictures.
Bytes stripTables(const Bytes& in) {
  Bytes out(in.begin(), in.begin() + 2);
  size_t pos = 2;
  while (pos + 4 <= in.size()) {
    const uint8_t marker = in[pos + 1];
    const size_t len = size_t{in[pos + 2]} << 8 | in[pos + 3];
    if (marker == 0xDA) {
      out.insert(out.end(), in.begin() + pos, in.end());
      break;
    }
    if (marker != 0xC4 && marker != 0xE0) out.insert(out.end(), in.begin() + pos, in.begin() + pos + 2 + len);
    pos += 2 + len;
  }
  return out;
}

struct Decoded {
  bool ok = false;
  uint32_t width = 0, height = 0;
  Bytes rgb;
};

struct ErrorManager {
  jpeg_error_mgr base;
  std::jmp_buf escape;
};

Decoded decode(const Bytes& jpeg) {
  static Decoded d;  // outlives a jump out of libjpeg
  d = Decoded{};
  static jpeg_decompress_struct c;
  static ErrorManager err;
  c = jpeg_decompress_struct{};
  c.err = jpeg_std_error(&err.base);
  err.base.error_exit = [](j_common_ptr info) { std::longjmp(reinterpret_cast<ErrorManager*>(info->err)->escape, 1); };
  err.base.output_message = [](j_common_ptr) {};
  jpeg_create_decompress(&c);
  if (setjmp(err.escape) == 0) {
    jpeg_mem_src(&c, jpeg.data(), jpeg.size());
    jpeg_read_header(&c, TRUE);
    c.out_color_space = JCS_RGB;
    jpeg_start_decompress(&c);
    d.width = c.output_width;
    d.height = c.output_height;
    d.rgb.resize(size_t{d.width} * d.height * 3);
    while (c.output_scanline < c.output_height) {
      JSAMPROW r = d.rgb.data() + size_t{c.output_scanline} * d.width * 3;
      jpeg_read_scanlines(&c, &r, 1);
    }
    jpeg_finish_decompress(&c);
    d.ok = true;
  }
  jpeg_destroy_decompress(&c);
  return d;
}

TEST(Jfif, CameraPictureWithoutTablesDecodesAfterTheCameraPath) {
  const Bytes original = encodeGradient(320, 240);
  const Bytes camera = stripTables(original);
  ASSERT_FALSE(hasMarker(camera, 0xC4));

  FakeVideoNode setup;
  setup.formats = {{V4L2_PIX_FMT_MJPEG, {{320, 240, 30}}}};
  auto io = std::make_shared<FakeV4l2>();
  io->addNode(setup);
  SinkGraph graph(openV4l2Camera(io, ""), kSinkCapture);
  FormatEntry listed{};
  uint32_t count = 1;
  ASSERT_TRUE(graph.getFormats(&listed, &count, kSinkCapture));
  EXPECT_EQ(listed.format, kFormatJpeg);
  PictureSink sink;
  const SampleCallback cb = sink.callback();
  ASSERT_TRUE(graph.setCallback(&cb, kSinkCapture));
  io->queuePicture(camera);
  ASSERT_TRUE(graph.setState(kSinkRunning));
  ASSERT_TRUE(sink.waitFor(1));
  graph.setState(kSinkStopped);

  const Bytes file = sink.pictures()[0];
  const uint8_t head[] = {0xFF, 0xD8, 0xFF, 0xE0, 0x00, 0x10, 'J', 'F', 'I', 'F'};
  ASSERT_GE(file.size(), sizeof head);
  EXPECT_EQ(std::memcmp(file.data(), head, sizeof head), 0);
  const Decoded got = decode(file);
  const Decoded want = decode(original);
  ASSERT_TRUE(got.ok);
  ASSERT_TRUE(want.ok);
  EXPECT_EQ(got.width, 320u);
  EXPECT_EQ(got.height, 240u);
  EXPECT_EQ(got.rgb, want.rgb);  // the same tables as the encoder's: the same picture
}

// The stamp survives the pipeline's lowest JPEG quality at the smallest size.
TEST(TestPattern, StampSurvivesJpegCompression) {
  const uint32_t w = 160, h = 120;
  Bytes uyvy(size_t{w} * h * 2);
  const TestPatternStamp stamp{123457, 98765432};
  ASSERT_TRUE(renderTestPattern(uyvy.data(), w, h, kFormatUyvy, stamp, 4));
  Bytes rgb(size_t{w} * h * 3);
  for (size_t i = 0; i < size_t{w} * h; ++i) {
    const int y = uyvy[i * 2 + 1], u = uyvy[(i & ~size_t{1}) * 2] - 128, v = uyvy[(i & ~size_t{1}) * 2 + 2] - 128;
    auto clamp = [](int x) { return static_cast<uint8_t>(x < 0 ? 0 : x > 255 ? 255 : x); };
    rgb[i * 3] = clamp(y + (v * 359 >> 8));
    rgb[i * 3 + 1] = clamp(y - ((u * 88 + v * 183) >> 8));
    rgb[i * 3 + 2] = clamp(y + (u * 454 >> 8));
  }
  const Decoded d = decode(encodeRgb(w, h, rgb, 30));
  ASSERT_TRUE(d.ok);
  TestPatternStamp got;
  ASSERT_TRUE(readTestPatternStamp(w, h, [&](uint32_t x, uint32_t y) {
    const uint8_t* p = &d.rgb[(size_t{y} * w + x) * 3];
    return static_cast<uint8_t>((p[0] * 77 + p[1] * 150 + p[2] * 29) >> 8);
  }, got));
  EXPECT_EQ(got.frameNumber, stamp.frameNumber);
  EXPECT_EQ(got.timestampMs, stamp.timestampMs);
}

#endif

}  // namespace
}  // namespace framesink::testing
