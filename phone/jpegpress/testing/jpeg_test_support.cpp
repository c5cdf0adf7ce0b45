#include "jpeg_test_support.h"

#include <csetjmp>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

// libjpeg's header needs size_t and FILE first.
#include <jpeglib.h>

namespace jpegpress::testing {
namespace {

uint32_t hash(uint32_t x) {
  x ^= x >> 16;
  x *= 0x7feb352dU;
  x ^= x >> 15;
  x *= 0x846ca68bU;
  x ^= x >> 16;
  return x;
}

uint8_t clamp8(double v) { return static_cast<uint8_t>(v < 0 ? 0 : (v > 255 ? 255 : std::lround(v))); }

struct Ycc {
  double y, cb, cr;
};
Ycc yccOf(const uint8_t* rgb) {
  const double r = rgb[0], g = rgb[1], b = rgb[2];
  return {0.299 * r + 0.587 * g + 0.114 * b, -0.168736 * r - 0.331264 * g + 0.5 * b + 128,
          0.5 * r - 0.418688 * g - 0.081312 * b + 128};
}

struct ErrorManager {
  jpeg_error_mgr base;
  jmp_buf jump;
  int warnings;
  char message[JMSG_LENGTH_MAX];
};

void onError(j_common_ptr info) {
  auto* e = reinterpret_cast<ErrorManager*>(info->err);
  (*info->err->format_message)(info, e->message);
  longjmp(e->jump, 1);
}

void onMessage(j_common_ptr info, int level) {
  if (level < 0) ++reinterpret_cast<ErrorManager*>(info->err)->warnings;
}

void installErrors(ErrorManager& e) {
  jpeg_std_error(&e.base);
  e.base.error_exit = onError;
  e.base.emit_message = onMessage;
  e.warnings = 0;
  e.message[0] = '\0';
}

}  // namespace

RgbPicture naturalPicture(int width, int height, uint32_t seed) {
  RgbPicture p;
  p.width = width;
  p.height = height;
  p.rgb.resize(static_cast<size_t>(width) * height * 3);
  const double phase = (seed % 97) * 0.1;
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      const double u = static_cast<double>(x) / width, v = static_cast<double>(y) / height;
      // Sky-like shading and a ground with soft hills.
      double r = 90 + 80 * v + 30 * std::sin(6.0 * u + phase);
      double g = 120 + 60 * std::sin(3.0 * v + 2.0 * u + phase);
      double b = 200 - 120 * v + 20 * std::cos(5.0 * u);
      if (v > 0.55 + 0.08 * std::sin(9.0 * u + phase)) {
        r = 70 + 40 * u;
        g = 110 + 50 * std::sin(20.0 * u) * std::sin(14.0 * v);
        b = 50 + 20 * v;
      }
      // A hard-edged disc and a striped box.
      const double dx = u - 0.3, dy = v - 0.35;
      if (dx * dx + dy * dy < 0.015) {
        r = 230;
        g = 190 + 30 * dx * 10;
        b = 40;
      }
      if (u > 0.62 && u < 0.85 && v > 0.2 && v < 0.5) {
        const bool stripe = ((x / 3) + (y / 5)) % 2 == 0;
        r = stripe ? 200 : 60;
        g = stripe ? 70 : 60;
        b = stripe ? 60 : 180;
      }
      // Fine texture and grain.
      const double texture = 12 * std::sin(0.9 * x + 0.4 * y) * std::sin(0.35 * y);
      const double grain = static_cast<int>(hash(seed * 0x9e3779b9U + y * 7919U + x) % 13) - 6;
      uint8_t* px = &p.rgb[(static_cast<size_t>(y) * width + x) * 3];
      px[0] = clamp8(r + texture + grain);
      px[1] = clamp8(g + texture + grain);
      px[2] = clamp8(b + texture * 0.5 + grain);
    }
  }
  return p;
}

RgbPicture noisePicture(int width, int height, uint32_t seed) {
  RgbPicture p;
  p.width = width;
  p.height = height;
  p.rgb.resize(static_cast<size_t>(width) * height * 3);
  for (size_t i = 0; i < p.rgb.size(); ++i) p.rgb[i] = static_cast<uint8_t>(hash(seed * 0x85ebca6bU + static_cast<uint32_t>(i)));
  return p;
}

