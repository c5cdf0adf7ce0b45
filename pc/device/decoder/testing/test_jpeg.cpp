#include "test_jpeg.h"

#include <cmath>
#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <cstring>

extern "C" {
#include <jpeglib.h>
}

namespace decoder_testing {

namespace {

struct JumpError {
  jpeg_error_mgr pub;
  std::jmp_buf jump;
};

void jumpOnError(j_common_ptr cinfo) {
  std::longjmp(reinterpret_cast<JumpError*>(cinfo->err)->jump, 1);
}
void quiet(j_common_ptr) {}

std::vector<uint8_t> compress(const uint8_t* pixels, uint32_t w, uint32_t h, int components,
                              J_COLOR_SPACE space, const JpegOptions& options) {
  jpeg_compress_struct c;
  JumpError err;
  c.err = jpeg_std_error(&err.pub);
  err.pub.error_exit = jumpOnError;
  err.pub.output_message = quiet;
  unsigned char* out = nullptr;
  unsigned long outSize = 0;
  std::vector<uint8_t> result;
  if (setjmp(err.jump)) {
    jpeg_destroy_compress(&c);
    std::free(out);
    return {};
  }
  jpeg_create_compress(&c);
  jpeg_mem_dest(&c, &out, &outSize);
  c.image_width = w;
  c.image_height = h;
  c.input_components = components;
  c.in_color_space = space;
  jpeg_set_defaults(&c);
  jpeg_set_quality(&c, options.quality, TRUE);
  if (space == JCS_RGB && options.sampling == Sampling::k444) {
    for (int i = 0; i < 3; ++i) c.comp_info[i].h_samp_factor = c.comp_info[i].v_samp_factor = 1;
  }
  if (options.progressive) jpeg_simple_progression(&c);
  c.restart_interval = options.restartInterval;
  jpeg_start_compress(&c, TRUE);
  while (c.next_scanline < c.image_height) {
    JSAMPROW row = const_cast<uint8_t*>(pixels + size_t{c.next_scanline} * w * components);
    jpeg_write_scanlines(&c, &row, 1);
  }
  jpeg_finish_compress(&c);
  result.assign(out, out + outSize);
  jpeg_destroy_compress(&c);
  std::free(out);
  return result;
}

}  // namespace

std::vector<uint8_t> testPicture(uint32_t w, uint32_t h) {
  std::vector<uint8_t> p(size_t{w} * h * 3);
  for (uint32_t y = 0; y < h; ++y) {
    for (uint32_t x = 0; x < w; ++x) {
      uint8_t* q = &p[(size_t{y} * w + x) * 3];
      q[0] = static_cast<uint8_t>(x * 255 / (w > 1 ? w - 1 : 1));
      q[1] = static_cast<uint8_t>(y * 255 / (h > 1 ? h - 1 : 1));
      q[2] = static_cast<uint8_t>(((x / 16 + y / 16) & 1) ? 200 : 40);
    }
  }
  return p;
}

std::vector<uint8_t> encodeRgb(const uint8_t* rgb, uint32_t w, uint32_t h,
                               const JpegOptions& options) {
  return compress(rgb, w, h, 3, JCS_RGB, options);
}

std::vector<uint8_t> encodeGray(const uint8_t* grey, uint32_t w, uint32_t h, int quality) {
  JpegOptions o;
  o.quality = quality;
  return compress(grey, w, h, 1, JCS_GRAYSCALE, o);
}

std::vector<uint8_t> encodeCmyk(const uint8_t* cmyk, uint32_t w, uint32_t h, int quality) {
  JpegOptions o;
  o.quality = quality;
  return compress(cmyk, w, h, 4, JCS_CMYK, o);
}

std::vector<uint8_t> referenceDecode(const std::vector<uint8_t>& jpeg, uint32_t* w, uint32_t* h) {
  jpeg_decompress_struct d;
  JumpError err;
  d.err = jpeg_std_error(&err.pub);
  err.pub.error_exit = jumpOnError;
  err.pub.output_message = quiet;
  std::vector<uint8_t> out;
  if (setjmp(err.jump)) {
    jpeg_destroy_decompress(&d);
    return {};
  }
  jpeg_create_decompress(&d);
  jpeg_mem_src(&d, jpeg.data(), static_cast<unsigned long>(jpeg.size()));
  jpeg_read_header(&d, TRUE);
  d.out_color_space = JCS_RGB;
  jpeg_start_decompress(&d);
  out.resize(size_t{d.output_width} * d.output_height * 3);
  while (d.output_scanline < d.output_height) {
    JSAMPROW row = &out[size_t{d.output_scanline} * d.output_width * 3];
    jpeg_read_scanlines(&d, &row, 1);
  }
  *w = d.output_width;
  *h = d.output_height;
  jpeg_finish_decompress(&d);
  jpeg_destroy_decompress(&d);
  return out;
}

double renderedPsnr(const std::vector<uint8_t>& rendered, const std::vector<uint8_t>& rgb, uint32_t w,
                    uint32_t h) {
  const size_t stride = (size_t{w} * 3 + 3) & ~size_t{3};
  if (rendered.size() < stride * h || rgb.size() < size_t{w} * h * 3) return 0;
  double squares = 0;
  for (uint32_t y = 0; y < h; ++y) {
    const uint8_t* row = rendered.data() + (h - 1 - y) * stride;
    const uint8_t* in = rgb.data() + size_t{y} * w * 3;
    for (size_t i = 0; i < size_t{w} * 3; i += 3) {
      for (size_t c = 0; c < 3; ++c) {
        const double d = double(row[i + 2 - c]) - double(in[i + c]);
        squares += d * d;
      }
    }
  }
  const double mse = squares / (double(w) * h * 3);
  return mse == 0 ? 99.0 : 10.0 * std::log10(255.0 * 255.0 / mse);
}

}  // namespace decoder_testing
