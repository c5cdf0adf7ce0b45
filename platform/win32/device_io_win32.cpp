// Control devices through the system: "\\.\Name" opened with CreateFileW, requests sent
// with DeviceIoControl.

#include <windows.h>

#include "platform/device_io.h"
#include "wide.h"

namespace platform {
namespace {

class Win32DeviceHandle final : public DeviceHandle {
 public:
  explicit Win32DeviceHandle(HANDLE h) : h_(h) {}
  ~Win32DeviceHandle() override { CloseHandle(h_); }
  Win32DeviceHandle(const Win32DeviceHandle&) = delete;
  Win32DeviceHandle& operator=(const Win32DeviceHandle&) = delete;

  bool control(uint32_t code, const void* in, uint32_t inSize, void* out, uint32_t outSize,
               uint32_t* returned) override {
    DWORD count = 0;
    const bool ok = DeviceIoControl(h_, code, const_cast<void*>(in), inSize, out, outSize, &count, nullptr);
    if (returned != nullptr) *returned = ok ? count : 0;
    status_ = ok ? 0 : GetLastError();
    return ok;
  }

  // The system's error code of the last request (0 = success).
  uint32_t lastStatus() const override { return status_; }

 private:
  HANDLE h_;
  uint32_t status_ = 0;
};

}  // namespace

std::unique_ptr<DeviceHandle> openDevice(std::string_view path) {
  if (!path.starts_with("\\\\.\\") || path.size() <= 4) return nullptr;
  HANDLE h = CreateFileW(win32::wide(path).c_str(), GENERIC_READ | GENERIC_WRITE,
                         FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
  if (h == INVALID_HANDLE_VALUE) return nullptr;
  return std::make_unique<Win32DeviceHandle>(h);
}

}  // namespace platform
