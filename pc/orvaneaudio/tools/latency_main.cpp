// orvaneaudio-latency: measures the feed-to-recorder latency of the microphone's PipeWire
// node, and the CPU time the orvaneaudio program spends meanwhile.
//
// It feeds 20 ms blocks through the control device at real-time rate, with a short pulse
// at the start of every 250th ms, records the node as an ordinary PipeWire capture
// client, and times each pulse from the feed request to the process cycle in which it
// comes out.
//
//   orvaneaudio-latency --target NODE [--seconds 10] [--pid PID_OF_ORVANEAUDIO]

#include <pipewire/pipewire.h>
#include <spa/param/audio/format-utils.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "orvaneaudio/feed_control.h"
#include "platform/device_io.h"

namespace {

int64_t nowNs() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return int64_t{ts.tv_sec} * 1'000'000'000 + ts.tv_nsec;
}

struct Shared {
  std::mutex lock;
  std::vector<int64_t> fedAt;      // feed time of each pulse
  std::vector<int64_t> arrivedAt;  // process-cycle time at which each pulse came out
  int64_t quietSince = 0;          // samples since the last loud one
};

Shared shared;
pw_stream* captureStream = nullptr;

void onProcess(void*) {
  pw_buffer* b = pw_stream_dequeue_buffer(captureStream);
  if (b == nullptr) return;
  const int64_t t = nowNs();
  const spa_data& d = b->buffer->datas[0];
  if (d.data != nullptr) {
    const auto* s = reinterpret_cast<const int16_t*>(static_cast<const uint8_t*>(d.data) + d.chunk->offset);
    const uint32_t n = d.chunk->size / 2;
    std::lock_guard guard(shared.lock);
    for (uint32_t i = 0; i < n; ++i) {
      if (std::abs(s[i]) > 8000) {
        if (shared.quietSince > 800) shared.arrivedAt.push_back(t);  // 100 ms of quiet first
        shared.quietSince = 0;
      } else {
        ++shared.quietSince;
      }
    }
  }
  pw_stream_queue_buffer(captureStream, b);
}

long cpuTicks(int pid) {
  std::ifstream f("/proc/" + std::to_string(pid) + "/stat");
  std::string line;
  std::getline(f, line);
  const auto close = line.rfind(')');
  if (close == std::string::npos) return -1;
  // Fields after the command: state is field 3; utime and stime are fields 14 and 15.
  std::vector<std::string> fields;
  size_t pos = close + 2;
  while (pos < line.size()) {
    const size_t next = line.find(' ', pos);
    fields.push_back(line.substr(pos, next - pos));
    if (next == std::string::npos) break;
    pos = next + 1;
  }
  if (fields.size() < 13) return -1;
  return std::stol(fields[11]) + std::stol(fields[12]);
}

double percentile(std::vector<double> v, double p) {
  std::sort(v.begin(), v.end());
  const size_t i = std::min(v.size() - 1, static_cast<size_t>(std::ceil(p * v.size())) - 1);
  return v[i];
}

}  // namespace

