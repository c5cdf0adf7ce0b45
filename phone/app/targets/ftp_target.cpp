#include "targets/ftp_target.h"

#include <cstring>
#include <mutex>

#include "platform/event.h"
#include "platform/socket.h"

namespace targets {

namespace {

std::u16string orDefault(std::u16string value, const char16_t* fallback) {
  return value.empty() ? std::u16string(fallback) : value;
}
}  // namespace

bool hasUsableNetwork(const std::vector<uint32_t>& addresses) {
  for (uint32_t address : addresses) {
    uint8_t first = 0;
    std::memcpy(&first, &address, 1);  // network order: the first octet comes first
    if (first != 127 && first != 169 && first != 192 && first != 255) return true;
  }
  return false;
}

// Everything the worker touches. Shared between the target and its thread.
struct FtpTarget::Worker {
  Worker(std::shared_ptr<HostResolver> resolver, platform::Clock& clock) : client(std::move(resolver), clock) {}

  FtpClient client;
  platform::Event stopEvent{platform::Event::Reset::kAuto};
  std::atomic<bool> stopRequested{false};
  std::shared_ptr<platform::Event> frameReady;
  TargetStartParams params;

  // Settings as they were when the worker started.
  FtpLogin login;
  std::string fileName;
  uint32_t interval = kDefaultFtpInterval;
  bool useTempFile = false;
  bool ignoreErrors = false;
  bool powerSafe = false;
  std::function<void(const std::u16string&, const std::u16string&)> showError;
  std::function<void()> sourcesOff;
  std::function<void()> sourcesOn;

  mutable std::mutex errorMutex;
  std::u16string errorText;

