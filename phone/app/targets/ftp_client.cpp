#include "targets/ftp_client.h"

#include <algorithm>

#include "targets/connecting_dialog.h"

namespace targets {

namespace {
constexpr uint32_t kSliceMs = 20;       // longest wait between looks at the stop flag
constexpr uint32_t kSendRetryMs = 10;   // a command that could not be sent is tried again

bool usableAddress(uint32_t address) { return address != 0 && address != 0xFFFFFFFFu; }
std::string dotted(uint32_t address) { return narrowHostName(dottedAddress(address)); }
}  // namespace

FtpClient::FtpClient(std::shared_ptr<HostResolver> resolver, platform::Clock& clock)
    : resolver_(std::move(resolver)), clock_(clock) {}

void FtpClient::allocateReplyBuffer() {
  if (!replyBuffer_) replyBuffer_ = std::make_unique<char[]>(kFtpReplyBufferBytes);
  replyBuffer_[0] = 0;
}

void FtpClient::freeReplyBuffer() { replyBuffer_.reset(); }

std::string FtpClient::replyText() const { return replyBuffer_ ? std::string(replyBuffer_.get()) : std::string(); }

bool FtpClient::wait(uint32_t sliceMs) const {
  if (stop_.load()) return false;
  clock_.sleepMs(sliceMs);
  return !stop_.load();
}

bool FtpClient::connect(const std::string& server, uint16_t port) {
  closeAll();
  if (!replyBuffer_ || stop_.load()) return false;
  const uint32_t address = resolveHost(*resolver_, server);
  if (!usableAddress(address)) return false;
  control_ = platform::TcpSocket::connect(dotted(address), port, kFtpConnectTimeoutMs);
  if (!control_.valid()) return false;
  if (readReply() != 220) {
    control_.close();
    return false;
  }
  return true;
}

int FtpClient::readReply() {
  if (!replyBuffer_) {
    lastReplyEnd_ = ReplyEnd::kNoBuffer;
    return 0;
  }
  ReplyReader reader(replyBuffer_.get(), kFtpReplyBufferBytes);
  const uint32_t start = clock_.nowMs();
  bool readable = false;  // the last wait said the socket has something
  for (;;) {
    if (stop_.load()) {
      lastReplyEnd_ = ReplyEnd::kStopped;
      return 0;
    }
    char byte = 0;
    const long n = control_.receive(&byte, 1);
    if (n == 1) {
      readable = false;
      switch (reader.feed(byte)) {
        case ReplyReader::State::kPending:
          continue;
        case ReplyReader::State::kComplete:
          lastReplyEnd_ = ReplyEnd::kCode;
          return reader.code();
        case ReplyReader::State::kOverflow:
          lastReplyEnd_ = ReplyEnd::kOverflow;
          return 0;
        case ReplyReader::State::kMalformed:
          lastReplyEnd_ = ReplyEnd::kMalformed;
          return 0;
      }
    }
    // End of stream, or an error right after the socket said it was readable (a reset).
    if (n == 0 || (n < 0 && readable) || !control_.valid()) {
      lastReplyEnd_ = ReplyEnd::kClosed;
      return 0;
    }
    const uint32_t spent = platform::elapsedMs(start, clock_.nowMs());
    if (spent >= replyTimeoutMs) {
      lastReplyEnd_ = ReplyEnd::kTimeout;
      return 0;
    }
    const auto r = control_.waitReadable(std::min(kSliceMs, replyTimeoutMs - spent));
    if (r == platform::TcpSocket::kError) {
      lastReplyEnd_ = ReplyEnd::kClosed;
      return 0;
    }
    readable = r == platform::TcpSocket::kReady;
  }
}

bool FtpClient::sendAll(platform::TcpSocket& socket, const std::string& bytes) {
  const uint32_t start = clock_.nowMs();
  size_t sent = 0;
  while (sent < bytes.size()) {
    if (stop_.load() || !socket.valid()) return false;
    if (platform::elapsedMs(start, clock_.nowMs()) >= replyTimeoutMs) return false;
    const auto r = socket.waitWritable(kSliceMs);
    if (r == platform::TcpSocket::kError) return false;
    if (r != platform::TcpSocket::kReady) continue;
    const long n = socket.send(bytes.data() + sent, bytes.size() - sent);
    if (n > 0) {
      sent += static_cast<size_t>(n);
    } else if (n < 0) {
      return false;  // writable yet refused: the connection is broken
    } else if (!wait(kSendRetryMs)) {
      return false;
    }
  }
  return true;
}

int FtpClient::command(const char* verb, const std::string* argument) {
  std::string line = verb;
  if (argument) {
    line += ' ';
    line += *argument;
  }
  line += "\r\n";
  const bool sent = sendAll(control_, line);
  const int code = readReply();
  return sent ? code : 0;
}

void FtpClient::closeAll() {
  listener_.close();
  data_.close();
  control_.close();
}

void FtpClient::quit() {
  listener_.close();
  data_.close();
  if (control_.valid() && !stop_.load()) {
    if (sendAll(control_, "QUIT\r\n")) readReply();  // 221 expected, not required
  }
  control_.close();
}

bool FtpClient::alive() {
  if (!control_.valid()) return false;
  // Between commands the server has nothing to say: anything readable is the end of the
  // stream, an error, or a closing remark such as "421 Timeout.".
  bool dead = control_.waitReadable(0) != platform::TcpSocket::kTimeout;
  if (!dead) dead = control_.waitWritable(0) != platform::TcpSocket::kReady;
  if (!dead) return true;
  quit();
  return false;
}

bool FtpClient::logIn(const FtpLogin& login) {
  if (alive()) return true;
  if (!connect(login.server, login.port)) return false;
  bool ok = false;
  const int user = command("USER", &login.login);
  if (user == 230) {
    ok = true;  // the server needs no password
  } else if (user == 331) {
    ok = command("PASS", &login.password) == 230;
  }
  if (ok) {
    const std::string binary = "I";
    command("TYPE", &binary);
    passive = login.passive;
    if (command("CWD", &login.directory) != 250) {
      ok = command("MKD", &login.directory) == 257 && command("CWD", &login.directory) == 250;
    }
  }
  if (!ok) quit();
  return ok;
}

bool FtpClient::openPassive() {
  data_.close();
  if (command("PASV") != 227) return false;
  uint32_t named = 0;
  uint16_t port = 0;
  if (!parsePassiveReply(replyText(), named, port)) return false;
  // The data connection goes to the host the control connection reaches, whatever
  // address the reply names.
  const std::string peer = control_.peerAddress();
  if (!usableAddress(parseDottedAddress(peer))) return false;
  lastDataAddress_ = peer;
  data_ = platform::TcpSocket::connect(peer, port, kFtpConnectTimeoutMs);
  return data_.valid();
}

bool FtpClient::announcePort() {
  data_.close();
  listener_.close();
  const std::string local = control_.localAddress();
  const uint32_t address = parseDottedAddress(local);
  if (!usableAddress(address)) return false;
  // Port 0: the system picks a free unprivileged port, which is then announced.
  listener_ = platform::TcpSocket::listen(local, 0, 1);
  const uint16_t port = listener_.localPort();
  if (!listener_.valid() || port == 0) {
    listener_.close();
    return false;
  }
  lastPortArgument_ = portArgument(address, port);
  if (command("PORT", &lastPortArgument_) != 200) {
    listener_.close();
    return false;
  }
  return true;
}

bool FtpClient::acceptActive() {
  const std::string peer = control_.peerAddress();
  const uint32_t start = clock_.nowMs();
  while (!stop_.load() && platform::elapsedMs(start, clock_.nowMs()) < kFtpAcceptTimeoutMs) {
    const auto r = listener_.waitAcceptable(kSliceMs);
    if (r == platform::TcpSocket::kError) break;
    if (r != platform::TcpSocket::kReady) continue;
    platform::TcpSocket incoming = listener_.accept();
    // Only the server may deliver the file's connection.
    if (incoming.valid() && incoming.peerAddress() == peer) {
      data_ = std::move(incoming);
      break;
    }
  }
  listener_.close();
  return data_.valid();
}

const char16_t* FtpClient::storeFile(const std::string& name, const uint8_t* data, size_t size) {
  if (passive ? !openPassive() : !announcePort()) {
    data_.close();
    return kFtpCannotOpenData;
  }
  // 125: the data connection is already open; 150: it is about to be opened.
  const int stor = command("STOR", &name);
  if (stor != 150 && stor != 125) {
    data_.close();
    listener_.close();
    return kFtpCannotSendCommand;
  }
  // In active mode the server connects once it has the STOR command.
  if (!passive && !acceptActive()) {
    // The server still owes a reply for the transfer it could not start: begin afresh.
    closeAll();
    return kFtpCannotOpenData;
  }
  const auto send = [this](const uint8_t* bytes, size_t count) -> long {
    const uint32_t start = clock_.nowMs();
    for (;;) {
      if (stop_.load()) return -1;
      const auto r = data_.waitWritable(kSliceMs);
      if (r == platform::TcpSocket::kReady) return data_.send(bytes, count);
      if (r == platform::TcpSocket::kError) return -1;
      if (platform::elapsedMs(start, clock_.nowMs()) >= kFtpPieceWaitMs) return -1;
    }
  };
  const size_t sent = sendInPieces(
      data, size, send, [this] { return stop_.load(); }, [this](uint32_t ms) { clock_.sleepMs(ms); });
  data_.close();
  const int done = readReply();
  if (done != 226 || sent != size) return kFtpCannotSendData;
  return nullptr;
}

const char16_t* FtpClient::upload(const std::string& name, const uint8_t* data, size_t size, bool useTempFile) {
  if (!useTempFile) return storeFile(name, data, size);
  const std::string temp = kFtpTempName;
  command("DELE", &temp);  // usually there is none
  if (const char16_t* message = storeFile(temp, data, size)) return message;
  if (command("RNFR", &temp) != 350) return kFtpCannotRename;
  // A refused RNTO leaves the old picture in place: that is a failure too.
  if (command("RNTO", &name) != 250) return kFtpCannotRename;
  return nullptr;
}

}  // namespace targets
