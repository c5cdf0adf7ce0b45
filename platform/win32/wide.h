#pragma once

// UTF-8 <-> the UTF-16 of the Win32 wide calls (wchar_t is 16 bits on Windows).

#include <string>
#include <string_view>

#include "platform/utf16.h"

namespace platform::win32 {

inline std::wstring wide(std::string_view utf8) {
  const std::u16string units = utf8ToUtf16Lossy(utf8);
  return std::wstring(units.begin(), units.end());
}

inline std::wstring wide(std::u16string_view units) { return std::wstring(units.begin(), units.end()); }

inline std::string narrow(std::wstring_view units) {
  return utf16ToUtf8Lossy(std::u16string(units.begin(), units.end()));
}

}  // namespace platform::win32
