#include <unistd.h>

#include <climits>

#include "platform/resources.h"

namespace platform {

std::string programFilePath() {
  char buf[PATH_MAX];
  const ssize_t n = ::readlink("/proc/self/exe", buf, sizeof buf - 1);
  if (n <= 0) return {};
  return std::string(buf, static_cast<size_t>(n));
}

}  // namespace platform
