#include "targets/ftp_target.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <filesystem>
#include <mutex>
#include <thread>

#include "ftp_test_servers.h"
#include "memory_key_store.h"

namespace targets {
namespace {

namespace fs = std::filesystem;

struct Store {
  std::shared_ptr<platform::testing::MemoryKeyStoreStorage::State> state;
  std::unique_ptr<platform::KeyStore> keys = platform::testing::makeMemoryKeyStore(state);
  settings::SettingsStore store{*keys};
  Store() { store.setMainPath(settings::kSettingsPath); }
};

uint32_t address(uint8_t a, uint8_t b, uint8_t c, uint8_t d) {
  const uint8_t o[4] = {a, b, c, d};
  uint32_t v;
  std::memcpy(&v, o, 4);
  return v;
}

TEST(FtpTarget, SettingsDefaultsClampsAndRoundTrip) {
  Store s;
  FtpTarget target(s.store, {});
  ASSERT_TRUE(target.Prepare());
  EXPECT_EQ(target.server, u"192.168.7.1");
  EXPECT_EQ(target.port, 21u);
  EXPECT_EQ(target.login, u"anonymous");
  EXPECT_EQ(target.password, u"");
  EXPECT_EQ(target.directory, u"./upload");
  EXPECT_EQ(target.fileName, u"webcam.jpg");
  EXPECT_EQ(target.fileNameHtml, u"webcam.html");
  EXPECT_EQ(target.interval, 20u);
  EXPECT_EQ(target.passiveMode, 1u);
  EXPECT_EQ(target.uploadHtml, 1u);
  EXPECT_EQ(target.useTempFile + target.ignoreErrors + target.powerSafe, 0u);

  {
    settings::Key key = s.store.OpenKey(u"FTP", true);
    settings::writeString(key, u"Server", u"ftp.example");
    settings::writeString(key, u"Password", u"p\u00e4ss");
    settings::writeString(key, u"Directory", std::u16string(128, u'd'));  // no room for the zero
    settings::writeString(key, u"Filename", std::u16string(127, u'f'));
    settings::writeDword(key, u"Port", 70000);
    settings::writeDword(key, u"PassiveMode", 5);
    settings::writeDword(key, u"Interval", 0);
    settings::writeDword(key, u"UploadHTML", 9);
    settings::writeDword(key, u"UseTempFile", 7);
    settings::writeDword(key, u"IgnoreErrors", 2);
    const uint8_t two[2] = {1, 0};
    key->setValue(u"PowerSafe", platform::kRegDword, two, 2);  // not 4 bytes: not taken
  }
  ASSERT_TRUE(target.Prepare());
  EXPECT_EQ(target.server, u"ftp.example");
  EXPECT_EQ(target.password, u"p\u00e4ss");
  EXPECT_EQ(target.directory, u"./upload");
  EXPECT_EQ(target.fileName, std::u16string(127, u'f'));
  EXPECT_EQ(target.port, 21u);
  EXPECT_EQ(target.passiveMode, 1u);
  EXPECT_EQ(target.interval, 0u);
  EXPECT_EQ(target.uploadHtml, 1u);
  EXPECT_EQ(target.useTempFile, 1u);
  EXPECT_EQ(target.ignoreErrors, 1u);
  EXPECT_EQ(target.powerSafe, 0u);

  target.port = 2121;
  target.login = u"cam";
  target.passiveMode = 0;
  target.Release();
  FtpTarget again(s.store, {});
  ASSERT_TRUE(again.Prepare());
  EXPECT_EQ(again.port, 2121u);
  EXPECT_EQ(again.login, u"cam");
  EXPECT_EQ(again.passiveMode, 0u);
  EXPECT_EQ(again.password, u"p\u00e4ss");
  // Every value is written, the strings with their zero.
  for (const char* name : {"\"Server\"", "\"Login\"", "\"Password\"", "\"Directory\"", "\"Filename\"",
                           "\"FilenameHTML\"", "\"Port\"=dword:00000849", "\"PassiveMode\"=dword:00000000",
                           "\"Interval\"", "\"UploadHTML\"", "\"UseTempFile\"", "\"IgnoreErrors\"", "\"PowerSafe\""}) {
    EXPECT_NE(s.state->text.find(name), std::string::npos) << name << "\n" << s.state->text;
  }
}

// The settings file that holds the password is the owner's alone, whatever the umask.
TEST(FtpTarget, SettingsFileIsPrivate) {
  char pattern[] = "/tmp/vistrel-ftp-store.XXXXXX";
  ASSERT_NE(::mkdtemp(pattern), nullptr);
  const std::string path = std::string(pattern) + "/registry.reg";
  const mode_t old = ::umask(0);
  {
    platform::KeyStore keys(platform::openKeyStoreFile(path));
    settings::SettingsStore store(keys);
    store.setMainPath(settings::kSettingsPath);
    FtpTarget target(store, {});
    target.Prepare();
    target.password = u"secret";
    target.Release();
  }
  ::umask(old);
  struct stat st {};
  ASSERT_EQ(::stat(path.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  EXPECT_NE(ftptest::readFile(path).find("\"Password\"=\"secret\""), std::string::npos);
  fs::remove_all(pattern);
}

TEST(FtpTarget, NetworkTest) {
  struct Case {
    std::vector<uint32_t> addresses;
    bool usable;
  } cases[] = {
      {{}, false},
      {{address(127, 0, 1, 1)}, false},
      {{address(127, 0, 0, 1), address(169, 254, 1, 1), address(192, 168, 1, 5), address(255, 1, 2, 3)}, false},
      {{address(127, 0, 0, 1), address(10, 0, 0, 7)}, true},
      {{address(172, 16, 0, 2)}, true},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(hasUsableNetwork(c.addresses), c.usable);
    Store s;
    FtpTarget::Options options;
    options.hostAddresses = [&c] { return c.addresses; };
    FtpTarget target(s.store, options);
    EXPECT_TRUE(target.Prepare());  // whatever the outcome
    EXPECT_EQ(target.networkUsable(), c.usable);
  }
}

// Errors: shown once in a box and the target dies, or, with "Ignore errors", kept quiet
// and retried after the interval.
TEST(FtpTarget, ErrorsEndTheWorkerUnlessIgnored) {
  const uint16_t closedPort = ftptest::freePort();
  for (const bool ignore : {false, true}) {
    Store s;
    std::mutex m;
    std::vector<std::pair<std::u16string, std::u16string>> boxes;
    FtpTarget::Options options;
    options.showError = [&](const std::u16string& text, const std::u16string& caption) {
      std::lock_guard lock(m);
      boxes.emplace_back(text, caption);
    };
    FtpTarget target(s.store, options);
    EXPECT_EQ(std::u16string(target.Name()), u"FTP");
    EXPECT_FALSE(target.AcceptsKind(sources::SourceKind::kSound));
    EXPECT_TRUE(target.AcceptsKind(sources::SourceKind::kCamera));
    EXPECT_TRUE(target.AcceptsKind(sources::SourceKind::kScreen));
    EXPECT_FALSE(target.IsAlive());
    ASSERT_TRUE(target.Prepare());
    target.server = u"127.0.0.1";
    target.port = closedPort;
    target.interval = 0;
    target.ignoreErrors = ignore ? 1 : 0;
    ASSERT_TRUE(target.Start({}));
    if (!ignore) {
      // The target is dead as soon as its error is set; the box follows on its worker.
      ASSERT_TRUE(platform::testing::waitUntil([&] {
        std::lock_guard lock(m);
        return !target.IsAlive() && !boxes.empty();
      }));
      EXPECT_EQ(target.errorText(), u"Cannot connect to server.");
      std::lock_guard lock(m);
      ASSERT_EQ(boxes.size(), 1u);
      EXPECT_EQ(boxes[0].first, u"Cannot connect to server.");
      EXPECT_EQ(boxes[0].second, u"Error");
    } else {
      // Interval 0: many failed passes, none of them shown, the target alive throughout.
      for (int i = 0; i < 20; ++i) {
        EXPECT_TRUE(target.IsAlive());
        std::this_thread::sleep_for(std::chrono::milliseconds(10));  // passes fail meanwhile
      }
      std::lock_guard lock(m);
      EXPECT_TRUE(boxes.empty());
    }
    const auto start = std::chrono::steady_clock::now();
    target.Stop();
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
    EXPECT_FALSE(target.IsAlive());
  }
}

// Started without Prepare there is no reply buffer: the log-in fails without a word to
// the server.
TEST(FtpTarget, NoReplyBufferNoLogIn) {
  char pattern[] = "/tmp/vistrel-ftp.XXXXXX";
  ASSERT_NE(::mkdtemp(pattern), nullptr);
  {
    ftptest::Server server(ftptest::Kind::kPyftpdlib, pattern);
    ASSERT_EQ(server.start(), "") << "cannot start the FTP server";
    Store s;
    FtpTarget target(s.store, {});
    target.server = u"127.0.0.1";
    target.port = server.port();
    ASSERT_TRUE(target.Start({}));
    ASSERT_TRUE(platform::testing::waitUntil([&] { return !target.IsAlive(); }));
    EXPECT_EQ(target.errorText(), u"Cannot connect to server.");
    target.Stop();
    EXPECT_TRUE(server.commands().empty());
  }
  fs::remove_all(pattern);
}

// "Power safe": the sources go off after an upload and on again after the interval.
TEST(FtpTarget, PowerSafeSwitchesTheSourcesAroundTheInterval) {
  char pattern[] = "/tmp/vistrel-ftp.XXXXXX";
  ASSERT_NE(::mkdtemp(pattern), nullptr);
  {
    ftptest::Server server(ftptest::Kind::kPyftpdlib, pattern);
    ASSERT_EQ(server.start(), "") << "cannot start the FTP server";
    Store s;
    std::mutex m;
    std::vector<std::string> events;
    auto note = [&](const char* e) {
      std::lock_guard lock(m);
      events.push_back(e);
    };
    auto seen = [&] {
      std::lock_guard lock(m);
      return events;
    };
    FtpTarget::Options options;
    options.sourcesOff = [&] { note("off"); };
    options.sourcesOn = [&] { note("on"); };
    FtpTarget target(s.store, options);
    ASSERT_TRUE(target.Prepare());
    target.server = u"127.0.0.1";
    target.port = server.port();
    target.interval = 1;
    target.powerSafe = 1;
    static std::vector<uint8_t> frame(1000, 7);
    struct Fetch {
      static uint32_t fn(void*, sources::FrameDescriptor* out) {
        out->data = frame.data();
        out->sizeBytes = static_cast<uint32_t>(frame.size());
        return 1;
      }
    };
    ASSERT_TRUE(target.Start({&Fetch::fn, nullptr, nullptr}));
    target.frameReady().set();
    ASSERT_TRUE(platform::testing::waitUntil([&] { return seen().size() >= 1; }));
    const auto off = std::chrono::steady_clock::now();
    EXPECT_TRUE(fs::exists(fs::path(pattern) / "root/upload/webcam.jpg"));
    ASSERT_TRUE(platform::testing::waitUntil([&] { return seen().size() >= 2; }));
    EXPECT_GE(std::chrono::steady_clock::now() - off, std::chrono::milliseconds(900));
    target.Stop();
    const auto e = seen();
    ASSERT_GE(e.size(), 2u);
    EXPECT_EQ(e[0], "off");
    EXPECT_EQ(e[1], "on");
  }
  fs::remove_all(pattern);
}

}  // namespace
}  // namespace targets
