#include "decoder/jpeg_decoder.h"

#include <csetjmp>
#include <cstdio>  // jpeglib.h needs FILE
#include <cstdlib>

#include "decoder/frame_renderer.h"

extern "C" {
#include <jerror.h>
#include <jpeglib.h>
}

static_assert(JPEG_LIB_VERSION == 62, "the decoder is written against the version 62 structures");
#if !defined(JCS_ALPHA_EXTENSIONS)
#error "the straight render needs a JPEG library that writes BGR, BGRA and RGBA rows itself"
#endif

namespace decoder {

namespace {

// Error manager: an error leaves the library by a jump back into the step that called it
// and marks the picture as failed; messages go nowhere.
struct ErrorManager {
  jpeg_error_mgr pub;  // first, so that the library's pointer is also ours
  std::jmp_buf jump;
  bool armed;
  bool failed;
};

ErrorManager* errorManagerOf(j_common_ptr cinfo) {
  return reinterpret_cast<ErrorManager*>(cinfo->err);
}

[[noreturn]] void errorExit(j_common_ptr cinfo) {
  ErrorManager* e = errorManagerOf(cinfo);
  e->failed = true;
  if (e->armed) {
    e->armed = false;
    std::longjmp(e->jump, 1);
  }
  // Every call into the library is made with the jump armed; anything else is a bug here.
  std::abort();
}

void emitMessage(j_common_ptr cinfo, int msgLevel) {
  // Warnings are ignored except the one that says the compressed data ran out before the
  // picture was complete: that picture lies about its size or was cut short.
  if (msgLevel < 0 && cinfo->err->msg_code == JWRN_HIT_MARKER) errorManagerOf(cinfo)->failed = true;
}

void outputMessage(j_common_ptr) {}

void formatMessage(j_common_ptr, char* buffer) { buffer[0] = '\0'; }

void resetErrorManager(j_common_ptr cinfo) {
  errorManagerOf(cinfo)->failed = false;
  cinfo->err->num_warnings = 0;
  cinfo->err->msg_code = 0;
}

// Memory source: the whole JPEG is one buffer, given before each header.
const JOCTET kEndOfImage[2] = {0xFF, JPEG_EOI};

void initSource(j_decompress_ptr) {}

boolean fillInputBuffer(j_decompress_ptr cinfo) {
  // The library wants bytes beyond the end of the buffer: report the end of the image and
  // fail the picture, rather than read on.
  errorManagerOf(reinterpret_cast<j_common_ptr>(cinfo))->failed = true;
  cinfo->src->next_input_byte = kEndOfImage;
  cinfo->src->bytes_in_buffer = sizeof kEndOfImage;
  return TRUE;
}

void skipInputData(j_decompress_ptr cinfo, long numBytes) {
  if (numBytes <= 0) return;
  jpeg_source_mgr* src = cinfo->src;
  const size_t n = static_cast<size_t>(numBytes);
  if (n > src->bytes_in_buffer) {
    // Skipping past the end: the next read finds no data and reports the end.
    src->next_input_byte += src->bytes_in_buffer;
    src->bytes_in_buffer = 0;
  } else {
    src->next_input_byte += n;
    src->bytes_in_buffer -= n;
  }
}

void termSource(j_decompress_ptr) {}

}  // namespace

struct JpegDecoder::Impl : RowSource {
  jpeg_decompress_struct cinfo{};
  ErrorManager err{};
  jpeg_source_mgr src{};
  bool created = false;
  bool headerRead = false;  // a header is read and its picture not yet decompressed
  FrameRenderer renderer;

  Impl() {
    err.pub.error_exit = errorExit;
    err.pub.emit_message = emitMessage;
    err.pub.output_message = outputMessage;
    err.pub.format_message = formatMessage;
    err.pub.reset_error_mgr = resetErrorManager;
    cinfo.err = &err.pub;
    src.init_source = initSource;
    src.fill_input_buffer = fillInputBuffer;
    src.skip_input_data = skipInputData;
    src.resync_to_restart = jpeg_resync_to_restart;
    src.term_source = termSource;
    if (setjmp(err.jump)) {
      jpeg_destroy_decompress(&cinfo);
      return;
    }
    err.armed = true;
    jpeg_CreateDecompress(&cinfo, JPEG_LIB_VERSION, sizeof cinfo);
    err.armed = false;
    cinfo.src = &src;
    created = true;
  }

  ~Impl() {
    if (created) jpeg_destroy_decompress(&cinfo);
  }

  // Gives up the picture in progress, if any.
  void abandon() {
    headerRead = false;
    if (created) jpeg_abort_decompress(&cinfo);
  }

  bool readHeader() {
    if (setjmp(err.jump)) return false;
    err.armed = true;
    const int result = jpeg_read_header(&cinfo, TRUE);
    err.armed = false;
    return result == JPEG_HEADER_OK && !err.failed;
  }

  bool startDecompress() {
    if (setjmp(err.jump)) return false;
    err.armed = true;
    const boolean started = jpeg_start_decompress(&cinfo);
    err.armed = false;
    return started && !err.failed;
  }

