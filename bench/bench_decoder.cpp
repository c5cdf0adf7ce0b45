// Frame rendering against the bare decode of the same JPEG by the system's libjpeg.
//
// Each iteration decodes the frame twice: once bare (libjpeg into a plain RGB picture, one
// row at a time, the decompression object reused) and once through JpegDecoder at the
// requested output size. The reported time is the render; "ratio" is render / bare over the
// same iterations, so both are measured on the same machine state. Times are CPU time,
// so that other work on a busy machine does not land in either side.
#include <benchmark/benchmark.h>
#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <vector>

#include "decoder/jpeg_decoder.h"
#include "decoder/render_geometry.h"
#include "test_jpeg.h"

extern "C" {
#include <jpeglib.h>
}

namespace {

// A camera-like frame: smooth light with sensor noise and some edges, quality 75, 4:2:0.
std::vector<uint8_t> cameraFrame(uint32_t w, uint32_t h) {
  std::vector<uint8_t> rgb = decoder_testing::testPicture(w, h);
  uint32_t s = 12345;
  for (uint8_t& b : rgb) {
    s = s * 1103515245u + 12345u;
    const int v = b + static_cast<int>((s >> 24) % 21) - 10;
    b = static_cast<uint8_t>(v < 0 ? 0 : v > 255 ? 255 : v);
  }
  decoder_testing::JpegOptions o;
  o.quality = 75;
  return decoder_testing::encodeRgb(rgb.data(), w, h, o);
}

// The process's CPU time (the benchmark runs on one thread), in microsecond steps.
double cpuSeconds() { return static_cast<double>(std::clock()) / CLOCKS_PER_SEC; }

struct BareDecoder {
  jpeg_decompress_struct d;
  jpeg_error_mgr err;
  std::vector<uint8_t> rgb;
  BareDecoder() {
    d.err = jpeg_std_error(&err);
    jpeg_create_decompress(&d);
  }
  ~BareDecoder() { jpeg_destroy_decompress(&d); }
  void decode(const std::vector<uint8_t>& jpeg) {
    jpeg_mem_src(&d, jpeg.data(), static_cast<unsigned long>(jpeg.size()));
    jpeg_read_header(&d, TRUE);
    d.out_color_space = JCS_RGB;
    jpeg_start_decompress(&d);
    rgb.resize(size_t{d.output_width} * d.output_height * 3);
    while (d.output_scanline < d.output_height) {
      JSAMPROW row = &rgb[size_t{d.output_scanline} * d.output_width * 3];
      jpeg_read_scanlines(&d, &row, 1);
    }
    jpeg_finish_decompress(&d);
  }
};

void renderAgainstBare(benchmark::State& state, uint32_t w, uint32_t h, uint32_t W, uint32_t H,
                       uint32_t rotation, bool mirror) {
  const std::vector<uint8_t> jpeg = cameraFrame(w, h);
  std::vector<uint8_t> out(decoder::imageSize(W, H));
  decoder::JpegDecoder decoder;
  BareDecoder bare;
  double bareSeconds = 0, renderSeconds = 0;
  for (auto _ : state) {
    const double t0 = cpuSeconds();
    bare.decode(jpeg);
    benchmark::DoNotOptimize(bare.rgb.data());
    const double t1 = cpuSeconds();
    const bool ok =
        decoder.decode(jpeg.data(), jpeg.size(), out.data(), out.size(), W, H, rotation, mirror);
    benchmark::DoNotOptimize(out.data());
    const double t2 = cpuSeconds();
    if (!ok) {
      state.SkipWithError("render failed");
      break;
    }
    const double b = t1 - t0;
    const double r = t2 - t1;
    bareSeconds += b;
    renderSeconds += r;
    state.SetIterationTime(r);
  }
  const double n = static_cast<double>(state.iterations());
  if (n > 0) {
    state.counters["bare_ms"] = bareSeconds / n * 1e3;
    state.counters["render_ms"] = renderSeconds / n * 1e3;
    state.counters["ratio"] = bareSeconds > 0 ? renderSeconds / bareSeconds : 0;
  }
  state.SetLabel(std::to_string(w) + "x" + std::to_string(h) + " -> " + std::to_string(W) + "x" +
                 std::to_string(H) + (rotation ? " r" + std::to_string(rotation) : "") +
                 (mirror ? " mirrored" : ""));
}

// Arguments: frame width, frame height, output scale in percent (50, 100, 200).
void BM_Render(benchmark::State& state) {
  const uint32_t w = static_cast<uint32_t>(state.range(0));
  const uint32_t h = static_cast<uint32_t>(state.range(1));
  const uint32_t scale = static_cast<uint32_t>(state.range(2));
  renderAgainstBare(state, w, h, w * scale / 100, h * scale / 100, 0, false);
}

// Sizes and settings an application may ask for that are no whole-number ratio of the
// frame: frame w, h, output W, H, rotation, mirror.
void BM_RenderOther(benchmark::State& state) {
  renderAgainstBare(state, static_cast<uint32_t>(state.range(0)),
                    static_cast<uint32_t>(state.range(1)), static_cast<uint32_t>(state.range(2)),
                    static_cast<uint32_t>(state.range(3)), static_cast<uint32_t>(state.range(4)),
                    state.range(5) != 0);
}

BENCHMARK(BM_Render)
    ->ArgNames({"w", "h", "scale%"})
    ->Args({320, 240, 100})
    ->Args({320, 240, 50})
    ->Args({320, 240, 200})
    ->Args({640, 480, 100})
    ->Args({640, 480, 50})
    ->Args({640, 480, 200})
    ->Args({1280, 960, 100})
    ->Args({1280, 960, 50})
    ->Args({1280, 960, 200})
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

BENCHMARK(BM_RenderOther)
    ->ArgNames({"w", "h", "W", "H", "r", "m"})
    ->Args({640, 480, 352, 288, 0, 0})  // CIF, letterboxed, reduced
    ->Args({320, 240, 352, 288, 0, 0})  // CIF, letterboxed, enlarged
    ->Args({640, 480, 642, 478, 0, 0})  // stretched, one axis up and one down
    ->Args({640, 480, 640, 480, 0, 1})  // same size, mirrored
    ->Args({640, 480, 480, 640, 1, 0})  // same size, turned a quarter
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
