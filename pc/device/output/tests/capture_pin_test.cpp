#include "output/capture_pin.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <chrono>
#include <deque>
#include <thread>
#include <vector>

#include "decoder/render_geometry.h"

namespace output {
namespace {

// An engine whose frame waits follow a script.
class ScriptedLink : public FrameLink {
 public:
  Source src = Source::kFrameServer;
  std::deque<Wait> waits;       // answered in order; empty: the loop is told to stop
  uint32_t latest = 1000;       // latest-JPEG length
  bool renderOk = true;
  uint8_t renderValue = 0x5A;
  std::vector<uint32_t> waitTimeouts;
  int renders = 0, opens = 0, closes = 0;
  uint32_t w = 320, h = 240, sw = 320, sh = 240;
  CommandQueue* commands = nullptr;
  uint32_t* clockMs = nullptr;  // when set, every wait lasts its whole time-out

  void open() override { ++opens; }
  void close() override { ++closes; }
  Source source() override { return src; }
  Wait waitFrame(uint32_t timeoutMs) override {
    waitTimeouts.push_back(timeoutMs);
    if (clockMs != nullptr) *clockMs += timeoutMs;
    if (waits.empty()) {
      commands->post(ThreadCommand::kStop);
      return Wait::kOther;
    }
    const Wait r = waits.front();
    waits.pop_front();
    return r;
  }
  uint32_t latestLength() override { return latest; }
  bool renderNewest(uint8_t* dst, size_t size) override {
    ++renders;
    if (!renderOk) return false;
    std::memset(dst, renderValue, std::min<size_t>(size, pictureSize(w, h)));
    return true;
  }
  // A frame of the output size, unturned: it goes straight where the sink offers a buffer.
  bool frameFits = true;
  int takes = 0;
  Rendered renderNewestStraight(uint8_t* dst, size_t size, const TakeStraight& take) override {
    const decoder::StraightTarget* target = nullptr;
    if (frameFits) {
      ++takes;
      target = take(w, h);
    }
    if (target == nullptr) return {renderNewest(dst, size), false};
    ++renders;
    std::memset(target->data, renderOk ? 0x77 : 0x33, target->size);
    return {renderOk, true};
  }
  uint32_t outputWidth() override { return w; }
  uint32_t outputHeight() override { return h; }
  void setOutputSize(uint32_t width, uint32_t height) override {
    w = width;
    h = height;
  }
  uint32_t settingsWidth() override { return sw; }
  uint32_t settingsHeight() override { return sh; }
};

// Keeps one sample buffer (of a chosen size) and records what is delivered.
class RecordingSink : public SampleSink {
 public:
  std::vector<uint8_t> buffer;
  int emptyFailures = 0;  // the next n requests for a sample fail
  HResult deliverResult = kSOk;
  struct Delivered {
    std::vector<uint8_t> bytes;
    ReferenceTime start, end;
    bool sync;
    Sample::Content content;
    std::vector<uint8_t> straight;  // the offered buffer, when the picture went there
  };
  // An output buffer offered for pictures that need no conversion.
  bool offerStraight = false;
  std::vector<uint8_t> straightBuffer = std::vector<uint8_t>(64, 0);
  decoder::StraightTarget target;
  TakeStraight take = [this](uint32_t, uint32_t) {
    target = {straightBuffer.data(), straightBuffer.size(), 16, decoder::PixelOrder::kBgrx};
    return &target;
  };
  int releases = 0;
  std::vector<Delivered> delivered;
  ReferenceTime now = 1234;
  bool isConnected = false, accepts = true;
  int reconnects = 0;
  int streamingStarts = 0, streamingEnds = 0;

  bool getEmptySample(Sample* s) override {
    if (emptyFailures > 0) {
      --emptyFailures;
      return false;
    }
    s->data = buffer.data();
    s->size = buffer.size();
    s->takeStraight = offerStraight ? &take : nullptr;
    s->content = Sample::Content::kPicture;
    return true;
  }
  HResult deliver(Sample& s) override {
    delivered.push_back({std::vector<uint8_t>(s.data, s.data + s.size), s.start, s.end, s.syncPoint,
                         s.content,
                         s.content == Sample::Content::kStraight ? straightBuffer
                                                                  : std::vector<uint8_t>()});
    std::fill(straightBuffer.begin(), straightBuffer.end(), 0);
    now += 400000;
    return deliverResult;
  }
  void release(Sample&) override { ++releases; }
  void endOfStream() override {}
  void errorAbort(HResult) override {}
  ReferenceTime streamTime() override { return now; }
  bool connected() override { return isConnected; }
  bool peerAccepts(const MediaType&) override { return accepts; }
  void reconnect() override { ++reconnects; }
  void streamingStarted() override { ++streamingStarts; }
  void streamingEnded() override { ++streamingEnds; }
};

struct PinFixture : ::testing::Test {
  ScriptedLink link;
  RecordingSink sink;
  CommandQueue commands;
  std::vector<uint32_t> sleeps;
  CapturePin pin{link, sink};

