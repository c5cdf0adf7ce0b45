#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>

#include "decoder/jpeg_decoder.h"
#include "decoder/render_geometry.h"
#include "engine/camera_engine.h"
#include "engine/engine_hooks.h"
#include "engine/named_frame_block.h"
#include "entries/device_entry_table.h"
#include "memory_key_store.h"
#include "peer_probe.h"
#include "platform/byte_order.h"
#include "platform/key_store.h"
#include "platform/module.h"
#include "protocol/property_list.h"
#include "test_jpeg.h"
#include "test_stream.h"
#include "wait_until.h"

namespace engine {
namespace {

using platform::testing::waitUntil;
using server::testing::Bytes;

// Every test gets its own named objects and settings file.
class EngineTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const std::string tag = "enginetest-" + std::to_string(::getpid()) + "-" +
                            ::testing::UnitTest::GetInstance()->current_test_info()->name() + "-";
    ::setenv("VISTREL_OBJECT_PREFIX", tag.c_str(), 1);
    ::setenv("VISTREL_DEVICE_PREFIX", (tag + "dev/").c_str(), 1);
  }
  void TearDown() override {
    const std::string prefix = std::getenv("VISTREL_OBJECT_PREFIX");
    for (const char* name : {"_VistrelOBJ1_", "_VistrelOBJ2_.event", "_VistrelOBJ3_.mutex",
                             "_VistrelOBJ4_", "_VistrelOBJ5_.mutex",
                             "_VistrelMutexOBJ_.presence", "_VistrelProcTable_",
                             "_VistrelProcTable_.mutex"}) {
      ::unlink(("/dev/shm/" + prefix + name).c_str());
    }
  }

  std::unique_ptr<CameraEngine> makeEngine(uint32_t rotation = 0) {
    auto key = store_.createKey(settings::programKeyPath(u"enginetest"));
    key->setDword(u"Rotation", rotation);
    key->setDword(u"ConnectAtStartup", 0);
    store_.createKey(settings::kBaseKey)->setDword(u"Port", port_);
    CameraEngine::Options o;
    o.keyStore = &store_;
    o.executablePath = "/opt/test/enginetest.exe";
    o.bindAddress = "127.0.0.1";
    return std::make_unique<CameraEngine>(o);
  }

  std::shared_ptr<platform::testing::MemoryKeyStoreStorage::State> state_ =
      std::make_shared<platform::testing::MemoryKeyStoreStorage::State>();
  platform::KeyStore store_{std::make_unique<platform::testing::MemoryKeyStoreStorage>(state_)};
  uint16_t port_ = server::testing::freePort();
};

TEST_F(EngineTest, SettingsAndSizesFollowTheRules) {
  auto e = makeEngine(1);
  EXPECT_EQ(e->processTable().baseName(), u"enginetest");
  EXPECT_EQ(e->settings().rotation, 1u);
  EXPECT_EQ(e->outputWidth(), 320u);
  e->setOutputSize(4097, 240);
  EXPECT_EQ(e->outputWidth(), 320u);
  e->setOutputSize(0, 240);
  EXPECT_EQ(e->outputWidth(), 320u);
  e->setOutputSize(640, 480);
  EXPECT_EQ(e->outputWidth(), 640u);
  EXPECT_EQ(e->outputHeight(), 480u);

  const auto jpeg = decoder_testing::encodeRgb(decoder_testing::testPicture(320, 240).data(), 320, 240);
  uint32_t w = 0, h = 0;
  ASSERT_TRUE(e->decodeJpeg(jpeg.data(), static_cast<uint32_t>(jpeg.size()), &w, &h));
  EXPECT_EQ(w, 240u) << "a quarter turn shows height as width";
  EXPECT_EQ(h, 320u);
  std::vector<uint8_t> out(decoder::imageSize(640, 480));
  EXPECT_TRUE(e->renderFrame(out.data()));
  EXPECT_TRUE(e->renderFrame(out.data())) << "the same picture renders again";
  const Bytes garbage(100, 0x55);
  EXPECT_FALSE(e->decodeJpeg(garbage.data(), 100, &w, &h));
  EXPECT_FALSE(e->renderFrame(out.data())) << "after a refused JPEG there is nothing to render";
}

