// The uploader against real FTP servers on loopback: vsftpd and pyftpdlib, in passive
// and active mode.

#include <gtest/gtest.h>
#include <stdlib.h>

#include <algorithm>
#include <deque>
#include <mutex>

#include "ftp_test_servers.h"
#include "memory_key_store.h"
#include "targets/ftp_target.h"

namespace targets {
namespace {

namespace fs = std::filesystem;
using ftptest::Kind;

// Hands the target the pictures a test queues, as the capture core's FetchFrame does: the
// bytes stay valid until the next fetch, and a picture still waiting signals again.
struct Camera {
  DeliveryTarget* target = nullptr;
  std::mutex mutex;
  std::deque<std::vector<uint8_t>> queue;
  std::vector<uint8_t> current;
  uint32_t stamp = 0;

  static uint32_t fetch(void* user, sources::FrameDescriptor* out) {
    auto* self = static_cast<Camera*>(user);
    std::lock_guard lock(self->mutex);
    if (self->queue.empty()) return 0;
    self->current = std::move(self->queue.front());
    self->queue.pop_front();
    out->data = self->current.data();
    out->sizeBytes = static_cast<uint32_t>(self->current.size());
    out->format = sources::kFormatJpeg;
    out->timestampMs = ++self->stamp;
    if (!self->queue.empty()) self->target->frameReady().set();
    return out->timestampMs;
  }
  void push(DeliveryTarget& t, std::vector<uint8_t> bytes) {
    {
      std::lock_guard lock(mutex);
      target = &t;
      queue.push_back(std::move(bytes));
    }
    t.frameReady().set();
  }
};

std::vector<uint8_t> picture(size_t size, uint8_t seed) {
  std::vector<uint8_t> p(size);
  for (size_t i = 0; i < size; ++i) p[i] = static_cast<uint8_t>(seed + i * 31 + (i >> 8));
  return p;
}

std::vector<uint8_t> fileBytes(const fs::path& p) {
  const std::string s = ftptest::readFile(p);
  return std::vector<uint8_t>(s.begin(), s.end());
}

using platform::testing::waitUntil;

size_t count(const std::vector<std::string>& v, const std::string& prefix) {
  return static_cast<size_t>(
      std::count_if(v.begin(), v.end(), [&](const std::string& s) { return s.rfind(prefix, 0) == 0; }));
}

// Whether `want` appears in `have` in this order (other commands may come between).
bool inOrder(const std::vector<std::string>& have, const std::vector<std::string>& want) {
  size_t at = 0;
  for (const std::string& h : have) {
    if (at < want.size() && h == want[at]) ++at;
  }
  return at == want.size();
}

std::string joined(const std::vector<std::string>& v) {
  std::string s;
  for (const auto& x : v) s += x + " | ";
  return s;
}

class FtpServers : public ::testing::TestWithParam<std::tuple<Kind, bool>> {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/vistrel-ftp.XXXXXX";
    ASSERT_NE(::mkdtemp(pattern), nullptr);
    work_ = pattern;
    keys_ = platform::testing::makeMemoryKeyStore(state_);
    store_ = std::make_unique<settings::SettingsStore>(*keys_);
    store_->setMainPath(settings::kSettingsPath);
  }
  void TearDown() override {
    if (target_) target_->Stop();
    target_.reset();
    server_.reset();
    std::error_code ignored;
    fs::remove_all(work_, ignored);
  }
  Kind kind() const { return std::get<0>(GetParam()); }
  bool passive() const { return std::get<1>(GetParam()); }

  // Starts the server (failing the test with the reason when it cannot) and a target
  // pointed at it.
  void startServer(ftptest::ServerOptions options = {}) {
    server_ = std::make_unique<ftptest::Server>(kind(), work_, options);
    const std::string why = server_->start();
    ASSERT_EQ(why, "") << "cannot start the FTP server";
  }
  void makeTarget(FtpTarget::Options options = {}) {
    target_ = std::make_unique<FtpTarget>(*store_, std::move(options));
    ASSERT_TRUE(target_->Prepare());
    target_->server = u"127.0.0.1";
    target_->port = server_->port();
    if (kind() == Kind::kPyftpdlib) {
      target_->login = u"camera";
      target_->password = u"secret word";
    } else {
      target_->password = u"guest@";
    }
    target_->passiveMode = passive() ? 1 : 0;
    target_->interval = 0;
  }
  void start() {
    ASSERT_TRUE(target_->Start({&Camera::fetch, nullptr, &camera_}));
  }
  fs::path remote(const std::string& path) const { return server_->root() / path; }

