#include "warden/systemd_service_manager.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

extern char** environ;

namespace warden {

namespace {

std::string firstLine(const std::string& text) {
  std::string line = text.substr(0, text.find('\n'));
  return line.empty() ? "no message" : line;
}

bool makeDirectories(const std::string& path) {
  std::string partial;
  std::stringstream parts(path);
  std::string part;
  if (!path.empty() && path[0] == '/') partial = "/";
  while (std::getline(parts, part, '/')) {
    if (part.empty()) continue;
    partial += part + "/";
    if (::mkdir(partial.c_str(), 0755) != 0 && errno != EEXIST) return false;
  }
  return true;
}

}  // namespace

int runProgram(const std::vector<std::string>& argv, std::string* output) {
  int pipeFds[2];
  if (::pipe2(pipeFds, O_CLOEXEC) != 0) return -1;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, pipeFds[1], 1);
  posix_spawn_file_actions_adddup2(&actions, pipeFds[1], 2);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  std::vector<char*> args;
  for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  pid_t pid = -1;
  const int rc = ::posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  ::close(pipeFds[1]);
  std::string collected;
  if (rc == 0) {
    char buffer[4096];
    for (;;) {
      const ssize_t n = ::read(pipeFds[0], buffer, sizeof buffer);
      if (n > 0) collected.append(buffer, static_cast<size_t>(n));
      else if (n < 0 && errno == EINTR) continue;
      else break;
    }
  }
  ::close(pipeFds[0]);
  if (output != nullptr) *output = collected;
  if (rc != 0) {
    if (output != nullptr) *output = argv[0] + ": " + std::strerror(rc);
    return -1;
  }
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) return -1;
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

int runSystemctl(UnitScope scope, const std::vector<std::string>& args, std::string* output) {
  std::vector<std::string> argv{"systemctl"};
  if (scope == UnitScope::kUser) argv.push_back("--user");
  argv.insert(argv.end(), args.begin(), args.end());
  return runProgram(argv, output);
}

std::string unitNameFor(const std::string& serviceName) {
  std::string unit;
  for (char c : serviceName) {
    unit += c == ' ' ? '-' : static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  }
  return unit + ".service";
}

std::string unitDirectory(UnitScope scope) {
  const char* overridden = std::getenv("VISTREL_UNIT_DIR");
  if (overridden != nullptr && overridden[0] != 0) return overridden;
  if (scope == UnitScope::kSystem) return "/etc/systemd/system";
  const char* config = std::getenv("XDG_CONFIG_HOME");
  if (config != nullptr && config[0] == '/') return std::string(config) + "/systemd/user";
  const char* home = std::getenv("HOME");
  return std::string(home != nullptr ? home : "") + "/.config/systemd/user";
}

bool quoteUnitWord(const std::string& word, std::string& quoted) {
  quoted = "\"";
  for (char c : word) {
    if (c == '\n' || c == '\r' || c == 0) return false;
    if (c == '\\' || c == '"') quoted += '\\';
    if (c == '%') quoted += '%';
    if (c == '$') quoted += '$';
    quoted += c;
  }
  quoted += '"';
  return true;
}

std::string unitFileText(const ServiceConfig& config, UnitScope scope) {
  std::string exec;
  quoteUnitWord(config.executablePath, exec);
  std::string text =
      "# " + config.displayName + ": written by \"warden /i\", removed by \"warden /u\".\n"
      "[Unit]\n"
      "Description=" + config.description + "\n";
  if (scope == UnitScope::kSystem) text += "After=network.target\n";
  text += "\n[Service]\n"
          "Type=notify\n"
          "NotifyAccess=main\n"
          "ExecStart=" + exec + "\n"
          "ExecReload=/bin/kill -HUP $MAINPID\n";
  for (const std::string& e : config.environment) {
    std::string quoted;
    if (quoteUnitWord(e, quoted)) text += "Environment=" + quoted + "\n";
  }
  if (config.restartOnFailure) text += "Restart=on-failure\nRestartSec=2\n";
  if (config.autoStart) {
    text += "\n[Install]\nWantedBy=";
    text += scope == UnitScope::kSystem ? "multi-user.target\n" : "default.target\n";
  }
  return text;
}

