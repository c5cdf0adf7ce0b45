#pragma once

// The helper program's side of a ChildProcess (child_process.h): it reports one line per
// step on its standard output and holds what it holds until the test closes its input.

#include <unistd.h>

#include <cstdio>
#include <string>

namespace platform::testing {

// One line on standard output, flushed at once (the test reads it through a pipe).
inline void sayLine(const std::string& line) {
  std::printf("%s\n", line.c_str());
  std::fflush(stdout);
}

// Blocks until the test closes our input (or kills us).
inline void holdUntilInputEnds() {
  char buffer[64];
  while (read(0, buffer, sizeof buffer) > 0) {
  }
}

}  // namespace platform::testing
