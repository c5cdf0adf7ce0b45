// jpegpress against libjpeg-turbo, single thread, same pictures, same quality and
// subsampling. Our BGR24 input is compared with libjpeg-turbo's BGR input, our planar
// input with its raw-data (planar YUV) input; libjpeg-turbo has no rotation, so our
// quarter-turned encodes are compared with its plain encode. A turned picture is also a
// different picture to code (its chroma pairs and blocks fall elsewhere), so the cost of
// turning itself is measured against encoding the picture turned beforehand ("pre").
// At the end a table gives megapixels per second of both, the ratio, file sizes and PSNR
// (RGB for BGR input, luminance for planar input).

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include <jpeglib.h>

#include "encoder.h"
#include "jpeg_test_support.h"

namespace {

using namespace jpegpress;
using namespace jpegpress::testing;

struct Frame {
  int width, height;
  RgbPicture rgb;
  std::vector<uint8_t> bgr, planar, luma;
  std::vector<uint8_t> bgrTurned, planarTurned;  // a quarter turn counter-clockwise
};

const Frame& frame(int width, int height) {
  static std::map<int, Frame> frames;
  auto it = frames.find(width);
  if (it == frames.end()) {
    Frame f{width, height, naturalPicture(width, height, 42), {}, {}, {}, {}, {}};
    f.bgr = toBgr24(f.rgb);
    f.planar = toPlanar(f.rgb);
    f.luma.assign(f.planar.begin(), f.planar.begin() + static_cast<size_t>(width) * height);
    f.bgrTurned = turnPacked(f.bgr, width, height, 3, 1);
    f.planarTurned = turnPlanar(f.planar, width, height, 1);
    it = frames.emplace(width, std::move(f)).first;
  }
  return it->second;
}

// ---- libjpeg-turbo ----

struct TurboEncoder {
  jpeg_compress_struct info;
  jpeg_error_mgr errors;
  unsigned char* buffer = nullptr;
  unsigned long size = 0;
  TurboEncoder() {
    info.err = jpeg_std_error(&errors);
    jpeg_create_compress(&info);
  }
  ~TurboEncoder() {
    jpeg_destroy_compress(&info);
    std::free(buffer);
  }
  // Encodes into its own growing buffer (reused between calls); returns the size.
  size_t encode(const Frame& f, bool planar, int quality, bool sampling420) {
    jpeg_mem_dest(&info, &buffer, &size);
    info.image_width = static_cast<JDIMENSION>(f.width);
    info.image_height = static_cast<JDIMENSION>(f.height);
    info.input_components = 3;
    info.in_color_space = planar ? JCS_YCbCr : JCS_EXT_BGR;
    jpeg_set_defaults(&info);
    jpeg_set_quality(&info, quality, TRUE);
    info.comp_info[0].h_samp_factor = 2;
    info.comp_info[0].v_samp_factor = sampling420 ? 2 : 1;
    info.raw_data_in = planar ? TRUE : FALSE;
    jpeg_start_compress(&info, TRUE);
    if (planar) {
      const int w = f.width, h = f.height;
      const uint8_t* y = f.planar.data();
      const uint8_t* cb = y + static_cast<size_t>(w) * h;
      const uint8_t* cr = cb + static_cast<size_t>(w / 2) * (h / 2);
      JSAMPROW yRows[16], cbRows[8], crRows[8];
      JSAMPARRAY planes[3] = {yRows, cbRows, crRows};
      for (int row = 0; row < h; row += 16) {
        for (int i = 0; i < 16; ++i) yRows[i] = const_cast<JSAMPROW>(y + static_cast<size_t>(row + i) * w);
        for (int i = 0; i < 8; ++i) {
          cbRows[i] = const_cast<JSAMPROW>(cb + static_cast<size_t>(row / 2 + i) * (w / 2));
          crRows[i] = const_cast<JSAMPROW>(cr + static_cast<size_t>(row / 2 + i) * (w / 2));
        }
        jpeg_write_raw_data(&info, planes, 16);
      }
    } else {
      while (info.next_scanline < info.image_height) {
        JSAMPROW row = const_cast<JSAMPROW>(f.bgr.data() + static_cast<size_t>(info.next_scanline) * f.width * 3);
        jpeg_write_scanlines(&info, &row, 1);
      }
    }
    jpeg_finish_compress(&info);
    return size;
  }
};

// ---- quality of a result ----

double qualityOf(const Frame& f, const uint8_t* file, size_t size, bool planar) {
  const Decoded d = decodeJpeg(file, size, planar);
  if (!d.error.empty() || d.width != f.width || d.height != f.height) return 0;
  if (!planar) return psnr(d.pixels.data(), f.rgb.rgb.data(), f.rgb.rgb.size());
  std::vector<uint8_t> luma(f.luma.size());
  for (size_t i = 0; i < luma.size(); ++i) luma[i] = d.pixels[3 * i];
  return psnr(luma.data(), f.luma.data(), luma.size());
}

// ---- benchmarks ----

struct Config {
  int width, height, quality;
  bool planar, sampling420;
  std::string key() const {
    char s[64];
    std::snprintf(s, sizeof s, "%s/%dx%d/q%d/%s", planar ? "planar" : "bgr", width, height, quality,
                  sampling420 ? "420" : "422");
    return s;
  }
};

struct Result {
  double mpps = 0;
  size_t bytes = 0;
  double psnr = 0;
};
std::map<std::string, Result> ours[3], turbo;  // ours[rotation], [2] the pre-turned picture

// One of our encodes of a configuration: rotation 0 or 1; 2 encodes the pre-turned
// picture at rotation 0.
struct OurEncode {
  OurEncode(const Config& c, int rotation) : out(static_cast<size_t>(c.width) * c.height * 2) {
    const Frame& f = frame(c.width, c.height);
    const bool pre = rotation == 2;
    createEncoder(&encoder);
    setQuality(encoder, static_cast<uint32_t>(c.quality));
    input = pre ? (c.planar ? f.planarTurned.data() : f.bgrTurned.data())
                : (c.planar ? f.planar.data() : f.bgr.data());
    params = {static_cast<uint32_t>(pre ? c.height : c.width),
              static_cast<uint32_t>(pre ? c.width : c.height),
              c.planar ? kJpegFormatPlanar : kJpegFormatBgr24,
              0,
              static_cast<uint32_t>(pre ? 0 : rotation),
              c.sampling420 ? kJpegSampling420 : kJpegSampling422};
  }
  ~OurEncode() { destroyEncoder(encoder); }
  uint32_t run() {
    EncodeParams p = params;
    return encodeFrame(encoder, out.data() + 32, input, &p, 1);
  }
  JpegEncoder* encoder = nullptr;
  std::vector<uint8_t> out;
  const uint8_t* input;
  EncodeParams params;
};

void runOurs(benchmark::State& state, Config c, int rotation) {
  OurEncode encode(c, rotation);
  uint32_t length = 0;
  for (auto _ : state) {
    length = encode.run();
    benchmark::DoNotOptimize(length);
  }
  const std::vector<uint8_t>& out = encode.out;
  const Frame& f = frame(c.width, c.height);
  Result& r = ours[rotation][c.key()];
  r.bytes = length;
  if (rotation == 0) r.psnr = qualityOf(f, out.data() + 32, length, c.planar);
  state.counters["MPix/s"] = benchmark::Counter(static_cast<double>(c.width) * c.height / 1e6,
                                                benchmark::Counter::kIsIterationInvariantRate);
  state.counters["bytes"] = static_cast<double>(length);
}

void runTurbo(benchmark::State& state, Config c) {
  const Frame& f = frame(c.width, c.height);
  TurboEncoder t;
  size_t length = 0;
  for (auto _ : state) {
    length = t.encode(f, c.planar, c.quality, c.sampling420);
    benchmark::DoNotOptimize(length);
  }
  Result& r = turbo[c.key()];
  r.bytes = length;
  r.psnr = qualityOf(f, t.buffer, length, c.planar);
  state.counters["MPix/s"] = benchmark::Counter(static_cast<double>(c.width) * c.height / 1e6,
                                                benchmark::Counter::kIsIterationInvariantRate);
  state.counters["bytes"] = static_cast<double>(length);
}

// How much longer the quarter-turned encode takes than the encode of the same picture
// turned beforehand: the median over rounds of the ratio of two short batches run right
// after each other (in alternating order), so that the load of a shared machine, which
// comes and goes within the runs above, weighs on both alike. Each batch follows an
// untimed encode of its own picture, so that both are timed with their source in the
// caches, as in the runs above (the two 1280x960 pictures do not fit the caches together).
double turnCost(const Config& c) {
  OurEncode turned(c, 1), pre(c, 2);
  using Clock = std::chrono::steady_clock;
  const int batch = std::max(1, 600000 / (c.width * c.height));
  auto timeBatch = [batch](OurEncode& e) {
    benchmark::DoNotOptimize(e.run());
    const Clock::time_point start = Clock::now();
    for (int i = 0; i < batch; ++i) benchmark::DoNotOptimize(e.run());
    return std::chrono::duration<double>(Clock::now() - start).count();
  };
  std::vector<double> ratios;
  const Clock::time_point end = Clock::now() + std::chrono::milliseconds(400);
  while (ratios.size() < 11 || Clock::now() < end) {
    if (ratios.size() % 2 == 0) {
      const double first = timeBatch(turned);
      ratios.push_back(first / timeBatch(pre));
    } else {
      const double first = timeBatch(pre);
      ratios.push_back(timeBatch(turned) / first);
    }
  }
  std::nth_element(ratios.begin(), ratios.begin() + ratios.size() / 2, ratios.end());
  return ratios[ratios.size() / 2];
}

// Collects the rate of each run for the closing table.
class Collector : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const Run& run : runs) {
      auto it = run.counters.find("MPix/s");
      if (it != run.counters.end()) rates[run.benchmark_name()] = it->second.value;
    }
  }
  std::map<std::string, double> rates;
};