  bool readRow(uint8_t* rgb) override {
    if (setjmp(err.jump)) return false;
    err.armed = true;
    JSAMPROW rows[1] = {rgb};
    const JDIMENSION n = jpeg_read_scanlines(&cinfo, rows, 1);
    err.armed = false;
    return n == 1 && !err.failed;
  }

  // Reads every row of the started picture into rows `stride` bytes apart from `first`.
  bool readRowsInto(uint8_t* first, size_t stride) {
    if (setjmp(err.jump)) return false;
    err.armed = true;
    JSAMPROW rows[4];
    while (cinfo.output_scanline < cinfo.output_height) {
      const JDIMENSION left = cinfo.output_height - cinfo.output_scanline;
      const JDIMENSION n = left < 4 ? left : 4;
      for (JDIMENSION i = 0; i < n; ++i) rows[i] = first + stride * (cinfo.output_scanline + i);
      if (jpeg_read_scanlines(&cinfo, rows, n) == 0 || err.failed) {
        err.armed = false;
        return false;
      }
    }
    err.armed = false;
    return !err.failed;
  }

  bool finishDecompress() {
    if (setjmp(err.jump)) return false;
    err.armed = true;
    const boolean finished = jpeg_finish_decompress(&cinfo);
    err.armed = false;
    return finished && !err.failed;
  }
};

JpegDecoder::JpegDecoder() : impl_(std::make_unique<Impl>()) {}
JpegDecoder::~JpegDecoder() = default;

bool JpegDecoder::valid() const { return impl_->created; }

bool JpegDecoder::decodeHeader(const uint8_t* data, size_t size, uint32_t* width,
                               uint32_t* height) {
  Impl& d = *impl_;
  width_ = height_ = 0;
  if (!d.created) return false;
  d.abandon();
  if (data == nullptr || size == 0) return false;
  d.src.next_input_byte = data;
  d.src.bytes_in_buffer = size;
  d.err.failed = false;
  if (!d.readHeader()) {
    d.abandon();
    return false;
  }
  d.cinfo.out_color_space = JCS_RGB;
  d.headerRead = true;
  width_ = d.cinfo.image_width;
  height_ = d.cinfo.image_height;
  if (width) *width = width_;
  if (height) *height = height_;
  return true;
}

bool JpegDecoder::render(bool mirror, uint8_t* dst, size_t dstSize, uint32_t W, uint32_t H,
                         uint32_t rotation) {
  Impl& d = *impl_;
  if (!d.created || !d.headerRead) return false;
  d.headerRead = false;
  const uint32_t w = d.cinfo.image_width;
  const uint32_t h = d.cinfo.image_height;
  bool ok =
      w <= kMaxJpegRowPixels && d.renderer.prepare(w, h, dst, dstSize, W, H, rotation, mirror);
  ok = ok && d.startDecompress();
  ok = ok && d.cinfo.output_width == w && d.cinfo.output_height == h &&
       d.cinfo.output_components == 3;
  ok = ok && d.renderer.run(d);
  ok = ok && d.finishDecompress();
  if (!ok) d.abandon();
  return ok;
}

bool JpegDecoder::renderStraight(const StraightTarget& target) {
  Impl& d = *impl_;
  if (!d.created || !d.headerRead) return false;
  d.headerRead = false;
  const uint32_t w = d.cinfo.image_width;
  const uint32_t h = d.cinfo.image_height;
  int pixelBytes = 3;
  switch (target.order) {
    case PixelOrder::kBgr: d.cinfo.out_color_space = JCS_EXT_BGR; break;
    case PixelOrder::kRgb: d.cinfo.out_color_space = JCS_EXT_RGB; break;
    // The alpha orders, not the X ones: those leave the fourth byte to the library.
    case PixelOrder::kBgrx: d.cinfo.out_color_space = JCS_EXT_BGRA; pixelBytes = 4; break;
    case PixelOrder::kRgbx: d.cinfo.out_color_space = JCS_EXT_RGBA; pixelBytes = 4; break;
  }
  const size_t rowBytes = size_t{w} * static_cast<size_t>(pixelBytes);
  bool ok = target.data != nullptr && w <= kMaxJpegRowPixels && h > 0 &&
            target.stride >= rowBytes && target.size >= rowBytes &&
            (target.size - rowBytes) / target.stride >= h - 1;
  ok = ok && d.startDecompress();
  ok = ok && d.cinfo.output_width == w && d.cinfo.output_height == h &&
       d.cinfo.output_components == pixelBytes;
  ok = ok && d.readRowsInto(target.data, target.stride);
  ok = ok && d.finishDecompress();
  if (!ok) d.abandon();
  return ok;
}

bool JpegDecoder::decode(const uint8_t* data, size_t size, uint8_t* dst, size_t dstSize, uint32_t W,
                         uint32_t H, uint32_t rotation, bool mirror) {
  return decodeHeader(data, size, nullptr, nullptr) && render(mirror, dst, dstSize, W, H, rotation);
}

}  // namespace decoder
