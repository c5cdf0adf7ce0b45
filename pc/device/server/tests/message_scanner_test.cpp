#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <vector>

#include "platform/byte_order.h"
#include "server/message_scanner.h"
#include "server/receive_parser.h"
#include "server/ring.h"
#include "test_stream.h"

namespace server {
namespace {

using testing::Bytes;

// Stands in for the listener: appends bytes to a real-size ring and counts them.
struct Feed {
  std::unique_ptr<uint8_t[]> ring{new uint8_t[kRingSize]()};
  uint64_t written = 0;
  MessageScanner scanner;

  void append(const Bytes& b) {
    for (uint8_t byte : b) ring[(written++) & kRingMask] = byte;
  }
  // One parser pass over everything appended so far: the start of the message handed
  // over, or -1 when nothing was.
  int64_t pass() {
    if (!scanner.scan(ring.get(), written)) return -1;
    return static_cast<int64_t>(scanner.latest().start);
  }
};

TEST(MessageScanner, BurstsHandOverAsTheParserPassesSay) {
  const Bytes f1 = testing::videoMessage(400, 0x11);
  const Bytes f2 = testing::videoMessage(300, 0x22);
  const Bytes f3 = testing::videoMessage(200, 0x33);
  const Bytes list = testing::message(protocol::MSG_PROPERTY_LIST, Bytes(100, 0x44));
  const Bytes keepAlive(4, 0);
  const int64_t at1 = 0;
  const int64_t at2 = static_cast<int64_t>(f1.size());
  struct Case {
    const char* what;
    Bytes burst;
    std::vector<int64_t> handedOver;  // start of the message handed over per pass
  };
  const Case cases[] = {
      {"two frames: the first now, the second on the next arrival",
       testing::concat({f1, f2}), {at1, at2}},
      {"three frames: the second now, the first never, the third next",
       testing::concat({f1, f2, f3}), {at2, at2 + static_cast<int64_t>(f2.size())}},
      {"property list then frame: each in a pass of its own",
       testing::concat({list, f1}), {0, static_cast<int64_t>(list.size())}},
      {"a single frame is handed over once it is complete", f1, {at1, -1}},
  };
  for (const Case& c : cases) {
    Feed feed;
    feed.append(c.burst);
    std::vector<int64_t> got{feed.pass()};
    feed.append(keepAlive);
    got.push_back(feed.pass());
    EXPECT_EQ(got, c.handedOver) << c.what;
  }
}

TEST(MessageScanner, ReportFollowedByFrameAndHeaderIsSuperseded) {
  Feed feed;
  const Bytes report = testing::reportMessage(7, 1);
  const Bytes frame = testing::videoMessage(100, 0x55);
  feed.append(testing::concat({report, frame, testing::header(0, 9, 9)}));
  ASSERT_GE(feed.pass(), 0);
  EXPECT_EQ(feed.scanner.latest().start, report.size()) << "the frame is handed over";
  EXPECT_TRUE(feed.scanner.latest().hasType(protocol::MSG_VIDEO_JPEG));
}

TEST(MessageScanner, CutMessageEndsWhereTheNextHeaderStarts) {
  Feed feed;
  Bytes cut = testing::videoMessage(1000, 0x66);
  cut.resize(500);
  feed.append(testing::concat({cut, testing::videoMessage(50, 0x77)}));
  ASSERT_EQ(feed.pass(), 0);
  EXPECT_EQ(feed.scanner.latest().length, 500u);
  EXPECT_EQ(feed.scanner.latest().header.length, 1032u);
}

TEST(MessageScanner, GarbageAndKeepAlivesBetweenMessagesAreSkipped) {
  Feed feed;
  const Bytes f1 = testing::videoMessage(64, 0x10);
  const Bytes garbage = {0, 0, 0, 0, 0xCF, 0x47, 0x09, 0x7E, 0x00, 0xCF, 1, 2, 3, 0, 0, 0, 0};
  const Bytes f2 = testing::videoMessage(64, 0x20);
  feed.append(testing::concat({f1, garbage}));
  EXPECT_EQ(feed.pass(), 0) << "f1 is complete once its declared bytes are present";
  EXPECT_EQ(feed.scanner.latest().length, f1.size());
  feed.append(f2);
  EXPECT_EQ(feed.pass(), static_cast<int64_t>(f1.size() + garbage.size()));
  EXPECT_EQ(feed.scanner.latest().length, f2.size());
  feed.append(Bytes(4, 0));
  EXPECT_EQ(feed.pass(), -1);
}

// The magic is searched many bytes at a time: a header is found at every offset within
// such a step, among partial magics (its first byte, its first two, its first word) that
// must not be taken for it, and whether it starts right at the ring's end or not.
TEST(MessageScanner, HeadersAreFoundAtEveryOffsetAmongPartialMagics) {
  const Bytes frame = testing::videoMessage(100, 0x11);
  const Bytes decoys[] = {{0xCF}, {0xCF, 0x47}, {0xCF, 0x47, 0x09, 0x7E}, {0xCF, 0x47, 0x09, 0x7E, 0x13}};
  for (const Bytes& decoy : decoys) {
    Feed feed;
    feed.written = kRingSize - 2000;  // the cases run on across the ring's end
    feed.scanner.scan(feed.ring.get(), feed.written);
    for (size_t lead = 0; lead < 140; ++lead) {
      Bytes garbage(lead, 0x5A);
      for (size_t i = 0; i + decoy.size() <= lead; i += decoy.size() + 3) {
        std::copy(decoy.begin(), decoy.end(), garbage.begin() + static_cast<ptrdiff_t>(i));
      }
      const int64_t expected = static_cast<int64_t>(feed.written + lead);
      feed.append(testing::concat({garbage, frame, Bytes(4, 0)}));
      EXPECT_EQ(feed.pass(), expected) << "lead " << lead << ", decoy of " << decoy.size();
    }
  }
}

TEST(MessageScanner, FewerThanAHeaderOfBytesWaits) {
  Feed feed;
  const Bytes h = testing::reportMessage(3, 4);
  feed.append(Bytes(h.begin(), h.begin() + 31));
  EXPECT_EQ(feed.pass(), -1);
  feed.append(Bytes(h.begin() + 31, h.end()));
  EXPECT_EQ(feed.pass(), 0);
  EXPECT_EQ(feed.scanner.latest().length, 32u) << "length 0 reads as 32";
  EXPECT_EQ(feed.scanner.latest().header.reportKey(), 3u);
}

TEST(MessageScanner, AudioEndsThePassAtTheHeaderThatCompletesIt) {
  Feed feed;
  const Bytes audio = testing::message(protocol::MSG_AUDIO, Bytes(160, 0x01));
  const Bytes audioAlt = testing::message(protocol::MSG_AUDIO_ALT, Bytes(160, 0x02));
  const Bytes frame = testing::videoMessage(80, 0x03);
  feed.append(testing::concat({audio, audioAlt, frame}));
  EXPECT_EQ(feed.pass(), 0);
  EXPECT_TRUE(feed.scanner.latest().isAudio());
  EXPECT_EQ(feed.pass(), static_cast<int64_t>(audio.size()));
  EXPECT_TRUE(feed.scanner.latest().isAudio());
  EXPECT_EQ(feed.pass(), static_cast<int64_t>(audio.size() + audioAlt.size()));
  EXPECT_TRUE(feed.scanner.latest().hasType(protocol::MSG_VIDEO_JPEG));
}

TEST(MessageScanner, MessagesAcrossTheRingEndAreFoundAndRead) {
  // Header split by the ring end at every offset from 1 to 31 bytes, and a payload that
  // wraps when the header does not.
  for (uint32_t before : {1u, 4u, 7u, 8u, 9u, 20u, 31u, 32u, 100u}) {
    Feed feed;
    feed.append(Bytes(kRingSize - before, 0x00));
    EXPECT_EQ(feed.pass(), -1);
    const Bytes frame = testing::videoMessage(500, 0x5A);
    feed.append(frame);
    feed.append(testing::reportMessage(1, 1));
    ASSERT_EQ(feed.pass(), static_cast<int64_t>(kRingSize - before)) << before;
    const RingMessage& m = feed.scanner.latest();
    EXPECT_EQ(m.length, frame.size());
    Bytes copy(m.length);
    copyFromRing(feed.ring.get(), m.start, m.length, copy.data());
    EXPECT_EQ(copy, frame) << before;
  }
}

TEST(MessageScanner, BytesOverwrittenBeforeTheScanAreSkipped) {
  Feed feed;
  feed.append(testing::videoMessage(100, 0x01));
  feed.append(Bytes(kRingSize + 1000, 0x00));  // lapped before the parser looked
  feed.append(testing::videoMessage(100, 0x02));
  feed.append(Bytes(4, 0));
  ASSERT_GE(feed.pass(), 0);
  EXPECT_EQ(feed.scanner.latest().start, 100u + 32u + kRingSize + 1000u);
}


// Shows and publishes every frame handed over, as the frame server's readers would see it.
struct FrameReaders : ReceiveParser::Sink, SharedFrameBlock {
  const RingView* ring = nullptr;
  Bytes frame = Bytes(protocol::kMaxVideoPayload);
  Bytes view = Bytes(protocol::kMaxVideoPayload);
  std::vector<Bytes> shown;      // payloads that passed as images, JFIF start restored
  std::vector<Bytes> published;  // messages in the block, as long as their header says

