#pragma once

// Finding and driving a program's dialogs from a second thread, as a user would through
// the controls' own notifications.

#include <windows.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

namespace dialog_testing {

inline std::wstring text(HWND window) {
  if (window == nullptr) return {};
  wchar_t buffer[512] = {};
  const int n = GetWindowTextW(window, buffer, 512);
  return std::wstring(buffer, n > 0 ? static_cast<size_t>(n) : 0);
}

inline std::wstring className(HWND window) {
  wchar_t buffer[64] = {};
  const int n = GetClassNameW(window, buffer, 64);
  return std::wstring(buffer, n > 0 ? static_cast<size_t>(n) : 0);
}

// Whether the control's font is underlined.
inline bool underlined(HWND control) {
  LOGFONTW font{};
  const auto handle = reinterpret_cast<HGDIOBJ>(SendMessageW(control, WM_GETFONT, 0, 0));
  return handle != nullptr && GetObjectW(handle, sizeof(font), &font) != 0 && font.lfUnderline != 0;
}

// The visible top-level window of `thread` with this caption, waiting at most `limit`.
inline HWND findThreadWindow(DWORD thread, const wchar_t* caption, std::chrono::milliseconds limit) {
  struct Search {
    const wchar_t* caption;
    HWND found;
  } search{caption, nullptr};
  const auto end = std::chrono::steady_clock::now() + limit;
  while (search.found == nullptr && std::chrono::steady_clock::now() < end) {
    EnumThreadWindows(
        thread,
        [](HWND window, LPARAM data) -> BOOL {
          auto* s = reinterpret_cast<Search*>(data);
          if (IsWindowVisible(window) && text(window) == s->caption) {
            s->found = window;
            return FALSE;
          }
          return TRUE;
        },
        reinterpret_cast<LPARAM>(&search));
    if (search.found == nullptr) std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return search.found;
}

// The texts of every window below `parent`.
inline std::vector<std::wstring> childTexts(HWND parent) {
  std::vector<std::wstring> texts;
  EnumChildWindows(
      parent,
      [](HWND window, LPARAM data) -> BOOL {
        reinterpret_cast<std::vector<std::wstring>*>(data)->push_back(text(window));
        return TRUE;
      },
      reinterpret_cast<LPARAM>(&texts));
  return texts;
}

inline std::wstring comboText(HWND combo, int index) {
  const LRESULT length = SendMessageW(combo, CB_GETLBTEXTLEN, static_cast<WPARAM>(index), 0);
  if (length < 0) return {};
  std::wstring line(static_cast<size_t>(length) + 1, L'\0');
  SendMessageW(combo, CB_GETLBTEXT, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(line.data()));
  line.resize(static_cast<size_t>(length));
  return line;
}

// Selects line `index` of a drop-down list and tells its dialog, as a choice with the
// mouse does.
inline void chooseInCombo(HWND dialog, int id, int index) {
  HWND combo = GetDlgItem(dialog, id);
  SendMessageW(combo, CB_SETCURSEL, static_cast<WPARAM>(index), 0);
  SendMessageW(dialog, WM_COMMAND, MAKEWPARAM(id, CBN_SELCHANGE), reinterpret_cast<LPARAM>(combo));
}

}  // namespace dialog_testing
