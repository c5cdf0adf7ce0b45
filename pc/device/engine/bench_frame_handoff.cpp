// Cost of handing one 640x480 frame from the serving side to a waiting reader through
// the shared frame block (copy in under the mutex, pulse, wake, copy out), as a ratio to
// one memcpy of the same frame in the same run, and the wake-up latency after the pulse.
// The reader is a thread of this process; the objects are the same named ones that
// separate processes use (shared memory, robust mutex, futex-backed event).
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "engine/named_frame_block.h"
#include "protocol/stream_header.h"

namespace {

using Clock = std::chrono::steady_clock;

double nsSince(Clock::time_point t) {
  return std::chrono::duration<double, std::nano>(Clock::now() - t).count();
}

double percentile(std::vector<double> v, double p) {
  std::sort(v.begin(), v.end());
  return v[static_cast<size_t>(p * static_cast<double>(v.size() - 1))];
}

}  // namespace

int main() {
  const std::string prefix = "bench-" + std::to_string(::getpid()) + "-";
  ::setenv("VISTREL_OBJECT_PREFIX", prefix.c_str(), 1);
  auto writer = engine::NamedFrameBlock::open();
  auto reader = engine::NamedFrameBlock::open();
  if (!writer || !reader) {
    std::fprintf(stderr, "bench_frame_handoff: cannot open the shared frame block\n");
    return 1;
  }
  // A 640x480 phone frame at ordinary quality is about 48 KB of JPEG.
  constexpr size_t kPayload = 48 * 1024;
  std::vector<uint8_t> message(protocol::kHeaderSize + kPayload);
  protocol::StreamHeader h;
  h.length = static_cast<uint32_t>(message.size());
  h.setMessage(protocol::MSG_VIDEO_JPEG, 0);
  protocol::encodeHeader(h, message.data());
  std::mt19937 rng(7);
  for (size_t i = protocol::kHeaderSize; i < message.size(); ++i) message[i] = static_cast<uint8_t>(rng());
  message[message.size() - 2] = 0xFF;
  message[message.size() - 1] = 0xD9;
  std::vector<uint8_t> destination(engine::kFrameViewSize);

  constexpr int kRounds = 3000;
  std::vector<double> copyNs, handoffNs, wakeNs;
  for (int i = 0; i < kRounds; ++i) {
    const auto t = Clock::now();
    std::memcpy(destination.data(), message.data() + protocol::kHeaderSize, kPayload);
    copyNs.push_back(nsSince(t));
  }

  std::atomic<int> round{-1};
  std::atomic<int> done{-1};
  std::atomic<int64_t> pulsedAt{0};
  std::thread client([&] {
    for (int i = 0; i < kRounds; ++i) {
      while (round.load() < i) {
        if (reader->waitFrame(1000)) break;
      }
      const int64_t now = Clock::now().time_since_epoch().count();
      wakeNs.push_back(static_cast<double>(now - pulsedAt.load()));
      if (reader->readFrame(destination.data()) != kPayload) std::abort();
      done.store(i);
    }
  });
  for (int i = 0; i < kRounds; ++i) {
    std::this_thread::sleep_for(std::chrono::microseconds(200));  // the reader is waiting
    const auto t = Clock::now();
    size_t size = 0;
    uint8_t* view = writer->lockView(size);
    std::memcpy(view, message.data(), message.size());
    pulsedAt.store(Clock::now().time_since_epoch().count());
    round.store(i);
    writer->unlockAndPulse();
    while (done.load() < i) {
    }
    handoffNs.push_back(nsSince(t));
  }
  client.join();

  const double copy = percentile(copyNs, 0.5);
  const double handoff = percentile(handoffNs, 0.5);
  std::printf("frame of %zu bytes, %d rounds\n", kPayload, kRounds);
  std::printf("memcpy p50 %.0f ns; hand-over p50 %.0f ns, p99 %.0f ns\n", copy, handoff,
              percentile(handoffNs, 0.99));
  std::printf("hand-over / memcpy ratio: %.2f memcpy-equivalents\n", handoff / copy);
  std::printf("wake-up after pulse: p50 %.1f us, p99 %.1f us\n", percentile(wakeNs, 0.5) / 1000,
              percentile(wakeNs, 0.99) / 1000);
  for (const char* n : {"_VistrelOBJ1_", "_VistrelOBJ2_.event", "_VistrelOBJ3_.mutex"}) {
    ::unlink(("/dev/shm/" + prefix + n).c_str());
  }
  return 0;
}
