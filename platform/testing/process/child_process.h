#pragma once

#include <gtest/gtest.h>
#include <sys/types.h>

#include <optional>
#include <string>
#include <vector>

namespace platform::testing {

// A run of a test's helper program (`program`, our own build's, after the emulator's words
// in a cross build) in its own process, with
// pipes on its standard input and output. The destructor kills and reaps a process that
// is still running.
class ChildProcess {
 public:
  ChildProcess(const std::string& program, const std::vector<std::string>& arguments);
  ~ChildProcess();
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  bool started() const { return pid_ > 0; }
  pid_t pid() const { return pid_; }
  // The next line of output without its line end; none after timeoutMs or at its end.
  std::optional<std::string> readLine(int timeoutMs);
  // Closing the input tells the helper to finish normally.
  void closeInput();
  // SIGKILL, then reaped.
  void kill();
  // The exit code once it has ended within timeoutMs (-1 for death by a signal).
  std::optional<int> waitExit(int timeoutMs);

 private:
  pid_t pid_ = -1;
  int input_ = -1;
  int output_ = -1;
  std::string buffered_;
  std::optional<int> exitCode_;
};

// The prefix the tests give their object names: unique per test process and test.
std::string uniqueObjectPrefix(const std::string& test);
// Removes every object whose name starts with `prefix`.
void removeObjectsWithPrefix(const std::string& prefix);

// Gives each test its own object names (VISTREL_OBJECT_PREFIX, inherited by the helper
// processes) and removes its objects afterwards.
class ObjectTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;
  std::string prefix_;
};

}  // namespace platform::testing
