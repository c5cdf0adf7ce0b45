#pragma once

// What the scheduler says a thread is doing, for tests that must know that another thread
// or process has gone to sleep in a wait (or has stopped, or ended) before they go on.

#include <sys/types.h>

#include <fstream>
#include <iterator>
#include <string>

namespace platform::testing {

// The state letter of thread `thread` of process `process` ('S' asleep in a wait, 'T'
// stopped, 'Z' ended but not reaped), or '?' when it cannot be read.
inline char threadState(pid_t process, pid_t thread) {
  std::ifstream file("/proc/" + std::to_string(process) + "/task/" + std::to_string(thread) +
                     "/stat");
  const std::string text((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  const size_t close = text.rfind(')');
  return close == std::string::npos || close + 2 >= text.size() ? '?' : text[close + 2];
}

// The state of a process's main thread.
inline char threadState(pid_t process) { return threadState(process, process); }

}  // namespace platform::testing
