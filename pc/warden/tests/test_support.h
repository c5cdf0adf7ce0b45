#pragma once

#include <stdlib.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace warden::testing {

inline std::string readFile(const std::filesystem::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

inline void writeFile(const std::filesystem::path& p, const std::string& text) {
  std::filesystem::create_directories(p.parent_path());
  std::ofstream(p, std::ios::binary) << text;
}

// A temporary folder with a fake systemctl first on PATH. The fake appends its arguments
// to calls.log, answers "show --property=LoadState" from the unit folder
// ($VISTREL_UNIT_DIR), and fails (status 1, a message on stderr) for every verb listed in
// $FAKE_SYSTEMCTL_FAIL.
class FakeSystemctl {
 public:
  FakeSystemctl() {
    char pattern[] = "/tmp/warden-test-XXXXXX";
    dir = mkdtemp(pattern);
    writeFile(dir / "bin/systemctl", R"(#!/bin/sh
echo "$*" >> "$FAKE_SYSTEMCTL_LOG"
for verb in $FAKE_SYSTEMCTL_FAIL; do
  for a in "$@"; do
    if [ "$a" = "$verb" ]; then echo "Failed to $verb: fake manager says no" >&2; exit 1; fi
  done
done
case "$*" in
  *--property=LoadState*)
    for unit in "$@"; do :; done
    if [ -e "$VISTREL_UNIT_DIR/$unit" ]; then echo loaded; else echo not-found; fi ;;
esac
exit 0
)");
    chmod((dir / "bin/systemctl").c_str(), 0755);
    oldPath = getenv("PATH") ? getenv("PATH") : "/usr/bin:/bin";
    setenv("PATH", ((dir / "bin").string() + ":" + oldPath).c_str(), 1);
    setenv("FAKE_SYSTEMCTL_LOG", (dir / "calls.log").c_str(), 1);
    setenv("VISTREL_UNIT_DIR", (dir / "units").c_str(), 1);
    unsetenv("FAKE_SYSTEMCTL_FAIL");
  }
  ~FakeSystemctl() {
    setenv("PATH", oldPath.c_str(), 1);
    unsetenv("FAKE_SYSTEMCTL_LOG");
    unsetenv("VISTREL_UNIT_DIR");
    unsetenv("FAKE_SYSTEMCTL_FAIL");
    std::error_code ec;
    std::filesystem::remove_all(dir, ec);
  }
  void failFor(const std::string& verbs) { setenv("FAKE_SYSTEMCTL_FAIL", verbs.c_str(), 1); }
  std::vector<std::string> calls() const {
    std::vector<std::string> out;
    std::istringstream in(readFile(dir / "calls.log"));
    for (std::string line; std::getline(in, line);) out.push_back(line);
    return out;
  }
  void clearCalls() const { std::filesystem::remove(dir / "calls.log"); }

  std::filesystem::path dir;
  std::string oldPath;
};

}  // namespace warden::testing