int main(int argc, char** argv) {
  using namespace orvaneaudio;
  std::string target;
  double seconds = 10;
  int pid = 0;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "--target" && i + 1 < argc) target = argv[++i];
    else if (a == "--seconds" && i + 1 < argc) seconds = std::atof(argv[++i]);
    else if (a == "--pid" && i + 1 < argc) pid = std::atoi(argv[++i]);
    else {
      std::fprintf(stderr, "usage: orvaneaudio-latency --target NODE [--seconds S] [--pid PID]\n");
      return 2;
    }
  }
  auto device = platform::openDevice(kDevicePath);
  if (!device || target.empty()) {
    std::fprintf(stderr, "orvaneaudio-latency: need a running orvaneaudio and --target\n");
    return 1;
  }

  pw_init(&argc, &argv);
  pw_thread_loop* loop = pw_thread_loop_new("latency", nullptr);
  pw_properties* props = pw_properties_new(PW_KEY_MEDIA_TYPE, "Audio", PW_KEY_MEDIA_CATEGORY,
                                           "Capture", PW_KEY_TARGET_OBJECT, target.c_str(),
                                           PW_KEY_NODE_LATENCY, "160/8000", nullptr);
  static pw_stream_events events{};
  events.version = PW_VERSION_STREAM_EVENTS;
  events.process = onProcess;
  captureStream = pw_stream_new_simple(pw_thread_loop_get_loop(loop), "orvaneaudio-latency", props,
                                       &events, nullptr);
  uint8_t buffer[1024];
  spa_pod_builder builder = SPA_POD_BUILDER_INIT(buffer, sizeof buffer);
  spa_audio_info_raw info{};
  info.format = SPA_AUDIO_FORMAT_S16_LE;
  info.rate = kSampleRateHz;
  info.channels = 1;
  info.position[0] = SPA_AUDIO_CHANNEL_MONO;
  const spa_pod* params[1] = {spa_format_audio_raw_build(&builder, SPA_PARAM_EnumFormat, &info)};
  pw_stream_connect(captureStream, PW_DIRECTION_INPUT, PW_ID_ANY,
                    static_cast<pw_stream_flags>(PW_STREAM_FLAG_AUTOCONNECT | PW_STREAM_FLAG_MAP_BUFFERS |
                                                 PW_STREAM_FLAG_RT_PROCESS),
                    params, 1);
  pw_thread_loop_start(loop);
  std::this_thread::sleep_for(std::chrono::milliseconds(500));  // let the link settle

  const long ticksBefore = pid > 0 ? cpuTicks(pid) : -1;
  const int64_t wallBefore = nowNs();
  std::vector<uint8_t> block(320);
  const int blocks = static_cast<int>(seconds * 50);
  auto due = std::chrono::steady_clock::now();
  for (int k = 0; k < blocks; ++k) {
    std::fill(block.begin(), block.end(), 0);
    const bool pulse = k % 25 == 12;  // every 500 ms, after a quiet stretch
    if (pulse) {
      for (int i = 0; i < 16; ++i) {
        const int16_t v = (i % 2) ? -20000 : 20000;
        block[2 * i] = static_cast<uint8_t>(v);
        block[2 * i + 1] = static_cast<uint8_t>(static_cast<uint16_t>(v) >> 8);
      }
      std::lock_guard guard(shared.lock);
      shared.fedAt.push_back(nowNs());
    }
    device->control(IOCTL_AUDIO_FEED_WRITE, block.data(), 320, nullptr, 0, nullptr);
    due += std::chrono::milliseconds(20);
    std::this_thread::sleep_until(due);
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(400));
  const long ticksAfter = pid > 0 ? cpuTicks(pid) : -1;
  const int64_t wallAfter = nowNs();
  pw_thread_loop_stop(loop);
  pw_stream_destroy(captureStream);
  pw_thread_loop_destroy(loop);

  std::vector<double> ms;
  {
    std::lock_guard guard(shared.lock);
    // Pulses are matched in order; a pulse that never came out ends the matching.
    const size_t n = std::min(shared.fedAt.size(), shared.arrivedAt.size());
    for (size_t i = 0; i < n; ++i) ms.push_back((shared.arrivedAt[i] - shared.fedAt[i]) / 1e6);
    std::printf("pulses fed %zu, heard %zu\n", shared.fedAt.size(), shared.arrivedAt.size());
  }
  if (ms.empty()) {
    std::printf("no pulse came out of the node\n");
    return 1;
  }
  std::printf("feed-to-recorder latency: p50 %.1f ms, p99 %.1f ms, min %.1f ms, max %.1f ms\n",
              percentile(ms, 0.5), percentile(ms, 0.99), *std::min_element(ms.begin(), ms.end()),
              *std::max_element(ms.begin(), ms.end()));
  if (ticksBefore >= 0 && ticksAfter >= 0) {
    const double cpuSeconds = static_cast<double>(ticksAfter - ticksBefore) / sysconf(_SC_CLK_TCK);
    const double wall = (wallAfter - wallBefore) / 1e9;
    std::printf("orvaneaudio CPU: %.3f s over %.1f s of audio = %.2f%% of one core\n", cpuSeconds,
                wall, 100.0 * cpuSeconds / wall);
  }
  return 0;
}
