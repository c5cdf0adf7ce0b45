#include "server/frame_receiver.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <vector>

#include "manual_clock.h"
#include "protocol/property_list.h"
#include "server/property_store.h"
#include "test_stream.h"
#include "wait_until.h"

namespace server {
namespace {

using testing::Bytes;
using testing::Phone;

using platform::testing::waitUntil;

// True once the listener has read the clock `looks` more times after this call, or has
// dropped the link. On a link it reads the clock once or twice a pass: once when it takes
// the time of a message or keep-alive, and once to compare the time with the silence limit,
// right before it drops a silent link. So one look after bytes were taken means their time
// is taken, and two looks after the clock moved mean the new time was compared and acted on.
bool listenerLooked(FrameReceiver& r, const platform::ManualClock& clock, uint64_t looks) {
  const uint64_t uses = clock.uses();
  return waitUntil([&] { return clock.uses() >= uses + looks || !r.connected(); });
}

bool latestIsReport(const FrameReceiver& r, uint32_t key) {
  const RingMessage m = r.latestMessage();
  return m.present() && !m.header.hasPayload() && m.header.reportKey() == key;
}

class FrameServer : public ::testing::Test {
 protected:
  FrameReceiver::Options options() {
    FrameReceiver::Options o;
    o.listener.bindAddress = "127.0.0.1";
    o.audioDevicePath = "\\\\.\\NoSuchDevice";
    return o;
  }

  void startListening(FrameReceiver& r, uint16_t port) {
    r.setPort(port);
    r.start();
    r.enableListening();
    ASSERT_TRUE(waitUntil([&] { return r.listeningPort() == port; }));
  }

  void connect(FrameReceiver& r, Phone& phone) {
    startListening(r, port_);
    ASSERT_TRUE(phone.connect(port_)) << "greeting \"high\" expected";
    ASSERT_TRUE(waitUntil([&] { return r.connected(); }));
  }

