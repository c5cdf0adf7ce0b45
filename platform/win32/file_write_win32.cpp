#include <windows.h>

#include <cstdint>

#include "platform/file_write.h"
#include "wide.h"

namespace platform {

// The file is opened without sharing, which is the exclusive lock on Windows: a second
// writer of the same name fails to open it and leaves it as it is.
bool writeFileExclusive(const std::string& path, const void* data, size_t size) {
  HANDLE file = CreateFileW(win32::wide(path).c_str(), GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  const auto* bytes = static_cast<const uint8_t*>(data);
  bool ok = true;
  size_t done = 0;
  while (ok && done < size) {
    const DWORD chunk = size - done > 0x40000000u ? 0x40000000u : static_cast<DWORD>(size - done);
    DWORD written = 0;
    ok = WriteFile(file, bytes + done, chunk, &written, nullptr) != 0 && written > 0;
    done += written;
  }
  // An older, longer file of the same name keeps no tail.
  ok = ok && SetEndOfFile(file) != 0;
  CloseHandle(file);
  return ok;
}

}  // namespace platform
