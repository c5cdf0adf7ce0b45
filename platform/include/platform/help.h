#pragma once

#include <string>
#include <vector>

namespace platform {

// Starting the desktop's help or web viewer.
//
// Threading: any thread.
class ProgramStarter {
 public:
  virtual ~ProgramStarter() = default;
  // Starts `argv[0]` (looked up in PATH) with the other arguments, detached: the caller
  // neither waits for it nor keeps a handle. True when the program was started.
  virtual bool start(const std::vector<std::string>& argv) = 0;
};

// The real starter. Linux: fork, exec, the started program left to init. Windows: the
// desktop's opener and the fallback browser are the shell's "open" verb on the one
// argument (a file or an address); other programs start through CreateProcessW.
ProgramStarter& systemProgramStarter();

// The desktop's opener for files and addresses, and the browser tried when it is absent.
inline constexpr const char* kDesktopOpener = "xdg-open";
inline constexpr const char* kFallbackBrowser = "x-www-browser";

// "file://" address of an absolute path with `#fragment` (the fragment as given), with
// the characters that addresses cannot hold percent-encoded. A Windows path ("C:\..."
// or a share) has its backslashes as separators and "file:///C:/..." as its form.
std::string fileAddress(const std::string& absolutePath, const std::string& fragment);

}  // namespace platform
