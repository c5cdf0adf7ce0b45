#include "targets/network_target.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

#include "manual_clock.h"
#include "memory_key_store.h"
#include "platform/byte_order.h"
#include "platform/event.h"
#include "protocol/property_list.h"
#include "protocol/stream_header.h"
#include "wait_until.h"

namespace targets {
namespace {

using platform::TcpSocket;
using Clock = std::chrono::steady_clock;

long msSince(Clock::time_point t) {
  return static_cast<long>(
      std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - t).count());
}

// The PC end: a listener on a free loopback port.
struct FakePc {
  TcpSocket listener = TcpSocket::listen("127.0.0.1", 0, 4);
  uint16_t port = listener.localPort();
  TcpSocket accept(uint32_t ms = 6000) {
    if (listener.waitAcceptable(ms) != TcpSocket::kReady) return TcpSocket();
    return listener.accept();
  }
  TcpSocket acceptGreeted() {
    TcpSocket s = accept();
    if (s.valid()) s.sendAll(protocol::kGreeting, 4, 1000);
    return s;
  }
};

bool readExactly(TcpSocket& s, uint8_t* p, size_t n, uint32_t ms = 4000) {
  const auto start = Clock::now();
  while (n > 0) {
    if (msSince(start) > ms) return false;
    if (s.waitReadable(50) != TcpSocket::kReady) continue;
    const long got = s.receive(p, n);
    if (got <= 0) return false;
    p += got;
    n -= static_cast<size_t>(got);
  }
  return true;
}

// One message from the phone, skipping keep-alives and anything before a magic pair.
struct Message {
  protocol::StreamHeader header;
  std::vector<uint8_t> payload;
  int skipped = 0;  // bytes dropped before the header
  int skippedNonZero = 0;  // of them, bytes that are not keep-alive zeros
};
bool readMessage(TcpSocket& s, Message& m, uint32_t ms = 4000) {
  uint8_t head[32];
  size_t have = 0;
  m.skipped = 0;
  m.skippedNonZero = 0;
  while (have < 8 || !protocol::isMagicAt(head)) {
    if (have == 8) {
      if (head[0] != 0) ++m.skippedNonZero;
      std::memmove(head, head + 1, 7);
      have = 7;
      ++m.skipped;
    }
    if (!readExactly(s, head + have, 1, ms)) return false;
    ++have;
  }
  if (!readExactly(s, head + 8, 24, ms)) return false;
  m.header = protocol::decodeHeader(head);
  m.payload.assign(m.header.payloadLength(), 0);
  return m.payload.empty() || readExactly(s, m.payload.data(), m.payload.size(), ms);
}

// Frames handed to the target's fetch function, each in a buffer with 32 free bytes.
struct Feed {
  std::mutex mutex;
  std::deque<std::vector<uint8_t>> buffers;  // kept alive until the feed goes
  std::deque<sources::FrameDescriptor> waiting;
  std::vector<std::pair<uint32_t, uint32_t>> commands;

  void add(const std::vector<uint8_t>& bytes, uint32_t format, uint32_t stamp, uint32_t word6 = 0) {
    std::lock_guard lock(mutex);
    buffers.emplace_back(32 + bytes.size(), 0xEE);
    std::memcpy(buffers.back().data() + 32, bytes.data(), bytes.size());
    sources::FrameDescriptor d;
    d.data = buffers.back().data() + 32;
    d.sizeBytes = static_cast<uint32_t>(bytes.size());
    d.format = format;
    d.width = 320;
    d.height = 240;
    d.timestampMs = stamp;
    d.sourceWord = word6;
    waiting.push_back(d);
  }
  static uint32_t fetch(void* user, sources::FrameDescriptor* out) {
    auto* f = static_cast<Feed*>(user);
    std::lock_guard lock(f->mutex);
    if (f->waiting.empty()) return 0;
    *out = f->waiting.front();
    f->waiting.pop_front();
    return out->timestampMs;
  }
  static uint32_t control(void* user, uint32_t w3, uint32_t w4) {
    auto* f = static_cast<Feed*>(user);
    std::lock_guard lock(f->mutex);
    f->commands.emplace_back(w3, w4);
    return 1;
  }
  size_t commandCount() {
    std::lock_guard lock(mutex);
    return commands.size();
  }
};

class OffsetClock final : public platform::Clock {
 public:
  explicit OffsetClock(uint32_t offset) : offset_(offset) {}
  uint32_t nowMs() override { return platform::systemClock().nowMs() + offset_; }
  void sleepMs(uint32_t ms) override { platform::systemClock().sleepMs(ms); }