  platform::DeviceHandle* audioDevice() override { return nullptr; }
  void handOver(const RingMessage&, const RingMessage* newVideo) override {
    if (newVideo == nullptr) return;
    if (const uint32_t n = ring->copyJpeg(*newVideo, frame.data())) shown.emplace_back(frame.begin(), frame.begin() + n);
    if (ring->publish(*newVideo, *this)) {
      published.emplace_back(view.begin(), view.begin() + platform::load32(view.data() + 8));
    }
  }
  uint8_t* lockView(size_t& size) override {
    size = view.size();
    return view.data();
  }
  void unlockAndPulse() override {}
};

// A frame that the phone cut short (its header declares 16 bytes more than it sent), then a
// whole one, arriving in one receive or in two split at any byte: the cut frame is never
// shown or published, the whole one is, exactly as sent.
TEST(ReceiveParser, AFrameCutShortIsNeverHandedOnAndTheWholeOneAfterItIs) {
  constexpr size_t kMissing = 16;
  // The whole frame's timestamp holds FF D9: a cut frame taken to its declared length ends
  // in those header bytes and passes the end-of-image test.
  const Bytes wholePayload = testing::jpegPayload(300, 0x22);
  const Bytes whole = testing::message(protocol::MSG_VIDEO_JPEG, wholePayload, 0x0000D9FF);
  Bytes shownWhole = wholePayload;
  std::copy(std::begin(protocol::kJfifPrefix), std::end(protocol::kJfifPrefix), shownWhole.begin());
  Bytes plainCut = testing::videoMessage(1000, 0x11);
  plainCut.resize(plainCut.size() - kMissing);
  // Cut right behind its end-of-image marker: what arrived of it ends like a whole image.
  Bytes cutAtMarker = testing::message(protocol::MSG_VIDEO_JPEG, testing::jpegPayload(1000, 0x11, kMissing));
  cutAtMarker.resize(cutAtMarker.size() - kMissing);

  std::unique_ptr<uint8_t[]> ring(new uint8_t[kRingSize]());
  FrameReaders readers;
  for (const Bytes* cut : {&plainCut, &cutAtMarker}) {
    const Bytes stream = testing::concat({*cut, whole});
    for (size_t split = 0; split < stream.size(); ++split) {
      uint64_t written = 0;
      RingView view(ring.get(), [&written] { return written; });
      ReceiveParser parser(view);
      readers.ring = &view;
      readers.shown.clear();
      readers.published.clear();
      const auto receive = [&](const uint8_t* bytes, size_t n) {
        std::memcpy(ring.get() + written, bytes, n);
        written += n;
        parser.drain(readers);
      };
      if (split > 0) receive(stream.data(), split);
      receive(stream.data() + split, stream.size() - split);
      const uint8_t keepAlive[4] = {};
      receive(keepAlive, sizeof keepAlive);
      ASSERT_EQ(readers.shown, std::vector<Bytes>{shownWhole})
          << (cut == &plainCut ? "plain cut" : "cut at its marker") << ", split at " << split;
      ASSERT_EQ(readers.published, std::vector<Bytes>{whole})
          << (cut == &plainCut ? "plain cut" : "cut at its marker") << ", split at " << split;
    }
  }
}

}  // namespace
}  // namespace server