std::vector<Config> configs() {
  std::vector<Config> out;
  const int sizes[][2] = {{320, 240}, {640, 480}, {1280, 960}};
  for (const auto& s : sizes)
    for (int q : {50, 75, 90})
      for (bool planar : {false, true})
        for (bool s420 : {true, false}) {
          if (planar && !s420) continue;  // planar input is 4:2:0 only
          out.push_back({s[0], s[1], q, planar, s420});
        }
  return out;
}

}  // namespace

int main(int argc, char** argv) {
  const std::vector<Config> all = configs();
  for (const Config& c : all) {
    benchmark::RegisterBenchmark(("jpegpress/" + c.key() + "/r0").c_str(), runOurs, c, 0);
    benchmark::RegisterBenchmark(("jpegpress/" + c.key() + "/r1").c_str(), runOurs, c, 1);
    benchmark::RegisterBenchmark(("jpegpress/" + c.key() + "/pre").c_str(), runOurs, c, 2);
    benchmark::RegisterBenchmark(("libjpeg-turbo/" + c.key()).c_str(), runTurbo, c);
  }
  benchmark::Initialize(&argc, argv);
  std::printf("jpegpress kernels: %s\n", activeKernels().name);
  Collector collector;
  benchmark::RunSpecifiedBenchmarks(&collector);
  benchmark::Shutdown();

  std::printf("\n%-24s %8s %8s %6s %8s %8s %7s %9s %9s %6s %6s\n", "picture", "ours r0", "turbo",
              "ratio", "ours r1", "pre", "turn", "bytes", "turbo B", "PSNR", "turbo");
  for (const Config& c : all) {
    const std::string k = c.key();
    const double r0 = collector.rates["jpegpress/" + k + "/r0"];
    const double r1 = collector.rates["jpegpress/" + k + "/r1"];
    const double pre = collector.rates["jpegpress/" + k + "/pre"];
    const double t = collector.rates["libjpeg-turbo/" + k];
    if (r0 == 0 || t == 0 || pre == 0) continue;
    std::printf("%-24s %8.1f %8.1f %6.2f %8.1f %8.1f %7.2f %9zu %9zu %6.2f %6.2f\n", k.c_str(), r0,
                t, r0 / t, r1, pre, turnCost(c), ours[0][k].bytes, turbo[k].bytes, ours[0][k].psnr,
                turbo[k].psnr);
  }
  std::printf("(megapixels per second; r1 = turned a quarter while encoding, pre = the same\n"
              " picture turned beforehand and encoded at rotation 0; turn = time of r1 / time of\n"
              " pre, the median of short batches paired for 0.4 s; PSNR in dB, RGB for bgr,\n"
              " luminance for planar)\n");
  return 0;
}
