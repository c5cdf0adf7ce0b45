// vistrel-sound-latency: times sound from the device's microphone to the PC's microphone.
//
// It is the device's microphone itself: a PipeWire Audio/Source node (--source NODE) that
// the device program records. It plays silence with a short loud pulse every
// --interval-ms, and records the PC's microphone (--target NODE) as an ordinary capture
// client in the same process, on the same graph clock. Each pulse is timed from the
// process cycle that played it to the cycle in which it came out of the PC microphone.
//
//   vistrel-sound-latency --source NODE --target NODE [--seconds 10] [--interval-ms 700]
//
// With --feed-block-ms MS instead of --source it measures the PC side's own share: it
// feeds the microphone's control device directly, as the frame server does, with blocks
// of MS milliseconds at real-time pace, and times each pulse from the feed of its block.
//
// Prints "pulses N heard M p50 X ms p99 Y ms" and exits 1 when no pulse came through.

#include <pipewire/pipewire.h>
#include <spa/param/audio/format-utils.h>
#include <time.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "orvaneaudio/feed_control.h"
#include "platform/device_io.h"

namespace {

constexpr uint32_t kRate = 8000;
constexpr uint32_t kPulseSamples = 16;
constexpr int16_t kPulseLevel = 20000;

int64_t nowNs() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return int64_t{ts.tv_sec} * 1'000'000'000 + ts.tv_nsec;
}

struct Shared {
  std::mutex lock;
  std::vector<int64_t> playedAt;
  std::vector<int64_t> heardAt;
  uint64_t played = 0;           // samples played so far
  uint64_t intervalSamples = 0;  // between pulses
  int64_t quietSince = 0;        // samples heard since the last loud one
  bool playing = false;
};

Shared shared;
pw_stream* source = nullptr;
pw_stream* capture = nullptr;

void onPlay(void*) {
  pw_buffer* b = pw_stream_dequeue_buffer(source);
  if (b == nullptr) return;
  spa_data& d = b->buffer->datas[0];
  if (d.data != nullptr) {
    uint32_t frames = d.maxsize / 2;
    if (b->requested != 0 && b->requested < frames) frames = static_cast<uint32_t>(b->requested);
    auto* s = static_cast<int16_t*>(d.data);
    std::memset(s, 0, frames * 2);
    const int64_t t = nowNs();
    {
      std::lock_guard guard(shared.lock);
      for (uint32_t i = 0; i < frames; ++i, ++shared.played) {
        if (!shared.playing || shared.intervalSamples == 0) continue;
        const uint64_t phase = shared.played % shared.intervalSamples;
        if (phase < kPulseSamples) {
          s[i] = (phase % 2) ? -kPulseLevel : kPulseLevel;
          if (phase == 0) shared.playedAt.push_back(t + int64_t{i} * 1'000'000'000 / kRate);
        }
      }
    }
    d.chunk->offset = 0;
    d.chunk->stride = 2;
    d.chunk->size = frames * 2;
    b->size = frames;
  }
  pw_stream_queue_buffer(source, b);
}

void onHear(void*) {
  pw_buffer* b = pw_stream_dequeue_buffer(capture);
  if (b == nullptr) return;
  const int64_t t = nowNs();
  const spa_data& d = b->buffer->datas[0];
  if (d.data != nullptr) {
    const auto* s = reinterpret_cast<const int16_t*>(static_cast<const uint8_t*>(d.data) + d.chunk->offset);
    const uint32_t n = d.chunk->size / 2;
    std::lock_guard guard(shared.lock);
    for (uint32_t i = 0; i < n; ++i) {
      if (std::abs(s[i]) > kPulseLevel / 3) {
        // A pulse after at least 100 ms of quiet; the cycle's time is when it came out.
        if (shared.quietSince > kRate / 10) shared.heardAt.push_back(t);
        shared.quietSince = 0;
      } else {
        ++shared.quietSince;
      }
    }
  }
  pw_stream_queue_buffer(capture, b);
}

const spa_pod* monoFormat(spa_pod_builder& builder) {
  spa_audio_info_raw info{};
  info.format = SPA_AUDIO_FORMAT_S16_LE;
  info.rate = kRate;
  info.channels = 1;
  info.position[0] = SPA_AUDIO_CHANNEL_MONO;
  return spa_format_audio_raw_build(&builder, SPA_PARAM_EnumFormat, &info);
}

// Feeds blocks of `blockMs` with a pulse at the start of the block that begins a new
// interval; each pulse is timed from its block's feed.
void feedBlocks(platform::DeviceHandle& device, uint32_t blockMs, uint32_t intervalMs, double seconds) {
  const uint32_t samples = blockMs * kRate / 1000;
  std::vector<int16_t> block(samples);
  const int blocks = static_cast<int>(seconds * 1000 / blockMs);
  const uint32_t every = std::max<uint32_t>(1, (intervalMs + blockMs - 1) / blockMs);
  auto due = std::chrono::steady_clock::now();
  for (int k = 0; k < blocks; ++k) {
    std::fill(block.begin(), block.end(), 0);
    if (k % every == every / 2) {
      for (uint32_t i = 0; i < kPulseSamples && i < samples; ++i) block[i] = (i % 2) ? -kPulseLevel : kPulseLevel;
      std::lock_guard guard(shared.lock);
      shared.playedAt.push_back(nowNs());
    }
    device.control(orvaneaudio::IOCTL_AUDIO_FEED_WRITE, block.data(), samples * 2, nullptr, 0, nullptr);
    due += std::chrono::milliseconds(blockMs);
    std::this_thread::sleep_until(due);
  }
}

double percentile(std::vector<double> v, double p) {
  std::sort(v.begin(), v.end());
  const size_t i = std::min(v.size() - 1, static_cast<size_t>(std::ceil(p * v.size())) - 1);
  return v[i];
}

}  // namespace