std::string SystemdServiceManager::unitPath(const std::string& name) const {
  return unitDirectory(scope_) + "/" + unitNameFor(name);
}

bool SystemdServiceManager::systemctl(const std::vector<std::string>& args, std::string& error,
                                      std::string* out) {
  std::string output;
  const int status = runSystemctl(scope_, args, &output);
  if (out != nullptr) *out = output;
  if (status == 0) return true;
  error = "systemctl " + (args.empty() ? std::string() : args[0]) + ": " + firstLine(output);
  return false;
}

bool SystemdServiceManager::connect(std::string& error) {
  // Any answer of the manager will do; "show" without a unit asks the manager itself.
  return systemctl({"show", "--property=Version"}, error);
}

bool SystemdServiceManager::createService(const ServiceConfig& config, std::string& error) {
  std::string quoted;
  if (!quoteUnitWord(config.executablePath, quoted) || config.executablePath.empty() ||
      config.executablePath[0] != '/') {
    error = "the program path cannot be written into a unit: " + config.executablePath;
    return false;
  }
  const std::string unit = unitNameFor(config.name);
  std::string state, ignored;
  // A unit of that name anywhere the manager looks (not only in our folder) is taken.
  systemctl({"show", "--property=LoadState", "--value", unit}, ignored, &state);
  if (state.rfind("loaded", 0) == 0) {
    error = "a service named " + unit + " exists already";
    return false;
  }
  const std::string dir = unitDirectory(scope_);
  const std::string path = unitPath(config.name);
  if (!makeDirectories(dir)) {
    error = "cannot create " + dir + ": " + std::strerror(errno);
    return false;
  }
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
  if (fd < 0) {
    error = errno == EEXIST ? "a service named " + unit + " exists already (" + path + ")"
                            : "cannot write " + path + ": " + std::strerror(errno);
    return false;
  }
  const std::string text = unitFileText(config, scope_);
  const bool written = ::write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
  const bool closed = ::close(fd) == 0;
  if (!written || !closed) {
    error = "cannot write " + path + ": " + std::strerror(errno);
    ::unlink(path.c_str());
    return false;
  }
  if (!systemctl({"daemon-reload"}, error) || !systemctl({"enable", unit}, error)) {
    std::string more;
    ::unlink(path.c_str());
    systemctl({"daemon-reload"}, more);
    return false;
  }
  return true;
}

bool SystemdServiceManager::setDescription(const std::string& name, const std::string& description,
                                           std::string& error) {
  // The unit file carries the description; keep it as asked even if the file was edited.
  const std::string path = unitPath(name);
  std::ifstream in(path);
  if (!in) {
    error = "cannot read " + path;
    return false;
  }
  std::string text, line;
  bool changed = false;
  while (std::getline(in, line)) {
    if (line.rfind("Description=", 0) == 0 && line != "Description=" + description) {
      line = "Description=" + description;
      changed = true;
    }
    text += line + "\n";
  }
  in.close();
  if (!changed) return true;
  std::ofstream out(path, std::ios::trunc);
  out << text;
  out.close();
  if (!out) {
    error = "cannot write " + path;
    return false;
  }
  return systemctl({"daemon-reload"}, error);
}

bool SystemdServiceManager::startService(const std::string& name, std::string& error) {
  return systemctl({"start", unitNameFor(name)}, error);
}

bool SystemdServiceManager::stopService(const std::string& name, std::string& error) {
  return systemctl({"stop", unitNameFor(name)}, error);
}

bool SystemdServiceManager::deleteService(const std::string& name, std::string& error) {
  const std::string path = unitPath(name);
  struct stat st{};
  if (::lstat(path.c_str(), &st) != 0) {
    error = "no service named " + unitNameFor(name) + " is installed (" + path + ")";
    return false;
  }
  std::string ignored;
  systemctl({"disable", unitNameFor(name)}, ignored);  // links of an enabled unit
  if (::unlink(path.c_str()) != 0) {
    error = "cannot remove " + path + ": " + std::strerror(errno);
    return false;
  }
  systemctl({"daemon-reload"}, ignored);
  return true;
}

}  // namespace warden
