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

// The real starter (fork, exec; the started program is left to init).
ProgramStarter& systemProgramStarter();

// The desktop's opener for files and addresses, and the browser tried when it is absent.
inline constexpr const char* kDesktopOpener = "xdg-open";
inline constexpr const char* kFallbackBrowser = "x-www-browser";

// "file://" address of an absolute path with `#fragment` (the fragment as given), with
// the characters that addresses cannot hold percent-encoded.
std::string fileAddress(const std::string& absolutePath, const std::string& fragment);

}  // namespace platform
