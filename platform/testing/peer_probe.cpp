#include "peer_probe.h"

#include <pwd.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <sstream>

extern char** environ;

namespace platform::testing {

bool canActAsOtherUser() { return geteuid() == 0 && getpwnam("nobody") != nullptr; }

std::string hexBytes(const void* data, size_t size) {
  std::string text;
  const auto* p = static_cast<const unsigned char*>(data);
  char pair[3];
  for (size_t i = 0; i < size; ++i) {
    std::snprintf(pair, sizeof pair, "%02x", p[i]);
    text += pair;
  }
  return text;
}

ProbeResult runPeerProbe(bool asOtherUser, const std::vector<std::string>& arguments) {
  ProbeResult result;
  // The program's path, after the emulator's words in a cross build.
  std::vector<std::string> words;
  std::istringstream command(VISTREL_PEER_PROBE);
  for (std::string word; command >> word;) words.push_back(word);
  if (asOtherUser) {
    const passwd* nobody = getpwnam("nobody");
    if (nobody == nullptr) return result;
    words.push_back("--as");
    words.push_back(std::to_string(nobody->pw_uid) + ":" + std::to_string(nobody->pw_gid));
  }
  words.insert(words.end(), arguments.begin(), arguments.end());
  std::vector<char*> argv;
  for (std::string& w : words) argv.push_back(w.data());
  argv.push_back(nullptr);

  int out[2];
  if (pipe(out) != 0) return result;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, out[1], 1);
  posix_spawn_file_actions_addclose(&actions, out[0]);
  pid_t pid = 0;
  const int rc = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  close(out[1]);
  if (rc != 0) {
    close(out[0]);
    return result;
  }
  char buffer[256];
  ssize_t n;
  while ((n = read(out[0], buffer, sizeof buffer)) > 0) result.output.append(buffer, static_cast<size_t>(n));
  close(out[0]);
  int status = 0;
  if (waitpid(pid, &status, 0) == pid && WIFEXITED(status)) result.exitCode = WEXITSTATUS(status);
  return result;
}

}  // namespace platform::testing
