#include <gtest/gtest.h>

#include <cstring>
#include <thread>

#include "platform/socket.h"

namespace platform {
namespace {

TEST(TcpSocket, LoopbackRoundTrip) {
  TcpSocket server = TcpSocket::listen("127.0.0.1", 0, 0);
  ASSERT_TRUE(server.valid());
  const uint16_t port = server.localPort();
  ASSERT_NE(port, 0);
  EXPECT_EQ(server.waitAcceptable(10), TcpSocket::kTimeout);

  TcpSocket client = TcpSocket::connect("127.0.0.1", port, 4096);
  ASSERT_TRUE(client.valid());
  ASSERT_TRUE(client.setNoDelay(true));
  ASSERT_EQ(server.waitAcceptable(1000), TcpSocket::kReady);
  TcpSocket peer = server.accept();
  ASSERT_TRUE(peer.valid());
  EXPECT_EQ(client.localAddress(), "127.0.0.1");
  EXPECT_EQ(client.peerAddress(), "127.0.0.1");
  EXPECT_EQ(peer.peerAddress(), "127.0.0.1");
  EXPECT_EQ(TcpSocket().peerAddress(), "");

  ASSERT_TRUE(peer.sendAll("high", 4, 1000));
  ASSERT_EQ(client.waitReadable(1000), TcpSocket::kReady);
  char buf[8] = {};
  EXPECT_EQ(client.receive(buf, sizeof buf), 4);
  EXPECT_EQ(std::memcmp(buf, "high", 4), 0);

  EXPECT_EQ(client.waitReadable(20), TcpSocket::kTimeout);
  peer.close();
  ASSERT_EQ(client.waitReadable(1000), TcpSocket::kReady);
  EXPECT_EQ(client.receive(buf, sizeof buf), 0) << "end of stream";
}

TEST(TcpSocket, ListensOnNumericAddressesOfBothFamiliesOnly) {
  struct Case {
    const char* address;
    bool accepted;
    const char* connectTo;  // reachable through this address, or null
  };
  const Case cases[] = {
      {"127.0.0.1", true, "127.0.0.1"},
      {"::1", true, "::1"},
      {"0.0.0.0", true, "127.0.0.1"},
      {"::", true, "127.0.0.1"},  // every address, IPv4 ones included
      {"foo", false, nullptr},
      {"localhost", false, nullptr},  // names are not looked up
      {"", false, nullptr},
      {"127.0.0.1:80", false, nullptr},
      {"300.1.1.1", false, nullptr},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(isListenAddress(c.address), c.accepted) << c.address;
    TcpSocket server = TcpSocket::listen(c.address, 0, 0);
    EXPECT_EQ(server.valid(), c.accepted) << c.address;
    if (c.connectTo == nullptr || !server.valid()) continue;
    TcpSocket client = TcpSocket::connect(c.connectTo, server.localPort(), 2000);
    EXPECT_TRUE(client.valid()) << c.address << " via " << c.connectTo;
    EXPECT_EQ(server.waitAcceptable(1000), TcpSocket::kReady) << c.address;
  }
  TcpSocket loopback = TcpSocket::listen("127.0.0.1", 0, 0);
  ASSERT_TRUE(loopback.valid());
  EXPECT_FALSE(TcpSocket::connect("::1", loopback.localPort(), 1000).valid())
      << "an IPv4 loopback listener is not reached over IPv6";
}

TEST(TcpSocket, FailuresAreInvalidSockets) {
  TcpSocket server = TcpSocket::listen("127.0.0.1", 0, 0);
  ASSERT_TRUE(server.valid());
  EXPECT_FALSE(TcpSocket::listen("127.0.0.1", server.localPort(), 0).valid())
      << "a port with a listener is refused";
  EXPECT_FALSE(TcpSocket::listen("not-an-address", 0, 0).valid());
  const uint16_t port = server.localPort();
  server.close();
  EXPECT_FALSE(TcpSocket::connect("127.0.0.1", port, 1000).valid()) << "nobody listens";
  TcpSocket none;
  EXPECT_EQ(none.waitReadable(0), TcpSocket::kError);
  EXPECT_EQ(none.receive(nullptr, 0), -1);
}

TEST(TcpSocket, LargeSendAllArrivesWhole) {
  TcpSocket server = TcpSocket::listen("127.0.0.1", 0, 0);
  TcpSocket client = TcpSocket::connect("127.0.0.1", server.localPort(), 4096);
  ASSERT_EQ(server.waitAcceptable(1000), TcpSocket::kReady);
  TcpSocket peer = server.accept();
  std::vector<uint8_t> data(3 << 20);
  for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(i * 7);
  std::thread sender([&] { EXPECT_TRUE(client.sendAll(data.data(), data.size(), 10000)); });
  std::vector<uint8_t> got;
  std::vector<uint8_t> buf(65536);
  while (got.size() < data.size() && peer.waitReadable(5000) == TcpSocket::kReady) {
    const long n = peer.receive(buf.data(), buf.size());
    if (n <= 0) break;
    got.insert(got.end(), buf.begin(), buf.begin() + n);
  }
  sender.join();
  EXPECT_EQ(got, data);
}

}  // namespace
}  // namespace platform