TEST_F(EngineTest, StandAloneEngineReceivesAndForwardsInput) {
  auto e = makeEngine(0);
  EXPECT_EQ(e->waitFrame(0), -1) << "no source before open";
  EXPECT_EQ(e->sendPhoneInput(kMessageKeyDown, 13, 0), 0u) << "no frame server yet";
  ASSERT_TRUE(e->open(false));
  EXPECT_EQ(e->mode(), Mode::kStandAlone);
  ASSERT_NE(e->frameServer(), nullptr);

  server::testing::Phone phone;
  ASSERT_TRUE(phone.connectWhenListening(port_));
  Bytes jpeg = decoder_testing::encodeRgb(decoder_testing::testPicture(320, 240).data(), 320, 240);
  const Bytes original = jpeg;
  std::memset(jpeg.data(), 0, 10);
  ASSERT_TRUE(phone.send(server::testing::message(protocol::MSG_VIDEO_JPEG, jpeg)));
  ASSERT_EQ(e->waitFrame(3000), 0);
  uint8_t* frame = nullptr;
  const uint32_t n = e->getFrame(&frame);
  ASSERT_EQ(n, original.size());
  EXPECT_EQ(std::memcmp(frame, original.data(), n), 0);

  // A 4:3 picture in a 320x480 area is letterboxed: black bars above and below.
  e->setOutputSize(320, 480);
  ASSERT_TRUE(e->decodeJpeg(frame, n, nullptr, nullptr));
  EXPECT_EQ(e->sendPhoneInput(kMessageLeftButtonDown, 32768, 2000), 0u) << "on the top bar";
  for (uint32_t other : {999u, 514u, 516u}) EXPECT_EQ(e->sendPhoneInput(other, 32768, 32768), 0u) << other;
  EXPECT_EQ(e->frameServer()->listener().commands().pendingCount(), 0);
  ASSERT_EQ(e->sendPhoneInput(kMessageLeftButtonDown, 32768, 32768), 1u);
  protocol::StreamHeader cmd;
  ASSERT_TRUE(phone.readCommand(cmd, 3000));
  EXPECT_EQ(cmd.commandCode(), protocol::CMD_TAP);
  EXPECT_NEAR(static_cast<double>(cmd.commandArgument() & 0xFFFF), 32768, 300);
  EXPECT_NEAR(static_cast<double>(cmd.commandArgument() >> 16), 32768, 300);
  ASSERT_EQ(e->sendPhoneInput(kMessageKeyDown, 0x25, 0), 1u);
  ASSERT_TRUE(phone.readCommand(cmd, 3000));
  EXPECT_EQ(cmd.commandCode(), protocol::CMD_KEY);
  EXPECT_EQ(cmd.commandArgument(), 0x25u);
}

