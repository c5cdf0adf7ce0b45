#include "output/engine_link.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <functional>
#include <string>
#include <thread>

#include "memory_key_store.h"
#include "platform/key_store.h"
#include "platform/socket.h"
#include "procs/process_table.h"
#include "settings/device_settings.h"
#include "test_stream.h"
#include "wait_until.h"

namespace output {
namespace {

using platform::testing::waitUntil;

// The camera's link to a real engine, with its own named objects, settings and port.
class EngineLinkTest : public ::testing::Test {
 protected:
  void SetUp() override {
    prefix_ = "linktest-" + std::to_string(::getpid()) + "-" +
              ::testing::UnitTest::GetInstance()->current_test_info()->name() + "-";
    ::setenv("VISTREL_OBJECT_PREFIX", prefix_.c_str(), 1);
    ::setenv("VISTREL_DEVICE_PREFIX", (prefix_ + "dev/").c_str(), 1);
    store_.createKey(settings::kBaseKey)->setDword(u"Port", port_);
    store_.createKey(settings::programKeyPath(u"linktest"))->setDword(u"ConnectAtStartup", 0);
  }
  void TearDown() override {
    for (const char* name : {"_VistrelOBJ1_", "_VistrelOBJ2_.event", "_VistrelOBJ3_.mutex",
                             "_VistrelMutexOBJ_.presence", "_VistrelProcTable_",
                             "_VistrelProcTable_.mutex"}) {
      ::unlink(("/dev/shm/" + prefix_ + name).c_str());
    }
  }
  engine::CameraEngine::Options options() {
    engine::CameraEngine::Options o;
    o.keyStore = &store_;
    o.executablePath = "/opt/test/linktest.exe";
    o.bindAddress = "127.0.0.1";
    return o;
  }

  std::string prefix_;
  std::shared_ptr<platform::testing::MemoryKeyStoreStorage::State> state_ =
      std::make_shared<platform::testing::MemoryKeyStoreStorage::State>();
  platform::KeyStore store_{std::make_unique<platform::testing::MemoryKeyStoreStorage>(state_)};
  uint16_t port_ = server::testing::freePort();
};

TEST_F(EngineLinkTest, StreamEndStopsListeningAndClearsTheReceivingFlag) {
  procs::ProcessTable other(u"/opt/test/other.exe");
  ASSERT_TRUE(other.registerProcess());
  EngineLink link(options());
  link.open();
  ASSERT_EQ(link.source(), FrameLink::Source::kFrameServer);
  EXPECT_TRUE(other.findOtherReceiver().has_value()) << "a streaming camera receives";
  server::StreamListener& listener = link.engine()->frameServer()->listener();
  EXPECT_TRUE(waitUntil([&] { return listener.listeningPort() == port_; }));

  link.close();
  EXPECT_FALSE(other.findOtherReceiver().has_value()) << "the flag goes with the stream";
  EXPECT_TRUE(waitUntil([&] { return listener.listeningPort() == 0; })) << "the port is let go";
  EXPECT_FALSE(platform::TcpSocket::connect("127.0.0.1", port_, 500).valid());

  link.open();
  EXPECT_TRUE(other.findOtherReceiver().has_value());
  EXPECT_TRUE(waitUntil([&] { return listener.listeningPort() == port_; })) << "listening again";
  server::testing::Phone phone;
  EXPECT_TRUE(phone.connect(port_, 2000)) << "a phone is greeted";
}

}  // namespace
}  // namespace output