  void SetUp() override {
    link.commands = &commands;
    sink.buffer.assign(pictureSize(320, 240), 0);
    pin.sleep = [this](uint32_t ms) {
      sleeps.push_back(ms);
      if (sleeps.size() > 1000) commands.post(ThreadCommand::kStop);
    };
    pin.setState(FilterState::kRunning);
  }
  bool isColourBars(const std::vector<uint8_t>& bytes) {
    // The first row in memory of the bars at phase 0..W-1 is white-to-black blends; every
    // row equals the first, and the row holds all eight bars.
    const size_t row = rowSize(link.w);
    for (uint32_t y = 1; y < link.h; ++y) {
      if (std::memcmp(bytes.data(), bytes.data() + y * row, link.w * 3) != 0) return false;
    }
    std::vector<uint8_t> expected(pictureSize(link.w, link.h));
    for (uint32_t phase = 0; phase < link.w; ++phase) {
      decoder::drawColourBars(expected.data(), expected.size(), link.w, link.h, phase);
      if (std::memcmp(expected.data(), bytes.data(), link.w * 3) == 0) return true;
    }
    return false;
  }
};

using W = FrameLink::Wait;

TEST_F(PinFixture, ColourBarsOnTimeOutBeforeTheFirstFrameOnlyAndTheWaitIs40ms) {
  link.waits = {W::kTimeout, W::kTimeout, W::kFrame, W::kTimeout, W::kTimeout, W::kFrame};
  EXPECT_EQ(pin.run(commands), kSOk);
  EXPECT_EQ(link.opens, 1);
  EXPECT_EQ(link.closes, 1);
  EXPECT_EQ(sink.streamingStarts, 1) << "the video window is hooked at the start";
  EXPECT_EQ(sink.streamingEnds, 1) << "and given back at the end";
  for (uint32_t t : link.waitTimeouts) EXPECT_EQ(t, 40u);
  // Two bar pictures, then one picture per frame; time-outs after the first frame deliver
  // nothing.
  ASSERT_EQ(sink.delivered.size(), 4u);
  EXPECT_TRUE(isColourBars(sink.delivered[0].bytes));
  EXPECT_TRUE(isColourBars(sink.delivered[1].bytes));
  EXPECT_NE(sink.delivered[0].bytes, sink.delivered[1].bytes);  // the bars move
  for (size_t i = 2; i < 4; ++i) {
    EXPECT_EQ(sink.delivered[i].bytes, std::vector<uint8_t>(sink.buffer.size(), 0x5A));
  }
  EXPECT_EQ(link.renders, 2);
  EXPECT_EQ(pin.frameCounter(), 2u);
  int32_t n = -1;
  EXPECT_EQ(pin.getNumNotDropped(&n), kSOk);
  EXPECT_EQ(n, 2);
  EXPECT_EQ(pin.getNumDropped(&n), kSOk);
  EXPECT_EQ(n, 0);
}

TEST_F(PinFixture, TimeStampsAreStreamTimePlusTheFrameIntervalAndSyncPoints) {
  link.waits = {W::kTimeout, W::kFrame};
  pin.run(commands);
  ASSERT_EQ(sink.delivered.size(), 2u);
  EXPECT_EQ(sink.delivered[0].start, 1234);
  EXPECT_EQ(sink.delivered[0].end, 1234 + 400000);
  EXPECT_EQ(sink.delivered[1].start, 1234 + 400000);
  EXPECT_TRUE(sink.delivered[0].sync && sink.delivered[1].sync);
}

TEST_F(PinFixture, FrameSignalsThatDoNotCount) {
  // A frame-server signal without a valid JPEG, and a wait that is neither frame nor
  // time-out, deliver nothing and leave the counter (and so the bars) alone.
  link.latest = 0;
  link.waits = {W::kFrame, W::kOther, W::kTimeout};
  pin.run(commands);
  ASSERT_EQ(sink.delivered.size(), 1u);
  EXPECT_TRUE(isColourBars(sink.delivered[0].bytes));
  EXPECT_EQ(pin.frameCounter(), 0u);
  // From the shared block a signal counts without the query.
  ScriptedLink client;
  client.commands = &commands;
  client.src = FrameLink::Source::kSharedBlock;
  client.latest = 0;
  client.waits = {W::kFrame};
  RecordingSink s2;
  s2.buffer.assign(pictureSize(320, 240), 0);
  CapturePin p2(client, s2);
  p2.setState(FilterState::kRunning);
  p2.run(commands);
  EXPECT_EQ(p2.frameCounter(), 1u);
  EXPECT_EQ(s2.delivered.size(), 1u);
}

TEST_F(PinFixture, FailedRenderAndSmallSampleKeepThePreviousPicture) {
  link.renderOk = false;
  link.waits = {W::kFrame};
  std::memset(sink.buffer.data(), 0x11, sink.buffer.size());
  pin.run(commands);
  ASSERT_EQ(sink.delivered.size(), 1u);
  EXPECT_EQ(sink.delivered[0].bytes, std::vector<uint8_t>(sink.buffer.size(), 0x11));

  // A sample one byte short of the picture is delivered untouched, bars or frame.
  sink.delivered.clear();
  sink.buffer.assign(pictureSize(320, 240) - 1, 0x22);
  link.renderOk = true;
  link.renders = 0;
  link.waits = {W::kTimeout, W::kFrame};
  pin.run(commands);
  ASSERT_EQ(sink.delivered.size(), 2u);
  for (const auto& d : sink.delivered) EXPECT_EQ(d.bytes, std::vector<uint8_t>(sink.buffer.size(), 0x22));
  EXPECT_EQ(link.renders, 0);
}

// With an output buffer on offer, a phone picture that needs no conversion goes there;
// bars, the no-signal picture and pictures of another size go through the sample.
TEST_F(PinFixture, PicturesGoStraightIntoTheOfferedBufferWhereTheyCan) {
  sink.offerStraight = true;
  std::memset(sink.buffer.data(), 0x11, sink.buffer.size());
  const std::vector<uint8_t> untouched(sink.buffer.size(), 0x11);
  link.waits = {W::kTimeout, W::kFrame};
  pin.run(commands);
  ASSERT_EQ(sink.delivered.size(), 2u);
  EXPECT_EQ(sink.delivered[0].content, Sample::Content::kPicture);
  EXPECT_TRUE(isColourBars(sink.delivered[0].bytes));
  EXPECT_EQ(sink.delivered[1].content, Sample::Content::kStraight);
  EXPECT_EQ(sink.delivered[1].straight, std::vector<uint8_t>(64, 0x77));
  EXPECT_EQ(link.takes, 1) << "the bars asked for no buffer";

  // A frame of another size, turned or mirrored: rendered into the sample and converted.
  sink.delivered.clear();
  std::memset(sink.buffer.data(), 0x11, sink.buffer.size());
  link.frameFits = false;
  link.waits = {W::kFrame};
  pin.run(commands);
  ASSERT_EQ(sink.delivered.size(), 1u);
  EXPECT_EQ(sink.delivered[0].content, Sample::Content::kPicture);
  EXPECT_EQ(sink.delivered[0].bytes, std::vector<uint8_t>(sink.buffer.size(), 0x5A));

  // The silent phone's picture is drawn on the sample, even for a frame that would fit.
  sink.delivered.clear();
  link.frameFits = true;
  link.takes = 0;
  uint32_t clock = 0;
  link.clockMs = &clock;
  pin.nowMs = [&] { return clock; };
  pin.setNoSignalAfterMs(40);
  link.waits = {W::kFrame, W::kTimeout};
  pin.run(commands);
  ASSERT_EQ(sink.delivered.size(), 2u);
  EXPECT_EQ(sink.delivered[0].content, Sample::Content::kStraight);
  EXPECT_EQ(sink.delivered[1].content, Sample::Content::kPicture);
  EXPECT_GT(std::count(sink.delivered[1].bytes.begin(), sink.delivered[1].bytes.end(), 0xFF), 300);
  EXPECT_EQ(link.takes, 1);
}

// While pictures may go straight, the sample can be older than what the program shows: a
// frame refused before anything was written sends nothing (the program keeps its picture);
// one that fails while going straight sends the rows it wrote, as the sample path does.
TEST_F(PinFixture, FailedFramesWhilePicturesGoStraight) {
  sink.offerStraight = true;
  link.renderOk = false;
  link.frameFits = false;
  link.waits = {W::kFrame};
  pin.run(commands);
  EXPECT_TRUE(sink.delivered.empty());
  EXPECT_EQ(sink.releases, 1);

  link.frameFits = true;
  link.waits = {W::kFrame};
  pin.run(commands);
  ASSERT_EQ(sink.delivered.size(), 1u);
  EXPECT_EQ(sink.delivered[0].content, Sample::Content::kStraight);
  EXPECT_EQ(sink.delivered[0].straight, std::vector<uint8_t>(64, 0x33));
  EXPECT_EQ(sink.releases, 1);
}

TEST_F(PinFixture, EachRunRestartsWithColourBars) {
  link.waits = {W::kFrame};
  pin.run(commands);
  EXPECT_EQ(pin.frameCounter(), 1u);
  sink.delivered.clear();
  link.waits = {W::kTimeout};
  pin.run(commands);
  ASSERT_EQ(sink.delivered.size(), 1u);
  EXPECT_TRUE(isColourBars(sink.delivered[0].bytes));
}

TEST_F(PinFixture, EachRunStartsAtThePinsOwnSize) {
  // Another pin of the process left the shared engine at 640 x 480.
  link.setOutputSize(640, 480);
  link.waits = {W::kTimeout};
  pin.run(commands);
  EXPECT_EQ(link.w, 320u);
  EXPECT_EQ(link.h, 240u);
  ASSERT_EQ(sink.delivered.size(), 1u);
  EXPECT_TRUE(isColourBars(sink.delivered[0].bytes));
}

TEST_F(PinFixture, NoSampleSleeps1msAndDeliversWithoutWaitingAgain) {
  sink.emptyFailures = 3;
  link.waits = {W::kFrame};
  pin.run(commands);
  EXPECT_EQ(sleeps, (std::vector<uint32_t>{1, 1, 1}));
  EXPECT_EQ(sink.delivered.size(), 1u);
  // One wait for the frame, one that ends the run: none while retrying for a sample.
  EXPECT_EQ(link.waitTimeouts.size(), 2u);
}

TEST_F(PinFixture, NotRunningSleeps10msAndFailedDeliveryEndsTheLoop) {
  pin.setState(FilterState::kPaused);
  link.waits = {W::kFrame};
  pin.sleep = [this](uint32_t ms) {
    sleeps.push_back(ms);
    if (sleeps.size() == 3) pin.setState(FilterState::kRunning);
  };
  sink.deliverResult = kSFalse;
  EXPECT_EQ(pin.run(commands), kSFalse);
  EXPECT_EQ(sleeps, (std::vector<uint32_t>{10, 10, 10}));
  EXPECT_EQ(sink.delivered.size(), 1u);
  EXPECT_EQ(link.closes, 1);
}

TEST_F(PinFixture, ThreadCommands) {
  // Run and pause are acknowledged, anything else is unexpected, stop ends the loop.
  std::vector<HResult> replies;
  pin.setState(FilterState::kStopped);
  // The loop's own pause between commands, taken for real here.
  pin.sleep = [](uint32_t ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); };
  std::thread thread([&] { pin.run(commands); });
  replies.push_back(commands.call(ThreadCommand::kRun));
  replies.push_back(commands.call(ThreadCommand::kPause));
  replies.push_back(commands.call(ThreadCommand::kOther));
  replies.push_back(commands.call(ThreadCommand::kStop));
  thread.join();
  EXPECT_EQ(replies, (std::vector<HResult>{kSOk, kSOk, kEUnexpected, kSOk}));
}

TEST_F(PinFixture, SilentPhoneGetsTheNoSignalPictureAfterTwoSecondsUntilItIsBack) {
  uint32_t clock = 0xFFFFF000u;  // the silence runs across the clock's wrap
  link.clockMs = &clock;
  pin.nowMs = [&] { return clock; };
  auto script = [&] {
    link.waits = {W::kFrame};
    for (int i = 0; i < 60; ++i) link.waits.push_back(W::kTimeout);  // 2.4 s of silence
    link.waits.push_back(W::kFrame);
    for (int i = 0; i < 5; ++i) link.waits.push_back(W::kTimeout);
  };
  const std::vector<uint8_t> live(sink.buffer.size(), 0x5A);
  script();
  pin.run(commands);
  // The frame, one no-signal picture per 40 ms wait from 2 s of silence on (waits 50 to
  // 60), then the phone's next frame and nothing in the short silence after it.
  ASSERT_EQ(sink.delivered.size(), 13u);
  EXPECT_EQ(sink.delivered[0].bytes, live);
  for (size_t i = 1; i <= 11; ++i) {
    const auto& bytes = sink.delivered[i].bytes;
    const size_t white = std::count(bytes.begin(), bytes.end(), 0xFF);
    const size_t dimmed = std::count(bytes.begin(), bytes.end(), 0x2D);
    EXPECT_GT(white, 300u) << "the words are drawn";
    EXPECT_EQ(white + dimmed, bytes.size()) << "everything else at half brightness";
  }
  EXPECT_EQ(sink.delivered[12].bytes, live);
  EXPECT_FALSE(pin.signalLost());

  // Switched off: the silent phone gets nothing, as downstream keeps the last picture.
  sink.delivered.clear();
  pin.setNoSignalAfterMs(0);
  script();
  pin.run(commands);
  EXPECT_EQ(sink.delivered.size(), 2u);
}

TEST_F(PinFixture, NoSourceDoesNotSpin) {
  link.src = FrameLink::Source::kNone;
  pin.sleep = [this](uint32_t ms) {
    sleeps.push_back(ms);
    if (sleeps.size() == 5) commands.post(ThreadCommand::kStop);
  };
  pin.run(commands);
  EXPECT_EQ(sleeps, std::vector<uint32_t>(5, 10));
  EXPECT_TRUE(link.waitTimeouts.empty());
}

TEST(MediaTypeTest, BuiltFromTheOutputSize) {
  struct Case {
    uint32_t w, h, row, image;
  } cases[] = {{320, 240, 960, 230400}, {322, 240, 968, 968 * 240}, {1, 1, 4, 4},
               {81, 61, 244, 244 * 61}, {4096, 4096, 12288, 12288 * 4096}};
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c.w << "x" << c.h);
    EXPECT_EQ(rowSize(c.w), c.row);
    const MediaType t = buildMediaType(c.w, c.h);
    EXPECT_EQ(t.majorType, kMediaTypeVideo);
    EXPECT_EQ(t.subtype, kMediaSubtypeRgb24);
    EXPECT_EQ(t.formatType, kFormatVideoInfo);
    EXPECT_TRUE(t.fixedSizeSamples);
    EXPECT_FALSE(t.temporalCompression);
    EXPECT_EQ(t.sampleSize, c.image);
    ASSERT_EQ(t.format.size(), 88u);
    const VideoInfoHeader v = *readVideoInfo(t);
    EXPECT_EQ(v.rcSource, Rect{});
    EXPECT_EQ(v.rcTarget, Rect{});
    EXPECT_EQ(v.dwBitRate, c.image * 200);
    EXPECT_EQ(v.dwBitErrorRate, 0u);
    EXPECT_EQ(v.AvgTimePerFrame, 400000);
    BitmapInfoHeader b;
    b.biWidth = static_cast<int32_t>(c.w);
    b.biHeight = static_cast<int32_t>(c.h);
    b.biSizeImage = c.image;
    EXPECT_EQ(v.bmiHeader, b);  // size 40, 1 plane, 24 bits, BI_RGB, all else 0
  }
}

