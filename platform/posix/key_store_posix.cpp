// The key store's file: whole-file reads, replacement by rename under a lock file.

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

#include "platform/key_store.h"

namespace platform {
namespace {

std::string parentOf(const std::string& path) {
  const size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

void makeFolders(const std::string& dir) {
  if (dir.empty() || dir == "/" || dir == ".") return;
  struct stat st;
  if (::stat(dir.c_str(), &st) == 0) return;
  makeFolders(parentOf(dir));
  ::mkdir(dir.c_str(), 0755);
}

// 1: read; 0: absent; -1: error, with `problem` set when the user should hear of it.
// Opened without blocking: a FIFO or a device in the file's place must not hang the
// program in open() or read(), and is refused like anything but a regular file.
int readWhole(const std::string& path, std::string& text, std::string& problem) {
  text.clear();
  const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) {
    if (errno == ENOENT) return 0;
    if (errno == ENXIO) problem = path + ": not a regular file; settings are not read from it";
    return -1;
  }
  struct stat st;
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    problem = path + ": not a regular file; settings are not read from it";
    ::close(fd);
    return -1;
  }
  const std::string tooLarge = path + ": larger than " + std::to_string(kKeyStoreMaxFileBytes) +
                               " bytes; settings are not read from it";
  if (static_cast<uint64_t>(st.st_size) > kKeyStoreMaxFileBytes) {
    problem = tooLarge;
    ::close(fd);
    return -1;
  }
  char buf[16384];
  while (true) {
    const ssize_t n = ::read(fd, buf, sizeof buf);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      ::close(fd);
      return -1;
    }
    if (n == 0) break;
    text.append(buf, static_cast<size_t>(n));
    if (text.size() > kKeyStoreMaxFileBytes) {  // it grew while being read
      problem = tooLarge;
      text.clear();
      ::close(fd);
      return -1;
    }
  }
  ::close(fd);
  return 1;
}

bool writeAll(int fd, const std::string& text) {
  size_t done = 0;
  while (done < text.size()) {
    const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

class KeyStoreFile final : public KeyStoreStorage {
 public:
  explicit KeyStoreFile(std::string path) : path_(std::move(path)) {}

  bool read(std::string& text, std::string& problem) override {
    return readWhole(path_, text, problem) >= 0;
  }

  bool update(const std::function<bool(std::string& text)>& edit, std::string& problem) override {
    makeFolders(parentOf(path_));
    const std::string lockPath = path_ + ".lock";
    const int lockFd =
        ::open(lockPath.c_str(), O_RDWR | O_CREAT | O_NONBLOCK | O_NOCTTY | O_CLOEXEC, 0600);
    if (lockFd < 0) return false;
    while (::flock(lockFd, LOCK_EX) != 0) {
      if (errno != EINTR) {
        ::close(lockFd);
        return false;
      }
    }
    const bool ok = replaceLocked(edit, problem);
    ::flock(lockFd, LOCK_UN);
    ::close(lockFd);
    return ok;
  }

  bool flush() override {
    const int fd = ::open(path_.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) return errno == ENOENT;
    struct stat st;
    bool ok = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && ::fsync(fd) == 0;
    ::close(fd);
    const int dirFd = ::open(parentOf(path_).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dirFd >= 0) {
      ok = ::fsync(dirFd) == 0 && ok;
      ::close(dirFd);
    }
    return ok;
  }

  std::string name() const override { return path_; }

 private:
  bool replaceLocked(const std::function<bool(std::string& text)>& edit, std::string& problem) {
    std::string text;
    const int state = readWhole(path_, text, problem);
    if (state < 0) return false;
    if (!edit(text)) return true;
    mode_t mode = 0600;
    struct stat st;
    if (state > 0 && ::stat(path_.c_str(), &st) == 0) mode = st.st_mode & 07777;
    // Only one writer holds the lock, so one fixed name for the replacement is enough; a
    // left-over from a crashed writer is simply overwritten.
    // It is made afresh, so that whatever else sits under that name is never opened.
    const std::string temp = path_ + ".new";
    ::unlink(temp.c_str());
    const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
    if (fd < 0) return false;
    (void)::fchmod(fd, mode);  // the creation mode passed through the umask
    bool ok = writeAll(fd, text);
    ok = (::close(fd) == 0) && ok;
    if (ok) ok = ::rename(temp.c_str(), path_.c_str()) == 0;
    if (!ok) ::unlink(temp.c_str());
    return ok;
  }

  const std::string path_;
};

}  // namespace

std::unique_ptr<KeyStoreStorage> openKeyStoreFile(const std::string& path) {
  return std::make_unique<KeyStoreFile>(path);
}

std::unique_ptr<KeyStoreStorage> openMachineKeyStorage() {
  return openKeyStoreFile(defaultKeyStorePath());
}

std::string defaultKeyStorePath() {
  if (const char* env = std::getenv(kKeyStoreEnvironment); env && *env) return env;
  const bool machineFolder =
      ::access("/var/lib/vistrel", W_OK) == 0 ||
      (errno == ENOENT && ::access("/var/lib", W_OK) == 0);
  if (machineFolder) return "/var/lib/vistrel/registry.reg";
  std::string base;
  if (const char* xdg = std::getenv("XDG_CONFIG_HOME"); xdg && *xdg == '/') {
    base = xdg;
  } else if (const char* home = std::getenv("HOME"); home && *home) {
    base = std::string(home) + "/.config";
  } else {
    base = "/tmp";
  }
  return base + "/vistrel/registry.reg";
}

}  // namespace platform
