// Server bytes as the FTP client reads them: the reply reader must stay inside a small
// buffer, keep its text zero-terminated, take no byte after a reply ends, and give a code
// only for a reply whose first line starts with it; every complete reply's text is then
// handed to the PASV parser, whose port must come from six numbers of at most 255.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "targets/ftp_protocol.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  // The first byte picks the buffer size (2 to 257 bytes, the zero included).
  const size_t capacity = 2 + data[0];
  std::vector<char> buffer(capacity + 16, '\x7f');
  targets::ReplyReader reader(buffer.data(), capacity);
  for (size_t i = 1; i < size; ++i) {
    const auto state = reader.feed(static_cast<char>(data[i]));
    const std::string_view text = reader.text();
    if (text.size() >= capacity || buffer[text.size()] != 0) std::abort();
    for (size_t j = capacity; j < buffer.size(); ++j) {
      if (buffer[j] != '\x7f') std::abort();  // nothing written past the buffer
    }
    if (state == targets::ReplyReader::State::kPending) continue;
    if (state == targets::ReplyReader::State::kComplete) {
      const int code = reader.code();
      if (code < 100 || code > 599 || text.size() < 4 || text[0] - '0' != code / 100) std::abort();
      if (text.back() != '\n') std::abort();
      uint32_t address = 0;
      uint16_t port = 0;
      if (targets::parsePassiveReply(text, address, port) && port == 0) std::abort();
    } else if (reader.code() != 0) {
      std::abort();
    }
    if (reader.feed('2') != state || reader.text().size() != text.size()) std::abort();
    reader.reset();
  }
  return 0;
}