  uint16_t port_ = testing::freePort();
  std::vector<uint8_t> frame_ = std::vector<uint8_t>(protocol::kMaxVideoPayload);
};

TEST_F(FrameServer, ReceivesAFrameAndRestoresItsJfifStart) {
  FrameReceiver r(options());
  Phone phone;
  connect(r, phone);
  EXPECT_FALSE(r.audioDeviceOpen());
  const Bytes payload = testing::jpegPayload(40000, 0x42);
  ASSERT_TRUE(phone.send(testing::message(protocol::MSG_VIDEO_JPEG, payload)));
  ASSERT_EQ(r.waitForFrame(3000), kWaitFrameReady);
  ASSERT_EQ(r.latestJpeg(frame_.data()), payload.size());
  EXPECT_EQ(std::memcmp(frame_.data(), protocol::kJfifPrefix, 10), 0);
  EXPECT_EQ(std::memcmp(frame_.data() + 10, payload.data() + 10, payload.size() - 10), 0);
  EXPECT_EQ(r.waitForFrame(50), kWaitTimeout);

  r.wake();
  EXPECT_EQ(r.waitForFrame(3000), kWaitFrameReady) << "wake hands the frame over again";
}

TEST_F(FrameServer, EndOfImageTestDecidesWhichFramesAreValid) {
  struct Case {
    const char* what;
    Bytes message;
    uint32_t expected;  // latestJpeg result
  };
  Bytes big = testing::videoMessage(3000000, 0x21);
  const Case cases[] = {
      {"marker at the very end", testing::videoMessage(1000, 0x01), 1000},
      {"marker followed by 8 bytes",
       testing::message(protocol::MSG_VIDEO_JPEG, testing::jpegPayload(1000, 0x02, 8)), 1000},
      {"marker followed by 9 bytes",
       testing::message(protocol::MSG_VIDEO_JPEG, testing::jpegPayload(1000, 0x03, 9)), 0},
      {"cut to 2 MiB, so the marker is lost", big, 0},
      {"empty video payload", testing::header(32, 0, protocol::MSG_VIDEO_JPEG), 0},
  };
  FrameReceiver r(options());
  Phone phone;
  connect(r, phone);
  for (const Case& c : cases) {
    ASSERT_TRUE(phone.send(c.message)) << c.what;
    ASSERT_TRUE(phone.send(Bytes(4, 0)));  // completes an empty message by a pass
    const int wait = r.waitForFrame(3000);
    EXPECT_EQ(wait, c.expected ? kWaitFrameReady : kWaitNotAFrame) << c.what;
    EXPECT_EQ(r.latestJpeg(frame_.data()), c.expected) << c.what;
    while (r.waitForFrame(100) != kWaitTimeout) {
    }
  }
}

TEST_F(FrameServer, SoundAndReportsAfterAFrameLeaveItTheNewest) {
  struct Case {
    const char* what;
    Bytes after;  // sent in the same write as the frame
  };
  const Case cases[] = {
      {"a sound block", testing::message(protocol::MSG_AUDIO, Bytes(1600, 0x10))},
      {"a value report", testing::reportMessage(9, 1)},
      {"a property list", testing::message(protocol::MSG_PROPERTY_LIST, Bytes(64, 0x20))},
  };
  uint8_t fill = 0x50;
  for (const Case& c : cases) {
    FrameReceiver r(options());
    Phone phone;
    connect(r, phone);
    const Bytes payload = testing::jpegPayload(20000, ++fill);
    ASSERT_TRUE(phone.send(testing::concat({testing::message(protocol::MSG_VIDEO_JPEG, payload), c.after})));
    // Once the message after the frame has been handed over (keep-alives complete it), the
    // frame is still the one a reader gets, and the wait reports it once.
    ASSERT_TRUE(waitUntil([&] {
      phone.send(Bytes(4, 0));
      const RingMessage m = r.latestMessage();
      return m.present() && !m.hasType(protocol::MSG_VIDEO_JPEG);
    })) << c.what;
    EXPECT_EQ(r.waitForFrame(1000), kWaitFrameReady) << c.what;
    ASSERT_EQ(r.latestJpeg(frame_.data()), payload.size()) << c.what;
    EXPECT_EQ(frame_[10], payload[10]) << c.what;
    EXPECT_NE(r.waitForFrame(200), kWaitFrameReady) << c.what << ": one frame, reported once";
  }
}

TEST_F(FrameServer, CutFrameIsRefusedAndAudioWithoutDeviceIsNotAFrame) {
  FrameReceiver r(options());
  Phone phone;
  connect(r, phone);
  Bytes cut = testing::videoMessage(5000, 0x31);
  cut.resize(2000);
  ASSERT_TRUE(phone.send(testing::concat({cut, testing::reportMessage(50, 0)})));
  EXPECT_EQ(r.waitForFrame(3000), kWaitNotAFrame);
  EXPECT_EQ(r.latestMessage().length, 2000u);
  EXPECT_EQ(r.latestJpeg(frame_.data()), 0u);

  ASSERT_TRUE(phone.send(testing::message(protocol::MSG_AUDIO, Bytes(1600, 0x10))));
  // The report above stays pending until this header completes it; the sound completes on
  // a later arrival of data, so the keep-alive is sent once that pass is over.
  ASSERT_TRUE(waitUntil([&] { return latestIsReport(r, 50); }));
  ASSERT_TRUE(phone.send(Bytes(4, 0)));
  ASSERT_TRUE(waitUntil([&] { return r.latestMessage().isAudio(); }));
  EXPECT_EQ(r.latestJpeg(nullptr), 0u);
}

TEST_F(FrameServer, ListensOnlyWhenEnabledAndFollowsPortChanges) {
  platform::ManualClock clock(1000);  // never advanced: no silence limit is involved
  FrameReceiver::Options o = options();
  o.listener.clock = &clock;
  FrameReceiver r(o);
  r.setPort(port_);
  r.start();
  // Without a link every pass of the listener pauses on the clock: two pauses, a whole pass.
  const uint64_t uses = clock.uses();
  ASSERT_TRUE(waitUntil([&] { return clock.uses() >= uses + 2; }));
  EXPECT_EQ(r.listeningPort(), 0) << "no socket while listening is not enabled";
  EXPECT_FALSE(platform::TcpSocket::connect("127.0.0.1", port_, 500).valid());

  r.enableListening();
  ASSERT_TRUE(waitUntil([&] { return r.listeningPort() == port_; }));
  const uint16_t second = testing::freePort();
  r.setPort(second);
  ASSERT_TRUE(
      waitUntil([&] { return r.listeningPort() == second; }, std::chrono::milliseconds(2000)))
      << "a port change ends the current listening within about 500 ms";

  Phone phone;
  ASSERT_TRUE(phone.connect(second));
  ASSERT_TRUE(waitUntil([&] { return r.connected(); }));
  r.setPort(port_);
  ASSERT_TRUE(listenerLooked(r, clock, 2));
  EXPECT_TRUE(r.connected()) << "while connected the new port waits for a disconnection";
  EXPECT_EQ(r.listeningPort(), 0);
  ASSERT_TRUE(phone.send(testing::videoMessage(100, 1)));
  EXPECT_EQ(r.waitForFrame(3000), kWaitFrameReady);
}

TEST_F(FrameServer, CommandsQueuedBeforeAPhoneConnectsAreDroppedLaterOnesArrive) {
  FrameReceiver r(options());
  startListening(r, port_);
  for (uint32_t i = 0; i < 300; ++i) r.sendCommand(1000 + i, i);
  EXPECT_EQ(r.listener().commands().pendingCount(), 256);
  Phone phone;
  ASSERT_TRUE(phone.connect(port_));
  ASSERT_TRUE(waitUntil([&] { return r.connected(); }));
  EXPECT_EQ(r.listener().commands().pendingCount(), 0);

  r.sendCommand(protocol::CMD_TAP, protocol::tapArgument(0x8000, 0x4000));
  r.sendCommand(protocol::CMD_KEY, 0x0D);
  protocol::StreamHeader got;
  ASSERT_TRUE(phone.readCommand(got, 3000));
  EXPECT_EQ(got.magic0, protocol::STREAM_MAGIC_0);
  EXPECT_EQ(got.length, 0u);
  EXPECT_EQ(got.commandCode(), protocol::CMD_TAP) << "the held commands were never sent";
  EXPECT_EQ(got.commandArgument(), 0x40008000u);
  ASSERT_TRUE(phone.readCommand(got, 3000));
  EXPECT_EQ(got.commandCode(), protocol::CMD_KEY);
  EXPECT_EQ(got.commandArgument(), 0x0Du);
}

TEST_F(FrameServer, SilenceDropsThePhoneAndTheNextOneIsServed) {
  platform::ManualClock clock(0xFFFFF000u);  // wraps during the test
  FrameReceiver::Options o = options();
  o.listener.clock = &clock;
  FrameReceiver r(o);
  Phone phone;
  connect(r, phone);
  const uint64_t before = r.listener().writePosition();
  ASSERT_TRUE(phone.send(Bytes(4, 0)));
  ASSERT_TRUE(waitUntil([&] { return r.listener().writePosition() > before; }));
  ASSERT_TRUE(listenerLooked(r, clock, 1)) << "the keep-alive's time is taken";
  clock.advanceMs(4999);
  ASSERT_TRUE(listenerLooked(r, clock, 2));
  EXPECT_TRUE(r.connected()) << "4999 ms of silence is still within the limit";
  clock.advanceMs(2);
  EXPECT_TRUE(phone.closedByPeer(10000));
  Phone next;
  ASSERT_TRUE(waitUntil([&] { return r.listeningPort() == port_; }));
  EXPECT_TRUE(next.connect(port_));
}

TEST_F(FrameServer, EndOfStreamFreesThePortAtOnce) {
  platform::ManualClock clock(1000);  // never advanced: no silence limit is involved
  FrameReceiver::Options o = options();
  o.listener.clock = &clock;
  FrameReceiver r(o);
  Phone phone;
  connect(r, phone);
  phone.close();
  ASSERT_TRUE(
      waitUntil([&] { return r.listeningPort() == port_; }, std::chrono::milliseconds(2000)));
  EXPECT_FALSE(r.connected());
  Phone next;
  EXPECT_TRUE(next.connect(port_));
}

TEST_F(FrameServer, OnlyMessagesAndKeepAlivesKeepTheLink) {
  struct Case {
    const char* what;
    Bytes every;  // sent once per simulated second
    bool kept;
  };
  const Case cases[] = {
      {"one garbage byte a second", Bytes{0x41}, false},
      {"a keep-alive each second", Bytes(4, 0), true},
      {"a value report each second", testing::reportMessage(3, 1), true},
  };
  for (const Case& c : cases) {
    platform::ManualClock clock(0x10000);
    FrameReceiver::Options o = options();
    o.listener.clock = &clock;
    FrameReceiver r(o);
    Phone phone;
    connect(r, phone);
    // Each second the listener takes the bytes before the clock moves on; whether it takes
    // their time before or after the move only makes the link look younger.
    for (int second = 0; second < 8 && r.connected(); ++second) {
      const uint64_t before = r.listener().writePosition();
      ASSERT_TRUE(phone.send(c.every) || second > 0) << c.what;
      ASSERT_TRUE(waitUntil([&] {
        return r.listener().writePosition() > before || !r.connected();
      })) << c.what;
      clock.advanceMs(1000);
    }
    ASSERT_TRUE(listenerLooked(r, clock, 2)) << c.what << ": the last time is compared";
    EXPECT_EQ(r.connected(), c.kept) << c.what;
  }
}

TEST_F(FrameServer, PropertyListsAndReportsReachTheStore) {
  FrameReceiver r(options());
  PropertyStore store;
  r.setMessageCallback(&PropertyStore::onMessage, &store);
  Phone phone;
  connect(r, phone);

  uint8_t payload[512];
  protocol::PropertyListBuilder b(payload, sizeof payload);
  const protocol::PropertyListBuilder::Item items[3] = {
      {0, 0, u"None"}, {0, 1, u"Mono"}, {0, 2, u"Sepia"}};
  b.add({.name = u"Effect", .current = 0, .count = 3, .items = items, .key = 7});
  b.add({.name = u"Zoom", .current = 1, .count = 4, .base = 100, .step = 50, .key = 8});
  ASSERT_TRUE(phone.send(testing::message(protocol::MSG_PROPERTY_LIST,
                                          Bytes(payload, payload + b.size()))));
  ASSERT_TRUE(phone.send(Bytes(4, 0)));
  ASSERT_TRUE(waitUntil([&] { return store.generation() == 1; }));
  ASSERT_TRUE(phone.send(testing::reportMessage(7, 2)));
  ASSERT_TRUE(phone.send(Bytes(4, 0)));
  std::u16string shown;
  ASSERT_TRUE(waitUntil([&] {
    store.read([&](const auto& list) {
      shown = list.size() == 2 ? list[0].itemText(list[0].currentIndex()) : u"";
    });
    return shown == u"Sepia";
  }));
  store.read([](const auto& list) { EXPECT_EQ(list[1].itemText(list[1].currentIndex()), u"150"); });
}

struct FakeBlock : SharedFrameBlock {
  std::vector<uint8_t> view = std::vector<uint8_t>(protocol::kMaxVideoPayload);
  std::atomic<int> pulses{0};
  uint8_t* lockView(size_t& size) override {
    size = view.size();
    return view.data();
  }
  void unlockAndPulse() override { ++pulses; }
};

TEST_F(FrameServer, VideoFramesArePublishedToTheSharedBlock) {
  FrameReceiver r(options());
  FakeBlock block;
  r.attachSharedFrameBlock(&block);
  Phone phone;
  connect(r, phone);
  const Bytes frame = testing::videoMessage(3000, 0x61);
  ASSERT_TRUE(phone.send(frame));
  ASSERT_TRUE(waitUntil([&] { return block.pulses.load() == 1; }));
  EXPECT_EQ(std::memcmp(block.view.data(), frame.data(), frame.size()), 0)
      << "header and payload, as received";
  // Two reports, the second handed over after the first's hand-over is wholly done.
  // Each completes on a later arrival of data: keep-alives follow until it is handed over.
  ASSERT_TRUE(phone.send(testing::reportMessage(1, 1)));
  ASSERT_TRUE(waitUntil([&] { return phone.send(Bytes(4, 0)) && latestIsReport(r, 1); }));
  ASSERT_TRUE(phone.send(testing::reportMessage(2, 1)));
  ASSERT_TRUE(waitUntil([&] { return phone.send(Bytes(4, 0)) && latestIsReport(r, 2); }));
  EXPECT_EQ(block.pulses.load(), 1) << "only video frames are published";
}

TEST_F(FrameServer, StartAndStopRepeat) {
  FrameReceiver r(options());
  for (int i = 0; i < 3; ++i) {
    Phone phone;
    connect(r, phone);
    ASSERT_TRUE(phone.send(testing::videoMessage(100, 1)));
    EXPECT_EQ(r.waitForFrame(3000), kWaitFrameReady) << i;
    r.stop();
    EXPECT_TRUE(phone.closedByPeer(2000));
  }
}

}  // namespace
}  // namespace server
