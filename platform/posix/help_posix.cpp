#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>

#include "platform/help.h"

namespace platform {
namespace {

class SystemProgramStarter final : public ProgramStarter {
 public:
  bool start(const std::vector<std::string>& argv) override {
    if (argv.empty()) return false;
    std::vector<char*> args;
    for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    // The grandchild reports a failed exec through the pipe; a successful exec closes
    // it empty. The child in between ends at once, so nothing is left to reap.
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) return false;
    const pid_t child = ::fork();
    if (child < 0) {
      ::close(fds[0]);
      ::close(fds[1]);
      return false;
    }
    if (child == 0) {
      ::close(fds[0]);
      ::setsid();
      const pid_t grandchild = ::fork();
      if (grandchild != 0) ::_exit(grandchild < 0 ? 1 : 0);
      const int devNull = ::open("/dev/null", O_RDWR);
      if (devNull >= 0) {
        ::dup2(devNull, 0);
        ::dup2(devNull, 1);
        ::dup2(devNull, 2);
      }
      ::execvp(args[0], args.data());
      const int err = errno;
      (void)!::write(fds[1], &err, sizeof err);
      ::_exit(127);
    }
    ::close(fds[1]);
    int status = 0;
    while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    int err = 0;
    ssize_t n;
    while ((n = ::read(fds[0], &err, sizeof err)) < 0 && errno == EINTR) {
    }
    ::close(fds[0]);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0 && n == 0;
  }
};

}  // namespace

ProgramStarter& systemProgramStarter() {
  static SystemProgramStarter starter;
  return starter;
}

}  // namespace platform