TEST(MediaTypeTest, Checking) {
  MediaType ok = buildMediaType(640, 480);
  EXPECT_EQ(checkMediaType(ok), kSOk);
  MediaType yuy2 = ok;
  yuy2.subtype = kMediaSubtypeYuy2;
  MediaType shortBlock = ok;
  shortBlock.format.resize(40);
  MediaType block87 = ok;
  block87.format.resize(87);
  MediaType audio = ok;
  audio.majorType = kMediaSubtypeYuy2;
  MediaType longBlock = ok;
  longBlock.format.resize(200);
  for (const MediaType* t : {&yuy2, &shortBlock, &block87, &audio}) {
    EXPECT_EQ(checkMediaType(*t), kVfwEInvalidMediaType);
  }
  EXPECT_EQ(checkMediaType(longBlock), kSOk);
}

TEST_F(PinFixture, StreamCaps) {
  int32_t count = 0, size = 0;
  EXPECT_EQ(pin.getNumberOfCapabilities(&count, &size), kSOk);
  EXPECT_EQ(count, 1);
  EXPECT_EQ(size, 128);
  MediaType t;
  VideoStreamConfigCaps caps;
  EXPECT_EQ(pin.getStreamCaps(1, &t, &caps), kSFalse);
  EXPECT_EQ(pin.getStreamCaps(7, &t, &caps), kSFalse);
  link.sw = 320;
  link.sh = 240;
  link.w = 640;  // the output size does not matter, the settings do
  ASSERT_EQ(pin.getStreamCaps(0, &t, &caps), kSOk);
  EXPECT_EQ(t.sampleSize, 230400u);
  EXPECT_EQ(readVideoInfo(t)->dwBitRate, 46080000u);
  EXPECT_EQ(caps.guid, kFormatVideoInfo);
  EXPECT_EQ(caps.VideoStandard, 0u);
  EXPECT_EQ(caps.InputSize, (Size{320, 240}));
  EXPECT_EQ(caps.MinCroppingSize, (Size{80, 60}));
  EXPECT_EQ(caps.MaxCroppingSize, (Size{320, 240}));
  EXPECT_EQ(caps.CropGranularityX, 80);
  EXPECT_EQ(caps.CropGranularityY, 60);
  EXPECT_EQ(caps.CropAlignX, 4);
  EXPECT_EQ(caps.CropAlignY, 4);
  EXPECT_EQ(caps.MinOutputSize, (Size{80, 60}));
  EXPECT_EQ(caps.MaxOutputSize, (Size{320, 240}));
  EXPECT_EQ(caps.OutputGranularityX, 4);
  EXPECT_EQ(caps.OutputGranularityY, 4);
  EXPECT_EQ(caps.StretchTapsX | caps.StretchTapsY | caps.ShrinkTapsX | caps.ShrinkTapsY, 0);
  EXPECT_EQ(caps.MinFrameInterval, 400000);
  EXPECT_EQ(caps.MaxFrameInterval, 50000000);
  EXPECT_EQ(caps.MinBitsPerSecond, 23040);
  EXPECT_EQ(caps.MaxBitsPerSecond, 2147483647);
}

