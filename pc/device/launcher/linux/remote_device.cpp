// The remote-API session: one per process at a time, started by CeRapiInitEx on a worker
// thread (reaching the device and reading its settings file), ended by CeRapiUninit,
// which stops a worker still running (its command is killed) before it returns.
#include "linux/remote_device.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <memory>
#include <mutex>
#include <thread>

#include "platform/key_store.h"
#include "platform/utf16.h"

extern char** environ;

namespace launcher::remote {
namespace {

// Bounds of what a device may send back, and how long a start may take (the start runs
// after the device answered once, so it is quick unless the device is hanging).
constexpr size_t kMaxOutputBytes = platform::kKeyStoreMaxFileBytes;
constexpr size_t kMaxErrorBytes = 4096;
constexpr uint32_t kSettingsLimitMs = 30000;  // the launcher gives up long before
constexpr uint32_t kStartLimitMs = 8192;

struct RunResult {
  int status = -1;  // exit status; -1 when it did not end by itself
  std::string output;
  std::string error;
};

// Runs argv with no input, collecting its output (bounded) until it ends, `limitMs`
// passes or `cancel` is set; a command that does not end is killed.
RunResult run(const std::vector<std::string>& argv, uint32_t limitMs, const std::atomic<bool>& cancel) {
  RunResult result;
  int out[2], err[2];
  if (::pipe2(out, O_CLOEXEC) != 0) return result;
  if (::pipe2(err, O_CLOEXEC) != 0) {
    ::close(out[0]), ::close(out[1]);
    return result;
  }
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_adddup2(&actions, out[1], 1);
  posix_spawn_file_actions_adddup2(&actions, err[1], 2);
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  // Its own process group, so that a kill reaches what it started in the foreground too.
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP);
  posix_spawnattr_setpgroup(&attributes, 0);
  std::vector<char*> args;
  for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  pid_t pid = 0;
  const int spawned = ::posix_spawnp(&pid, args[0], &actions, &attributes, args.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attributes);
  ::close(out[1]), ::close(err[1]);
  if (spawned != 0) {
    ::close(out[0]), ::close(err[0]);
    result.error = std::string(args[0]) + ": " + std::strerror(spawned);
    return result;
  }
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(limitMs);
  pollfd fds[2] = {{out[0], POLLIN, 0}, {err[0], POLLIN, 0}};
  bool ended = false;
  while (fds[0].fd >= 0 || fds[1].fd >= 0) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
    if (left.count() <= 0 || cancel.load()) break;
    if (::poll(fds, 2, static_cast<int>(std::min<long long>(left.count(), 50))) < 0 && errno != EINTR) break;
    for (int i = 0; i < 2; ++i) {
      if (fds[i].fd < 0 || (fds[i].revents & (POLLIN | POLLHUP | POLLERR)) == 0) continue;
      char buffer[4096];
      const ssize_t n = ::read(fds[i].fd, buffer, sizeof buffer);
      if (n <= 0) {
        ::close(fds[i].fd);
        fds[i].fd = -1;
        continue;
      }
      std::string& into = i == 0 ? result.output : result.error;
      const size_t limit = i == 0 ? kMaxOutputBytes + 1 : kMaxErrorBytes;
      into.append(buffer, std::min(static_cast<size_t>(n), limit - std::min(limit, into.size())));
    }
    ended = fds[0].fd < 0 && fds[1].fd < 0;
  }
  for (pollfd& p : fds)
    if (p.fd >= 0) ::close(p.fd);
  int status = 0;
  pid_t done = 0;
  // A command that closed its output may still take a moment to end; not past the limit.
  while (ended && (done = ::waitpid(pid, &status, WNOHANG)) == 0 && std::chrono::steady_clock::now() < end &&
         !cancel.load())
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  if (done != pid) {
    ::kill(-pid, SIGKILL);
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    ended = false;
  }
  if (ended && WIFEXITED(status)) result.status = WEXITSTATUS(status);
  return result;
}

// The device's settings, as read at the start of the session: a store over that text
// that takes no changes.
class TextStorage final : public platform::KeyStoreStorage {
 public:
  explicit TextStorage(std::string text) : text_(std::move(text)) {}
  bool read(std::string& text, std::string&) override {
    text = text_;
    return true;
  }
  bool update(const std::function<bool(std::string&)>&, std::string&) override { return false; }
  bool flush() override { return true; }
  std::string name() const override { return "device settings"; }