int main(int argc, char** argv) {
  std::string sourceName, target;
  double seconds = 10;
  uint32_t intervalMs = 700;
  uint32_t feedBlockMs = 0;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "--source" && i + 1 < argc) sourceName = argv[++i];
    else if (a == "--target" && i + 1 < argc) target = argv[++i];
    else if (a == "--seconds" && i + 1 < argc) seconds = std::atof(argv[++i]);
    else if (a == "--interval-ms" && i + 1 < argc) intervalMs = static_cast<uint32_t>(std::atoi(argv[++i]));
    else if (a == "--feed-block-ms" && i + 1 < argc) feedBlockMs = static_cast<uint32_t>(std::atoi(argv[++i]));
    else {
      std::fprintf(stderr,
                   "usage: vistrel-sound-latency (--source NODE | --feed-block-ms MS) --target NODE "
                   "[--seconds S] [--interval-ms MS]\n");
      return 2;
    }
  }
  if ((sourceName.empty() == (feedBlockMs == 0)) || target.empty() || intervalMs < 200 ||
      feedBlockMs > 2000) {
    std::fprintf(stderr,
                 "vistrel-sound-latency: need --source or --feed-block-ms (up to 2000), --target, "
                 "interval >= 200 ms\n");
    return 2;
  }
  std::unique_ptr<platform::DeviceHandle> feed;
  if (feedBlockMs != 0) {
    feed = platform::openDevice(orvaneaudio::kDevicePath);
    if (!feed) {
      std::fprintf(stderr, "vistrel-sound-latency: the microphone's control device is not there\n");
      return 1;
    }
  }
  pw_init(&argc, &argv);
  pw_thread_loop* loop = pw_thread_loop_new("sound-latency", nullptr);

  static pw_stream_events playEvents{};
  playEvents.version = PW_VERSION_STREAM_EVENTS;
  playEvents.process = onPlay;
  source = feed ? nullptr : pw_stream_new_simple(
      pw_thread_loop_get_loop(loop), "vistrel-sound-latency-mic",
      pw_properties_new(PW_KEY_MEDIA_TYPE, "Audio", PW_KEY_MEDIA_CATEGORY, "Capture",
                        PW_KEY_MEDIA_CLASS, "Audio/Source", PW_KEY_NODE_NAME, sourceName.c_str(),
                        PW_KEY_NODE_LATENCY, "80/8000", PW_KEY_NODE_WANT_DRIVER, "true", nullptr),
      &playEvents, nullptr);
  static pw_stream_events hearEvents{};
  hearEvents.version = PW_VERSION_STREAM_EVENTS;
  hearEvents.process = onHear;
  capture = pw_stream_new_simple(
      pw_thread_loop_get_loop(loop), "vistrel-sound-latency-ear",
      pw_properties_new(PW_KEY_MEDIA_TYPE, "Audio", PW_KEY_MEDIA_CATEGORY, "Capture",
                        PW_KEY_TARGET_OBJECT, target.c_str(), PW_KEY_NODE_LATENCY, "80/8000", nullptr),
      &hearEvents, nullptr);
  uint8_t buffer[2][1024];
  spa_pod_builder b0 = SPA_POD_BUILDER_INIT(buffer[0], sizeof buffer[0]);
  spa_pod_builder b1 = SPA_POD_BUILDER_INIT(buffer[1], sizeof buffer[1]);
  const spa_pod* playParams[1] = {monoFormat(b0)};
  const spa_pod* hearParams[1] = {monoFormat(b1)};
  if (source) pw_stream_connect(source, PW_DIRECTION_OUTPUT, PW_ID_ANY,
                    static_cast<pw_stream_flags>(PW_STREAM_FLAG_MAP_BUFFERS | PW_STREAM_FLAG_RT_PROCESS),
                    playParams, 1);
  pw_stream_connect(capture, PW_DIRECTION_INPUT, PW_ID_ANY,
                    static_cast<pw_stream_flags>(PW_STREAM_FLAG_AUTOCONNECT | PW_STREAM_FLAG_MAP_BUFFERS |
                                                 PW_STREAM_FLAG_RT_PROCESS),
                    hearParams, 1);
  pw_thread_loop_start(loop);
  if (source) std::printf("ready: source node %s\n", sourceName.c_str());
  std::fflush(stdout);
  // The caller starts the device program now; the link settles before the first pulse.
  std::this_thread::sleep_for(std::chrono::milliseconds(2500));
  {
    std::lock_guard guard(shared.lock);
    shared.intervalSamples = uint64_t{intervalMs} * kRate / 1000;
    shared.played = shared.played / shared.intervalSamples * shared.intervalSamples + 1;  // next cycle
    shared.playing = !feed;
  }
  if (feed) {
    feedBlocks(*feed, feedBlockMs, intervalMs, seconds);
  } else {
    std::this_thread::sleep_for(std::chrono::milliseconds(static_cast<int64_t>(seconds * 1000)));
  }
  {
    std::lock_guard guard(shared.lock);
    shared.playing = false;
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(2500));  // the last blocks arrive
  pw_thread_loop_stop(loop);
  if (source) pw_stream_destroy(source);
  pw_stream_destroy(capture);
  pw_thread_loop_destroy(loop);

  std::vector<double> ms;
  size_t played = 0, heard = 0;
  {
    std::lock_guard guard(shared.lock);
    played = shared.playedAt.size();
    heard = shared.heardAt.size();
    // Each heard pulse belongs to the last pulse played before it.
    size_t p = 0;
    for (int64_t h : shared.heardAt) {
      while (p + 1 < shared.playedAt.size() && shared.playedAt[p + 1] <= h) ++p;
      if (p < shared.playedAt.size() && shared.playedAt[p] <= h) ms.push_back((h - shared.playedAt[p]) / 1e6);
    }
  }
  if (ms.empty()) {
    std::printf("pulses %zu heard 0\n", played);
    return 1;
  }
  std::printf("pulses %zu heard %zu p50 %.1f ms p99 %.1f ms min %.1f ms max %.1f ms\n", played, heard,
              percentile(ms, 0.5), percentile(ms, 0.99), *std::min_element(ms.begin(), ms.end()),
              *std::max_element(ms.begin(), ms.end()));
  return 0;
}