std::vector<uint8_t> toBgr24(const RgbPicture& p) {
  std::vector<uint8_t> out(p.rgb.size());
  for (size_t i = 0; i < p.rgb.size(); i += 3) {
    out[i] = p.rgb[i + 2];
    out[i + 1] = p.rgb[i + 1];
    out[i + 2] = p.rgb[i];
  }
  return out;
}

std::vector<uint8_t> toRgb565(const RgbPicture& p) {
  std::vector<uint8_t> out(p.rgb.size() / 3 * 2);
  for (size_t i = 0, o = 0; i < p.rgb.size(); i += 3, o += 2) {
    const uint16_t v = static_cast<uint16_t>((p.rgb[i] >> 3) << 11 | (p.rgb[i + 1] >> 2) << 5 |
                                             p.rgb[i + 2] >> 3);
    out[o] = static_cast<uint8_t>(v);
    out[o + 1] = static_cast<uint8_t>(v >> 8);
  }
  return out;
}

std::vector<uint8_t> toRgb555(const RgbPicture& p) {
  std::vector<uint8_t> out(p.rgb.size() / 3 * 2);
  for (size_t i = 0, o = 0; i < p.rgb.size(); i += 3, o += 2) {
    const uint16_t v = static_cast<uint16_t>((p.rgb[i] >> 3) << 10 | (p.rgb[i + 1] >> 3) << 5 |
                                             p.rgb[i + 2] >> 3);
    out[o] = static_cast<uint8_t>(v);
    out[o + 1] = static_cast<uint8_t>(v >> 8);
  }
  return out;
}

RgbPicture widenedRgb565(const RgbPicture& p) {
  RgbPicture w = p;
  for (size_t i = 0; i < w.rgb.size(); i += 3) {
    w.rgb[i] = static_cast<uint8_t>((p.rgb[i] >> 3) << 3);
    w.rgb[i + 1] = static_cast<uint8_t>((p.rgb[i + 1] >> 2) << 2);
    w.rgb[i + 2] = static_cast<uint8_t>((p.rgb[i + 2] >> 3) << 3);
  }
  return w;
}

RgbPicture widenedRgb555(const RgbPicture& p) {
  RgbPicture w = p;
  for (size_t i = 0; i < w.rgb.size(); ++i) w.rgb[i] = static_cast<uint8_t>((p.rgb[i] >> 3) << 3);
  return w;
}

std::vector<uint8_t> toUyvy(const RgbPicture& p) {
  std::vector<uint8_t> out(static_cast<size_t>(p.width) * p.height * 2);
  for (int y = 0; y < p.height; ++y) {
    for (int x = 0; x < p.width; x += 2) {
      const size_t i = (static_cast<size_t>(y) * p.width + x) * 3;
      const Ycc a = yccOf(&p.rgb[i]), b = yccOf(&p.rgb[i + 3]);
      uint8_t* o = &out[(static_cast<size_t>(y) * p.width + x) * 2];
      o[0] = clamp8((a.cb + b.cb) / 2);
      o[1] = clamp8(a.y);
      o[2] = clamp8((a.cr + b.cr) / 2);
      o[3] = clamp8(b.y);
    }
  }
  return out;
}

std::vector<uint8_t> toPlanar(const RgbPicture& p, bool crFirst) {
  const size_t lumaSize = static_cast<size_t>(p.width) * p.height;
  const int cw = p.width / 2, ch = p.height / 2;
  std::vector<uint8_t> out(lumaSize + 2 * static_cast<size_t>(cw) * ch);
  uint8_t* cb = &out[lumaSize];
  uint8_t* cr = cb + static_cast<size_t>(cw) * ch;
  if (crFirst) std::swap(cb, cr);
  for (int y = 0; y < p.height; ++y)
    for (int x = 0; x < p.width; ++x)
      out[static_cast<size_t>(y) * p.width + x] =
          clamp8(yccOf(&p.rgb[(static_cast<size_t>(y) * p.width + x) * 3]).y);
  for (int y = 0; y < ch; ++y) {
    for (int x = 0; x < cw; ++x) {
      double sb = 0, sr = 0;
      for (int j = 0; j < 2; ++j)
        for (int i = 0; i < 2; ++i) {
          const Ycc c = yccOf(&p.rgb[(static_cast<size_t>(2 * y + j) * p.width + 2 * x + i) * 3]);
          sb += c.cb;
          sr += c.cr;
        }
      cb[static_cast<size_t>(y) * cw + x] = clamp8(sb / 4);
      cr[static_cast<size_t>(y) * cw + x] = clamp8(sr / 4);
    }
  }
  return out;
}

