#include <windows.h>
#include <shellapi.h>

#include <cstring>

#include "platform/help.h"
#include "wide.h"

namespace platform {
namespace {

// One argument of a command line as the C runtime splits it again: quoted when it holds
// blanks or quotes, backslashes before a quote doubled.
std::wstring quoted(const std::wstring& arg) {
  if (!arg.empty() && arg.find_first_of(L" \t\"") == std::wstring::npos) return arg;
  std::wstring out = L"\"";
  size_t backslashes = 0;
  for (wchar_t c : arg) {
    if (c == L'\\') {
      ++backslashes;
      continue;
    }
    out.append(c == L'"' ? backslashes * 2 + 1 : backslashes, L'\\');
    backslashes = 0;
    out.push_back(c);
  }
  out.append(backslashes * 2, L'\\');
  out.push_back(L'"');
  return out;
}

class ShellProgramStarter final : public ProgramStarter {
 public:
  bool start(const std::vector<std::string>& argv) override {
    if (argv.empty()) return false;
    // The desktop's opener is the shell's "open" verb on Windows: a help file or an
    // address opens in the program the user associated with it.
    if (argv[0] == kDesktopOpener || argv[0] == kFallbackBrowser) {
      if (argv.size() != 2) return false;
      const HINSTANCE result = ShellExecuteW(nullptr, L"open", win32::wide(argv[1]).c_str(), nullptr,
                                             nullptr, SW_SHOWNORMAL);
      return reinterpret_cast<INT_PTR>(result) > 32;
    }
    std::wstring commandLine;
    for (const std::string& a : argv) {
      if (!commandLine.empty()) commandLine.push_back(L' ');
      commandLine += quoted(win32::wide(a));
    }
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    if (!CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, FALSE,
                        DETACHED_PROCESS | CREATE_NEW_PROCESS_GROUP, nullptr, nullptr, &startup,
                        &process))
      return false;
    // Detached: neither waited for nor kept.
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return true;
  }
};

}  // namespace

ProgramStarter& systemProgramStarter() {
  static ShellProgramStarter starter;
  return starter;
}

}  // namespace platform
