#include "front/single_instance.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "platform/byte_order.h"
#include "platform/utf16.h"

namespace front {

namespace {

constexpr uint32_t kMaxHandOverBytes = 65536;

platform::LocalStream::Deadline after(uint32_t ms) {
  return std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
}

}  // namespace

std::string instanceName(const std::u16string& windowClass, const std::u16string& title) {
  std::string name(1, '\0');
  if (const char* prefix = std::getenv("VISTREL_OBJECT_PREFIX")) name += prefix;
  name += "vistrel-" + std::to_string(platform::currentUserId()) + "/" +
          platform::utf16ToUtf8Lossy(windowClass) + "/" + platform::utf16ToUtf8Lossy(title);
  return name;
}

std::unique_ptr<InstanceChannel> InstanceChannel::claim(const std::string& name) {
  auto listener = platform::LocalStreamListener::listen(name);
  if (!listener) return nullptr;
  return std::unique_ptr<InstanceChannel>(new InstanceChannel(std::move(listener)));
}

InstanceChannel::~InstanceChannel() = default;

int InstanceChannel::fd() const { return listener_->fd(); }

bool InstanceChannel::receive(HandOverMessage& message, uint32_t timeoutMs) {
  client_ = listener_->accept();  // another user's program is not heard
  if (!client_) return false;
  const auto end = after(timeoutMs);
  uint8_t head[8];
  if (!client_->readExactly(head, 8, end)) return false;
  message.dataWord = platform::load32(head);
  const uint32_t size = platform::load32(head + 4);
  if (size > kMaxHandOverBytes) return false;
  std::vector<uint8_t> bytes(size);
  if (size > 0 && !client_->readExactly(bytes.data(), size, end)) return false;
  message.hasData = size > 0;
  message.text.clear();
  for (size_t i = 0; i + 1 < bytes.size(); i += 2) {
    const char16_t c = static_cast<char16_t>(platform::load16(bytes.data() + i));
    if (c == 0) break;
    message.text.push_back(c);
  }
  return true;
}

void InstanceChannel::reply(uint32_t result, std::string_view output, std::string_view errors) {
  if (!client_) return;
  // The answer word, then each text as its length and its bytes.
  std::vector<uint8_t> answer(4);
  platform::store32(answer.data(), result);
  for (std::string_view text : {output, errors}) {
    const size_t n = std::min<size_t>(text.size(), kMaxHandOverText);
    const size_t at = answer.size();
    answer.resize(at + 4 + n);
    platform::store32(answer.data() + at, static_cast<uint32_t>(n));
    if (n > 0) std::memcpy(answer.data() + at + 4, text.data(), n);
  }
  client_->writeExactly(answer.data(), answer.size(), after(2000));
  client_.reset();
}

bool handOver(const std::string& name, const std::u16string& commandLine, uint32_t timeoutMs,
              uint32_t* result, std::string* output, std::string* errors) {
  // The running copy must be this user's: a name taken by someone else gets nothing.
  const auto stream = platform::LocalStream::connect(name);
  if (!stream) return false;
  std::vector<uint8_t> bytes(8);
  platform::store32(bytes.data(), 0);
  if (!commandLine.empty()) {
    for (char16_t c : commandLine) {
      bytes.resize(bytes.size() + 2);
      platform::store16(bytes.data() + bytes.size() - 2, c);
    }
    bytes.push_back(0);
    bytes.push_back(0);
  }
  platform::store32(bytes.data() + 4, static_cast<uint32_t>(bytes.size() - 8));
  const auto end = after(timeoutMs);
  uint8_t answer[4];
  const bool ok = stream->writeExactly(bytes.data(), bytes.size(), end) &&
                  stream->readExactly(answer, 4, end);
  if (ok && result) *result = platform::load32(answer);
  // The texts to print here; a length above the bound ends the reading.
  for (std::string* text : {output, errors}) {
    uint8_t length[4];
    if (!ok || !stream->readExactly(length, 4, end)) break;
    const uint32_t n = platform::load32(length);
    if (n > kMaxHandOverText) break;
    std::string received(n, '\0');
    if (n > 0 && !stream->readExactly(received.data(), n, end)) break;
    if (text) *text = std::move(received);
  }
  return ok;
}

}  // namespace front