namespace {

// Output pixel (x', y') of the turned picture reads source pixel (sx, sy).
void turnedSource(int xo, int yo, int w, int h, int rotation, int& sx, int& sy) {
  switch (rotation) {
    case 1: sx = w - 1 - yo; sy = xo; break;
    case 2: sx = w - 1 - xo; sy = h - 1 - yo; break;
    case 3: sx = yo; sy = h - 1 - xo; break;
    default: sx = xo; sy = yo; break;
  }
}

void turnPlane(const uint8_t* src, int w, int h, int bpp, int rotation, uint8_t* out) {
  const int ow = (rotation & 1) ? h : w, oh = (rotation & 1) ? w : h;
  for (int yo = 0; yo < oh; ++yo)
    for (int xo = 0; xo < ow; ++xo) {
      int sx, sy;
      turnedSource(xo, yo, w, h, rotation, sx, sy);
      std::memcpy(out + (static_cast<size_t>(yo) * ow + xo) * bpp,
                  src + (static_cast<size_t>(sy) * w + sx) * bpp, bpp);
    }
}

}  // namespace

std::vector<uint8_t> turnPacked(const std::vector<uint8_t>& src, int width, int height,
                                int bytesPerPixel, int rotation) {
  std::vector<uint8_t> out(src.size());
  turnPlane(src.data(), width, height, bytesPerPixel, rotation, out.data());
  return out;
}

std::vector<uint8_t> turnPlanar(const std::vector<uint8_t>& src, int width, int height,
                                int rotation) {
  std::vector<uint8_t> out(src.size());
  const size_t lumaSize = static_cast<size_t>(width) * height;
  const size_t chromaSize = lumaSize / 4;
  turnPlane(src.data(), width, height, 1, rotation, out.data());
  turnPlane(src.data() + lumaSize, width / 2, height / 2, 1, rotation, out.data() + lumaSize);
  turnPlane(src.data() + lumaSize + chromaSize, width / 2, height / 2, 1, rotation,
            out.data() + lumaSize + chromaSize);
  return out;
}

Decoded decodeJpeg(const uint8_t* data, size_t size, bool ycc) {
  Decoded result;
  jpeg_decompress_struct info;
  ErrorManager errors;
  installErrors(errors);
  info.err = &errors.base;
  jpeg_create_decompress(&info);
  if (setjmp(errors.jump) != 0) {
    result.error = errors.message;
    result.warnings = errors.warnings;
    jpeg_destroy_decompress(&info);
    return result;
  }
  jpeg_mem_src(&info, data, static_cast<unsigned long>(size));
  jpeg_read_header(&info, TRUE);
  if (ycc && info.num_components == 3) info.out_color_space = JCS_YCbCr;
  jpeg_start_decompress(&info);
  result.width = static_cast<int>(info.output_width);
  result.height = static_cast<int>(info.output_height);
  result.components = info.output_components;
  result.pixels.resize(static_cast<size_t>(result.width) * result.height * result.components);
  while (info.output_scanline < info.output_height) {
    JSAMPROW row = &result.pixels[static_cast<size_t>(info.output_scanline) * result.width *
                                  result.components];
    jpeg_read_scanlines(&info, &row, 1);
  }
  jpeg_finish_decompress(&info);
  result.warnings = errors.warnings;
  jpeg_destroy_decompress(&info);
  return result;
}

double psnr(const uint8_t* a, const uint8_t* b, size_t count) {
  double sum = 0;
  for (size_t i = 0; i < count; ++i) {
    const double d = static_cast<double>(a[i]) - b[i];
    sum += d * d;
  }
  if (sum == 0) return 99.0;
  return 10.0 * std::log10(255.0 * 255.0 * count / sum);
}

std::vector<uint8_t> entropyData(const uint8_t* data, size_t size) {
  size_t i = 2;
  while (i + 4 <= size && data[i] == 0xFF) {
    const uint8_t marker = data[i + 1];
    const size_t length = static_cast<size_t>(data[i + 2]) << 8 | data[i + 3];
    i += 2 + length;
    if (marker == 0xDA) break;
  }
  if (size < 2 || i > size - 2) return {};
  return std::vector<uint8_t>(data + i, data + size - 2);
}

