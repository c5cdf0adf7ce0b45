#pragma once

// Shared by the link benchmarks: an in-process frame server records each handed-over
// frame's latency; runLink streams one source to it through the capture context and the
// link target.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <atomic>
#include <chrono>
#include <map>
#include <mutex>
#include <thread>
#include <vector>

#include <cstdlib>
#include <functional>
#include <string>

#include "core/capture_context.h"
#include "memory_key_store.h"
#include "platform/clock.h"
#include "platform/socket.h"
#include "server/frame_receiver.h"
#include "synthetic_camera.h"
#include "targets/network_target.h"

namespace link_bench {

inline constexpr uint32_t kWidths[3] = {320, 640, 1280};
inline constexpr uint32_t kHeights[3] = {240, 480, 960};
inline std::map<int, double> gEncodeRate;  // pictures per second by resolution index

struct Recorder {
  std::mutex mutex;
  std::vector<uint32_t> latencies;
  std::atomic<uint32_t> frames{0};
};

inline void onMessage(void* context, server::FrameReceiver& receiver) {
  auto* rec = static_cast<Recorder*>(context);
  const server::RingMessage m = receiver.latestMessage();
  if (!m.hasType(protocol::MSG_VIDEO_JPEG)) return;
  const uint32_t now = platform::systemClock().nowMs();
  std::lock_guard lock(rec->mutex);
  rec->latencies.push_back(now - m.header.timestampMs());
  rec->frames.fetch_add(1);
}

// Streams `source` (set up after start-up loading by `setup`) to an in-process frame
// server for two seconds and reports what arrived.
inline void runLink(benchmark::State& state, int r, std::unique_ptr<sources::CaptureSource> source,
             const std::function<bool(sources::CaptureSource&)>& setup) {
  uint16_t port;
  {
    platform::TcpSocket probe = platform::TcpSocket::listen("127.0.0.1", 0, 1);
    port = probe.localPort();
  }
  Recorder rec;
  server::FrameReceiver::Options options;
  options.listener.bindAddress = "127.0.0.1";
  server::FrameReceiver receiver(options);
  receiver.setMessageCallback(&onMessage, &rec);
  receiver.setPort(port);
  receiver.start();
  receiver.enableListening();

  std::shared_ptr<platform::testing::MemoryKeyStoreStorage::State> keyState;
  auto keys = platform::testing::makeMemoryKeyStore(keyState);
  settings::SettingsStore store(*keys);
  store.setMainPath(settings::kSettingsPath);
  core::CaptureContext::Options o;
  o.store = &store;
  o.text = [](uint32_t) -> const char16_t* { return nullptr; };
  core::CaptureContext context(o);
  sources::CaptureSource* src = source.get();
  context.sources.append(std::move(source));
  auto target = std::make_unique<targets::NetworkTarget>(store, targets::NetworkTarget::Options{});
  targets::NetworkTarget* network = target.get();
  context.targets.push_back(std::move(target));
  context.loadState();
  if (!setup(*src)) {
    state.SkipWithError("the source has no such mode");
    receiver.stop();
    return;
  }
  network->Prepare();
  network->partnerHostName = "127.0.0.1";
  const std::string cmd = "-p" + std::to_string(port);
  network->Command(std::u16string(cmd.begin(), cmd.end()).c_str(), 0);

  for (auto _ : state) {
    if (!context.ToggleCapture()) {
      state.SkipWithError("capture did not start");
      break;
    }
    // Wait for the link, then measure a fixed stretch.
    for (int i = 0; i < 400 && rec.frames.load() < 5; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    {
      std::lock_guard lock(rec.mutex);
      rec.latencies.clear();
    }
    const uint32_t before = rec.frames.load();
    const auto t0 = std::chrono::steady_clock::now();
    std::this_thread::sleep_for(std::chrono::milliseconds(2000));
    const uint32_t after = rec.frames.load();
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    context.ToggleCapture();
    std::vector<uint32_t> l;
    {
      std::lock_guard lock(rec.mutex);
      l = rec.latencies;
    }
    std::sort(l.begin(), l.end());
    const double fps = (after - before) / seconds;
    state.counters["frames_per_s"] = fps;
    state.counters["latency_p50_ms"] = l.empty() ? -1 : l[l.size() / 2];
    state.counters["latency_p99_ms"] = l.empty() ? -1 : l[std::min(l.size() - 1, l.size() * 99 / 100)];
    if (gEncodeRate.count(r)) state.counters["link_vs_encode"] = fps / gEncodeRate[r];
  }
  context.onDestroy();
  receiver.stop();
}

}  // namespace link_bench