TEST_F(PinFixture, SetFormat) {
  const MediaType vga = buildMediaType(640, 480);
  pin.setState(FilterState::kRunning);
  EXPECT_EQ(pin.setFormat(vga), kVfwENotStopped);
  pin.setState(FilterState::kPaused);
  EXPECT_EQ(pin.setFormat(vga), kVfwENotStopped);
  EXPECT_EQ(link.w, 320u);
  // The current type succeeds at once, even while running.
  pin.setState(FilterState::kRunning);
  EXPECT_EQ(pin.setFormat(pin.currentType()), kSOk);

  pin.setState(FilterState::kStopped);
  ASSERT_EQ(pin.setFormat(vga), kSOk);
  EXPECT_EQ(link.w, 640u);
  EXPECT_EQ(link.h, 480u);
  MediaType got;
  EXPECT_EQ(pin.getFormat(&got), kSOk);
  EXPECT_EQ(got, vga);
  int32_t average = 0;
  EXPECT_EQ(pin.getAverageFrameSize(&average), kSOk);
  EXPECT_EQ(average, 640 * 3 * 480);

  MediaType yuy2 = vga;
  yuy2.subtype = kMediaSubtypeYuy2;
  MediaType shortBlock = buildMediaType(160, 120);
  shortBlock.format.resize(40);
  EXPECT_EQ(pin.setFormat(yuy2), kVfwEInvalidMediaType);
  EXPECT_EQ(pin.setFormat(shortBlock), kVfwEInvalidMediaType);
  EXPECT_EQ(link.w, 640u);

  // A connected input pin must accept it; then the pin reconnects.
  sink.isConnected = true;
  sink.accepts = false;
  EXPECT_EQ(pin.setFormat(buildMediaType(160, 120)), kVfwEInvalidMediaType);
  EXPECT_EQ(link.w, 640u);
  sink.accepts = true;
  EXPECT_EQ(pin.setFormat(buildMediaType(160, 120)), kSOk);
  EXPECT_EQ(sink.reconnects, 1);
  EXPECT_EQ(link.w, 160u);
}