// The frame path: a lent frame stays as it was while newer ones arrive, and the render
// call refuses a destination smaller than the picture without touching it.
TEST_F(EngineTest, LentFrameStaysWhileNewerArriveAndRenderChecksTheDestination) {
  auto e = makeEngine(0);
  ASSERT_TRUE(e->open(false));
  EXPECT_FALSE(e->withNewestFrame([](std::span<const uint8_t>) { ADD_FAILURE() << "no frame yet"; }));
  server::testing::Phone phone;
  ASSERT_TRUE(phone.connectWhenListening(port_));
  auto send = [&](const Bytes& jpeg) {
    Bytes wire = jpeg;
    std::memset(wire.data(), 0, 10);  // the phone never sends the JFIF start
    return phone.send(server::testing::message(protocol::MSG_VIDEO_JPEG, wire));
  };
  const Bytes first = decoder_testing::encodeRgb(decoder_testing::testPicture(320, 240).data(), 320, 240);
  const Bytes second = decoder_testing::encodeRgb(decoder_testing::testPicture(64, 48).data(), 64, 48);
  ASSERT_TRUE(send(first));
  ASSERT_EQ(e->waitFrame(3000), 0);

  bool lent = e->withNewestFrame([&](std::span<const uint8_t> frame) {
    ASSERT_EQ(frame.size(), first.size());
    // Frames keep coming while this one is lent; enough of them to pass the whole ring.
    for (int i = 0; i < 4096 * 1024 / static_cast<int>(second.size()) + 8; ++i) ASSERT_TRUE(send(second));
    ASSERT_TRUE(waitUntil([&] { return e->frameServer()->latestJpeg(nullptr) == second.size(); }))
        << "the newer frames arrived";
    EXPECT_EQ(std::memcmp(frame.data(), first.data(), first.size()), 0) << "the lent bytes did not change";
  });
  ASSERT_TRUE(lent);
  lent = e->withNewestFrame([&](std::span<const uint8_t> frame) {
    ASSERT_EQ(frame.size(), second.size());
    EXPECT_EQ(std::memcmp(frame.data(), second.data(), second.size()), 0) << "JFIF start restored";
  });
  ASSERT_TRUE(lent);

  RenderGeometry g{64, 48, 0, false};
  std::vector<uint8_t> out(decoder::imageSize(64, 48) + 1, 0xA5);
  EXPECT_FALSE(e->render(second, g, std::span<uint8_t>(out.data(), decoder::imageSize(64, 48) - 1)));
  EXPECT_TRUE(std::all_of(out.begin(), out.end(), [](uint8_t b) { return b == 0xA5; }))
      << "a destination too small is not written";
  ASSERT_TRUE(e->render(second, g, std::span<uint8_t>(out.data(), decoder::imageSize(64, 48))));
  EXPECT_EQ(out.back(), 0xA5) << "nothing written past the picture";
  std::vector<uint8_t> expected(decoder::imageSize(64, 48));
  decoder::JpegDecoder reference;
  ASSERT_TRUE(reference.decode(second.data(), second.size(), expected.data(), expected.size(), 64, 48, 0, false));
  EXPECT_EQ(std::memcmp(out.data(), expected.data(), expected.size()), 0);
  EXPECT_FALSE(e->render(std::span<const uint8_t>(second.data(), 20), g, out)) << "a cut JPEG";
}

TEST_F(EngineTest, FrameServerListensWhereTheSettingSaysAndFollowsAReload) {
  store_.createKey(settings::kBaseKey)->setString(u"ListenAddress", u"::1");
  store_.createKey(settings::programKeyPath(u"enginetest"))->setDword(u"ConnectAtStartup", 0);
  CameraEngine::Options o;
  o.keyStore = &store_;
  o.executablePath = "/opt/test/enginetest.exe";  // no bind address: the setting decides
  store_.createKey(settings::kBaseKey)->setDword(u"Port", port_);
  auto e = std::make_unique<CameraEngine>(o);
  ASSERT_TRUE(e->open(false));
  ASSERT_NE(e->frameServer(), nullptr);
  auto listening = [&] { return e->frameServer()->listeningPort() == port_; };
  ASSERT_TRUE(waitUntil(listening));
  EXPECT_FALSE(platform::TcpSocket::connect("127.0.0.1", port_, 1000).valid())
      << "listening on ::1 only";

  store_.createKey(settings::kBaseKey)->setString(u"ListenAddress", u"127.0.0.1");
  e->reloadSettings();
  server::testing::Phone phone;
  EXPECT_TRUE(phone.connectWhenListening(port_))
      << "after the reload the IPv4 loopback is listened on";
}

