// The camera pipeline end to end: DeliverFrame on a camera thread -> TakeFrame on the
// target's thread, 640x480 UYVY and YV12 frames, rotation 0 and 1, with jpegpress and with
// the system encoder fallback module. Each case first measures its encoder's bare rate on
// the same picture in the same run (jpegpress: EncodeFrame with the turn; system encoder:
// Encode of the picture already turned and planar), then the pipeline, and reports
//   pipeline_fps, bare_fps and ratio = pipeline_fps / bare_fps.
// The camera thread copies a fresh picture into its buffer before every DeliverFrame, as a
// camera does when it fills a buffer (the pipeline works in place and the system encoder
// path writes the JPEG over the source); that copy is part of the pipeline figure.

#include <benchmark/benchmark.h>
#include <time.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <thread>
#include <vector>

#include "camera/camera_source.h"
#include "camera/picture_repack.h"
#include "camera/system_encoder.h"
#include "fake_camera.h"
#include "jpeg_test_support.h"
#include "platform/event.h"
#include "platform/module.h"
#include "sources/module_loader.h"

namespace {

using namespace camera;
using namespace sources;
namespace jt = jpegpress::testing;

constexpr uint32_t kW = 640, kH = 480;

double threadCpuSeconds() {
  timespec t;
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return t.tv_sec + t.tv_nsec * 1e-9;
}

// Runs `encodeOnce` until 0.3 s of CPU time have passed; frames per CPU second.
template <typename F>
double cpuRate(F&& encodeOnce) {
  encodeOnce();  // warm up
  int frames = 0;
  const double start = threadCpuSeconds();
  double spent = 0;
  while (spent < 0.3) {
    encodeOnce();
    ++frames;
    spent = threadCpuSeconds() - start;
  }
  return frames / spent;
}

struct Modules {
  Modules() {
    const std::string dir = platform::programDirectory();
    jpegpressModule = platform::loadModuleFrom(dir, kJpegpressModuleName);
    if (jpegpressModule) {
      auto get = reinterpret_cast<DllGetDataFunction>(jpegpressModule->symbol("DllGetData"));
      jpegpressBound = get && get(&jpegpress);
    }
    sources::FolderModuleLoader loader({dir});
    system = SystemEncoderBinding::bind(loader);
  }
  std::unique_ptr<platform::Module> jpegpressModule;
  JpegEncoderTable jpegpress{};
  bool jpegpressBound = false;
  SystemEncoderBinding system;
};

Modules& modules() {
  static Modules m;
  return m;
}

double bareRate(bool useJpegpress, uint32_t format, uint32_t r, const std::vector<uint8_t>& picture) {
  Modules& m = modules();
  std::vector<uint8_t> out(kW * kH * 2);
  if (useJpegpress) {
    JpegEncoder* encoder = nullptr;
    m.jpegpress.CreateEncoder(&encoder);
    m.jpegpress.SetQuality(encoder, 60);
    const uint32_t code = format == kFormatUyvy ? kJpegFormatUyvy : kJpegFormatPlanar;
    const double rate = cpuRate([&] {
      EncodeParams params{kW, kH, code, 0, r, kJpegSampling420};
      benchmark::DoNotOptimize(m.jpegpress.EncodeFrame(encoder, out.data(), picture.data(), &params, 1));
    });
    m.jpegpress.DestroyEncoder(encoder);
    return rate;
  }
  std::vector<uint8_t> planar(kW * kH * 3 / 2);
  if (format == kFormatUyvy)
    UyvyToPlanar(planar.data(), picture.data(), kW, kH, r);
  else if (r == 0)
    std::memcpy(planar.data(), picture.data(), planar.size());
  else
    TurnPlanar(planar.data(), picture.data(), kW, kH, r);
  SystemEncoderCreation record;
  record.width = (r & 1) ? kH : kW;
  record.height = (r & 1) ? kW : kH;
  record.quality = 60;
  record.format = kFormatYv12;
  SystemEncoder* object = nullptr;
  if (m.system.factory()(&object, &record) != 0) return 0;
  const double rate = cpuRate([&] {
    uint32_t size = static_cast<uint32_t>(out.size());
    object->operations->Encode(object, planar.data(), out.data(), &size);
  });
  object->operations->Release(object);
  return rate;
}

void BM_Pipeline(benchmark::State& state) {
  const bool useJpegpress = state.range(0) == 0;
  const uint32_t format = state.range(1) == 0 ? kFormatUyvy : kFormatYv12;
  const uint32_t r = static_cast<uint32_t>(state.range(2));
  Modules& m = modules();
  if (useJpegpress ? !m.jpegpressBound : !m.system) {
    state.SkipWithError("module missing beside the benchmark");
    return;
  }
  const jt::RgbPicture rgb = jt::naturalPicture(kW, kH, 5);
  const std::vector<uint8_t> pristine = format == kFormatUyvy ? jt::toUyvy(rgb) : jt::toPlanar(rgb);
  const double bare = bareRate(useJpegpress, format, r, pristine);

  CameraEnvironment env;
  if (useJpegpress) env.jpegpress = &m.jpegpress;
  env.systemEncoder = m.system.factory();
  PictureMode mode = camera::testing::mode(kW, kH, format);
  mode.nativeSwap = format == kFormatYv12;
  camera::testing::FakeCamera camera(env, {mode});
  camera.Init();
  camera.common(kSettingFrameRate).current = 10;  // MAX
  camera.common(kSettingRotation).current = static_cast<int32_t>(r);
  platform::Event ready;
  StartParams params;
  params.mode = kModeCapture;
  params.frameReady = &ready;
  if (!camera.Start(params)) {
    state.SkipWithError("camera did not start");
    return;
  }
  std::atomic<bool> stop{false};
  std::atomic<double> producerCpu{0};
  std::thread producer([&] {
    std::vector<uint8_t> buffer(pristine.size());
    const double cpuStart = threadCpuSeconds();
    while (!stop.load(std::memory_order_relaxed)) {
      std::memcpy(buffer.data(), pristine.data(), buffer.size());
      camera.DeliverFrame(nullptr, buffer.data(), static_cast<uint32_t>(buffer.size()));
    }
    producerCpu = threadCpuSeconds() - cpuStart;
  });
  uint64_t frames = 0, bytes = 0;
  const double consumerStart = threadCpuSeconds();
  const auto start = std::chrono::steady_clock::now();
  for (auto _ : state) {
    FrameDescriptor frame;
    while (camera.TakeFrame(&frame) == 0) ready.wait(100);
    ++frames;
    bytes += frame.sizeBytes;
  }
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  const double consumerCpu = threadCpuSeconds() - consumerStart;
  stop = true;
  camera.Halt();
  producer.join();
  // The producer's last frame, released by Halt, was not taken: count it as work.
  const double fps = (frames + 1) / (producerCpu.load() + consumerCpu);
  state.counters["wall_fps"] = frames / seconds;
  state.counters["pipeline_fps"] = fps;
  state.counters["bare_fps"] = bare;
  state.counters["ratio"] = bare > 0 ? fps / bare : 0;
  state.counters["jpeg_bytes"] = frames ? static_cast<double>(bytes) / frames : 0;
  state.SetLabel(std::string(useJpegpress ? "jpegpress" : "system") + (format == kFormatUyvy ? " UYVY" : " YV12") +
                 " r=" + std::to_string(r));
}

BENCHMARK(BM_Pipeline)
    ->ArgNames({"system", "yv12", "r"})
    ->ArgsProduct({{0, 1}, {0, 1}, {0, 1}})
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond)
    ->MinTime(0.5);

}  // namespace

BENCHMARK_MAIN();
