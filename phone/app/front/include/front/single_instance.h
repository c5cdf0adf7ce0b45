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
#include <string_view>

#include "platform/local_stream.h"

namespace front {

// "\0" + $VISTREL_OBJECT_PREFIX + "vistrel-" + uid + "/" + class + "/" + title (UTF-8).
std::string instanceName(const std::u16string& windowClass, const std::u16string& title);

// What a second copy handed over.
struct HandOverMessage {
  uint32_t dataWord = 0;
  bool hasData = false;
  std::u16string text;  // without the terminating zero
};

// The running copy's answer to a second copy: the answer word and the texts the second
// copy prints (see InstanceChannel::reply).
struct HandOverAnswer {
  uint32_t result = 0;
  std::string output;
  std::string errors;
};

class InstanceChannel {
 public:
  // Owns the name; null when another copy owns it (or the system refuses).
  static std::unique_ptr<InstanceChannel> claim(const std::string& name);
  ~InstanceChannel();

  // The listening descriptor, for the window loop's wait (platform::waitReadable).
  int fd() const;
  // Accepts one waiting second copy and reads its message (waiting at most `timeoutMs`
  // for its bytes). False when none came, the message was not whole or the sender is not
  // this user's (nor root's) program. The caller
  // answers with reply().
  bool receive(HandOverMessage& message, uint32_t timeoutMs);
  // The answer, and what the second copy prints: `output` on its standard output,
  // `errors` on its standard error (each at most kMaxHandOverText bytes, UTF-8).
  void reply(uint32_t result, std::string_view output = {}, std::string_view errors = {});
  void reply(const HandOverAnswer& a) { reply(a.result, a.output, a.errors); }

 private:
  explicit InstanceChannel(std::unique_ptr<platform::LocalStreamListener> listener)
      : listener_(std::move(listener)) {}
  std::unique_ptr<platform::LocalStreamListener> listener_;
  std::unique_ptr<platform::LocalStream> client_;  // the second copy being answered
};

inline constexpr uint32_t kMaxHandOverText = 1u << 20;

// Hands `commandLine` to the copy that owns `name`. True when it answered; `result`
// receives its answer, `output` and `errors` the texts it sent back for this copy to print.
bool handOver(const std::string& name, const std::u16string& commandLine, uint32_t timeoutMs,
              uint32_t* result = nullptr, std::string* output = nullptr, std::string* errors = nullptr);

}  // namespace front