std::vector<Segment> headerSegments(const uint8_t* data, size_t size) {
  std::vector<Segment> segments;
  size_t i = 2;
  while (i + 4 <= size && data[i] == 0xFF) {
    const uint8_t marker = data[i + 1];
    const size_t length = static_cast<size_t>(data[i + 2]) << 8 | data[i + 3];
    if (length < 2 || i + 2 + length > size) break;
    segments.push_back({marker, std::vector<uint8_t>(data + i + 4, data + i + 2 + length)});
    i += 2 + length;
    if (marker == 0xDA) break;
  }
  return segments;
}

std::vector<uint8_t> transcodeWithLibjpeg(const uint8_t* data, size_t size, int* coefficient63) {
  std::vector<uint8_t> result;
  jpeg_decompress_struct in;
  jpeg_compress_struct out;
  ErrorManager errors;  // one manager may serve both objects
  installErrors(errors);
  in.err = &errors.base;
  out.err = &errors.base;
  jpeg_create_decompress(&in);
  jpeg_create_compress(&out);
  unsigned char* buffer = nullptr;
  unsigned long bufferSize = 0;
  if (setjmp(errors.jump) != 0) {
    jpeg_destroy_compress(&out);
    jpeg_destroy_decompress(&in);
    std::free(buffer);
    return {};
  }
  jpeg_mem_src(&in, data, static_cast<unsigned long>(size));
  jpeg_read_header(&in, TRUE);
  jvirt_barray_ptr* coefficients = jpeg_read_coefficients(&in);
  int count63 = 0;
  for (int c = 0; c < in.num_components; ++c) {
    jpeg_component_info* comp = &in.comp_info[c];
    for (JDIMENSION row = 0; row < comp->height_in_blocks; ++row) {
      JBLOCKARRAY blocks = (*in.mem->access_virt_barray)(reinterpret_cast<j_common_ptr>(&in),
                                                          coefficients[c], row, 1, FALSE);
      for (JDIMENSION b = 0; b < comp->width_in_blocks; ++b)
        if (blocks[0][b][63] != 0) ++count63;
    }
  }
  if (coefficient63 != nullptr) *coefficient63 = count63;
  jpeg_mem_dest(&out, &buffer, &bufferSize);
  jpeg_copy_critical_parameters(&in, &out);
  jpeg_write_coefficients(&out, coefficients);
  jpeg_finish_compress(&out);
  jpeg_finish_decompress(&in);
  result.assign(buffer, buffer + bufferSize);
  jpeg_destroy_compress(&out);
  jpeg_destroy_decompress(&in);
  std::free(buffer);
  return result;
}

}  // namespace jpegpress::testing

namespace jpegpress::testing {

std::vector<uint8_t> libjpegEncode(const uint8_t* samples, int width, int height, int components,
                                   int quality, int h, int v) {
  jpeg_compress_struct info;
  jpeg_error_mgr errors;
  info.err = jpeg_std_error(&errors);
  jpeg_create_compress(&info);
  unsigned char* buffer = nullptr;
  unsigned long size = 0;
  jpeg_mem_dest(&info, &buffer, &size);
  info.image_width = static_cast<JDIMENSION>(width);
  info.image_height = static_cast<JDIMENSION>(height);
  info.input_components = components;
  info.in_color_space = components == 1 ? JCS_GRAYSCALE : JCS_RGB;
  jpeg_set_defaults(&info);
  jpeg_set_quality(&info, quality, TRUE);
  if (components == 3) {
    info.comp_info[0].h_samp_factor = h;
    info.comp_info[0].v_samp_factor = v;
  }
  jpeg_start_compress(&info, TRUE);
  while (info.next_scanline < info.image_height) {
    JSAMPROW row = const_cast<JSAMPROW>(samples + static_cast<size_t>(info.next_scanline) * width * components);
    jpeg_write_scanlines(&info, &row, 1);
  }
  jpeg_finish_compress(&info);
  std::vector<uint8_t> out(buffer, buffer + size);
  jpeg_destroy_compress(&info);
  std::free(buffer);
  return out;
}

}  // namespace jpegpress::testing
