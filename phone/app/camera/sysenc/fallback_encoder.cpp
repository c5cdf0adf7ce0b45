// The system encoder fallback "blenhart.dll" (blenhart.so): a factory exported as
// DllGetData whose encoder objects compress planar "YV12" pictures (luma, U, V) of their
// creation size with the system's libjpeg, baseline 4:2:0 at the creation quality.

#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <new>
#include <vector>

#include <jpeglib.h>

#include "camera/system_encoder.h"
#include "sources/capture_source.h"

namespace {

using camera::SystemEncoder;
using camera::SystemEncoderCreation;
using camera::SystemEncoderOperations;

struct FallbackEncoder {
  SystemEncoder base;  // first, so that the object's address is the SystemEncoder's
  jpeg_compress_struct cinfo;
  jpeg_error_mgr errors;
  jpeg_destination_mgr destination;
  std::jmp_buf failed;
  uint8_t* out = nullptr;
  uint32_t room = 0;
  uint32_t width = 0, height = 0;
  std::vector<JSAMPLE> row;  // one interleaved Y Cb Cr row
};

FallbackEncoder* self(j_compress_ptr cinfo) {
  return reinterpret_cast<FallbackEncoder*>(reinterpret_cast<char*>(cinfo) - offsetof(FallbackEncoder, cinfo));
}

void onError(j_common_ptr cinfo) {
  std::longjmp(self(reinterpret_cast<j_compress_ptr>(cinfo))->failed, 1);
}
void onMessage(j_common_ptr) {}  // the module prints nothing

void initDestination(j_compress_ptr cinfo) {
  FallbackEncoder* e = self(cinfo);
  cinfo->dest->next_output_byte = e->out;
  cinfo->dest->free_in_buffer = e->room;
}
// The destination is full: the picture does not fit its room.
boolean emptyDestination(j_compress_ptr cinfo) { std::longjmp(self(cinfo)->failed, 2); }
void termDestination(j_compress_ptr) {}

int32_t encode(SystemEncoder* object, const uint8_t* source, uint8_t* destination, uint32_t* inOutSize) {
  if (!object || !source || !destination || !inOutSize) return -1;
  FallbackEncoder* e = reinterpret_cast<FallbackEncoder*>(object);
  e->out = destination;
  e->room = *inOutSize;
  const size_t w = e->width, h = e->height, luma = w * h;
  const uint8_t* uPlane = source + luma;
  const uint8_t* vPlane = uPlane + luma / 4;
  if (setjmp(e->failed)) {
    jpeg_abort_compress(&e->cinfo);
    return -2;
  }
  jpeg_start_compress(&e->cinfo, TRUE);
  JSAMPLE* row = e->row.data();
  JSAMPROW rows[1] = {row};
  for (size_t y = 0; y < h; ++y) {
    const uint8_t* luma_row = source + y * w;
    const uint8_t* u = uPlane + (y / 2) * (w / 2);
    const uint8_t* v = vPlane + (y / 2) * (w / 2);
    for (size_t x = 0; x < w; ++x) {
      row[3 * x] = luma_row[x];
      row[3 * x + 1] = u[x / 2];
      row[3 * x + 2] = v[x / 2];
    }
    jpeg_write_scanlines(&e->cinfo, rows, 1);
  }
  jpeg_finish_compress(&e->cinfo);
  *inOutSize = static_cast<uint32_t>(e->room - e->cinfo.dest->free_in_buffer);
  return 0;
}

void release(SystemEncoder* object) {
  if (!object) return;
  FallbackEncoder* e = reinterpret_cast<FallbackEncoder*>(object);
  jpeg_destroy_compress(&e->cinfo);
  delete e;
}

int32_t setOption(SystemEncoder*, uint32_t option, uint32_t value) {
  // No thumbnail is ever embedded, so turning it off is all that can be asked.
  return option == camera::kSystemEncoderOptionThumbnail && value == 0 ? 0 : -1;
}

constexpr SystemEncoderOperations kOperations = {encode, release, setOption};

}  // namespace

extern "C" __attribute__((visibility("default"))) int32_t DllGetData(SystemEncoder** slot,
                                                                      const SystemEncoderCreation* record) {
  if (!slot) return -1;
  *slot = nullptr;
  if (!record || record->recordBytes < sizeof(SystemEncoderCreation)) return -1;
  if (record->width == 0 || record->height == 0 || ((record->width | record->height) & 1) ||
      record->width > 65535 || record->height > 65535 || record->format != sources::kFormatYv12)
    return -1;
  auto* e = new (std::nothrow) FallbackEncoder{};
  if (!e) return -1;
  e->base.operations = &kOperations;
  e->width = record->width;
  e->height = record->height;
  e->row.resize(size_t{record->width} * 3);
  e->cinfo.err = jpeg_std_error(&e->errors);
  e->errors.error_exit = onError;
  e->errors.output_message = onMessage;
  if (setjmp(e->failed)) {
    jpeg_destroy_compress(&e->cinfo);
    delete e;
    return -1;
  }
  jpeg_create_compress(&e->cinfo);
  e->destination.init_destination = initDestination;
  e->destination.empty_output_buffer = emptyDestination;
  e->destination.term_destination = termDestination;
  e->cinfo.dest = &e->destination;
  e->cinfo.image_width = record->width;
  e->cinfo.image_height = record->height;
  e->cinfo.input_components = 3;
  e->cinfo.in_color_space = JCS_YCbCr;
  jpeg_set_defaults(&e->cinfo);
  const int quality = record->quality == 0 ? 1 : (record->quality > 100 ? 100 : static_cast<int>(record->quality));
  jpeg_set_quality(&e->cinfo, quality, TRUE);
  e->cinfo.dct_method = JDCT_ISLOW;
  *slot = &e->base;
  return 0;
}
