#pragma once

// The FTP client of the uploader: one control connection that lives across uploads, a
// passive (PASV) or active (PORT) data connection per file, and replies read into one
// bounded reply buffer within a time limit.
//
// Data connections go only to the host of the control connection: the address a PASV
// reply names is checked for its form but not used (a server behind address translation
// often names its inner address, and a hostile one could name a third host). In active
// mode the client listens on the control connection's own local address, on a port the
// system chooses (never a privileged one), and announces exactly that address and port;
// only the control connection's peer may connect to it.
//
// Threading: one thread (the uploader's worker) runs every operation; requestStop() may
// be called from any thread and makes every wait of the client end within a few tens of
// milliseconds.

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "platform/clock.h"
#include "platform/socket.h"
#include "targets/ftp_protocol.h"
#include "targets/network_target.h"

namespace targets {

inline constexpr uint32_t kFtpReplyTimeoutMs = 20480;
inline constexpr size_t kFtpReplyBufferBytes = 65536;
inline constexpr uint32_t kFtpConnectTimeoutMs = 4096;
inline constexpr uint32_t kFtpAcceptTimeoutMs = 5000;
// How long one piece of a file may wait for room in the socket before it counts as a
// failed send.
inline constexpr uint32_t kFtpPieceWaitMs = 2048;
inline constexpr const char* kFtpTempName = "wcp.tmp";

// What a log-in needs, already narrowed to 8-bit characters.
struct FtpLogin {
  std::string server;
  uint16_t port = 21;
  std::string login;
  std::string password;
  std::string directory;
  bool passive = true;
};

class FtpClient {
 public:
  // Why the last reply read ended without a code (for tests and diagnostics).
  enum class ReplyEnd { kCode, kTimeout, kClosed, kStopped, kOverflow, kMalformed, kNoBuffer };

  FtpClient(std::shared_ptr<HostResolver> resolver, platform::Clock& clock);

  // Allocates and frees the reply buffer (the uploader's Prepare and Release). Without it
  // every log-in fails.
  void allocateReplyBuffer();
  void freeReplyBuffer();
  bool hasReplyBuffer() const { return replyBuffer_ != nullptr; }

  uint32_t replyTimeoutMs = kFtpReplyTimeoutMs;
  bool passive = true;

  void requestStop() { stop_.store(true); }
  void clearStop() { stop_.store(false); }
  bool stopRequested() const { return stop_.load(); }

  // ---- Operations ----
  // Opens the control connection and reads the greeting, which must be 220.
  bool connect(const std::string& server, uint16_t port);
  // Reads one reply into the reply buffer; its code, or 0 (see lastReplyEnd()).
  int readReply();
  // Sends "verb", or "verb argument", and CR LF, then reads the reply. 0 when the command
  // could not be sent (the reply is still read).
  int command(const char* verb, const std::string* argument = nullptr);
  // Closes the data connection and the listener, sends QUIT (unless stopping), reads the
  // reply and closes the control connection.
  void quit();
  // Whether the control connection can carry the next command: it exists, is writable,
  // and the server has neither closed it nor said anything unasked (a server that ends an
  // idle session says 421 and closes). A dead connection is closed (Quit).
  bool alive();
  // Keeps a live connection or logs in afresh: USER (331, or 230 when no password is
  // needed), PASS (230), TYPE I, then CWD into the directory, creating it with MKD when
  // it is missing. False (after Quit) when any step fails.
  bool logIn(const FtpLogin& login);
  // Stores one file; null on success, else the message for the user.
  const char16_t* storeFile(const std::string& name, const uint8_t* data, size_t size);
  // Stores the picture under `name`, directly or through kFtpTempName and a rename.
  const char16_t* upload(const std::string& name, const uint8_t* data, size_t size, bool useTempFile);
  // Closes every socket without a word to the server.
  void closeAll();

  // ---- State ----
  bool connected() const { return control_.valid(); }
  std::string replyText() const;
  ReplyEnd lastReplyEnd() const { return lastReplyEnd_; }
  // The data connection's target of the last passive transfer (numeric), and the
  // argument of the last PORT command.
  const std::string& lastDataAddress() const { return lastDataAddress_; }
  const std::string& lastPortArgument() const { return lastPortArgument_; }

 private:
  bool openPassive();
  bool announcePort();
  bool acceptActive();
  bool sendAll(platform::TcpSocket& socket, const std::string& bytes);
  bool wait(uint32_t sliceMs) const;

  std::shared_ptr<HostResolver> resolver_;
  platform::Clock& clock_;
  std::unique_ptr<char[]> replyBuffer_;
  std::atomic<bool> stop_{false};
  platform::TcpSocket control_;
  platform::TcpSocket data_;
  platform::TcpSocket listener_;
  ReplyEnd lastReplyEnd_ = ReplyEnd::kCode;
  std::string lastDataAddress_;
  std::string lastPortArgument_;
};

// Messages of the uploader.
inline constexpr const char16_t* kFtpCannotConnect = u"Cannot connect to server.";
inline constexpr const char16_t* kFtpCannotOpenData = u"Cannot open data connection.";
inline constexpr const char16_t* kFtpCannotSendCommand = u"Cannot send command to server.";
inline constexpr const char16_t* kFtpCannotSendData = u"Cannot send data to server.";
inline constexpr const char16_t* kFtpCannotRename = u"Cannot rename remote TMP file.";

}  // namespace targets