TEST_F(EngineTest, ServingEnginePublishesUpToTwoMebibytes) {
  auto e = makeEngine(0);
  ASSERT_TRUE(e->open(true));
  EXPECT_EQ(e->mode(), Mode::kServing);
  EXPECT_TRUE(platform::PresenceMarker::exists(kServingMarkerName));
  auto reader = NamedFrameBlock::open();
  ASSERT_TRUE(reader);
  server::testing::Phone phone;
  ASSERT_TRUE(phone.connectWhenListening(port_));

  std::vector<uint8_t> dst(kFrameViewSize);
  const size_t largest = kFrameViewSize - protocol::kHeaderSize;  // message of 2,097,152 bytes
  // Polled rather than waited for: the pulse may come before a wait would begin.
  ASSERT_TRUE(phone.send(server::testing::videoMessage(largest, 0x11)));
  ASSERT_TRUE(phone.send(Bytes(4, 0)));
  ASSERT_TRUE(waitUntil([&] { return reader->readFrame(dst.data()) == largest; }));
  EXPECT_EQ(std::memcmp(dst.data(), protocol::kJfifPrefix, 10), 0);
  EXPECT_EQ(e->getFrame(nullptr), largest) << "the serving process reports the length only";

  ASSERT_TRUE(phone.send(server::testing::videoMessage(largest + 1, 0x22)));
  // A report after it: once the report is the latest message, the larger frame's hand-over,
  // publication included, is over (one thread hands messages over in order).
  ASSERT_TRUE(phone.send(server::testing::reportMessage(7, 7)));
  ASSERT_TRUE(waitUntil([&] {
    phone.send(Bytes(4, 0));  // the report completes on a later arrival of data
    const server::RingMessage latest = e->frameServer()->latestMessage();
    return !latest.header.hasPayload() && latest.header.reportKey() == 7;
  }));
  EXPECT_EQ(reader->readFrame(dst.data()), largest) << "one byte more is not published";
  EXPECT_EQ(dst[100], 0x11) << "the view still holds the earlier frame";
}

TEST_F(EngineTest, GarbageInTheSharedViewIsNoFrame) {
  auto block = NamedFrameBlock::open();
  ASSERT_TRUE(block);
  auto put = [&](const Bytes& message) {
    size_t size = 0;
    uint8_t* view = block->lockView(size);
    std::memset(view, 0, size);
    std::memcpy(view, message.data(), message.size());
    block->unlockAndPulse();
  };
  std::vector<uint8_t> dst(kFrameViewSize);
  Bytes valid = server::testing::videoMessage(500, 0x33);
  put(valid);
  EXPECT_EQ(block->readFrame(dst.data()), 500u);

  struct Case {
    const char* what;
    uint32_t length;
    uint32_t type;
    bool breakMagic;
    bool dropEnd;
  };
  for (const Case& c : {Case{"length beyond 2 MiB", 0x300000, 1, false, false},
                        Case{"length 32", 32, 1, false, false},
                        Case{"length below 10 payload bytes", 40, 1, false, false},
                        Case{"not video", 532, 2, false, false},
                        Case{"no magic", 532, 1, true, false},
                        Case{"no end of image", 532, 1, false, true}}) {
    Bytes m = valid;
    platform::store32(m.data() + 8, c.length);
    platform::store32(m.data() + 16, c.type);
    if (c.breakMagic) m[3] ^= 0xFF;
    if (c.dropEnd) m[m.size() - 2] = 0;
    put(m);
    EXPECT_EQ(block->readFrame(dst.data()), 0u) << c.what;
  }
}