TEST_F(PinFixture, SetMediaTypeRecomputesTheImageSizeAndBoundsTheOutputSize) {
  struct Case {
    int32_t w, h;
    bool applied;
  } cases[] = {{322, 10, true}, {4096, 1, true}, {4097, 480, false}, {0, 480, false},
               {640, -480, false}, {1, 4097, false}};
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c.w << "x" << c.h);
    link.w = 320;
    link.h = 240;
    MediaType t = buildMediaType(320, 240);
    VideoInfoHeader v = *readVideoInfo(t);
    v.bmiHeader.biWidth = c.w;
    v.bmiHeader.biHeight = c.h;
    v.bmiHeader.biSizeImage = 7;
    writeVideoInfo(v, &t);
    t.sampleSize = 7;
    ASSERT_EQ(pin.setMediaType(t), kSOk);
    if (c.applied) {
      EXPECT_EQ(link.w, static_cast<uint32_t>(c.w));
      EXPECT_EQ(pin.currentType().sampleSize, pictureSize(c.w, c.h));
      EXPECT_EQ(readVideoInfo(pin.currentType())->bmiHeader.biSizeImage, pictureSize(c.w, c.h));
    } else {
      EXPECT_EQ(link.w, 320u);
    }
  }
}

TEST_F(PinFixture, PinCategoryProperty) {
  uint8_t buffer[32] = {};
  uint32_t returned = 0;
  EXPECT_EQ(pin.getProperty(kPropSetIdPin, 0, buffer, 8, &returned), kEUnexpected);
  EXPECT_EQ(returned, 16u);
  returned = 0;
  EXPECT_EQ(pin.getProperty(kPropSetIdPin, 0, nullptr, 0, &returned), kSOk);
  EXPECT_EQ(returned, 16u);
  EXPECT_EQ(pin.getProperty(kPropSetIdPin, 0, buffer, 16, &returned), kSOk);
  EXPECT_EQ(std::memcmp(buffer, &kPinCategoryCapture, 16), 0);
  EXPECT_EQ(pin.getProperty(kFormatVideoInfo, 0, buffer, 16, &returned), kEPropSetUnsupported);
  EXPECT_EQ(pin.getProperty(kPropSetIdPin, 1, buffer, 16, &returned), kEPropIdUnsupported);
  uint32_t support = 0;
  EXPECT_EQ(pin.querySupported(kPropSetIdPin, 0, &support), kSOk);
  EXPECT_EQ(support, 1u);
  EXPECT_EQ(pin.querySupported(kFormatVideoInfo, 0, &support), kEPropSetUnsupported);
  EXPECT_EQ(pin.querySupported(kPropSetIdPin, 2, &support), kEPropIdUnsupported);
  EXPECT_EQ(pin.setProperty(), kENotImpl);
  EXPECT_EQ(pin.notify(), kSOk);
  EXPECT_EQ(pin.getDroppedInfo(), kSOk);
}

