#include "child_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <thread>

extern char** environ;

namespace platform::testing {

ChildProcess::ChildProcess(const std::string& program, const std::vector<std::string>& arguments) {
  int in[2];
  int out[2];
  if (pipe2(in, O_CLOEXEC) != 0) return;
  if (pipe2(out, O_CLOEXEC) != 0) {
    close(in[0]);
    close(in[1]);
    return;
  }
  // The program's path, after the emulator's words in a cross build.
  std::vector<std::string> all;
  std::istringstream command(program);
  for (std::string word; command >> word;) all.push_back(word);
  all.insert(all.end(), arguments.begin(), arguments.end());
  std::vector<char*> argv;
  for (std::string& argument : all) argv.push_back(argument.data());
  argv.push_back(nullptr);

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, in[0], 0);
  posix_spawn_file_actions_adddup2(&actions, out[1], 1);
  pid_t pid = -1;
  const int rc = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  close(in[0]);
  close(out[1]);
  if (rc != 0) {
    close(in[1]);
    close(out[0]);
    return;
  }
  pid_ = pid;
  input_ = in[1];
  output_ = out[0];
}

ChildProcess::~ChildProcess() {
  if (pid_ > 0 && !exitCode_) kill();
  closeInput();
  if (output_ >= 0) close(output_);
}

std::optional<std::string> ChildProcess::readLine(int timeoutMs) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    const size_t end = buffered_.find('\n');
    if (end != std::string::npos) {
      std::string line = buffered_.substr(0, end);
      buffered_.erase(0, end + 1);
      return line;
    }
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (output_ < 0 || left.count() <= 0) return std::nullopt;
    pollfd p{output_, POLLIN, 0};
    if (poll(&p, 1, static_cast<int>(left.count())) <= 0) continue;
    char chunk[256];
    const ssize_t n = read(output_, chunk, sizeof chunk);
    if (n <= 0) return std::nullopt;
    buffered_.append(chunk, static_cast<size_t>(n));
  }
}

void ChildProcess::closeInput() {
  if (input_ >= 0) close(input_);
  input_ = -1;
}

void ChildProcess::kill() {
  if (pid_ <= 0 || exitCode_) return;
  ::kill(pid_, SIGKILL);
  int status = 0;
  waitpid(pid_, &status, 0);
  exitCode_ = -1;
}

std::optional<int> ChildProcess::waitExit(int timeoutMs) {
  if (pid_ <= 0) return std::nullopt;
  if (exitCode_) return exitCode_;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    int status = 0;
    const pid_t done = waitpid(pid_, &status, WNOHANG);
    if (done == pid_) {
      exitCode_ = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
      return exitCode_;
    }
    if (std::chrono::steady_clock::now() >= deadline) return std::nullopt;
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
}

std::string uniqueObjectPrefix(const std::string& test) {
  return "vistrel-test-" + std::to_string(getpid()) + "-" + test + "-";
}

void removeObjectsWithPrefix(const std::string& prefix) {
  std::error_code error;
  for (const auto& entry : std::filesystem::directory_iterator("/dev/shm", error)) {
    if (entry.path().filename().string().rfind(prefix, 0) == 0) {
      std::filesystem::remove(entry.path(), error);
    }
  }
}

void ObjectTest::SetUp() {
  prefix_ = uniqueObjectPrefix(::testing::UnitTest::GetInstance()->current_test_info()->name());
  setenv("VISTREL_OBJECT_PREFIX", prefix_.c_str(), 1);
}

void ObjectTest::TearDown() {
  removeObjectsWithPrefix(prefix_);
  unsetenv("VISTREL_OBJECT_PREFIX");
}

}  // namespace platform::testing
