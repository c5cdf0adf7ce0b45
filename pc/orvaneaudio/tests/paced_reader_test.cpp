#include "orvaneaudio/paced_reader.h"

#include <gtest/gtest.h>

#include <vector>

namespace orvaneaudio {
namespace {

struct ClockHost : FeedRingHost {
  uint64_t now = 0;
  uint64_t interruptTime() override { return now; }
  void armPacingTimer() override {}
  void cancelPacingTimer() override {}
};

// Samples are numbered from 1 so that silence (0) is never mistaken for sound.
int16_t sampleValue(uint64_t index) { return static_cast<int16_t>(index % 30000 + 1); }

struct Playback {
  std::vector<int16_t> out;
  uint32_t maxAllowed = 0;
  uint32_t skips = 0;
};

// Feeds `feedBytes` every `feedEveryMs` and pulls `pullBytes` every `pullEveryUs`, for
// `durationMs` of simulated time.
Playback simulate(uint32_t feedBytes, uint32_t feedEveryMs, uint32_t pullBytes, uint32_t pullEveryUs,
             uint32_t durationMs, uint32_t feedUntilMs = UINT32_MAX) {
  ClockHost host;
  FeedRing ring(host, [] {});
  FeedStream stream;
  ring.setStreamState(stream, StreamState::Pause);
  ring.setStreamState(stream, StreamState::Run);
  RingStreamSource source(ring, stream);
  PacedReader reader;
  Playback run;
  uint64_t fedSamples = 0;
  std::vector<uint8_t> block(feedBytes);
  std::vector<uint8_t> pulled(pullBytes);
  uint64_t nextPullUs = 0;
  for (uint64_t us = 0; us < uint64_t{durationMs} * 1000; us += 250) {
    if (us % (uint64_t{feedEveryMs} * 1000) == 0 && us < uint64_t{feedUntilMs} * 1000) {
      for (uint32_t i = 0; i < feedBytes / 2; ++i) {
        const auto v = static_cast<uint16_t>(sampleValue(fedSamples++));
        block[2 * i] = static_cast<uint8_t>(v);
        block[2 * i + 1] = static_cast<uint8_t>(v >> 8);
      }
      ring.write(block.data(), feedBytes);
    }
    if (us >= nextPullUs) {
      nextPullUs += pullEveryUs;
      reader.read(source, pulled.data(), pullBytes);
      for (uint32_t i = 0; i < pullBytes / 2; ++i) {
        run.out.push_back(static_cast<int16_t>(pulled[2 * i] | pulled[2 * i + 1] << 8));
      }
      run.maxAllowed = std::max(run.maxAllowed, reader.maxDistanceBytes(pullBytes));
    }
  }
  run.skips = reader.skips();
  return run;
}

// Counts the silent samples inside the sound (after the first sound) and the places
// where one sample of sound is not followed by the next one fed.
struct Shape {
  size_t gapsAfterStart = 0;
  size_t discontinuities = 0;
  size_t lastGapAt = 0;
};

Shape shapeOf(const std::vector<int16_t>& out) {
  Shape s;
  int last = -1;
  bool started = false;
  for (size_t i = 0; i < out.size(); ++i) {
    if (out[i] == 0) {
      if (started) {
        ++s.gapsAfterStart;
        s.lastGapAt = i;
      }
      last = 0;
      continue;
    }
    if (started && last > 0 && out[i] != last % 30000 + 1) ++s.discontinuities;
    started = true;
    last = out[i];
  }
  return s;
}

struct PaceCase {
  const char* name;
  uint32_t feedBytes;
  uint32_t feedEveryMs;
  uint32_t pullBytes;
  uint32_t pullEveryUs;
};

class PacedReaderTest : public ::testing::TestWithParam<PaceCase> {};

TEST_P(PacedReaderTest, SettlesIntoGapFreePlayAtBoundedDistance) {
  const PaceCase& c = GetParam();
  const uint32_t seconds = 40;
  Playback run = simulate(c.feedBytes, c.feedEveryMs, c.pullBytes, c.pullEveryUs, seconds * 1000);
  const Shape shape = shapeOf(run.out);
  // Sound comes out in order; it only jumps where the reader skipped.
  EXPECT_LE(shape.discontinuities, run.skips);
  // Whatever gaps adaptation needed, the last half of the run has none.
  EXPECT_LT(shape.lastGapAt, run.out.size() / 2) << shape.gapsAfterStart << " silent samples";
  // The sound keeps up with the feed: the last sample out is at most the bound behind.
  int16_t lastOut = 0;
  for (auto it = run.out.rbegin(); it != run.out.rend() && lastOut == 0; ++it) lastOut = *it;
  const uint64_t fed = uint64_t{seconds} * 1000 / c.feedEveryMs * (c.feedBytes / 2);
  const int16_t lastFed = sampleValue(fed - 1);
  const int behind = (lastFed - lastOut + 30000) % 30000;
  EXPECT_LE(static_cast<uint32_t>(behind) * 2, run.maxAllowed + c.feedBytes);
}

INSTANTIATE_TEST_SUITE_P(
    Feeds, PacedReaderTest,
    ::testing::Values(PaceCase{"Blocks20msPull21ms", 320, 20, 340, 21250},
                      PaceCase{"Blocks100msPull8ms", 1600, 100, 128, 8000},
                      PaceCase{"Blocks1sPull20ms", 16000, 1000, 320, 20000},
                      PaceCase{"Blocks2sPull21ms", 32000, 2000, 340, 21250}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(PacedReader, HugeBurstIsSkippedNotQueued) {
  ClockHost host;
  FeedRing ring(host, [] {});
  FeedStream stream;
  ring.setStreamState(stream, StreamState::Pause);
  ring.setStreamState(stream, StreamState::Run);
  RingStreamSource source(ring, stream);
  PacedReader reader;
  std::vector<uint8_t> burst(80000, 0x11);  // 5 s at once
  ring.write(burst.data(), 80000);
  std::vector<uint8_t> out(320);
  reader.read(source, out.data(), 320);
  EXPECT_EQ(reader.skips(), 1u);
  EXPECT_EQ(out[0], 0x11);
  // What is left to play is the target less what was just read.
  uint32_t left = 0;
  for (;;) {
    reader.read(source, out.data(), 320);
    if (out[319] == 0) break;
    left += 320;
    ASSERT_LT(left, 80000u);
  }
  EXPECT_LE(left, reader.targetBytes());
}

TEST(PacedReader, StoppedFeedGivesSilenceAndResumes) {
  Playback run = simulate(320, 20, 320, 20000, 6000, /*feedUntilMs=*/2000);
  ASSERT_EQ(run.out.size(), 300u * 160);
  // The sound of the first 2 s comes out, then only silence; nothing blocks.
  size_t sound = 0;
  for (int16_t v : run.out) sound += v != 0;
  EXPECT_GE(sound, 2000u * 8 - 800);
  EXPECT_LE(sound, 2000u * 8);
  for (size_t i = 3000 * 8; i < run.out.size(); ++i) ASSERT_EQ(run.out[i], 0) << i;
}

}  // namespace
}  // namespace orvaneaudio