TEST_F(EngineTest, ShrunkSharedObjectsAreNoFrameAndKillNobody) {
  auto server = makeEngine(0);
  ASSERT_TRUE(server->open(true));
  auto client = makeEngine(0);
  ASSERT_TRUE(client->open(false));
  ASSERT_EQ(client->mode(), Mode::kClient);
  server::testing::Phone phone;
  ASSERT_TRUE(phone.connectWhenListening(port_));
  // The client reads the view through the file, so it can see the frame before the server
  // has released the block and pulsed the event: the files are cut only once that pulse
  // woke the client, not under a publication still running.
  const auto first = server::testing::videoMessage(500, 0x44);
  ASSERT_TRUE(waitUntil([&] { return phone.send(first) && client->waitFrame(100) == 0; }));
  ASSERT_EQ(client->getFrame(nullptr), 500u);

  // Someone with access cuts every shared file to nothing under the mappings.
  const std::string prefix = std::getenv("VISTREL_OBJECT_PREFIX");
  for (const char* name : {"_VistrelOBJ1_", "_VistrelOBJ2_.event", "_VistrelOBJ3_.mutex",
                           "_VistrelProcTable_", "_VistrelProcTable_.mutex"}) {
    ASSERT_EQ(::truncate(("/dev/shm/" + prefix + name).c_str(), 0), 0) << name;
  }
  uint8_t* frame = nullptr;
  EXPECT_EQ(client->getFrame(&frame), 0u) << "a shrunk view holds no frame";
  EXPECT_EQ(client->waitFrame(20), 258);
  ASSERT_TRUE(phone.send(server::testing::videoMessage(600, 0x55)));  // published into nothing
  EXPECT_TRUE(waitUntil([&] { return server->getFrame(nullptr) == 600; }))
      << "the server goes on receiving";
  auto third = makeEngine(0);
  EXPECT_TRUE(third->open(false)) << "the process table reads as empty";
  server->releaseServingMarker();
}

TEST_F(EngineTest, ClientWithoutServerIsStandAloneAndServerMakesClients) {
  auto first = makeEngine(0);
  ASSERT_TRUE(first->open(true));
  auto second = makeEngine(0);
  ASSERT_TRUE(second->open(false));
  EXPECT_EQ(second->mode(), Mode::kClient);
  EXPECT_EQ(second->frameServer(), nullptr) << "a client opens no socket";
  EXPECT_EQ(second->waitFrame(20), 258);
  first->releaseServingMarker();
  first.reset();
  auto third = makeEngine(0);
  ASSERT_TRUE(third->open(false));
  EXPECT_EQ(third->mode(), Mode::kStandAlone);
}

TEST_F(EngineTest, ClientOfAGoneServerReceivesByItselfWithinItsWait) {
  auto server = makeEngine(0);
  ASSERT_TRUE(server->open(true));
  auto client = makeEngine(0);
  ASSERT_TRUE(client->open(false));
  ASSERT_EQ(client->mode(), Mode::kClient);
  EXPECT_EQ(client->waitFrame(20), 258);
  server->releaseServingMarker();
  server.reset();

  // One wait, long enough for a look at the serving marker; nothing else is called.
  EXPECT_EQ(client->waitFrame(2 * kServerCheckMs + 100), 258);
  EXPECT_EQ(client->mode(), Mode::kStandAlone);
  ASSERT_NE(client->frameServer(), nullptr) << "it listens by itself now";
  server::testing::Phone phone;
  ASSERT_TRUE(phone.connectWhenListening(port_));
  ASSERT_TRUE(phone.send(server::testing::videoMessage(700, 0x66)));
  EXPECT_TRUE(waitUntil([&] { return client->waitFrame(100) == 0; }));
  EXPECT_EQ(client->getFrame(nullptr), 700u);
}

TEST_F(EngineTest, ClientInputReachesThePhoneThroughTheServingProcess) {
  auto server = makeEngine(0);
  ASSERT_TRUE(server->open(true));
  auto client = makeEngine(0);
  ASSERT_TRUE(client->open(false));
  ASSERT_EQ(client->mode(), Mode::kClient);
  server::testing::Phone phone;
  ASSERT_TRUE(phone.connectWhenListening(port_));
  ASSERT_TRUE(server->frameServer() != nullptr);
  ASSERT_TRUE(waitUntil([&] { return server->frameServer()->connected(); }));
  EXPECT_EQ(client->sendPhoneInput(kMessageKeyDown, 13, 0), 1u);
  protocol::StreamHeader cmd;
  ASSERT_TRUE(phone.readCommand(cmd, 3000));
  EXPECT_EQ(cmd.commandCode(), protocol::CMD_KEY);
  EXPECT_EQ(cmd.commandArgument(), 13u);

  // A click needs the picture the client shows: decode one, then click its centre.
  const auto jpeg = decoder_testing::encodeRgb(decoder_testing::testPicture(320, 240).data(), 320, 240);
  ASSERT_TRUE(client->decodeJpeg(jpeg.data(), static_cast<uint32_t>(jpeg.size()), nullptr, nullptr));
  EXPECT_EQ(client->sendPhoneInput(kMessageLeftButtonDown, 32768, 32768), 1u);
  ASSERT_TRUE(phone.readCommand(cmd, 3000));
  EXPECT_EQ(cmd.commandCode(), protocol::CMD_TAP);

  server->releaseServingMarker();
  server.reset();
  EXPECT_EQ(client->sendPhoneInput(kMessageKeyDown, 13, 0), 0u) << "no serving process any more";
}

