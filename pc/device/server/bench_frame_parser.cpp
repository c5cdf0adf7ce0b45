// Throughput of the frame server's parser against memcpy of the same bytes, measured in
// the same run. The stream is what a phone sends: 40 KB JPEG frames with garbage and
// keep-alives between them, received in socket-sized pieces into the ring.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "protocol/stream_header.h"
#include "server/message_scanner.h"
#include "server/ring.h"

namespace {

constexpr size_t kFrames = 64;
constexpr size_t kPayload = 40 * 1024;
constexpr size_t kReceive = 64 * 1024;  // a typical amount the socket has per receive

const std::vector<uint8_t>& recordedStream() {
  static const std::vector<uint8_t> stream = [] {
    std::mt19937 rng(2047);
    std::vector<uint8_t> s;
    for (size_t f = 0; f < kFrames; ++f) {
      protocol::StreamHeader h;
      h.length = static_cast<uint32_t>(protocol::kHeaderSize + kPayload);
      h.setMessage(protocol::MSG_VIDEO_JPEG, 0);
      uint8_t header[protocol::kHeaderSize];
      protocol::encodeHeader(h, header);
      s.insert(s.end(), header, header + sizeof header);
      // Entropy-coded data looks random; 0xCF appears about once in 256 bytes, as in a
      // real JPEG, so the scanner meets false candidates at the natural rate.
      for (size_t i = 0; i < kPayload; ++i) s.push_back(i < 10 ? 0 : static_cast<uint8_t>(rng()));
      s[s.size() - 2] = 0xFF;
      s[s.size() - 1] = 0xD9;
      const size_t garbage = rng() % 64;
      for (size_t i = 0; i < garbage; ++i) s.push_back(static_cast<uint8_t>(rng()));
      s.insert(s.end(), {0, 0, 0, 0});  // keep-alive
    }
    return s;
  }();
  return stream;
}

// What the listener's receive does: one piece of the stream into the ring at `written`.
size_t receiveInto(uint8_t* ring, uint64_t written, const std::vector<uint8_t>& stream, size_t at) {
  const size_t n = std::min(kReceive, stream.size() - at);
  const uint32_t pos = static_cast<uint32_t>(written & server::kRingMask);
  const size_t first = std::min<size_t>(n, server::kRingSize - pos);
  std::memcpy(ring + pos, stream.data() + at, first);
  std::memcpy(ring, stream.data() + at + first, n - first);
  return n;
}

void BM_Memcpy(benchmark::State& state) {
  const auto& stream = recordedStream();
  std::unique_ptr<uint8_t[]> ring(new uint8_t[server::kRingSize]);
  uint64_t written = 0;
  for (auto _ : state) {
    for (size_t at = 0; at < stream.size(); at += kReceive) {
      written += receiveInto(ring.get(), written, stream, at);
    }
    benchmark::DoNotOptimize(ring.get());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * stream.size()));
}

void BM_Parser(benchmark::State& state) {
  const auto& stream = recordedStream();
  std::unique_ptr<uint8_t[]> ring(new uint8_t[server::kRingSize]);
  server::MessageScanner scanner;
  uint64_t written = 0;
  size_t handedOver = 0;
  for (auto _ : state) {
    for (size_t at = 0; at < stream.size(); at += kReceive) {
      written += receiveInto(ring.get(), written, stream, at);
      handedOver += scanner.scan(ring.get(), written) ? 1 : 0;
    }
  }
  benchmark::DoNotOptimize(handedOver);
  state.counters["handovers_per_pass"] =
      benchmark::Counter(static_cast<double>(handedOver) / static_cast<double>(state.iterations()));
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * stream.size()));
}

BENCHMARK(BM_Memcpy);
BENCHMARK(BM_Parser);

// Prints the usual table, then the parser's throughput as a ratio to memcpy's.
class RatioReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const Run& r : runs) {
      const auto it = r.counters.find("bytes_per_second");
      if (it != r.counters.end()) rates_[r.benchmark_name()] = it->second.value;
    }
  }
  void Finalize() override {
    ConsoleReporter::Finalize();
    const double copy = rates_["BM_Memcpy"], parse = rates_["BM_Parser"];
    if (copy > 0 && parse > 0) {
      std::printf("frame parser: %.0f MB/s, memcpy: %.0f MB/s, parser/memcpy ratio: %.3f\n",
                  parse / 1e6, copy / 1e6, parse / copy);
    }
  }

 private:
  std::map<std::string, double> rates_;
};

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  return 0;
}
