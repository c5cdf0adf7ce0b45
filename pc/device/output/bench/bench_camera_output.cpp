// The camera's output path at 640x480 under a real PipeWire session (started here, in a
// fresh runtime folder, and reaped at the end): a loopback phone sends numbered JPEG
// frames at 60 per second to a stand-alone engine; the capture pin decodes, renders and
// hands each picture to the PipeWire node; a consumer stream in this process (linked by
// WirePlumber, as any program is) reads the frame number from every buffer it gets.
//
// Prints the latency from the phone's send to the consumer's buffer (p50, p99), the
// frames lost, the streaming thread's CPU per frame and, measured in the same run, the
// bare decode + render of the same frames: their ratio is the output's overhead.
#include <fcntl.h>
#include <pipewire/pipewire.h>
#include <pthread.h>
#include <signal.h>
#include <spa/param/video/format-utils.h>
#include <spa/pod/builder.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "camera_outputs.h"
#include "decoder/jpeg_decoder.h"
#include "decoder/render_geometry.h"
#include "output/capture_pin.h"
#include "output/engine_link.h"
#include "pipewire_camera.h"
#include "test_jpeg.h"
#include "test_stream.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr uint32_t kW = 640, kH = 480;
constexpr int kFrames = 600;
constexpr int kRate = 60;

