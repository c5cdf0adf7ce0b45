#include "platform/file_write.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>

namespace platform {

bool writeFileExclusive(const std::string& path, const void* data, size_t size) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
  if (fd < 0) return false;
  bool ok = ::flock(fd, LOCK_EX | LOCK_NB) == 0 && ::ftruncate(fd, 0) == 0;
  const auto* bytes = static_cast<const uint8_t*>(data);
  size_t done = 0;
  while (ok && done < size) {
    const ssize_t n = ::write(fd, bytes + done, size - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      ok = false;
      break;
    }
    done += static_cast<size_t>(n);
  }
  ::close(fd);
  return ok;
}

}  // namespace platform