// A phone connected to the engine's port (retried while the listener starts) that sent a
// property list of one property, Zoom (key 0x102): 100, 150, 200, 250, current 0.
bool connectAndSendZoom(server::testing::Phone& phone, uint16_t port) {
  if (!phone.connectWhenListening(port)) return false;
  Bytes list(512);
  protocol::PropertyListBuilder b(list.data(), list.size());
  if (!b.add({.name = u"Zoom", .current = 0, .count = 4, .base = 100, .step = 50, .key = 0x102})) return false;
  list.resize(b.size());
  return phone.send(server::testing::message(protocol::MSG_PROPERTY_LIST, list));
}

// Records the launch numbers the engine asks for.
class LaunchRecorder final : public EngineHooks {
 public:
  bool startPhoneLauncher(uint32_t number) override {
    numbers.push_back(number);
    return true;
  }
  std::vector<uint32_t> numbers;
};

TEST_F(EngineTest, ConnectStartsTheLauncherAndChosenValuesReachThePhone) {
  LaunchRecorder launches;
  setHooks(&launches);
  auto e = makeEngine(0);
  store_.createKey(settings::programKeyPath(u"enginetest"))->setDword(u"ConnectAtStartup", 1);
  e->reloadSettings();
  ASSERT_TRUE(e->open(false));
  e->connectPhone();  // the settings page's Connect: the port plus 65536
  setHooks(nullptr);
  EXPECT_EQ(launches.numbers, (std::vector<uint32_t>{port_, port_ + 65536u}));

  server::testing::Phone phone;
  ASSERT_TRUE(connectAndSendZoom(phone, port_));
  ASSERT_TRUE(waitUntil([&] {
    bool arrived = false;
    e->properties().read([&](const auto& entries) { arrived = !entries.empty(); });
    return arrived;
  }));

  EXPECT_FALSE(e->setPhoneProperty(0x102, 4)) << "past the values";
  EXPECT_FALSE(e->setPhoneProperty(0x777, 0)) << "no such property";
  ASSERT_TRUE(e->setPhoneProperty(0x102, 3));
  protocol::StreamHeader cmd;
  ASSERT_TRUE(phone.readCommand(cmd, 3000));
  EXPECT_EQ(cmd.commandCode(), 0x102u);
  EXPECT_EQ(cmd.commandArgument(), 3u);
  uint32_t current = 0;
  e->properties().read([&](const auto& entries) { current = entries[0].current; });
  EXPECT_EQ(current, 3u) << "the PC's copy holds the chosen value";
}

