// The FTP client against scripted servers on loopback: replies and behaviours that real
// servers do not show on demand.

#include "targets/ftp_client.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

#include "manual_clock.h"
#include "wait_until.h"

namespace targets {
namespace {

using platform::TcpSocket;
using platform::testing::waitUntil;

// One control connection at a time: sends the greeting, then hands every command line to
// the test's script, which answers through reply(), data connections and close().
class ScriptServer {
 public:
  using Script = std::function<void(ScriptServer& s, const std::string& verb, const std::string& arg)>;

  ScriptServer(std::string greeting, Script script) : greeting_(std::move(greeting)), script_(std::move(script)) {
    listener_ = TcpSocket::listen("127.0.0.1", 0, 4);
    port_ = listener_.localPort();
    thread_ = std::thread([this] { run(); });
  }
  ~ScriptServer() {
    stop_ = true;
    thread_.join();
  }
  uint16_t port() const { return port_; }
  std::vector<std::string> commands() {
    std::lock_guard lock(mutex_);
    return commands_;
  }
  std::string received() {
    std::lock_guard lock(mutex_);
    return received_;
  }
  // Control connections read to their end and closed: all their commands are in commands().
  int sessionsEnded() const { return sessionsEnded_.load(); }

  // ---- For scripts (the server's thread) ----
  void reply(const std::string& text) { control_.sendAll(text.data(), text.size(), 5000); }
  void close() { control_.close(); }
  // A passive data listener; its port.
  uint16_t openData() {
    data_ = TcpSocket::listen("127.0.0.1", 0, 1);
    return data_.localPort();
  }
  // Accepts the data connection and reads it to its end (or `limit` bytes).
  void receiveData(size_t limit = SIZE_MAX) {
    if (data_.waitAcceptable(5000) != TcpSocket::kReady) return;
    TcpSocket c = data_.accept();
    data_.close();
    char buffer[4096];
    size_t total = 0;
    while (total < limit && c.waitReadable(5000) == TcpSocket::kReady) {
      const long n = c.receive(buffer, std::min(sizeof buffer, limit - total));
      if (n <= 0) break;
      total += static_cast<size_t>(n);
      std::lock_guard lock(mutex_);
      received_.append(buffer, static_cast<size_t>(n));
    }
  }
  static std::string pasv(uint16_t port, const std::string& host = "127,0,0,1") {
    return "227 Entering Passive Mode (" + host + "," + std::to_string(port >> 8) + "," +
           std::to_string(port & 0xFF) + ")\r\n";
  }

 private:
  void run() {
    while (!stop_) {
      if (listener_.waitAcceptable(20) != TcpSocket::kReady) continue;
      control_ = listener_.accept();
      reply(greeting_);
      std::string line;
      while (!stop_ && control_.valid()) {
        const auto r = control_.waitReadable(20);
        if (r == TcpSocket::kTimeout) continue;
        char c;
        if (r != TcpSocket::kReady || control_.receive(&c, 1) != 1) break;
        if (c != '\n') {
          if (c != '\r') line += c;
          continue;
        }
        const size_t blank = line.find(' ');
        const std::string verb = line.substr(0, blank);
        const std::string arg = blank == std::string::npos ? "" : line.substr(blank + 1);
        {
          std::lock_guard lock(mutex_);
          commands_.push_back(line);
        }
        line.clear();
        script_(*this, verb, arg);
      }
      control_.close();
      ++sessionsEnded_;
    }
  }

