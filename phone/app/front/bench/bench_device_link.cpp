// The link from the device program to the PC on loopback: frames per second handed over
// by the PC's frame server and the latency from a finished frame on the device to its
// hand-over on the PC (p50, p99), for the synthetic camera at "Frame Rate" MAX, next to
// the bare encode rate of the same pictures with the same encoder measured in this run.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <atomic>
#include <chrono>
#include <map>
#include <mutex>
#include <thread>
#include <vector>

#include "core/capture_context.h"
#include "memory_key_store.h"
#include "platform/clock.h"
#include "platform/socket.h"
#include "server/frame_receiver.h"
#include "synthetic_camera.h"
#include "targets/network_target.h"

namespace {

constexpr uint32_t kWidths[3] = {320, 640, 1280};
constexpr uint32_t kHeights[3] = {240, 480, 960};
std::map<int, double> gEncodeRate;  // pictures per second by resolution index

void BM_BareEncode(benchmark::State& state) {
  const int r = static_cast<int>(state.range(0));
  std::vector<uint8_t> out(kWidths[r] * kHeights[r] * 3 + 4096), rgb;
  uint32_t n = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(
        testing_sources::EncodeTestPicture(n++, kWidths[r], kHeights[r], out.data(), out.size(), rgb));
  }
  state.counters["pictures_per_s"] = benchmark::Counter(static_cast<double>(state.iterations()),
                                                        benchmark::Counter::kIsRate);
}

struct Recorder {
  std::mutex mutex;
  std::vector<uint32_t> latencies;
  std::atomic<uint32_t> frames{0};
};

void onMessage(void* context, server::FrameReceiver& receiver) {
  auto* rec = static_cast<Recorder*>(context);
  const server::RingMessage m = receiver.latestMessage();
  if (!m.hasType(protocol::MSG_VIDEO_JPEG)) return;
  const uint32_t now = platform::systemClock().nowMs();
  std::lock_guard lock(rec->mutex);
  rec->latencies.push_back(now - m.header.word3);
  rec->frames.fetch_add(1);
}

void BM_DeviceLink(benchmark::State& state) {
  const int r = static_cast<int>(state.range(0));
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
  auto camera = std::make_unique<testing_sources::SyntheticCamera>();
  testing_sources::SyntheticCamera* cam = camera.get();
  context.sources.Append(std::move(camera));
  auto target = std::make_unique<targets::NetworkTarget>(store, targets::NetworkTarget::Options{});
  targets::NetworkTarget* network = target.get();
  context.targets.push_back(std::move(target));
  context.LoadState();
  cam->Settings()->current = r;
  cam->Settings()->next->current = 0;  // MAX
  network->Prepare();
  network->partnerHostName = "127.0.0.1";
  const std::string cmd = "-p" + std::to_string(port);
  network->Command(std::u16string(cmd.begin(), cmd.end()).c_str(), 0);

  for (auto _ : state) {
    context.ToggleCapture();
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
  context.OnDestroy();
  receiver.stop();
}

class EncodeRateReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& run : runs) {
      if (run.benchmark_name().rfind("BM_BareEncode", 0) == 0) {
        auto it = run.counters.find("pictures_per_s");
        int r = -1;
        if (std::sscanf(run.benchmark_name().c_str(), "BM_BareEncode/%d", &r) == 1 &&
            it != run.counters.end()) {
          gEncodeRate[r] = it->second.value;
        }
      }
    }
    ConsoleReporter::ReportRuns(runs);
  }
};

}  // namespace

BENCHMARK(BM_BareEncode)->Arg(0)->Arg(1)->Arg(2)->MinTime(1.0)->UseRealTime();
BENCHMARK(BM_DeviceLink)->Arg(0)->Arg(1)->Arg(2)->Iterations(1)->UseRealTime()->Unit(benchmark::kSecond);

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  EncodeRateReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  return 0;
}