 private:
  uint32_t offset_;
};

struct Rig {
  std::shared_ptr<platform::testing::MemoryKeyStoreStorage::State> state;
  std::unique_ptr<platform::KeyStore> keys = platform::testing::makeMemoryKeyStore(state);
  settings::SettingsStore store{*keys};
  Feed feed;
  NetworkTarget target;

  explicit Rig(NetworkTarget::Options options = {}) : target(store, std::move(options)) {
    store.setMainPath(settings::kSettingsPath);
  }
  ~Rig() { target.Stop(); }
  // Prepared, aimed at the loopback port by a "-p" command, started.
  void start(uint16_t port) {
    ASSERT_TRUE(target.Prepare());
    target.partnerHostName = "127.0.0.1";
    const std::string cmd = "-p" + std::to_string(port);
    ASSERT_TRUE(target.Command(std::u16string(cmd.begin(), cmd.end()).c_str(), 0));
    ASSERT_TRUE(target.Start({&Feed::fetch, &Feed::control, &feed}));
  }
  bool waitLinked() {
    return platform::testing::waitUntil([&] { return target.linkUp(); });
  }
};

std::vector<uint8_t> fakeJpeg(size_t size) {
  std::vector<uint8_t> j(size);
  for (size_t i = 0; i < size; ++i) j[i] = static_cast<uint8_t>(i * 7 + 1);
  const uint8_t prefix[] = {0xFF, 0xD8, 0xFF, 0xE0, 0x00, 0x10, 'J', 'F', 'I', 'F'};
  std::memcpy(j.data(), prefix, 10);
  j[size - 2] = 0xFF;
  j[size - 1] = 0xD9;
  return j;
}

TEST(PortCommand, ParsesTheNumberAfterDashP) {
  struct Case {
    const char16_t* text;
    uint32_t value;
  } cases[] = {
      {u"-p2047", 2047},
      {u"-x -p 3000", 3000},             // "-" without "p" skipped, blanks after "-p" too
      {u"-p  4000 -q", 4000},
      {u"-p67583", 67583},               // 0x107FF: port 2047 with the reconnect flag
      {u"-p1234567890123456", 0},        // 16 digits
      {u"-p123456789012345", static_cast<uint32_t>(123456789012345ull)},  // 15 digits
      {u"-p", 0},
      {u"-p ", 0},
      {u"-pabc", 0},
      {u"-p0", 0},
      {u"p2047", 0},
      {u"", 0},
      {u"--p5", 5},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(parsePortCommand(c.text), c.value) << std::string(c.text, c.text + std::char_traits<char16_t>::length(c.text));
  }
  EXPECT_EQ(parsePortCommand(nullptr), 0u);
}

TEST(PortCommand, WithoutThreadAsksForCaptureAndKeepsTheLowSixteenBits) {
  Rig rig;
  ASSERT_TRUE(rig.target.Prepare());
  EXPECT_TRUE(rig.target.Command(u"-p67583", 0));
  EXPECT_EQ(rig.target.portOverride(), 2047);
  EXPECT_FALSE(rig.target.Command(u"-p1234567890123456", 0));
  EXPECT_EQ(rig.target.portOverride(), 0);
  EXPECT_FALSE(rig.target.Command(nullptr, 0));
}

TEST(Resolution, RulesForTheHostName) {
  Rig rig;
  ASSERT_TRUE(rig.target.Prepare());
  EXPECT_EQ(rig.target.remoteIp, std::u16string(kDefaultRemoteIp));  // empty takes the default
  EXPECT_EQ(rig.target.hostName(), "localhost");                    // auto on
  rig.target.remoteIpAuto = 0;
  rig.target.remoteIp = u"10.1.2.3";
  EXPECT_EQ(rig.target.hostName(), "10.1.2.3");
  rig.target.remoteIp = std::u16string(u"ab\u0163c") + u'\u0100' + u"d";  // low bytes, up to a zero one
  EXPECT_EQ(rig.target.hostName(), "abcc");
  rig.target.remoteIp.clear();
  EXPECT_EQ(rig.target.hostName(), "localhost");
  rig.target.remoteIp = u"10.1.2.3";
  rig.target.Command(u"-p3000", 0);  // a port from the command line forces the partner
  EXPECT_EQ(rig.target.hostName(), "localhost");

  EXPECT_EQ(parseDottedAddress("127.0.0.1"), 0x0100007Fu);
  EXPECT_EQ(parseDottedAddress("256.0.0.1"), 0u);
  EXPECT_EQ(parseDottedAddress("1.2.3"), 0u);
  EXPECT_EQ(dottedAddress(0x0100007Fu), u"127.0.0.1");

  struct Answer : HostResolver {
    uint32_t value;
    explicit Answer(uint32_t v) : value(v) {}
    uint32_t lookup(const std::string&) override { return value; }
  };
  Answer none(0), broadcast(0xFFFFFFFFu), real(0x0A00000Au);
  EXPECT_EQ(resolveHost(none, "192.168.1.9"), parseDottedAddress("192.168.1.9"));
  EXPECT_EQ(resolveHost(broadcast, "192.168.1.9"), parseDottedAddress("192.168.1.9"));
  EXPECT_EQ(resolveHost(real, "pc"), 0x0A00000Au);
  EXPECT_EQ(resolveHost(none, "no-such-name"), 0u);
  EXPECT_EQ(resolveHost(real, ""), 0u);
}

TEST(Settings, ClampsOnLoadAndWritesOnRelease) {
  Rig rig;
  {
    auto key = rig.store.OpenKey(u"Network", true);
    settings::writeDword(key, u"RemotePort", 70000);
    settings::writeDword(key, u"RemoteIPAuto", 5);
    settings::writeDword(key, u"RemoteTimeout", 9);
    key->setValue(u"RemoteIP", platform::kRegSz, u"", 2);  // fewer than 2 bytes of text
  }
  ASSERT_TRUE(rig.target.Prepare());
  EXPECT_EQ(rig.target.remotePort, 2047u);
  EXPECT_EQ(rig.target.remoteIpAuto, 1u);
  EXPECT_EQ(rig.target.remoteTimeout, 9u);
  EXPECT_EQ(rig.target.remoteIp, std::u16string(kDefaultRemoteIp));
  rig.target.remotePort = 3001;
  rig.target.remoteIp = u"10.0.0.5";
  rig.target.Release();
  auto key = rig.store.OpenKey(u"Network", false);
  EXPECT_EQ(settings::readDword(key, u"RemotePort"), 3001u);
  EXPECT_EQ(settings::readDword(key, u"RemoteIPAuto"), 1u);
  EXPECT_EQ(settings::readString(key, u"RemoteIP", 260), u"10.0.0.5");
}

TEST(Link, GreetingInTwoPiecesFailsTheAttempt) {
  FakePc pc;
  Rig rig;
  rig.start(pc.port);
  TcpSocket first = pc.accept();
  ASSERT_TRUE(first.valid());
  first.sendAll("hi", 2, 1000);
  std::this_thread::sleep_for(std::chrono::milliseconds(100));  // the pieces arrive apart
  first.sendAll("gh", 2, 1000);
  // The phone closes this socket and tries again.
  uint8_t byte;
  const auto start = Clock::now();
  long got = 1;
  while (msSince(start) < 3000) {
    if (first.waitReadable(50) == TcpSocket::kReady && (got = first.receive(&byte, 1)) <= 0) break;
  }
  EXPECT_EQ(got, 0);
  EXPECT_FALSE(rig.target.linkUp());
  TcpSocket second = pc.acceptGreeted();
  ASSERT_TRUE(second.valid());
  EXPECT_TRUE(rig.waitLinked());
}

TEST(Link, JpegAndSoundFramesGoOutWithTheirHeaders) {
  FakePc pc;
  Rig rig;
  rig.start(pc.port);
  TcpSocket s = pc.acceptGreeted();
  ASSERT_TRUE(rig.waitLinked());
  const std::vector<uint8_t> jpeg = fakeJpeg(5000);
  const std::vector<uint8_t> pcm(640, 0x11);
  rig.feed.add(jpeg, sources::kFormatJpeg, 1234, 77);
  rig.feed.add(pcm, sources::kFormatPcm, 1240, 5);
  rig.target.frameReady().set();

  Message m;
  ASSERT_TRUE(readMessage(s, m));
  EXPECT_EQ(m.header.length, 5000u + 32u);
  EXPECT_EQ(m.header.timestampMs(), 1234u);
  EXPECT_EQ(m.header.messageType(), protocol::MSG_VIDEO_JPEG);
  EXPECT_EQ(m.header.word5a, 320);
  EXPECT_EQ(m.header.word5b, 240);
  EXPECT_EQ(m.header.word6, 77u);
  ASSERT_EQ(m.payload.size(), 5000u);
  EXPECT_EQ(std::vector<uint8_t>(m.payload.begin(), m.payload.begin() + 10), std::vector<uint8_t>(10, 0));
  EXPECT_TRUE(std::equal(m.payload.begin() + 10, m.payload.end(), jpeg.begin() + 10));

  ASSERT_TRUE(readMessage(s, m));
  EXPECT_EQ(m.header.messageType(), protocol::MSG_AUDIO);
  EXPECT_EQ(m.header.length, 640u + 32u);
  EXPECT_EQ(m.payload, pcm);  // sound is not touched
}

TEST(Link, PropertyListFirstThenValueReports) {
  FakePc pc;
  NetworkTarget::Options options;
  options.text = [](uint32_t id) -> const char16_t* { return id == 15 ? u"Done" : nullptr; };
  Rig rig(options);
  // A label with a text id comes from the texts; the table itself stays read-only.
  static constexpr settings::SettingChoice choices[2] = {{0, 0, u"Off"}, {15, 1, nullptr}};
  settings::SourceSetting b{25, u"Mirror", 1, 0, 2, choices, 0, 1, nullptr, 0};
  settings::SourceSetting a{23, u"Quality", -1, 3, 10, nullptr, 10, 10, &b, 0};
  a.key = settings::newSettingKey();
  b.key = settings::newSettingKey();
  rig.start(pc.port);
  ASSERT_TRUE(rig.target.PublishSettings(&a));
  rig.target.SettingChanged(&a);  // queued behind the list
  TcpSocket s = pc.acceptGreeted();
  Message m;
  ASSERT_TRUE(readMessage(s, m));
  EXPECT_EQ(m.header.messageType(), protocol::MSG_PROPERTY_LIST);
  std::vector<protocol::PropertyEntry> entries;
  protocol::parsePropertyList(m.payload.data(), m.payload.size(), entries);
  ASSERT_EQ(entries.size(), 2u);
  EXPECT_EQ(entries[0].name.toU16(), u"Quality");
  EXPECT_EQ(entries[0].key, a.key);
  EXPECT_EQ(entries[0].currentIndex(), 3u);
  EXPECT_EQ(entries[1].itemText(0), u"Off");
  EXPECT_EQ(entries[1].itemText(1), u"Done");

  ASSERT_TRUE(readMessage(s, m));
  EXPECT_EQ(m.header.length, 0u);
  EXPECT_EQ(m.header.reportKey(), a.key);
  EXPECT_EQ(m.header.reportIndex(), 3u);  // the default index while current is -1

  // A reconnection sends the list again.
  s.close();
  TcpSocket again = pc.acceptGreeted();
  ASSERT_TRUE(again.valid());
  ASSERT_TRUE(readMessage(again, m));
  EXPECT_EQ(m.header.messageType(), protocol::MSG_PROPERTY_LIST);
  EXPECT_FALSE(rig.target.PublishSettings(nullptr));
}

TEST(Link, KeepAliveAboutEvery2048Ms) {
  FakePc pc;
  Rig rig;
  rig.start(pc.port);
  TcpSocket s = pc.acceptGreeted();
  uint8_t four[4] = {1, 1, 1, 1};
  ASSERT_TRUE(readExactly(s, four, 4));
  EXPECT_EQ(std::memcmp(four, protocol::kKeepAlive, 4), 0);
  const auto t = Clock::now();
  ASSERT_TRUE(readExactly(s, four, 4, 4000));
  EXPECT_EQ(std::memcmp(four, protocol::kKeepAlive, 4), 0);
  EXPECT_GE(msSince(t), 1900);
  EXPECT_LE(msSince(t), 2600);
}

TEST(Link, KeepAliveAtOnceAfterTheTickWraps) {
  FakePc pc;
  // The tick wraps about 700 ms after the start.
  OffsetClock clock(0u - platform::systemClock().nowMs() - 700u);
  NetworkTarget::Options options;
  options.clock = &clock;
  Rig rig(options);
  rig.start(pc.port);
  TcpSocket s = pc.acceptGreeted();
  uint8_t four[4];
  ASSERT_TRUE(readExactly(s, four, 4));
  const auto t = Clock::now();
  ASSERT_TRUE(readExactly(s, four, 4));
  EXPECT_LT(msSince(t), 1500);  // not the full 2048 ms
  const auto t2 = Clock::now();
  ASSERT_TRUE(readExactly(s, four, 4));
  EXPECT_GE(msSince(t2), 1900);
}

TEST(Link, GarbageThenOneCommandYieldsExactlyThatCommand) {
  FakePc pc;
  Rig rig;
  rig.start(pc.port);
  TcpSocket s = pc.acceptGreeted();
  ASSERT_TRUE(rig.waitLinked());
  std::vector<uint8_t> bytes(40);
  for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<uint8_t>(0x30 + i);
  uint8_t command[32];
  protocol::encodeHeader(protocol::makeCommand(7, 3), command);
  bytes.insert(bytes.end(), command, command + 32);
  // In pieces that cut the magic pair.
  s.sendAll(bytes.data(), 45, 1000);
  std::this_thread::sleep_for(std::chrono::milliseconds(50));  // the pieces arrive apart
  s.sendAll(bytes.data() + 45, bytes.size() - 45, 1000);
  ASSERT_TRUE(platform::testing::waitUntil([&] { return rig.feed.commandCount() >= 1; }));
  // A second command in an arrival of its own: once it is in, everything before it was read.
  protocol::encodeHeader(protocol::makeCommand(8, 1), command);
  s.sendAll(command, sizeof command, 1000);
  ASSERT_TRUE(platform::testing::waitUntil([&] { return rig.feed.commandCount() >= 2; }));
  std::lock_guard lock(rig.feed.mutex);
  ASSERT_EQ(rig.feed.commands.size(), 2u);
  EXPECT_EQ(rig.feed.commands[0], std::make_pair(7u, 3u)) << "nothing made of the garbage";
  EXPECT_EQ(rig.feed.commands[1], std::make_pair(8u, 1u));
}

TEST(Link, CommandsSentBackToBackAllArrive) {
  FakePc pc;
  Rig rig;
  rig.start(pc.port);
  TcpSocket s = pc.acceptGreeted();
  ASSERT_TRUE(rig.waitLinked());
  // A value for a property and a tap in one write, then a burst of five keys; four zero
  // bytes in front put every command across two reads of 32 bytes.
  std::vector<uint8_t> bytes(4, 0);
  const std::vector<std::pair<uint32_t, uint32_t>> sent = {
      {41, 2}, {protocol::CMD_TAP, 0x80004000}, {protocol::CMD_KEY, 0x25}, {protocol::CMD_KEY, 0x26},
      {protocol::CMD_KEY, 0x27}, {protocol::CMD_KEY, 0x28}, {protocol::CMD_KEY, 0x0D}};
  for (const auto& [code, argument] : sent) {
    uint8_t command[32];
    protocol::encodeHeader(protocol::makeCommand(code, argument), command);
    bytes.insert(bytes.end(), command, command + 32);
  }
  ASSERT_TRUE(s.sendAll(bytes.data(), 68, 1000));
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  ASSERT_TRUE(s.sendAll(bytes.data() + 68, bytes.size() - 68, 1000));
  ASSERT_TRUE(platform::testing::waitUntil([&] { return rig.feed.commandCount() >= sent.size(); }));
  std::lock_guard lock(rig.feed.mutex);
  EXPECT_EQ(rig.feed.commands, sent);
}

TEST(Link, PortCommandsWhileLinked) {
  FakePc first, second;
  Rig rig;
  ASSERT_TRUE(rig.target.Prepare());
  rig.target.partnerHostName = "127.0.0.1";
  rig.target.remotePort = first.port;
  rig.target.remoteIpAuto = 1;
  ASSERT_TRUE(rig.target.Start({&Feed::fetch, &Feed::control, &rig.feed}));
  TcpSocket a = first.acceptGreeted();
  ASSERT_TRUE(rig.waitLinked());
  auto cmd = [](uint32_t n) {
    const std::string t = "-p" + std::to_string(n);
    return std::u16string(t.begin(), t.end());
  };
  // The port it is linked on: nothing to do.
  EXPECT_FALSE(rig.target.Command(cmd(first.port).c_str(), 0));
  EXPECT_TRUE(rig.target.linkUp());
  EXPECT_EQ(rig.target.portOverride(), 0);
  // Sixteen digits: ignored.
  EXPECT_FALSE(rig.target.Command(u"-p1234567890123456", 0));
  EXPECT_TRUE(rig.target.linkUp());
  // The same port with bit 16: reconnects anyway.
  EXPECT_FALSE(rig.target.Command(cmd(first.port + 0x10000u).c_str(), 0));
  TcpSocket b = first.acceptGreeted();
  ASSERT_TRUE(b.valid());
  ASSERT_TRUE(rig.waitLinked());
  // Another port: drops the link and reconnects there.
  EXPECT_FALSE(rig.target.Command(cmd(second.port).c_str(), 0));
  TcpSocket c = second.acceptGreeted();
  ASSERT_TRUE(c.valid());
  EXPECT_TRUE(rig.waitLinked());
  EXPECT_EQ(rig.target.portOverride(), second.port);
}

// A PC that takes its data slowly (here: not at all for a while) must neither make the
// phone give up a message half sent (the link would carry a broken frame) nor make it take
// more frames meanwhile: the next one is taken only once this one has gone.
TEST(Link, ASlowPcGetsWholeFramesAndNoneAreTakenMeanwhile) {
  FakePc pc;
  Rig rig;
  rig.start(pc.port);
  TcpSocket s = pc.acceptGreeted();
  ASSERT_TRUE(rig.waitLinked());
  constexpr uint32_t kFrames = 12;
  const std::vector<uint8_t> jpeg = fakeJpeg(3 << 20);  // more than the socket buffers hold
  for (uint32_t i = 1; i <= kFrames; ++i) rig.feed.add(jpeg, sources::kFormatJpeg, 1000 + i);
  rig.target.frameReady().set();
  // The PC reads nothing for a while: the time in which no further frame may be taken.
  std::this_thread::sleep_for(std::chrono::milliseconds(1500));
  {
    std::lock_guard lock(rig.feed.mutex);
    EXPECT_EQ(rig.feed.waiting.size(), kFrames - 1) << "frames taken while the first was going";
  }
  EXPECT_TRUE(rig.target.linkUp());
  Message m;
  ASSERT_TRUE(readMessage(s, m, 10000));
  // On a slow machine a keep-alive (zero bytes) may go out before the first frame; nothing
  // else may come before it.
  EXPECT_EQ(m.skippedNonZero, 0);
  EXPECT_EQ(m.header.timestampMs(), 1001u);
  ASSERT_EQ(m.payload.size(), jpeg.size());
  EXPECT_TRUE(std::equal(m.payload.begin() + 10, m.payload.end(), jpeg.begin() + 10));
}

TEST(Link, StallCheckDropsAndReconnects) {
  FakePc pc;
  platform::ManualClock clock(5000);
  NetworkTarget::Options options;
  options.clock = &clock;
  Rig rig(options);
  rig.start(pc.port);
  rig.target.remoteTimeout = 1;
  TcpSocket s = pc.acceptGreeted();
  ASSERT_TRUE(rig.waitLinked());
  uint8_t four[4];
  ASSERT_TRUE(readExactly(s, four, 4));  // something was sent, so the check applies
  EXPECT_TRUE(rig.target.IsAlive());
  EXPECT_TRUE(rig.target.linkUp());
  clock.advanceMs(1024);  // not later than the limit yet
  EXPECT_TRUE(rig.target.IsAlive());
  EXPECT_TRUE(rig.target.linkUp());
  // A send that was under way while the clock moved (or whose thread was held up before
  // it stamped the tick) stamps the new tick; a later stretch without a send then ends
  // the link. Real time passes between the ticks so that such a send has finished.
  for (int i = 0; i < 30 && rig.target.linkUp(); ++i) {
    clock.advanceMs(1025);
    EXPECT_TRUE(rig.target.IsAlive());  // still capturing, but the link is dropped
    if (rig.target.linkUp()) std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  EXPECT_FALSE(rig.target.linkUp());
  TcpSocket again = pc.acceptGreeted();
  EXPECT_TRUE(again.valid());
}

TEST(Link, StopEndsAWaitForTheGreetingAtOnce) {
  FakePc pc;  // accepts (backlog) but never greets
  Rig rig;
  rig.start(pc.port);
  TcpSocket s = pc.accept();
  ASSERT_TRUE(s.valid());
  std::this_thread::sleep_for(std::chrono::milliseconds(100));  // the phone waits for the greeting
  const auto t = Clock::now();
  rig.target.Stop();
  EXPECT_LT(msSince(t), 500);
  EXPECT_FALSE(rig.target.threadRunning());
  EXPECT_FALSE(rig.target.IsAlive());
  EXPECT_EQ(rig.target.portOverride(), 0);
}

// A dialog front that runs the presenter "modally": it keeps calling IsAlive as the
// window timer would, until the dialog ends.
class FakeDialogHost final : public ConnectingHost, public ConnectingView {
 public:
  NetworkTarget* target = nullptr;
  bool cancel = false;
  int result = -1;
  std::vector<std::u16string> addresses;
  bool closePosted = false;
  Rect moved;

  int runConnecting(ConnectingDialog& dialog) override {
    dialog_ = &dialog;
    result = -1;
    dialog.onInitDialog(*this);
    if (cancel) dialog.onCommand(kConnectingCancel);
    const auto start = Clock::now();
    while (result < 0 && msSince(start) < 6000) {
      dialog.showStatus();
      EXPECT_TRUE(target->IsAlive());  // nested ticks while the dialog is up
      if (closePosted) dialog.onClose();
      std::this_thread::sleep_for(std::chrono::milliseconds(20));  // the window timer's period
    }
    return result;
  }
  void statusChanged(ConnectingDialog&) override {}
  void setItemText(int id, const std::u16string& text) override {
    if (id == kFieldAddress) addresses.push_back(text);
  }
  Rect parentRect() const override { return {0, 0, 240, 320}; }
  Rect dialogRect() const override { return {5, 5, 205, 105}; }
  void moveTo(const Rect& r) override { moved = r; }
  void postClose() override { closePosted = true; }
  void openHelp(const std::u16string&) override {}
  void endDialog(int r) override { result = r; }

 private:
  ConnectingDialog* dialog_ = nullptr;
};

TEST(Connecting, CancelStopsCaptureAndTheDialogClosesOnceLinked) {
  FakePc pc;
  FakeDialogHost host;
  NetworkTarget::Options options;
  options.connecting = &host;
  Rig rig(options);
  host.target = &rig.target;
  rig.start(pc.port);

  host.cancel = true;
  EXPECT_FALSE(rig.target.IsAlive());  // Cancel: capture stops
  EXPECT_EQ(host.moved.left, 20);      // (240 - 200) / 2
  EXPECT_EQ(host.moved.top, 55);       // (320 - 100) / 4
  EXPECT_EQ(host.moved.width(), 200);

  host.cancel = false;
  platform::Event dialogEnded(platform::Event::Reset::kManual);
  std::thread greeter([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(300));  // a PC that answers late
    TcpSocket s = pc.acceptGreeted();
    dialogEnded.wait();  // the link stays up until the dialog has ended
  });
  EXPECT_TRUE(rig.target.IsAlive());  // returns once the link is up and the dialog closed
  dialogEnded.set();
  EXPECT_EQ(host.result, 1);
  EXPECT_TRUE(host.closePosted);
  ASSERT_FALSE(host.addresses.empty());
  EXPECT_EQ(host.addresses.back(), u"127.0.0.1");
  greeter.join();
}

TEST(ControlQueueTest, FullQueueDropsAndOrderIsKept) {
  ControlQueue q;
  ControlQueue::Message m{};
  for (size_t i = 0; i < ControlQueue::kCapacity; ++i) {
    m[0] = static_cast<uint8_t>(i);
    ASSERT_TRUE(q.push(m));
  }
  EXPECT_FALSE(q.push(m));
  ControlQueue::Message out{};
  ASSERT_TRUE(q.pop(out));
  EXPECT_EQ(out[0], 0);
  ASSERT_TRUE(q.pop(out));
  EXPECT_EQ(out[0], 1);
  q.clear();
  EXPECT_FALSE(q.pop(out));
}

}  // namespace
}  // namespace targets