  std::string greeting_;
  Script script_;
  TcpSocket listener_, control_, data_;
  uint16_t port_ = 0;
  std::atomic<bool> stop_{false};
  std::atomic<int> sessionsEnded_{0};
  std::thread thread_;
  std::mutex mutex_;
  std::vector<std::string> commands_;
  std::string received_;
};

// Answers a log-in and a passive upload the usual way; `overrides` may answer first
// (returning true when it did).
ScriptServer::Script usual(std::function<bool(ScriptServer&, const std::string&, const std::string&)> overrides = {}) {
  return [overrides](ScriptServer& s, const std::string& verb, const std::string& arg) {
    if (overrides && overrides(s, verb, arg)) return;
    if (verb == "USER") s.reply("331 password\r\n");
    else if (verb == "PASS") s.reply("230 in\r\n");
    else if (verb == "TYPE") s.reply("200 binary\r\n");
    else if (verb == "CWD") s.reply("250 there\r\n");
    else if (verb == "PASV") s.reply(ScriptServer::pasv(s.openData()));
    else if (verb == "STOR") {
      s.reply("150 send\r\n");
      s.receiveData();
      s.reply("226 done\r\n");
    } else if (verb == "DELE") s.reply("550 none\r\n");
    else if (verb == "RNFR") s.reply("350 go on\r\n");
    else if (verb == "RNTO") s.reply("250 renamed\r\n");
    else if (verb == "QUIT") s.reply("221 bye\r\n");
    else s.reply("502 what\r\n");
  };
}

class FixedResolver final : public HostResolver {
 public:
  uint32_t lookup(const std::string& name) override { return name == "localhost" ? 0x0100007Fu : 0; }
};

struct Client {
  platform::ManualClock manual;
  std::shared_ptr<HostResolver> resolver = std::make_shared<FixedResolver>();
  FtpClient client{resolver, platform::systemClock()};
  Client() { client.allocateReplyBuffer(); }
  FtpLogin login(uint16_t port) {
    FtpLogin l;
    l.server = "127.0.0.1";
    l.port = port;
    l.login = "cam";
    l.password = "pw";
    l.directory = "pics";
    return l;
  }
};

const std::vector<uint8_t> kPicture(5000, 0x5A);

TEST(FtpClient, LogInAndUploadAgainstScripts) {
  struct Case {
    const char* name;
    std::string greeting;
    std::function<bool(ScriptServer&, const std::string&, const std::string&)> overrides;
    bool loggedIn;
    const char16_t* upload;  // message of a passive upload after a log-in
    bool useTempFile = false;
  } cases[] = {
      {"multi-line greeting", "220-Welcome\r\n220-to the camera\r\n220 ready\r\n", {}, true, nullptr},
      {"greeting not 220", "421 busy\r\n", {}, false, nullptr},
      {"unknown code for USER", "220 ok\r\n",
       [](ScriptServer& s, const std::string& v, const std::string&) { return v == "USER" && (s.reply("999 who\r\n"), true); },
       false, nullptr},
      {"100 KB reply", "220 ok\r\n",
       [](ScriptServer& s, const std::string& v, const std::string&) {
         return v == "USER" && (s.reply("331 " + std::string(100 * 1024, 'x') + "\r\n"), true);
       },
       false, nullptr},
      {"PASS refused", "220 ok\r\n",
       [](ScriptServer& s, const std::string& v, const std::string&) { return v == "PASS" && (s.reply("530 no\r\n"), true); },
       false, nullptr},
      {"directory created", "220 ok\r\n",
       [](ScriptServer& s, const std::string& v, const std::string&) {
         static int cwd = 0;
         if (v == "CWD") return ++cwd % 2 == 1 && (s.reply("550 missing\r\n"), true);
         return v == "MKD" && (s.reply("257 \"pics\" created\r\n"), true);
       },
       true, nullptr},
      {"directory neither there nor creatable", "220 ok\r\n",
       [](ScriptServer& s, const std::string& v, const std::string&) {
         return (v == "CWD" || v == "MKD") && (s.reply("550 no\r\n"), true);
       },
       false, nullptr},
      {"PASV names a foreign host: the data still goes to the server", "220 ok\r\n",
       [](ScriptServer& s, const std::string& v, const std::string&) {
         return v == "PASV" && (s.reply(ScriptServer::pasv(s.openData(), "10,9,9,9")), true);
       },
       true, nullptr},
      {"PASV not understood", "220 ok\r\n",
       [](ScriptServer& s, const std::string& v, const std::string&) { return v == "PASV" && (s.reply("227 later\r\n"), true); },
       true, kFtpCannotOpenData},
      {"data connection refused", "220 ok\r\n",
       [](ScriptServer& s, const std::string& v, const std::string&) {
         if (v != "PASV") return false;
         const uint16_t closed = s.openData();
         s.openData();  // the first listener is gone: nothing listens on `closed`
         s.reply(ScriptServer::pasv(closed));
         return true;
       },
       true, kFtpCannotOpenData},
      {"STOR refused", "220 ok\r\n",
       [](ScriptServer& s, const std::string& v, const std::string&) { return v == "STOR" && (s.reply("553 no\r\n"), true); },
       true, kFtpCannotSendCommand},
      {"STOR answered 125", "220 ok\r\n",
       [](ScriptServer& s, const std::string& v, const std::string&) {
         if (v != "STOR") return false;
         s.reply("125 already open\r\n");
         s.receiveData();
         s.reply("226 done\r\n");
         return true;
       },
       true, nullptr},
      {"control closed mid-transfer", "220 ok\r\n",
       [](ScriptServer& s, const std::string& v, const std::string&) {
         if (v != "STOR") return false;
         s.reply("150 send\r\n");
         s.receiveData(1000);
         s.close();
         return true;
       },
       true, kFtpCannotSendData},
      {"transfer not confirmed", "220 ok\r\n",
       [](ScriptServer& s, const std::string& v, const std::string&) {
         if (v != "STOR") return false;
         s.reply("150 send\r\n");
         s.receiveData();
         s.reply("451 disk full\r\n");
         return true;
       },
       true, kFtpCannotSendData},
      {"RNFR refused", "220 ok\r\n",
       [](ScriptServer& s, const std::string& v, const std::string&) { return v == "RNFR" && (s.reply("550 no\r\n"), true); },
       true, kFtpCannotRename, true},
      {"RNTO refused", "220 ok\r\n",
       [](ScriptServer& s, const std::string& v, const std::string&) { return v == "RNTO" && (s.reply("553 no\r\n"), true); },
       true, kFtpCannotRename, true},
  };
  for (const Case& c : cases) {
    ScriptServer server(c.greeting, usual(c.overrides));
    Client t;
    const bool in = t.client.logIn(t.login(server.port()));
    EXPECT_EQ(in, c.loggedIn) << c.name << ": " << t.client.replyText().substr(0, 80);
    EXPECT_EQ(t.client.connected(), in) << c.name;
    if (!in) continue;
    const char16_t* message = t.client.upload("cam.jpg", kPicture.data(), kPicture.size(), c.useTempFile);
    EXPECT_EQ(message ? std::u16string(message) : u"", c.upload ? std::u16string(c.upload) : u"") << c.name;
    if (!c.upload) {
      EXPECT_EQ(server.received(), std::string(kPicture.begin(), kPicture.end())) << c.name;
      EXPECT_EQ(t.client.lastDataAddress(), "127.0.0.1") << c.name;
    }
  }
}

TEST(FtpClient, RepliesThatCannotBeRead) {
  // Each answer to USER; the command gives 0 and says why.
  struct Case {
    const char* name;
    std::string answer;
    FtpClient::ReplyEnd end;
  } cases[] = {
      {"100 KB reply", "331 " + std::string(100 * 1024, 'x') + "\r\n", FtpClient::ReplyEnd::kOverflow},
      {"code of two digits", "33 x\r\n", FtpClient::ReplyEnd::kMalformed},
      {"line without its end, then closed", "331 half", FtpClient::ReplyEnd::kClosed},
  };
  for (const Case& c : cases) {
    ScriptServer server("220 ok\r\n", [&c](ScriptServer& s, const std::string&, const std::string&) {
      s.reply(c.answer);
      s.close();
    });
    Client t;
    ASSERT_TRUE(t.client.connect("127.0.0.1", server.port())) << c.name;
    const std::string user = "cam";
    EXPECT_EQ(t.client.command("USER", &user), 0) << c.name;
    EXPECT_EQ(t.client.lastReplyEnd(), c.end) << c.name;
    EXPECT_LE(t.client.replyText().size(), kFtpReplyBufferBytes - 1) << c.name;
  }
}

TEST(FtpClient, ServerAddresses) {
  ScriptServer server("220 ok\r\n", usual());
  Client t;
  // A name that does not resolve and is no dotted address; zero and broadcast addresses.
  for (const char* host : {"no-such-host.invalid", "0.0.0.0", "255.255.255.255", ""}) {
    EXPECT_FALSE(t.client.connect(host, server.port())) << host;
  }
  EXPECT_TRUE(t.client.connect("localhost", server.port()));
  EXPECT_TRUE(server.commands().empty());
  // Without a reply buffer nothing is tried.
  t.client.closeAll();
  t.client.freeReplyBuffer();
  EXPECT_FALSE(t.client.logIn(t.login(server.port())));
  EXPECT_EQ(t.client.lastReplyEnd(), FtpClient::ReplyEnd::kCode);
  EXPECT_FALSE(t.client.connected());
}

// A server that greets and then never answers: the reply time limit, on a test clock
// that the test moves past 20480 ms.
TEST(FtpClient, SilentServerHitsTheReplyTimeLimit) {
  ScriptServer server("220 ok\r\n", [](ScriptServer&, const std::string&, const std::string&) {});
  platform::ManualClock clock(1000);
  FtpClient client(std::make_shared<FixedResolver>(), clock);
  client.allocateReplyBuffer();
  ASSERT_TRUE(client.connect("127.0.0.1", server.port()));
  std::atomic<int> result{-1};
  std::thread user([&] {
    const std::string name = "cam";
    result = client.command("USER", &name);
  });
  // The command is sent; two more looks at the clock and the reply wait has taken its start.
  ASSERT_TRUE(waitUntil([&] { return !server.commands().empty(); }));
  const uint64_t sent = clock.uses();
  ASSERT_TRUE(waitUntil([&] { return clock.uses() >= sent + 2; }));
  clock.advanceMs(kFtpReplyTimeoutMs - 1);
  // Two more looks: the wait has compared the new time with its limit.
  const uint64_t advanced = clock.uses();
  ASSERT_TRUE(waitUntil([&] { return clock.uses() >= advanced + 2 || result.load() != -1; }));
  EXPECT_EQ(result.load(), -1) << "ended before the limit";
  clock.advanceMs(1);
  user.join();
  EXPECT_EQ(result.load(), 0);
  EXPECT_EQ(client.lastReplyEnd(), FtpClient::ReplyEnd::kTimeout);
}

// A stop request ends a reply wait at once, and QUIT is then not sent.
TEST(FtpClient, StopEndsWaits) {
  ScriptServer server("220 ok\r\n", [](ScriptServer&, const std::string&, const std::string&) {});
  Client t;
  ASSERT_TRUE(t.client.connect("127.0.0.1", server.port()));
  std::thread stopper([&] {
    waitUntil([&] { return !server.commands().empty(); });  // the client waits for the reply
    t.client.requestStop();
  });
  const auto start = std::chrono::steady_clock::now();
  const std::string name = "cam";
  EXPECT_EQ(t.client.command("USER", &name), 0);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
  EXPECT_EQ(t.client.lastReplyEnd(), FtpClient::ReplyEnd::kStopped);
  stopper.join();
  t.client.quit();
  ASSERT_TRUE(waitUntil([&] { return server.sessionsEnded() == 1; }));
  EXPECT_EQ(server.commands(), std::vector<std::string>{"USER cam"});
}

// A server that ends an idle session ("421" and close) is found dead at the next log-in,
// which then connects afresh.
TEST(FtpClient, IdleSessionEndedByTheServer) {
  std::atomic<int> sessions{0};
  ScriptServer server("220 ok\r\n", usual([&](ScriptServer& s, const std::string& v, const std::string&) {
    if (v != "CWD") return false;
    const int session = ++sessions;
    s.reply("250 there\r\n");
    if (session == 1) {
      s.reply("421 Timeout.\r\n");
      s.close();
    }
    return true;
  }));
  Client t;
  ASSERT_TRUE(t.client.logIn(t.login(server.port())));
  ASSERT_TRUE(waitUntil([&] { return server.sessionsEnded() == 1; }));
  EXPECT_TRUE(waitUntil([&] { return !t.client.alive(); })) << "the server's close arrives";
  ASSERT_TRUE(t.client.logIn(t.login(server.port())));
  EXPECT_EQ(sessions.load(), 2) << ::testing::PrintToString(server.commands());
  EXPECT_TRUE(t.client.alive());
  EXPECT_EQ(t.client.upload("cam.jpg", kPicture.data(), kPicture.size(), false), nullptr);
}

}  // namespace
}  // namespace targets
