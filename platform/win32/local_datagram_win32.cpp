// Local datagrams as mailslots ("\\.\mailslot\<name>"): named, message-oriented, gone when
// the receiver closes or dies. Who may send is the system's access check on the mailslot,
// made with the default access list: the receiving user, administrators and the system,
// which is the local peer rule on Windows.

#include <windows.h>

#include <cstring>
#include <vector>

#include "platform/local_datagram.h"
#include "wide.h"

namespace platform {
namespace {

constexpr DWORD kMaxDatagramBytes = 65536;

std::wstring mailslotPath(std::string_view name) {
  std::string flat(name);
  for (char& c : flat) {
    if (c == '\\' || c == '/' || c == '\0') c = '_';
  }
  return L"\\\\.\\mailslot\\" + win32::wide(flat);
}

class MailslotReceiver final : public LocalDatagramReceiver {
 public:
  explicit MailslotReceiver(HANDLE h) : h_(h), buffer_(kMaxDatagramBytes) {}
  ~MailslotReceiver() override { CloseHandle(h_); }
  MailslotReceiver(const MailslotReceiver&) = delete;
  MailslotReceiver& operator=(const MailslotReceiver&) = delete;

  long receive(void* buffer, size_t capacity, uint32_t timeoutMs) override {
    if (!SetMailslotInfo(h_, timeoutMs == 0xFFFFFFFFu ? MAILSLOT_WAIT_FOREVER : timeoutMs)) return -1;
    DWORD n = 0;
    if (!ReadFile(h_, buffer_.data(), kMaxDatagramBytes, &n, nullptr)) {
      return GetLastError() == ERROR_SEM_TIMEOUT ? 0 : -1;
    }
    const size_t kept = n < capacity ? n : capacity;
    std::memcpy(buffer, buffer_.data(), kept);
    return static_cast<long>(kept);
  }

 private:
  HANDLE h_;
  std::vector<uint8_t> buffer_;
};

}  // namespace

std::unique_ptr<LocalDatagramReceiver> LocalDatagramReceiver::bind(std::string_view name) {
  HANDLE h = CreateMailslotW(mailslotPath(name).c_str(), kMaxDatagramBytes, 0, nullptr);
  if (h == INVALID_HANDLE_VALUE) return nullptr;
  return std::make_unique<MailslotReceiver>(h);
}

bool sendLocalDatagram(std::string_view name, const void* data, size_t size) {
  if (size > kMaxDatagramBytes) return false;
  HANDLE h = CreateFileW(mailslotPath(name).c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  DWORD written = 0;
  const bool ok = WriteFile(h, data, static_cast<DWORD>(size), &written, nullptr) && written == size;
  CloseHandle(h);
  return ok;
}

}  // namespace platform