 private:
  std::string text_;
};

}  // namespace

std::string lastLine(const std::string& text) {
  size_t end = text.find_last_not_of("\r\n \t");
  if (end == std::string::npos) return {};
  const size_t start = text.find_last_of('\n', end);
  std::string line = text.substr(start == std::string::npos ? 0 : start + 1, end + 1 - (start == std::string::npos ? 0 : start + 1));
  if (line.size() > 300) line.resize(300);
  return line;
}

namespace {

struct Session {
  std::atomic<bool> cancel{false};
  std::thread worker;
  std::unique_ptr<platform::KeyStore> device;  // written by the worker before it signals
};

// The module's state. Never destroyed: a program may end while a session's worker (or a
// launcher thread calling in) still runs, and a joinable worker destroyed at exit would
// end the program abnormally.
struct ModuleState {
  std::mutex mutex;
  std::unique_ptr<Session> session;
  std::string lastError;
};
ModuleState& state() {
  static ModuleState* const instance = new ModuleState;
  return *instance;
}

void setLastError(std::string text) {
  ModuleState& st = state();
  std::lock_guard lock(st.mutex);
  st.lastError = std::move(text);
}

std::u16string fromWide(const char16_t* text) { return text ? std::u16string(text) : std::u16string(); }

}  // namespace

std::string shellQuote(const std::string& text) {
  std::string quoted = "'";
  for (char c : text) {
    if (c == '\'') {
      quoted += "'\\''";
    } else {
      quoted += c;
    }
  }
  return quoted + "'";
}

std::string settingsScript() {
  // The same file the device program opens: $VISTREL_KEY_STORE, else the machine's file,
  // else the user's. No file is an empty store.
  return "f=${VISTREL_KEY_STORE:-}; if [ -z \"$f\" ]; then f=/var/lib/vistrel/registry.reg; "
         "[ -r \"$f\" ] || f=\"${XDG_CONFIG_HOME:-$HOME/.config}/vistrel/registry.reg\"; fi; "
         "if [ -r \"$f\" ]; then head -c " + std::to_string(kMaxOutputBytes) + " \"$f\"; fi; exit 0";
}

std::string startScript(const std::string& path, const std::vector<std::string>& arguments) {
  std::string words;
  for (const std::string& a : arguments) words += " " + shellQuote(a);
  return "p=" + shellQuote(path) +
         "; case \"$p\" in */*) [ -x \"$p\" ] ;; *) command -v \"$p\" >/dev/null 2>&1 ;; esac || "
         "{ echo \"$p: no such program on the device\" >&2; exit 127; }; cd / || exit 1; "
         "if command -v setsid >/dev/null 2>&1; then setsid \"$p\"" + words +
         " </dev/null >/dev/null 2>&1 & else nohup \"$p\"" + words +
         " </dev/null >/dev/null 2>&1 & fi; exit 0";
}

}  // namespace launcher::remote

using namespace launcher::remote;

#define RAPI_EXPORT extern "C" __attribute__((visibility("default")))

RAPI_EXPORT int32_t CeRapiUninit() {
  std::unique_ptr<Session> session;
  {
    ModuleState& st = state();
    std::lock_guard lock(st.mutex);
    session = std::move(st.session);
  }
  if (session) {
    session->cancel = true;
    if (session->worker.joinable()) session->worker.join();
  }
  return 0;
}

