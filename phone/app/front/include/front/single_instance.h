#pragma once

// One running copy of the device program per user. The running copy owns an abstract
// Unix socket named after its window class and title; a second start connects there,
// hands over its command line (the data word 0, the text as UTF-16 with its terminating
// zero, or no data for an empty command line) and waits for the answer, as a window
// message sent to the running copy would. The name vanishes with the process that owns
// it, so a crashed copy never blocks the next start.
//
// Threading: the window thread.

#include <cstdint>
#include <memory>
#include <string>

namespace front {

// "\0" + $VISTREL_OBJECT_PREFIX + "vistrel-" + uid + "/" + class + "/" + title (UTF-8).
std::string InstanceName(const std::u16string& windowClass, const std::u16string& title);

// What a second copy handed over.
struct HandOverMessage {
  uint32_t dataWord = 0;
  bool hasData = false;
  std::u16string text;  // without the terminating zero
};

class InstanceChannel {
 public:
  // Owns the name; null when another copy owns it (or the system refuses).
  static std::unique_ptr<InstanceChannel> Claim(const std::string& name);
  ~InstanceChannel();

  // The listening descriptor, for the window loop's poll.
  int fd() const { return fd_; }
  // Accepts one waiting second copy and reads its message (waiting at most `timeoutMs`
  // for its bytes). False when none came, the message was not whole or the sender is not
  // this user's (nor root's) program. The caller
  // answers with Reply().
  bool Receive(HandOverMessage& message, uint32_t timeoutMs);
  void Reply(uint32_t result);

 private:
  explicit InstanceChannel(int fd) : fd_(fd) {}
  int fd_ = -1;
  int client_ = -1;
};

// Hands `commandLine` to the copy that owns `name`. True when it answered; `result`
// receives its answer.
bool HandOver(const std::string& name, const std::u16string& commandLine, uint32_t timeoutMs,
              uint32_t* result = nullptr);

}  // namespace front
