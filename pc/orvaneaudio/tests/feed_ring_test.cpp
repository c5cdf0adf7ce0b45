#include "orvaneaudio/feed_ring.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "orvaneaudio/feed_control.h"
#include "orvaneaudio/stream_format.h"

namespace orvaneaudio {
namespace {

constexpr uint64_t kMs = 10'000;  // 100-ns units per millisecond

struct ManualHost : FeedRingHost {
  uint64_t now = 0;
  int arms = 0;
  int cancels = 0;
  bool armed = false;
  uint64_t interruptTime() override { return now; }
  void armPacingTimer() override {
    ++arms;
    armed = true;
  }
  void cancelPacingTimer() override {
    ++cancels;
    armed = false;
  }
};

struct RingFixture : ::testing::Test {
  ManualHost host;
  std::atomic<int> notifications{0};
  FeedRing ring{host, [this] { ++notifications; }};

  // Moves the write position forward to `position` with filler bytes of value 0xEE.
  void advanceTo(uint32_t position) {
    const uint32_t length = (position + kRingBytes - ring.writePosition()) % kRingBytes;
    std::vector<uint8_t> filler(length, 0xEE);
    ring.write(filler.data(), length);
    ASSERT_EQ(ring.writePosition(), position);
  }
  void start(FeedStream& s) {
    ring.setStreamState(s, StreamState::Acquire);
    ring.setStreamState(s, StreamState::Pause);
    ring.setStreamState(s, StreamState::Run);
  }
};

std::vector<uint8_t> ramp(uint32_t length) {
  std::vector<uint8_t> v(length);
  for (uint32_t i = 0; i < length; ++i) v[i] = static_cast<uint8_t>(i * 7 + i / 251);
  return v;
}

struct WriteCase {
  const char* name;
  uint32_t startPosition;
  uint32_t length;
  bool withBytes;
  uint32_t expectedPosition;
};

class WriteTest : public RingFixture, public ::testing::WithParamInterface<WriteCase> {};

TEST_P(WriteTest, StoresWrapsAndNotifies) {
  const WriteCase& c = GetParam();
  advanceTo(c.startPosition);
  host.now = 777 * kMs;
  const uint64_t feedTimeBefore = ring.lastFeedTime();
  const int notesBefore = notifications;
  const std::vector<uint8_t> data = ramp(c.length);
  const uint8_t dummy = 0;
  const uint8_t* bytes = c.length == 0 ? &dummy : data.data();
  EXPECT_TRUE(ring.write(c.withBytes ? bytes : nullptr, c.length));

  EXPECT_EQ(ring.writePosition(), c.expectedPosition);
  EXPECT_EQ(notifications, notesBefore + 1);
  EXPECT_EQ(ring.lastFeedTime(), c.withBytes ? 777 * kMs : feedTimeBefore);
  // The ring holds the last min(length, ring) bytes, ending just before the write position.
  const uint32_t kept = std::min(c.length, kRingBytes);
  for (uint32_t back = 1; back <= kept; back += (back < 4096 ? 1 : 997)) {
    const uint32_t at = (c.expectedPosition + kRingBytes - back) % kRingBytes;
    const uint8_t expected = c.withBytes ? data[c.length - back] : 0;
    ASSERT_EQ(ring.ring()[at], expected) << "byte " << back << " before the write position";
  }
}

INSTANTIATE_TEST_SUITE_P(
    Feeds, WriteTest,
    ::testing::Values(WriteCase{"Empty", 100, 0, false, 100},
                      WriteCase{"EmptyWithBuffer", 100, 0, true, 100},
                      WriteCase{"OddLength", 0, 3, true, 3},
                      WriteCase{"EndsAtRingEnd", 196000, 608, true, 0},
                      WriteCase{"CrossesRingEnd", 196000, 1000, true, 392},
                      WriteCase{"OneMoreThanRingFromZero", 0, 196609, true, 1},
                      WriteCase{"SeveralRingsFromMiddle", 5000, 3 * kRingBytes + 11, true, 5011},
                      WriteCase{"SilenceAcrossEnd", 196000, 1600, false, 992}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(RingFixture, FeedOfOneMoreThanRingOverwritesFirstByteWithLast) {
  std::vector<uint8_t> data(kRingBytes + 1, 0x11);
  data.front() = 0x22;
  data.back() = 0x33;
  ring.write(data.data(), static_cast<uint32_t>(data.size()));
  EXPECT_EQ(ring.writePosition(), 1u);
  EXPECT_EQ(ring.ring()[0], 0x33);
  EXPECT_EQ(ring.ring()[1], 0x11);
}

TEST(FeedRingNoPort, WritesWithoutNotifyAndTicksDoNothing) {
  ManualHost host;
  FeedRing ring(host, {});
  const uint8_t b[4] = {1, 2, 3, 4};
  EXPECT_TRUE(ring.write(b, 4));
  EXPECT_EQ(ring.writePosition(), 4u);
  ring.tick(1000 * 1000 * kMs);
  EXPECT_EQ(ring.writePosition(), 4u);
}

// Pacing: a stream starts at t0; ticks come every 100 ms. Each case lists when a real feed
// of 160 bytes arrives (0 = none) and, for a tick time, how many silence bytes have been
// written by then.
struct PacingCase {
  const char* name;
  uint64_t feedAtMs;
  std::vector<std::pair<uint64_t, uint32_t>> silenceByTickMs;
};

class PacingTest : public RingFixture, public ::testing::WithParamInterface<PacingCase> {};

TEST_P(PacingTest, SilenceFollowsTwoSecondsWithoutFeed) {
  const PacingCase& c = GetParam();
  const uint64_t t0 = 50'000 * kMs;  // far from 0, so that a missing start time would show
  host.now = t0;
  FeedStream s;
  start(s);
  ASSERT_TRUE(host.armed);
  EXPECT_EQ(ring.lastFeedTime(), t0);

  const std::vector<uint8_t> feed(160, 0x55);
  size_t next = 0;
  uint32_t silence = 0;
  for (uint64_t tickMs = 100; tickMs <= 6000; tickMs += 100) {
    if (c.feedAtMs != 0 && c.feedAtMs > tickMs - 100 && c.feedAtMs <= tickMs) {
      host.now = t0 + c.feedAtMs * kMs;
      ring.write(feed.data(), 160);
    }
    host.now = t0 + tickMs * kMs;
    const uint32_t before = ring.writePosition();
    ring.tick(host.now);
    silence += ring.writePosition() - before;
    if (next < c.silenceByTickMs.size() && c.silenceByTickMs[next].first == tickMs) {
      EXPECT_EQ(silence, c.silenceByTickMs[next].second) << "at tick " << tickMs << " ms";
      ++next;
    }
  }
  EXPECT_EQ(next, c.silenceByTickMs.size());
}

INSTANTIATE_TEST_SUITE_P(
    Ticks, PacingTest,
    ::testing::Values(
        // 2 s exactly is not more than 2 s: the first silence comes at 2.1 s.
        PacingCase{"NoFeed", 0, {{2000, 0}, {2100, 1600}, {2200, 3200}, {3000, 1600 * 10}}},
        // A feed at 2.35 s stops the silence until 2 s after it (4.35 s, first tick 4.4 s).
        PacingCase{"FeedDuringSilence",
                   2350,
                   {{2300, 3 * 1600}, {2400, 3 * 1600}, {4300, 3 * 1600}, {4400, 4 * 1600}}},
        // A feed before the 2 s run out moves the first silence to 2 s after the feed.
        PacingCase{"EarlyFeed", 1000, {{2100, 0}, {3000, 0}, {3100, 1600}}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(RingFixture, SilenceIsZeroBytesAndLeavesFeedTime) {
  std::vector<uint8_t> fill(kRingBytes, 0xAA);
  host.now = 1 * kMs;
  ring.write(fill.data(), kRingBytes);
  host.now = 3000 * kMs;
  ring.tick(host.now);
  EXPECT_EQ(ring.writePosition(), kSilenceChunkBytes);
  EXPECT_EQ(ring.lastFeedTime(), 1 * kMs);
  for (uint32_t i = 0; i < kSilenceChunkBytes; ++i) ASSERT_EQ(ring.ring()[i], 0);
  EXPECT_EQ(ring.ring()[kSilenceChunkBytes], 0xAA);
}

struct PositionCase {
  const char* name;
  uint32_t startA;
  uint32_t startB;
  uint32_t writeAt;
  uint32_t expectA;
  uint32_t expectB;
};

class PositionTest : public RingFixture, public ::testing::WithParamInterface<PositionCase> {};

TEST_P(PositionTest, EachStreamCountsFromItsOwnStart) {
  const PositionCase& c = GetParam();
  FeedStream a, b;
  advanceTo(c.startA);
  start(a);
  advanceTo(c.startB);
  start(b);
  advanceTo(c.writeAt);
  EXPECT_EQ(ring.streamPosition(a), c.expectA);
  EXPECT_EQ(ring.streamPosition(b), c.expectB);
  EXPECT_EQ(a.startPosition, c.startA);
  EXPECT_EQ(b.startPosition, c.startB);
}

INSTANTIATE_TEST_SUITE_P(
    Streams, PositionTest,
    ::testing::Values(PositionCase{"BothAhead", 100, 1100, 5000, 4900, 3900},
                      // write position below the start: write + ring - start
                      PositionCase{"WriteBelowStart", 190000, 195000, 3000,
                                   3000 + kRingBytes - 190000, 3000 + kRingBytes - 195000},
                      PositionCase{"SameStart", 7, 7, 7 + 320, 320, 320}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(RingFixture, StoppedStreamReportsZero) {
  FeedStream s;
  advanceTo(1234);
  start(s);
  ring.write(nullptr, 100);
  EXPECT_EQ(ring.streamPosition(s), 100u);
  ring.setStreamState(s, StreamState::Pause);
  EXPECT_EQ(ring.streamPosition(s), 100u);
  ring.setStreamState(s, StreamState::Acquire);  // kept as stop
  EXPECT_EQ(s.state, StreamState::Stop);
  EXPECT_EQ(ring.streamPosition(s), 0u);
}

TEST_F(RingFixture, CopyOutContinuesAcrossRingEnd) {
  advanceTo(196000);
  FeedStream s;
  start(s);
  const std::vector<uint8_t> data = ramp(1000);
  ring.write(data.data(), 1000);
  std::vector<uint8_t> out(900);
  ring.copyOut(s, out.data(), 100, 900);  // stream offsets 100..999, ring 196100..391
  EXPECT_TRUE(std::equal(out.begin(), out.end(), data.begin() + 100));
}

TEST_F(RingFixture, TimerFollowsTheRunningStreams) {
  FeedStream a, b;
  host.now = 10 * kMs;
  start(a);
  EXPECT_EQ(host.arms, 1);
  EXPECT_EQ(ring.runningStreams(), 1u);
  host.now = 900 * kMs;
  start(b);  // second stream: no re-arm, no reset of the feed time
  EXPECT_EQ(host.arms, 1);
  EXPECT_EQ(ring.lastFeedTime(), 10 * kMs);
  EXPECT_EQ(ring.runningStreams(), 2u);
  ring.setStreamState(a, StreamState::Pause);  // one of two paused: timer stays
  EXPECT_EQ(host.cancels, 0);
  EXPECT_TRUE(host.armed);
  ring.setStreamState(b, StreamState::Run);  // same state: nothing
  EXPECT_EQ(ring.runningStreams(), 1u);
  ring.setStreamState(b, StreamState::Pause);
  EXPECT_EQ(host.cancels, 1);
  EXPECT_FALSE(host.armed);
  EXPECT_EQ(ring.runningStreams(), 0u);
  ring.setStreamState(b, StreamState::Pause);  // repeated pause changes nothing
  EXPECT_EQ(host.cancels, 1);
}

TEST_F(RingFixture, RunToStopStillLeavesTheCount) {
  // A stream leaving run for stop directly must not keep the timer alive, and one
  // entering run from stop must count, or pausing another stream would cancel the timer
  // under a running stream.
  FeedStream a, b;
  start(a);
  ring.setStreamState(b, StreamState::Run);  // from stop
  EXPECT_EQ(ring.runningStreams(), 2u);
  ring.setStreamState(b, StreamState::Stop);
  EXPECT_EQ(ring.runningStreams(), 1u);
  EXPECT_TRUE(host.armed);
  ring.setStreamState(a, StreamState::Stop);
  EXPECT_EQ(ring.runningStreams(), 0u);
  EXPECT_FALSE(host.armed);
}

TEST_F(RingFixture, ConcurrentWritersKeepThePosition) {
  FeedStream s;
  start(s);
  constexpr int kWriters = 4;
  constexpr int kWrites = 2000;
  std::vector<std::thread> threads;
  for (int w = 0; w < kWriters; ++w) {
    threads.emplace_back([&, w] {
      std::vector<uint8_t> block(97 + w, static_cast<uint8_t>(w));
      for (int i = 0; i < kWrites; ++i) ring.write(block.data(), static_cast<uint32_t>(block.size()));
    });
  }
  threads.emplace_back([&] {
    for (int i = 0; i < kWrites; ++i) ring.tick(host.now);  // never silent: feed is fresh
  });
  uint32_t last = 0;
  for (int i = 0; i < kWrites; ++i) {
    const uint32_t p = ring.streamPosition(s);
    ASSERT_LT(p, kRingBytes);
    last = p;
  }
  for (auto& t : threads) t.join();
  (void)last;
  uint64_t total = 0;
  for (int w = 0; w < kWriters; ++w) total += static_cast<uint64_t>(97 + w) * kWrites;
  EXPECT_EQ(ring.writePosition(), total % kRingBytes);
  EXPECT_EQ(notifications, kWriters * kWrites);
}

// Format validation at stream creation.
struct FormatCase {
  const char* name;
  WaveFormat wave;
  FormatSpecifier specifier;
  uint16_t subFormatTag;
  uint32_t expected;
};

WaveFormat wave(uint16_t channels, uint32_t rate, uint16_t bits, uint16_t extra = 0,
                uint16_t tag = 1) {
  WaveFormat w;
  w.formatTag = tag;
  w.channels = channels;
  w.samplesPerSec = rate;
  w.bitsPerSample = bits;
  w.blockAlign = static_cast<uint16_t>(channels * bits / 8);
  w.avgBytesPerSec = rate * w.blockAlign;
  w.extraSize = extra;
  return w;
}

class FormatTest : public ::testing::TestWithParam<FormatCase> {};

TEST_P(FormatTest, OnlyTheOfferedFormatPasses) {
  const FormatCase& c = GetParam();
  EXPECT_EQ(validateDataFormat(makeDataFormat(c.wave, c.specifier, c.subFormatTag)), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    NewStream, FormatTest,
    ::testing::Values(
        FormatCase{"Offered", wave(1, 8000, 16), FormatSpecifier::WaveFormatEx, 1, kStatusSuccess},
        FormatCase{"DirectSound", wave(1, 8000, 16), FormatSpecifier::DirectSound, 1, kStatusSuccess},
        FormatCase{"TwoChannels", wave(2, 8000, 16), FormatSpecifier::WaveFormatEx, 1,
                   kStatusInvalidParameter},
        FormatCase{"EightBits", wave(1, 8000, 8), FormatSpecifier::WaveFormatEx, 1,
                   kStatusInvalidParameter},
        FormatCase{"Rate44100", wave(1, 44100, 16), FormatSpecifier::WaveFormatEx, 1,
                   kStatusInvalidParameter},
        FormatCase{"ExtraSize", wave(1, 8000, 16, 22), FormatSpecifier::WaveFormatEx, 1,
                   kStatusInvalidParameter},
        FormatCase{"NoSpecifier", wave(1, 8000, 16), FormatSpecifier::None, 1,
                   kStatusInvalidParameter},
        FormatCase{"FloatSubFormat", wave(1, 8000, 16), FormatSpecifier::WaveFormatEx, 3,
                   kStatusInvalidParameter},
        FormatCase{"WaveTagNotPcm", wave(1, 8000, 16, 0, 0xFFFE), FormatSpecifier::WaveFormatEx,
                   1, kStatusInvalidParameter}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(FormatBlocks, MalformedBlocksAreRejected) {
  std::vector<uint8_t> good = makeDataFormat(wave(1, 8000, 16));
  ASSERT_EQ(validateDataFormat(good), kStatusSuccess);
  for (size_t cut : {size_t{0}, size_t{63}, size_t{64}, good.size() - 1}) {
    std::vector<uint8_t> shortBlock(good.begin(), good.begin() + static_cast<long>(cut));
    EXPECT_EQ(validateDataFormat(shortBlock), kStatusInvalidParameter) << cut << " bytes";
  }
  std::vector<uint8_t> video = good;
  video[16] = 0x76;  // major format no longer audio
  EXPECT_EQ(validateDataFormat(video), kStatusInvalidParameter);
  std::vector<uint8_t> badTemplate = good;
  badTemplate[32 + 9] ^= 1;  // a byte of the sub format past the tag
  EXPECT_EQ(validateDataFormat(badTemplate), kStatusInvalidParameter);
}

TEST(StreamFormat, ArithmeticAndSilence) {
  ManualHost host;
  FeedRing ring(host, [] {});
  FeedStream s;
  ASSERT_EQ(initStream(ring, s, makeDataFormat(wave(1, 8000, 16))), kStatusSuccess);
  EXPECT_EQ(ring.sampleRate(), 8000u);
  EXPECT_EQ(s.blockAlignment(), 2u);
  uint32_t framing = 0;
  EXPECT_EQ(setNotificationFreq(ring, s, 10, &framing), 10u);
  EXPECT_EQ(framing, 160u);
  EXPECT_EQ(normalizePhysicalPosition(ring, s, 1), 625);
  EXPECT_EQ(normalizePhysicalPosition(ring, s, 16000), 10'000'000);

  uint8_t buf[4] = {1, 1, 1, 1};
  fillSilence(s, buf, 4);
  EXPECT_EQ(buf[3], 0x00);

  // SetFormat does not re-validate: an 8-bit stereo format changes the flags.
  ASSERT_EQ(setStreamFormat(ring, s, makeDataFormat(wave(2, 11025, 8))), kStatusSuccess);
  EXPECT_EQ(s.blockAlignment(), 2u);
  EXPECT_EQ(ring.sampleRate(), 11025u);
  fillSilence(s, buf, 4);
  EXPECT_EQ(buf[0], 0x80);
  EXPECT_EQ(buf[3], 0x80);
  EXPECT_EQ(setNotificationFreq(ring, s, 20, &framing), 20u);
  EXPECT_EQ(framing, 2u * 11025u * 20u / 1000u);

  EXPECT_EQ(setStreamFormat(ring, s, makeDataFormat(wave(1, 8000, 16), FormatSpecifier::None)),
            kStatusInvalidDeviceRequest);
  ring.setStreamState(s, StreamState::Pause);
  ring.setStreamState(s, StreamState::Run);
  EXPECT_EQ(setStreamFormat(ring, s, makeDataFormat(wave(1, 8000, 16))),
            kStatusInvalidDeviceRequest);
}

}  // namespace
}  // namespace orvaneaudio