RAPI_EXPORT int32_t CeRapiInitEx(RapiInit* init) {
  if (init == nullptr || init->size < sizeof(RapiInit) || init->event.set == nullptr) return kRapiFailed;
  CeRapiUninit();
  Transport& transport = moduleTransport();
  std::string reason;
  int32_t code = kRapiFailed;
  if (!transport.configure(reason, code)) {
    // Nothing to wait for: the answer is known at once.
    setLastError(reason);
    init->result = code;
    init->event.set(init->event.object);
    return 0;
  }
  auto session = std::make_unique<Session>();
  Session* s = session.get();
  const RapiEvent event = init->event;
  int32_t* result = &init->result;
  try {
    session->worker = std::thread([s, event, result, &transport] {
      const RunResult r = run(transport.command(settingsScript()), kSettingsLimitMs, s->cancel);
      if (s->cancel) return;
      std::string why;
      int32_t code = transport.classify(r.status, r.error, why);
      if (code == kRapiOk && r.output.size() > kMaxOutputBytes) {
        code = kRapiFailed;
        why = "the device's settings file is too large";
      }
      if (code == kRapiOk) s->device = std::make_unique<platform::KeyStore>(
                               std::make_unique<TextStorage>(r.output), [](const std::string&) {});
      setLastError(why);
      *result = code;
      event.set(event.object);
    });
  } catch (const std::system_error&) {
    return kRapiFailed;
  }
  ModuleState& st = state();
  std::lock_guard lock(st.mutex);
  st.session = std::move(session);
  return 0;
}

RAPI_EXPORT int32_t CeRegOpenKeyEx(uint32_t root, const char16_t* subKey, uint32_t, uint32_t, RapiKey* key) {
  if (key == nullptr) return kRapiFailed;
  *key = nullptr;
  ModuleState& st = state();
  std::lock_guard lock(st.mutex);
  if (root != kRapiHkeyLocalMachine || !st.session || !st.session->device) return kRapiFailed;
  std::unique_ptr<platform::RegistryKey> opened = st.session->device->openKey(fromWide(subKey));
  if (!opened) return kRapiFailed;
  *key = opened.release();
  return 0;
}

RAPI_EXPORT int32_t CeRegQueryValueEx(RapiKey key, const char16_t* name, uint32_t* type, uint8_t* data,
                                      uint32_t* sizeBytes) {
  if (key == nullptr || sizeBytes == nullptr) return kRapiFailed;
  platform::RegistryValue value;
  if (!static_cast<platform::RegistryKey*>(key)->queryValue(fromWide(name), value)) return kRapiFailed;
  if (type) *type = value.type;
  const uint32_t capacity = *sizeBytes;
  *sizeBytes = static_cast<uint32_t>(value.data.size());
  if (value.data.size() > capacity || (data == nullptr && !value.data.empty())) return kRapiFailed;
  if (!value.data.empty()) std::memcpy(data, value.data.data(), value.data.size());
  return 0;
}

RAPI_EXPORT int32_t CeRegCloseKey(RapiKey key) {
  delete static_cast<platform::RegistryKey*>(key);
  return 0;
}

RAPI_EXPORT int32_t CeCreateProcess(const char16_t* path, const char16_t* commandLine) {
  {
    ModuleState& st = state();
    std::lock_guard lock(st.mutex);
    if (!st.session || !st.session->device) {
      st.lastError = "no session with the device";
      return 0;
    }
  }
  std::vector<std::string> arguments;
  const std::string line = platform::utf16ToUtf8Lossy(fromWide(commandLine));
  for (size_t i = 0; i < line.size();) {
    const size_t start = line.find_first_not_of(' ', i);
    if (start == std::string::npos) break;
    const size_t stop = line.find(' ', start);
    arguments.push_back(line.substr(start, stop == std::string::npos ? std::string::npos : stop - start));
    i = stop == std::string::npos ? line.size() : stop;
  }
  Transport& transport = moduleTransport();
  const std::atomic<bool> never{false};
  const RunResult r = run(transport.command(startScript(platform::utf16ToUtf8Lossy(fromWide(path)), arguments)),
                          kStartLimitMs, never);
  std::string why;
  const int32_t code = transport.classify(r.status, r.error, why);
  if (code == kRapiOk && r.status == 0) {
    setLastError({});
    return 1;
  }
  if (code == kRapiOk) why = lastLine(r.error).empty() ? "it ended with status " + std::to_string(r.status) : lastLine(r.error);
  setLastError(why);
  return 0;
}

RAPI_EXPORT uint32_t RapiLastError(char* text, uint32_t capacity) {
  ModuleState& st = state();
  std::lock_guard lock(st.mutex);
  if (text != nullptr && capacity > 0) {
    const size_t n = std::min<size_t>(st.lastError.size(), capacity - 1);
    std::memcpy(text, st.lastError.data(), n);
    text[n] = 0;
  }
  return static_cast<uint32_t>(st.lastError.size());
}