TEST_F(PinFixture, StateAnswer) {
  pin.setState(FilterState::kPaused);
  EXPECT_EQ(pin.getState(), kVfwSCantCue);
  pin.setState(FilterState::kRunning);
  EXPECT_EQ(pin.getState(), kSOk);
  pin.setState(FilterState::kStopped);
  EXPECT_EQ(pin.getState(), kSOk);
}

TEST(WindowPointTest, ScaledAcrossTheClientArea) {
  EXPECT_EQ(scaleWindowPoint(160, 120, 320, 240), std::make_pair(32768, 32768));
  EXPECT_EQ(scaleWindowPoint(320, 240, 320, 240), std::make_pair(65536, 65536));
  EXPECT_EQ(scaleWindowPoint(1, 0, 3, 7), std::make_pair(21845, 0));
  EXPECT_FALSE(scaleWindowPoint(10, 10, 0, 240));
  EXPECT_FALSE(scaleWindowPoint(10, 10, 320, 0));
}

TEST(WindowPointTest, OnlyButtonMessagesArePassedOn) {
  for (uint32_t m : {513u, 514u, 516u}) EXPECT_TRUE(isVideoWindowMouseMessage(m)) << m;
  for (uint32_t m : {512u, 515u, 517u, 256u}) EXPECT_FALSE(isVideoWindowMouseMessage(m)) << m;
}

}  // namespace
}  // namespace output