double ms(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }
double percentile(std::vector<double> v, double p) {
  if (v.empty()) return 0;
  std::sort(v.begin(), v.end());
  return v[static_cast<size_t>(p * static_cast<double>(v.size() - 1))];
}
double processCpuMs() {
  timespec t{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
  return t.tv_sec * 1e3 + t.tv_nsec / 1e6;
}
double threadCpuMs() {
  timespec t{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return t.tv_sec * 1e3 + t.tv_nsec / 1e6;
}

// A phone picture with its number as 16 blocks of 12 x 12 pixels along the top.
std::vector<uint8_t> numberedJpeg(int number) {
  std::vector<uint8_t> rgb = decoder_testing::testPicture(kW, kH);
  for (uint32_t y = 0; y < 12; ++y) {
    for (uint32_t x = 0; x < 16 * 12; ++x) {
      const uint8_t v = ((number >> (15 - x / 12)) & 1) ? 255 : 0;
      uint8_t* p = &rgb[(size_t{y} * kW + x) * 3];
      p[0] = p[1] = p[2] = v;
    }
  }
  decoder_testing::JpegOptions o;
  o.quality = 80;
  return decoder_testing::encodeRgb(rgb.data(), kW, kH, o);
}

struct Daemons {
  std::vector<pid_t> pids;
  std::string dir;
  pid_t spawn(const char* program, const std::string& log) {
    const pid_t pid = fork();
    if (pid == 0) {
      const int fd = ::open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
      if (fd >= 0) {
        dup2(fd, 1);
        dup2(fd, 2);
      }
      execlp(program, program, static_cast<char*>(nullptr));
      _exit(127);
    }
    if (pid > 0) pids.push_back(pid);
    return pid;
  }
  ~Daemons() {
    for (auto it = pids.rbegin(); it != pids.rend(); ++it) kill(*it, SIGTERM);
    for (auto it = pids.rbegin(); it != pids.rend(); ++it) waitpid(*it, nullptr, 0);
    if (!dir.empty()) std::system(("rm -rf '" + dir + "'").c_str());
    // The engine's named objects of this run.
    if (const char* prefix = std::getenv("VISTREL_OBJECT_PREFIX")) {
      std::system(("rm -f /dev/shm/'" + std::string(prefix) + "'*").c_str());
    }
  }
};

bool installed(const char* program) {
  return std::system((std::string("command -v ") + program + " >/dev/null 2>&1").c_str()) == 0;
}

// The consumer: an input stream asking for BGRx at 640x480 from the node "Vistrel".
struct Consumer {
  pw_thread_loop* loop = nullptr;
  pw_stream* stream = nullptr;
  std::mutex mutex;
  std::vector<Clock::time_point> arrival = std::vector<Clock::time_point>(kFrames);
  std::vector<bool> seen = std::vector<bool>(kFrames, false);
  std::atomic<int> buffers{0};
  std::atomic<bool> streaming{false};

  void onProcess() {
    pw_buffer* b = pw_stream_dequeue_buffer(stream);
    if (b == nullptr) return;
    const auto now = Clock::now();
    const spa_data& d = b->buffer->datas[0];
    if (d.data != nullptr && d.chunk->size >= kW * kH * 4) {
      const auto* p = static_cast<const uint8_t*>(d.data);
      int n = 0;
      for (int bit = 0; bit < 16; ++bit) {
        const uint8_t* px = p + (6 * kW + bit * 12 + 6) * 4;
        n = (n << 1) | ((px[0] + px[1] + px[2]) > 384 ? 1 : 0);
      }
      // Colour bars have no number pattern that passes this: their top row is a blend.
      const bool bars = std::memcmp(p, p + size_t{kW} * 4 * 100, kW * 4) == 0;
      if (!bars && n < kFrames) {
        std::lock_guard lock(mutex);
        if (!seen[n]) {
          seen[n] = true;
          arrival[n] = now;
        }
      }
      ++buffers;
    }
    pw_stream_queue_buffer(stream, b);
  }

  bool start() {
    loop = pw_thread_loop_new("bench-consumer", nullptr);
    pw_properties* props = pw_properties_new(PW_KEY_MEDIA_TYPE, "Video", PW_KEY_MEDIA_CATEGORY,
                                             "Capture", PW_KEY_MEDIA_ROLE, "Camera",
                                             "target.object", "Vistrel", nullptr);
    static const pw_stream_events events = [] {
      pw_stream_events e{};
      e.version = PW_VERSION_STREAM_EVENTS;
      e.process = [](void* data) { static_cast<Consumer*>(data)->onProcess(); };
      e.state_changed = [](void* data, pw_stream_state, pw_stream_state s, const char*) {
        static_cast<Consumer*>(data)->streaming = s == PW_STREAM_STATE_STREAMING;
      };
      return e;
    }();
    stream = pw_stream_new_simple(pw_thread_loop_get_loop(loop), "bench-consumer", props, &events, this);
    uint8_t buffer[512];
    spa_pod_builder b = SPA_POD_BUILDER_INIT(buffer, sizeof buffer);
    spa_video_info_raw info{};
    info.format = SPA_VIDEO_FORMAT_BGRx;
    info.size.width = kW;
    info.size.height = kH;
    info.framerate.num = 25;
    info.framerate.denom = 1;
    const spa_pod* params[1] = {spa_format_video_raw_build(&b, SPA_PARAM_EnumFormat, &info)};
    if (pw_stream_connect(stream, PW_DIRECTION_INPUT, PW_ID_ANY,
                          static_cast<pw_stream_flags>(PW_STREAM_FLAG_AUTOCONNECT |
                                                       PW_STREAM_FLAG_MAP_BUFFERS |
                                                       PW_STREAM_FLAG_RT_PROCESS),
                          params, 1) < 0) {
      return false;
    }
    return pw_thread_loop_start(loop) == 0;
  }
  ~Consumer() {
    if (loop != nullptr) pw_thread_loop_stop(loop);
    if (stream != nullptr) pw_stream_destroy(stream);
    if (loop != nullptr) pw_thread_loop_destroy(loop);
  }
};

// The host's outputs, timing the delivery step (conversion and hand-over to PipeWire).
class TimedOutputs : public output::CameraOutputs {
 public:
  using CameraOutputs::CameraOutputs;
  output::HResult deliver(output::Sample& sample) override {
    const double t0 = threadCpuMs();
    const output::HResult hr = CameraOutputs::deliver(sample);
    deliverMs += threadCpuMs() - t0;
    return hr;
  }
  double deliverMs = 0;
};

// The pin, timing the fill step (fetch, decode, render; straight into the PipeWire buffer
// where the picture allows it).
class TimedLink : public output::EngineLink {
 public:
  using EngineLink::EngineLink;
  bool renderNewest(uint8_t* dst, size_t size) override {
    const double t0 = threadCpuMs();
    const bool ok = EngineLink::renderNewest(dst, size);
    renderMs += threadCpuMs() - t0;
    return ok;
  }
  Rendered renderNewestStraight(uint8_t* dst, size_t size, const output::TakeStraight& take) override {
    const double t0 = threadCpuMs();
    const Rendered r = EngineLink::renderNewestStraight(dst, size, take);
    renderMs += threadCpuMs() - t0;
    return r;
  }
  double renderMs = 0;
};

}  // namespace

int main() {
  if (!installed("pipewire") || !installed("wireplumber")) {
    std::printf("bench_camera_output: skipped, pipewire or wireplumber is not installed\n");
    return 0;
  }
  signal(SIGPIPE, SIG_IGN);
  char dirTemplate[] = "/tmp/bench-camera-XXXXXX";
  Daemons daemons;
  daemons.dir = mkdtemp(dirTemplate);
  const std::string dir = daemons.dir;
  setenv("XDG_RUNTIME_DIR", dir.c_str(), 1);
  setenv("XDG_CONFIG_HOME", (dir + "/config").c_str(), 1);
  setenv("VISTREL_OBJECT_PREFIX", ("bench-camera-" + std::to_string(getpid()) + "-").c_str(), 1);
  setenv("VISTREL_DEVICE_PREFIX", ("bench-camera-" + std::to_string(getpid()) + "-dev/").c_str(), 1);
  setenv("VISTREL_KEY_STORE", (dir + "/registry.reg").c_str(), 1);
  unsetenv("PIPEWIRE_REMOTE");
  unsetenv("DBUS_SESSION_BUS_ADDRESS");
  std::system(("mkdir -p '" + dir + "/config/wireplumber/main.lua.d'").c_str());
  std::ofstream(dir + "/config/wireplumber/main.lua.d/55-no-bus.lua")
      << "alsa_monitor.properties[\"alsa.reserve\"] = false\n"
         "default_access.properties[\"enable-flatpak-portal\"] = false\n";
  const uint16_t port = server::testing::freePort();
  char reg[512];
  std::snprintf(reg, sizeof reg,
                "Windows Registry Editor Version 5.00\n\n[HKEY_LOCAL_MACHINE\\Software\\Orvane\\Vistrel]\n"
                "\"Port\"=dword:%08x\n\n[HKEY_LOCAL_MACHINE\\Software\\Orvane\\Vistrel\\bench_camera_output]\n"
                "\"Width\"=dword:%08x\n\"Height\"=dword:%08x\n\"ConnectAtStartup\"=dword:00000000\n",
                port, kW, kH);
  std::ofstream(dir + "/registry.reg") << reg;

  daemons.spawn("pipewire", dir + "/pipewire.log");
  for (int i = 0; i < 200 && access((dir + "/pipewire-0").c_str(), F_OK) != 0; ++i) usleep(10000);
  daemons.spawn("wireplumber", dir + "/wireplumber.log");
  usleep(500000);

  // The frames, and the bare decode + render of each, in this run.
  std::vector<std::vector<uint8_t>> jpegs;
  for (int i = 0; i < kFrames; ++i) jpegs.push_back(numberedJpeg(i));
  double bareMs = 0;
  {
    decoder::JpegDecoder dec;
    std::vector<uint8_t> out(decoder::imageSize(kW, kH));
    const double t0 = threadCpuMs();
    for (int r = 0; r < 2; ++r) {
      for (const auto& j : jpegs) dec.decode(j.data(), j.size(), out.data(), out.size(), kW, kH, 0, false);
    }
    bareMs = (threadCpuMs() - t0) / (2.0 * kFrames);
  }

  pw_init(nullptr, nullptr);
  engine::CameraEngine::Options eo;
  eo.bindAddress = "127.0.0.1";
  eo.executablePath = "/usr/bin/bench_camera_output";
  TimedLink link(eo);
  output::PipeWireCamera camera;
  output::PipeWireCamera::Options co;
  co.maxWidth = kW;
  co.maxHeight = kH;
  std::string error;
  bool ok = false;
  for (int attempt = 0; attempt < 20 && !ok; ++attempt) {
    ok = camera.start(co, &error);
    if (!ok) usleep(100000);
  }
  if (!ok) {
    std::fprintf(stderr, "bench_camera_output: %s\n", error.c_str());
    return 1;
  }
  TimedOutputs outputs(link, &camera, nullptr);
  output::CapturePin pin(link, outputs);
  output::CommandQueue commands;
  Consumer consumer;
  if (!consumer.start()) {
    std::fprintf(stderr, "bench_camera_output: no consumer stream\n");
    return 1;
  }
  for (int i = 0; i < 300 && !camera.streaming(); ++i) usleep(10000);
  if (!camera.streaming()) {
    std::fprintf(stderr, "bench_camera_output: the consumer never linked\n");
    return 1;
  }
  if (auto size = camera.takeNegotiatedSize()) pin.setFormat(output::buildMediaType(size->first, size->second));
  pin.setState(output::FilterState::kRunning);
  std::atomic<double> streamingCpu{0};
  std::thread streaming([&] {
    const double t0 = threadCpuMs();
    pin.run(commands);
    streamingCpu = threadCpuMs() - t0;
  });

  server::testing::Phone phone;
  for (int i = 0; i < 50 && !phone.connect(port, 500); ++i) usleep(20000);
  if (!phone.valid()) {
    std::fprintf(stderr, "bench_camera_output: the phone could not connect\n");
    pin.setState(output::FilterState::kStopped);
    commands.post(output::ThreadCommand::kStop);
    streaming.join();
    return 1;
  }
  std::vector<Clock::time_point> sent(kFrames);
  const double process0 = processCpuMs();
  const auto period = std::chrono::microseconds(1000000 / kRate);
  auto next = Clock::now();
  for (int i = 0; i < kFrames; ++i) {
    std::this_thread::sleep_until(next);
    next += period;
    server::testing::Bytes payload = jpegs[i];
    std::memset(payload.data(), 0, 10);  // the phone never sends the JFIF start
    const auto m = server::testing::message(protocol::MSG_VIDEO_JPEG, payload);
    sent[i] = Clock::now();
    phone.send(m);
  }
  usleep(300000);
  const double processMs = processCpuMs() - process0;
  pin.setState(output::FilterState::kStopped);
  commands.post(output::ThreadCommand::kStop);
  streaming.join();

  std::vector<double> latency;
  int received = 0;
  {
    std::lock_guard lock(consumer.mutex);
    // The first frames can go by while the link settles: count from the first seen.
    int first = 0;
    while (first < kFrames && !consumer.seen[first]) ++first;
    for (int i = first; i < kFrames; ++i) {
      if (!consumer.seen[i]) continue;
      ++received;
      latency.push_back(ms(consumer.arrival[i] - sent[i]));
    }
    const int expected = kFrames - first;
    const double perFrame = streamingCpu / std::max(1u, pin.frameCounter());
    const auto s = camera.stats();
    std::printf("bench_camera_output: %d frames of %ux%u at %d/s, first seen %d\n", kFrames, kW, kH, kRate, first);
    std::printf("  phone send -> consumer buffer: p50 %.2f ms, p99 %.2f ms\n", percentile(latency, 0.5),
                percentile(latency, 0.99));
    std::printf("  frames received %d of %d (lost %d); buffers %d; pin frames %u; no free buffer %llu\n",
                received, expected, expected - received, consumer.buffers.load(), pin.frameCounter(),
                static_cast<unsigned long long>(s.noBuffer));
    const double frames = std::max(1u, pin.frameCounter());
    std::printf("  streaming thread CPU per frame %.3f ms (fetch + decode + render %.3f, convert + hand-over %.3f,"
                " waiting and the rest %.3f)\n",
                perFrame, link.renderMs / frames, outputs.deliverMs / frames,
                perFrame - (link.renderMs + outputs.deliverMs) / frames);
    std::printf("  whole process CPU per frame %.3f ms (host, test phone and consumer together)\n",
                processMs / kFrames);
    std::printf("  bare decode + render in this run %.3f ms; overhead ratio %.2fx\n", bareMs, perFrame / bareMs);
  }
  return 0;
}