TEST_F(EngineTest, AClientSeesTheServersPropertyListAndItsChoiceReachesThePhone) {
  auto server = makeEngine(0);
  ASSERT_TRUE(server->open(true));
  auto client = makeEngine(0);
  ASSERT_TRUE(client->open(false));
  ASSERT_EQ(client->mode(), Mode::kClient);
  server::testing::Phone phone;
  ASSERT_TRUE(connectAndSendZoom(phone, port_));
  const auto clientSees = [&](uint32_t key, uint32_t current) {
    return waitUntil([&] {
      bool seen = false;
      client->readProperties([&](const auto& entries) {
        seen = entries.size() == 1 && entries[0].key == key && entries[0].currentIndex() == current;
      });
      return seen;
    });
  };
  ASSERT_TRUE(clientSees(0x102, 0)) << "the client reads the list the serving process published";

  EXPECT_FALSE(client->setPhoneProperty(0x102, 4)) << "past the values";
  EXPECT_FALSE(client->setPhoneProperty(0x777, 0)) << "no such property";
  ASSERT_TRUE(client->setPhoneProperty(0x102, 2));
  protocol::StreamHeader cmd;
  ASSERT_TRUE(phone.readCommand(cmd, 3000));
  EXPECT_EQ(cmd.commandCode(), 0x102u);
  EXPECT_EQ(cmd.commandArgument(), 2u);
  EXPECT_TRUE(clientSees(0x102, 2)) << "the serving process's copy and the published list follow";
  // Taps and keys still pass the relay.
  EXPECT_EQ(client->sendPhoneInput(kMessageKeyDown, 13, 0), 1u);
  ASSERT_TRUE(phone.readCommand(cmd, 3000));
  EXPECT_EQ(cmd.commandCode(), protocol::CMD_KEY);
}

TEST_F(EngineTest, TheCommandRelayServesOnlyItsOwnUser) {
  if (!platform::testing::canActAsOtherUser()) GTEST_SKIP() << "needs root and the user nobody";
  auto server = makeEngine(0);
  ASSERT_TRUE(server->open(true));
  server::testing::Phone phone;
  ASSERT_TRUE(phone.connectWhenListening(port_));
  ASSERT_TRUE(waitUntil([&] { return server->frameServer()->connected(); }));
  auto keyPacket = [](uint32_t key) {
    uint8_t packet[12];
    platform::store32(packet, kCommandMagic);
    platform::store32(packet + 4, protocol::CMD_KEY);
    platform::store32(packet + 8, key);
    return platform::testing::hexBytes(packet, sizeof packet);
  };
  ASSERT_EQ(platform::testing::runPeerProbe(true, {"dgram", commandEndpoint(), keyPacket(66)}).exitCode, 0);
  ASSERT_EQ(platform::testing::runPeerProbe(false, {"dgram", commandEndpoint(), keyPacket(13)}).exitCode, 0);
  protocol::StreamHeader cmd;
  ASSERT_TRUE(phone.readCommand(cmd, 3000));
  EXPECT_EQ(cmd.commandArgument(), 13u) << "the other user's key never reaches the phone";
  EXPECT_FALSE(phone.readCommand(cmd, 300));
  server->releaseServingMarker();
}

TEST(InUseMessage, NamesTheOtherProgram) {
  EXPECT_EQ(inUseMessage("/usr/bin/conf"),
            "Camera device is used by another application:\n/usr/bin/conf\n");
  EXPECT_EQ(inUseMessage("C:\\Vistrel\\lookout.exe"),
            "Camera device is used by another application:\nVistrel Viewer (lookout.exe)\n");
}

TEST(EntryTable, FillsThirteenEntriesInOrder) {
  auto module = platform::loadModule("device.ax");
  ASSERT_TRUE(module) << "device.so beside the test";
  auto getData = reinterpret_cast<DeviceGetDataFunction>(module->symbol("DllGetData"));
  ASSERT_NE(getData, nullptr);
  EXPECT_EQ(module->symbol("_ZN6engine12CameraEngine8instanceEv"), nullptr)
      << "only DllGetData is exported";
  struct {
    DeviceEntryTable table;
    void* sentinel;
  } slots;
  std::memset(&slots, 0xAB, sizeof slots);
  void* const marker = slots.sentinel;
  ASSERT_EQ(getData(&slots.table) & 0xFF, 1u);
  EXPECT_EQ(slots.sentinel, marker) << "nothing written past 13 entries";
  void* const* p = reinterpret_cast<void* const*>(&slots.table);
  for (int i = 0; i < kDeviceEntryCount; ++i) EXPECT_NE(p[i], nullptr) << i;
  EXPECT_EQ(reinterpret_cast<void*>(slots.table.Open), p[0]);
  EXPECT_EQ(reinterpret_cast<void*>(slots.table.GetResourceModule), p[12]);
}

}  // namespace
}  // namespace engine
