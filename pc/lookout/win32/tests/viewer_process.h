#pragma once

// lookout.exe as a process of the test's own: started with the test's standard handles
// (its messages go to the test's output), its window "Vistrel" found by process, the
// status bar's text read, and its exit code. For the end-to-end tests of the viewer.

#include <windows.h>
#include <commctrl.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <string>
#include <thread>

namespace viewer_testing {

inline bool waitFor(const std::function<bool()>& done, std::chrono::milliseconds limit) {
  const auto end = std::chrono::steady_clock::now() + limit;
  while (!done()) {
    if (std::chrono::steady_clock::now() > end) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return true;
}

class Viewer {
 public:
  ~Viewer() {
    if (process_.hProcess != nullptr) {
      if (WaitForSingleObject(process_.hProcess, 0) == WAIT_TIMEOUT) TerminateProcess(process_.hProcess, 99);
      CloseHandle(process_.hProcess);
      CloseHandle(process_.hThread);
    }
  }
  bool start(const std::filesystem::path& exe) {
    std::wstring commandLine = L"\"" + exe.wstring() + L"\"";
    // The viewer's messages go to the test's output.
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    startup.hStdOutput = GetStdHandle(STD_OUTPUT_HANDLE);
    startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
    return CreateProcessW(exe.wstring().c_str(), commandLine.data(), nullptr, nullptr, TRUE, 0, nullptr,
                          exe.parent_path().wstring().c_str(), &startup, &process_) != 0;
  }
  // The viewer's top-level window "Vistrel", once it is there.
  HWND window() const {
    struct Search {
      DWORD pid;
      HWND found;
    } search{process_.dwProcessId, nullptr};
    EnumWindows(
        [](HWND w, LPARAM p) -> BOOL {
          auto* s = reinterpret_cast<Search*>(p);
          DWORD pid = 0;
          GetWindowThreadProcessId(w, &pid);
          wchar_t cls[32] = {};
          GetClassNameW(w, cls, 32);
          if (pid == s->pid && std::wstring(cls) == L"Vistrel" && IsWindowVisible(w)) {
            s->found = w;
            return FALSE;
          }
          return TRUE;
        },
        reinterpret_cast<LPARAM>(&search));
    return search.found;
  }
  std::wstring statusText() const {
    HWND status = FindWindowExW(window(), nullptr, STATUSCLASSNAMEW, nullptr);
    if (status == nullptr) return {};
    wchar_t text[128] = {};
    DWORD_PTR n = 0;
    SendMessageTimeoutW(status, WM_GETTEXT, 128, reinterpret_cast<LPARAM>(text), SMTO_ABORTIFHUNG, 1000, &n);
    return text;
  }
  int statusBarHeight() const {
    RECT r{};
    GetWindowRect(FindWindowExW(window(), nullptr, STATUSCLASSNAMEW, nullptr), &r);
    return r.bottom - r.top;
  }
  // The exit code once the process has ended within `limit`, else -1.
  long exitCode(DWORD limitMs) const {
    if (WaitForSingleObject(process_.hProcess, limitMs) != WAIT_OBJECT_0) return -1;
    DWORD code = 0;
    GetExitCodeProcess(process_.hProcess, &code);
    return static_cast<long>(code);
  }

 private:
  PROCESS_INFORMATION process_{};
};

}  // namespace viewer_testing
