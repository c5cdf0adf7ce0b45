#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>

#include "platform/v4l2_io.h"

namespace platform {
namespace {

class SystemV4l2Io final : public V4l2Io {
 public:
  std::vector<std::string> devicePaths() override {
    std::vector<std::pair<unsigned long, std::string>> found;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator("/dev", error)) {
      const std::string name = entry.path().filename().string();
      if (name.rfind("video", 0) != 0 || name.size() == 5) continue;
      const std::string digits = name.substr(5);
      if (!std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; }))
        continue;
      found.emplace_back(std::stoul(digits), entry.path().string());
    }
    std::sort(found.begin(), found.end());
    std::vector<std::string> paths;
    for (auto& f : found) paths.push_back(std::move(f.second));
    return paths;
  }

  int open(const std::string& path, Mode mode) override {
    const int fd = ::open(path.c_str(), O_RDWR | O_CLOEXEC | (mode == Mode::kNonBlocking ? O_NONBLOCK : 0));
    return fd >= 0 ? fd : -errno;
  }

  void close(int fd) override { ::close(fd); }

  int ioctl(int fd, unsigned long request, void* argument) override {
    int r;
    do {
      r = ::ioctl(fd, request, argument);
    } while (r < 0 && errno == EINTR);
    return r < 0 ? -errno : 0;
  }

  void* mmap(size_t length, int fd, int64_t offset) override {
    void* p = ::mmap(nullptr, length, PROT_READ | PROT_WRITE, MAP_SHARED, fd, static_cast<off_t>(offset));
    return p == MAP_FAILED ? nullptr : p;
  }

  void munmap(void* address, size_t length) override { ::munmap(address, length); }

  int pollReadable(int fd, int timeoutMs) override {
    pollfd p{fd, POLLIN, 0};
    int r;
    do {
      r = ::poll(&p, 1, timeoutMs);
    } while (r < 0 && errno == EINTR);
    if (r < 0) return -errno;
    if (r == 0) return 0;
    if (p.revents & (POLLERR | POLLHUP | POLLNVAL)) return -ENODEV;
    return 1;
  }

  int64_t write(int fd, const void* data, size_t size) override {
    const ssize_t n = ::write(fd, data, size);
    return n < 0 ? -errno : n;
  }
};

}  // namespace

std::shared_ptr<V4l2Io> systemV4l2Io() { return std::make_shared<SystemV4l2Io>(); }

}  // namespace platform
