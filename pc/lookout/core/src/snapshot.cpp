#include "lookout/snapshot.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

namespace lookout {

std::string snapshotFileName(const std::string& folder, const std::tm& t) {
  char name[64];
  std::snprintf(name, sizeof name, "%d%02d%02d-%02d%02d%02d.jpg", (t.tm_year + 1900) % 100,
                t.tm_mon + 1, t.tm_mday, t.tm_hour, t.tm_min, t.tm_sec);
  return folder + "/" + name;
}

bool writeSnapshot(const std::string& path, const uint8_t* data, size_t sizeBytes) {
  // Opened without truncating, so that a file another viewer is writing is not cut before
  // we hold the lock; cut after, so that no tail of a longer earlier file is left behind.
  int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
  if (fd < 0) return false;
  bool ok = ::flock(fd, LOCK_EX | LOCK_NB) == 0 && ::ftruncate(fd, 0) == 0;
  size_t done = 0;
  while (ok && done < sizeBytes) {
    ssize_t n = ::write(fd, data + done, sizeBytes - done);
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

}  // namespace lookout