  void setError(const std::u16string& text) {
    std::lock_guard lock(errorMutex);
    errorText = text;
  }
  std::u16string error() const {
    std::lock_guard lock(errorMutex);
    return errorText;
  }
  bool stopping() const { return stopRequested.load(); }
  // Waits for the frame-ready or the stop event and, for a frame, fetches it; false when
  // stopping. Without a frame, `frame` stays empty.
  bool takeFrame(sources::FrameDescriptor& frame);
  void run();
};

bool FtpTarget::Worker::takeFrame(sources::FrameDescriptor& frame) {
  const int which = platform::Event::waitAny(*frameReady, stopEvent, platform::kInfinite);
  if (stopping()) return false;
  frame = sources::FrameDescriptor{};
  if (which == 0 && params.fetch) params.fetch(params.user, &frame);
  return !stopping();
}

void FtpTarget::Worker::run() {
  while (!stopping()) {
    if (ignoreErrors) setError(u"");
    if (!client.logIn(login)) {
      setError(kFtpCannotConnect);
    } else {
      sources::FrameDescriptor frame;
      if (!takeFrame(frame)) break;
      if (frame.data != nullptr && frame.sizeBytes != 0) {
        if (const char16_t* message = client.upload(fileName, frame.data, frame.sizeBytes, useTempFile)) {
          setError(message);
        }
      }
    }
    if (stopping()) break;
    const std::u16string error = this->error();
    if (!error.empty() && !ignoreErrors) {
      if (showError) showError(error, kFtpErrorCaption);
      break;
    }
    const uint64_t waitMs = static_cast<uint64_t>(interval) * 1000u;
    const uint32_t wait = waitMs >= platform::kInfinite ? platform::kInfinite - 1 : static_cast<uint32_t>(waitMs);
    if (powerSafe) {
      if (sourcesOff) sourcesOff();
      stopEvent.wait(wait);
      if (stopping()) break;
      frameReady->reset();
      if (sourcesOn) sourcesOn();
    } else {
      stopEvent.wait(wait);
    }
  }
  // No QUIT while stopping; the server sees the connection close.
  client.closeAll();
}

FtpTarget::FtpTarget(const settings::SettingsStore& store, Options options)
    : store_(store),
      options_(std::move(options)),
      clock_(options_.clock ? *options_.clock : platform::systemClock()) {
  if (!options_.resolver) options_.resolver = systemResolver();
  if (!options_.hostAddresses) options_.hostAddresses = [] { return platform::hostAddresses(); };
  worker_ = std::make_shared<Worker>(options_.resolver, clock_);
}

FtpTarget::~FtpTarget() { Stop(); }

std::u16string FtpTarget::errorText() const { return worker_->error(); }

bool FtpTarget::EnsureNetwork() {
  // Where a connection manager could dial a connection, this is the moment; this
  // platform has none, so a missing network shows later as "Cannot connect to server.".
  networkUsable_ = hasUsableNetwork(options_.hostAddresses());
  return networkUsable_;
}

bool FtpTarget::Prepare() {
  server.clear();
  login.clear();
  password.clear();
  directory.clear();
  fileName.clear();
  fileNameHtml.clear();
  port = kDefaultFtpPort;
  passiveMode = 1;
  interval = kDefaultFtpInterval;
  uploadHtml = 1;
  useTempFile = 0;
  ignoreErrors = 0;
  powerSafe = 0;
  if (auto key = store_.OpenKey(u"FTP", false)) {
    server = settings::readString(key, u"Server", kFtpStringChars);
    login = settings::readString(key, u"Login", kFtpStringChars);
    password = settings::readString(key, u"Password", kFtpStringChars);
    directory = settings::readString(key, u"Directory", kFtpStringChars);
    fileName = settings::readString(key, u"Filename", kFtpStringChars);
    fileNameHtml = settings::readString(key, u"FilenameHTML", kFtpStringChars);
    if (auto v = settings::readDword(key, u"Port")) port = *v;
    if (auto v = settings::readDword(key, u"PassiveMode")) passiveMode = *v;
    if (auto v = settings::readDword(key, u"Interval")) interval = *v;
    if (auto v = settings::readDword(key, u"UploadHTML")) uploadHtml = *v;
    if (auto v = settings::readDword(key, u"UseTempFile")) useTempFile = *v;
    if (auto v = settings::readDword(key, u"IgnoreErrors")) ignoreErrors = *v;
    if (auto v = settings::readDword(key, u"PowerSafe")) powerSafe = *v;
  }
  server = orDefault(server, kDefaultFtpServer);
  login = orDefault(login, kDefaultFtpLogin);
  directory = orDefault(directory, kDefaultFtpDirectory);
  fileName = orDefault(fileName, kDefaultFtpFileName);
  fileNameHtml = orDefault(fileNameHtml, kDefaultFtpFileNameHtml);
  if (port > 65535) port = kDefaultFtpPort;
  if (passiveMode > 1) passiveMode = 1;
  if (uploadHtml > 1) uploadHtml = 1;
  if (useTempFile > 1) useTempFile = 1;
  if (ignoreErrors > 1) ignoreErrors = 1;
  if (powerSafe > 1) powerSafe = 1;
  EnsureNetwork();
  // The socket layer needs no start here; the client gets its reply buffer.
  FtpClient& client = worker_->client;
  client.allocateReplyBuffer();
  client.replyTimeoutMs = kFtpReplyTimeoutMs;
  client.passive = true;
  client.clearStop();
  return true;
}

void FtpTarget::Release() {
  worker_->client.freeReplyBuffer();
  if (auto key = store_.OpenKey(u"FTP", true)) {
    settings::writeString(key, u"Server", server);
    settings::writeString(key, u"Login", login);
    settings::writeString(key, u"Password", password);
    settings::writeString(key, u"Directory", directory);
    settings::writeString(key, u"Filename", fileName);
    settings::writeString(key, u"FilenameHTML", fileNameHtml);
    settings::writeDword(key, u"Port", port);
    settings::writeDword(key, u"PassiveMode", passiveMode);
    settings::writeDword(key, u"Interval", interval);
    settings::writeDword(key, u"UploadHTML", uploadHtml);
    settings::writeDword(key, u"UseTempFile", useTempFile);
    settings::writeDword(key, u"IgnoreErrors", ignoreErrors);
    settings::writeDword(key, u"PowerSafe", powerSafe);
  }
}

bool FtpTarget::Start(const TargetStartParams& params) {
  if (workerRunning()) return false;
  Worker& w = *worker_;
  w.setError(u"");
  w.params = params;
  w.frameReady = frameReadyShared();
  w.stopRequested.store(false);
  w.client.clearStop();
  w.stopEvent.reset();
  w.login.server = narrowHostName(server);
  w.login.port = static_cast<uint16_t>(port);
  w.login.login = narrowHostName(login);
  w.login.password = narrowHostName(password);
  w.login.directory = narrowHostName(directory);
  w.login.passive = passiveMode == 1;
  w.fileName = narrowHostName(fileName);
  w.interval = interval;
  w.useTempFile = useTempFile != 0;
  w.ignoreErrors = ignoreErrors != 0;
  w.powerSafe = powerSafe != 0;
  w.showError = options_.showError;
  w.sourcesOff = options_.sourcesOff;
  w.sourcesOn = options_.sourcesOn;
  thread_ = std::make_unique<platform::Thread>();
  std::shared_ptr<Worker> shared = worker_;
  return thread_->start([shared] { shared->run(); });
}

void FtpTarget::Stop() {
  if (!thread_) return;
  Worker& w = *worker_;
  w.stopRequested.store(true);
  w.client.requestStop();
  w.stopEvent.set();
  if (!thread_->joinFor(kStopWaitMs + kStopGraceMs)) {
    // The worker keeps its state to itself; the target goes on with a fresh one.
    const bool buffer = w.client.hasReplyBuffer();
    auto fresh = std::make_shared<Worker>(options_.resolver, clock_);
    fresh->setError(w.error());
    if (buffer) fresh->client.allocateReplyBuffer();
    worker_ = fresh;
  }
  thread_.reset();
}

bool FtpTarget::IsAlive() {
  if (!workerRunning() || worker_->stopRequested.load()) return false;
  return worker_->ignoreErrors || worker_->error().empty();
}

}  // namespace targets
