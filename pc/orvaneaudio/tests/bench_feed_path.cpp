// The microphone's per-block work: one 20 ms block fed into the ring and the same amount
// read out through a stream's PacedReader, against the peer that bounds it — copying the
// same bytes in and out with memcpy. Prints both and their ratio.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>
#include <vector>

#include "orvaneaudio/feed_ring.h"
#include "orvaneaudio/paced_reader.h"

namespace {

using namespace orvaneaudio;

constexpr uint32_t kBlock = 320;  // 20 ms

struct StillHost : FeedRingHost {
  uint64_t interruptTime() override { return 1; }
  void armPacingTimer() override {}
  void cancelPacingTimer() override {}
};

void BM_FeedAndRead(benchmark::State& state) {
  StillHost host;
  FeedRing ring(host, [] {});
  FeedStream stream;
  ring.setStreamState(stream, StreamState::Pause);
  ring.setStreamState(stream, StreamState::Run);
  RingStreamSource source(ring, stream);
  PacedReader reader;
  std::vector<uint8_t> in(kBlock, 0x5A), out(kBlock);
  for (int i = 0; i < 4; ++i) ring.write(in.data(), kBlock);  // past the first priming
  for (auto _ : state) {
    ring.write(in.data(), kBlock);
    reader.read(source, out.data(), kBlock);
    benchmark::DoNotOptimize(out.data());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * kBlock);
}
BENCHMARK(BM_FeedAndRead);

void BM_MemcpyInAndOut(benchmark::State& state) {
  std::vector<uint8_t> in(kBlock, 0x5A), ringBytes(kRingBytes), out(kBlock);
  uint32_t at = 0;
  for (auto _ : state) {
    std::memcpy(ringBytes.data() + at, in.data(), kBlock);
    std::memcpy(out.data(), ringBytes.data() + at, kBlock);
    benchmark::DoNotOptimize(out.data());
    at = (at + kBlock) % (kRingBytes - kBlock);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * kBlock);
}
BENCHMARK(BM_MemcpyInAndOut);

class RatioReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const Run& r : runs) {
      const double ns = r.GetAdjustedRealTime();
      if (r.benchmark_name().find("FeedAndRead") != std::string::npos) feedNs_ = ns;
      if (r.benchmark_name().find("Memcpy") != std::string::npos) memcpyNs_ = ns;
    }
  }
  void Finalize() override {
    ConsoleReporter::Finalize();
    if (feedNs_ > 0 && memcpyNs_ > 0) {
      std::printf("20 ms block fed and read: %.0f ns; memcpy in and out: %.0f ns; ratio %.2f "
                  "(a block is 20,000,000 ns of audio)\n",
                  feedNs_, memcpyNs_, feedNs_ / memcpyNs_);
    }
  }

 private:
  double feedNs_ = 0;
  double memcpyNs_ = 0;
};

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  return 0;
}