namespace targets {
namespace {

TEST(CommandReaderTest, EveryWholeCommandIsTakenInOrder) {
  const auto command = [](uint32_t code, uint32_t argument) {
    uint8_t c[32];
    protocol::encodeHeader(protocol::makeCommand(code, argument), c);
    return std::vector<uint8_t>(c, c + 32);
  };
  auto cat = [](std::initializer_list<std::vector<uint8_t>> parts) {
    std::vector<uint8_t> out;
    for (auto& p : parts) out.insert(out.end(), p.begin(), p.end());
    return out;
  };
  const auto cut = [](const std::vector<uint8_t>& v, size_t n) {
    return std::vector<uint8_t>(v.begin(), v.begin() + static_cast<long>(n));
  };
  const std::vector<uint8_t> A = command(1, 0x00100020), B = command(2, 13), C = command(3, 7);
  const std::vector<uint8_t> garbage(40, 0x5A), zeros(4, 0);
  // A false magic: a header that announces a payload, then bytes that are no command.
  std::vector<uint8_t> falseMagic = cut(command(0, 0), 8);
  falseMagic.insert(falseMagic.end(), {0x00, 0x10, 0x00, 0x00, 0x5A, 0x5A, 0x5A});
  // A command whose code and argument are the magic pair.
  const std::vector<uint8_t> magicArgument = command(protocol::STREAM_MAGIC_0, protocol::STREAM_MAGIC_1);
  using Got = std::vector<std::pair<uint32_t, uint32_t>>;
  struct Case {
    const char* what;
    std::vector<uint8_t> stream;
    Got commands;
  } cases[] = {
      {"40 garbage bytes then one command", cat({garbage, A}), {{1, 0x00100020}}},
      {"two commands", cat({A, B}), {{1, 0x00100020}, {2, 13}}},
      {"three commands behind a keep-alive", cat({zeros, A, B, C}), {{1, 0x00100020}, {2, 13}, {3, 7}}},
      {"keep-alives around a command", cat({zeros, A, zeros}), {{1, 0x00100020}}},
      {"a false magic before a real command", cat({garbage, falseMagic, B, zeros}), {{2, 13}}},
      {"a false magic right against a real command", cat({falseMagic, B}), {{2, 13}}},
      {"the magic pair as a command's argument", cat({magicArgument, B}),
       {{protocol::STREAM_MAGIC_0, protocol::STREAM_MAGIC_1}, {2, 13}}},
      {"a command cut before its code", cat({cut(A, 10), B}), {{2, 13}}},
      {"a command cut after its argument", cat({cut(A, 20), B, C}), {{1, 0x00100020}, {2, 13}, {3, 7}}},
      {"garbage only", garbage, {}},
  };
  // Every stream arrives in reads of every size from 1 to 32 bytes.
  for (const Case& c : cases) {
    for (size_t piece = 1; piece <= CommandReader::kMaxReceive; ++piece) {
      CommandReader reader;
      Got got;
      size_t at = 0;
      while (at < c.stream.size()) {
        const size_t n = std::min({piece, reader.room(), c.stream.size() - at});
        ASSERT_GT(n, 0u) << c.what;
        std::memcpy(reader.space(), c.stream.data() + at, n);
        at += n;
        reader.received(n);
        uint32_t code, argument;
        while (reader.takeCommand(code, argument)) got.emplace_back(code, argument);
        ASSERT_LT(reader.length(), 32u) << c.what;
      }
      EXPECT_EQ(got, c.commands) << c.what << ", reads of " << piece;
    }
  }
}

TEST(Link, UnresolvableAddressKeepsRetrying) {
  struct Nothing : HostResolver {
    uint32_t lookup(const std::string&) override { return 0; }
  };
  NetworkTarget::Options options;
  options.resolver = std::make_shared<Nothing>();
  Rig rig(options);
  ASSERT_TRUE(rig.target.Prepare());
  rig.target.partnerHostName = "no-such-pc";
  ASSERT_TRUE(rig.target.Start({&Feed::fetch, &Feed::control, &rig.feed}));
  EXPECT_TRUE(platform::testing::waitUntil([&] {
    return rig.target.connectingDialog().attempts() >= 2;
  })) << "it keeps trying";
  EXPECT_EQ(rig.target.connectingDialog().address(), 0u);
  EXPECT_TRUE(rig.target.IsAlive());  // still trying; no dialog host here
  const auto t = Clock::now();
  rig.target.Stop();
  EXPECT_LT(msSince(t), 700);
}

TEST(Link, FloodOfCommandsAndAPcThatClosesMidFrame) {
  FakePc pc;
  Rig rig;
  rig.start(pc.port);
  TcpSocket s = pc.acceptGreeted();
  ASSERT_TRUE(rig.waitLinked());
  std::vector<uint8_t> flood;
  for (int i = 0; i < 2000; ++i) {
    uint8_t c[32];
    protocol::encodeHeader(protocol::makeCommand(3, static_cast<uint32_t>(i)), c);
    flood.insert(flood.end(), c, c + 32);
  }
  std::thread writer([&] { s.sendAll(flood.data(), flood.size(), 3000); });
  rig.feed.add(fakeJpeg(300000), sources::kFormatJpeg, 10);
  rig.target.frameReady().set();
  Message m;
  uint8_t part[1000];
  ASSERT_TRUE(readExactly(s, part, sizeof part));  // the PC reads a little and leaves
  writer.join();
  s.close();
  // Sends fail now; the stall check of the capture core's timer drops the link and the
  // device reconnects and goes on sending.
  rig.target.remoteTimeout = 1;
  TcpSocket again;
  const auto start = Clock::now();
  while (!again.valid() && msSince(start) < 6000) {
    EXPECT_TRUE(rig.target.IsAlive());
    if (pc.listener.waitAcceptable(100) == TcpSocket::kReady) again = pc.acceptGreeted();
  }
  ASSERT_TRUE(again.valid());
  rig.feed.add(fakeJpeg(2000), sources::kFormatJpeg, 20);
  rig.target.frameReady().set();
  ASSERT_TRUE(readMessage(again, m));
  EXPECT_EQ(m.header.timestampMs(), 20u);
  std::lock_guard lock(rig.feed.mutex);
  for (auto& c : rig.feed.commands) EXPECT_EQ(c.first, 3u);
}

}  // namespace
}  // namespace targets