  fs::path work_;
  std::shared_ptr<platform::testing::MemoryKeyStoreStorage::State> state_;
  std::unique_ptr<platform::KeyStore> keys_;
  std::unique_ptr<settings::SettingsStore> store_;
  std::unique_ptr<ftptest::Server> server_;
  std::unique_ptr<FtpTarget> target_;
  Camera camera_;
};

// Two pictures through "wcp.tmp" into a directory the uploader creates, on one control
// connection; the final file only ever holds a whole picture.
TEST_P(FtpServers, UploadsThroughTempFileOnOneConnection) {
  startServer();
  makeTarget();
  target_->useTempFile = 1;
  start();
  const auto first = picture(5000, 1);
  const auto second = picture(70000, 2);
  const fs::path file = remote("upload/webcam.jpg");
  camera_.push(*target_, first);
  ASSERT_TRUE(waitUntil([&] { return fileBytes(file) == first; })) << joined(server_->commands());
  camera_.push(*target_, second);
  bool whole = true;
  ASSERT_TRUE(waitUntil([&] {
    const auto now = fileBytes(file);
    whole = whole && (now == first || now == second);
    return now == second;
  })) << joined(server_->commands());
  EXPECT_TRUE(whole) << "the final file held a part of a picture";
  EXPECT_TRUE(target_->IsAlive());
  EXPECT_EQ(target_->errorText(), u"");
  target_->Stop();

  const auto commands = server_->commands();
  EXPECT_EQ(count(commands, "USER"), 1u) << joined(commands);
  EXPECT_TRUE(inOrder(commands, {"TYPE I", "CWD ./upload", "MKD ./upload", "CWD ./upload", "DELE wcp.tmp",
                                 "STOR wcp.tmp", "RNFR wcp.tmp", "RNTO webcam.jpg", "DELE wcp.tmp", "STOR wcp.tmp",
                                 "RNFR wcp.tmp", "RNTO webcam.jpg"}))
      << joined(commands);
  if (passive()) {
    EXPECT_EQ(count(commands, "PASV"), 2u) << joined(commands);
    EXPECT_EQ(count(commands, "PORT"), 0u);
  } else {
    EXPECT_EQ(count(commands, "PASV"), 0u) << joined(commands);
    ASSERT_EQ(count(commands, "PORT "), 2u) << joined(commands);
    for (const std::string& c : commands) {
      if (c.rfind("PORT ", 0) != 0) continue;
      // The control connection's own address and an unprivileged port.
      ASSERT_EQ(c.rfind("PORT 127,0,0,1,", 0), 0u) << c;
      int high = 0, low = 0;
      ASSERT_EQ(std::sscanf(c.c_str() + 15, "%d,%d", &high, &low), 2) << c;
      EXPECT_GE(high * 256 + low, 1024) << c;
    }
  }
  if (kind() == Kind::kPyftpdlib) {
    // The server-side hook saw both files arrive whole.
    const std::string log = ftptest::readFile(server_->log());
    EXPECT_NE(log.find("DATA wcp.tmp 5000 "), std::string::npos) << log;
    EXPECT_NE(log.find("DATA wcp.tmp 70000 "), std::string::npos) << log;
  }
}

// A server that needs no password answers USER with 230: no PASS follows, and the
// picture is stored directly under its name.
TEST_P(FtpServers, LogsInWithoutPassword) {
  ftptest::ServerOptions options;
  options.noPassword = true;
  startServer(options);
  makeTarget();
  target_->login = u"anonymous";
  target_->directory = u"pics";
  fs::create_directories(remote("pics"));
  start();
  const auto p = picture(3000, 9);
  camera_.push(*target_, p);
  ASSERT_TRUE(waitUntil([&] { return fileBytes(remote("pics/webcam.jpg")) == p; }))
      << joined(server_->commands());
  target_->Stop();
  const auto commands = server_->commands();
  EXPECT_EQ(count(commands, "PASS"), 0u) << joined(commands);
  EXPECT_EQ(count(commands, "MKD"), 0u) << joined(commands);
  EXPECT_TRUE(inOrder(commands, {"USER anonymous", "TYPE I", "CWD pics", "STOR webcam.jpg"})) << joined(commands);
  EXPECT_EQ(count(commands, "RNFR"), 0u);
}

// The server goes away (pyftpdlib: killed while the second picture arrives; vsftpd:
// killed between pictures). With "Ignore errors" the uploader keeps running, logs in
// again once the server is back, and the final name never held half a picture.
TEST_P(FtpServers, LogsInAgainAfterTheServerWasKilled) {
  ftptest::ServerOptions options;
  if (kind() == Kind::kPyftpdlib) options.dieOnData = 2;
  startServer(options);
  makeTarget();
  target_->useTempFile = 1;
  target_->ignoreErrors = 1;
  target_->interval = 1;
  start();
  const auto first = picture(200000, 1);
  const fs::path file = remote("upload/webcam.jpg");
  camera_.push(*target_, first);
  ASSERT_TRUE(waitUntil([&] { return fileBytes(file) == first; })) << joined(server_->commands());
  if (kind() == Kind::kPyftpdlib) {
    camera_.push(*target_, picture(200000, 2));
    ASSERT_TRUE(waitUntil([&] { return server_->ended(); }))
        << "the server did not die mid-transfer";
  } else {
    server_->kill();
    camera_.push(*target_, picture(200000, 2));
  }
  // The failed passes are ignored: real time for passes on the one-second interval.
  std::this_thread::sleep_for(std::chrono::milliseconds(1500));
  EXPECT_TRUE(target_->IsAlive());
  EXPECT_EQ(fileBytes(file), first);
  const size_t loginsBefore = count(server_->commands(), "USER");

  ASSERT_EQ(server_->start(), "") << "cannot restart the FTP server";
  const auto third = picture(4000, 3);
  camera_.push(*target_, third);
  ASSERT_TRUE(waitUntil([&] { return fileBytes(file) == third; }, std::chrono::seconds(15)))
      << joined(server_->commands()) << ftptest::readFile(server_->log());
  EXPECT_TRUE(target_->IsAlive());
  EXPECT_GT(count(server_->commands(), "USER"), loginsBefore);
}

INSTANTIATE_TEST_SUITE_P(Servers, FtpServers,
                         ::testing::Combine(::testing::Values(Kind::kVsftpd, Kind::kPyftpdlib),
                                            ::testing::Bool()),
                         [](const auto& info) {
                           return std::string(ftptest::kindName(std::get<0>(info.param))) +
                                  (std::get<1>(info.param) ? "Passive" : "Active");
                         });

}  // namespace
}  // namespace targets
