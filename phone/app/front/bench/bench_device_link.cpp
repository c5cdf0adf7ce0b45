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

#include "link_runner.h"

using namespace link_bench;

namespace {

void BM_BareEncode(benchmark::State& state) {
  const int r = static_cast<int>(state.range(0));
  std::vector<uint8_t> out(kWidths[r] * kHeights[r] * 3 + 4096), rgb;
  uint32_t n = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(
        testing_sources::encodeTestPicture(n++, kWidths[r], kHeights[r], out.data(), out.size(), rgb));
  }
  state.counters["pictures_per_s"] = benchmark::Counter(static_cast<double>(state.iterations()),
                                                        benchmark::Counter::kIsRate);
}

// The synthetic camera: latency counts from the finished picture.
void BM_DeviceLink(benchmark::State& state) {
  const int r = static_cast<int>(state.range(0));
  runLink(state, r, std::make_unique<testing_sources::SyntheticCamera>(), [r](sources::CaptureSource& s) {
    s.Settings()->current = r;
    s.Settings()->next->current = 0;  // MAX
    return true;
  });
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
