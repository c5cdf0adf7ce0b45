#include "launcher/phone_launcher.h"

#include <atomic>
#include <cstdlib>
#include <system_error>
#include <thread>

#include "platform/event.h"
#include "platform/module.h"
#include "platform/utf16.h"

namespace launcher {
namespace {

std::atomic<bool> gRunning{false};

std::string lastError(const RemoteApi& api) {
  if (!api.lastError) return {};
  char text[512] = {};
  api.lastError(text, sizeof text);
  text[sizeof text - 1] = 0;
  return text;
}

// The string value `name` of an open key, up to its first zero; empty when it cannot be
// read as one.
std::u16string readString(const RemoteApi& api, RapiKey key, const char16_t* name) {
  uint8_t data[kInstallDirBytes] = {};
  uint32_t type = 0;
  uint32_t size = sizeof data;
  if (api.regQueryValueEx(key, name, &type, data, &size) != 0) return {};
  if (size > sizeof data) size = sizeof data;
  std::u16string text;
  for (uint32_t i = 0; i + 1 < size; i += 2) {
    const char16_t c = static_cast<char16_t>(data[i] | (data[i + 1] << 8));
    if (c == 0) break;
    text.push_back(c);
  }
  return text;
}

// The installation folder from the device's settings; empty when neither key holds one.
std::u16string installDirectory(const RemoteApi& api) {
  for (const char16_t* subKey : {kInstallKey, kAppsKey}) {
    RapiKey key = nullptr;
    if (api.regOpenKeyEx(kRapiHkeyLocalMachine, subKey, 0, kRapiKeyAllAccess, &key) != 0) continue;
    std::u16string dir = readString(api, key, u"InstallDir");
    if (dir.empty()) dir = readString(api, key, u"InstlDir");
    api.regCloseKey(key);
    if (!dir.empty()) return dir;
  }
  return {};
}

template <typename F>
bool take(const platform::Module& module, const char* name, F& out) {
  out = reinterpret_cast<F>(module.symbol(name));
  return out != nullptr;
}

std::string utf8(const std::u16string& s) { return platform::utf16ToUtf8Lossy(s); }

}  // namespace

std::u16string launchCommandLine(uint32_t number) {
  return u"-p" + platform::utf8ToUtf16Lossy(std::to_string(number));
}

std::u16string programPath(std::u16string_view installDir) {
  if (installDir.empty()) return kProgramName;
  std::u16string path(installDir);
  if (path.back() != u'/') path.push_back(u'/');
  return path + kProgramName;
}

LaunchResult runLaunch(uint32_t number, const RemoteApi& api, uint32_t initLimitMs) {
  LaunchResult result;
  result.commandLine = launchCommandLine(number);
  result.step = LaunchStep::kInitialisation;
  auto event = std::make_unique<platform::Event>(platform::Event::Reset::kManual);
  RapiInit init;
  init.event.set = [](void* e) { static_cast<platform::Event*>(e)->set(); };
  init.event.object = event.get();
  if (api.initEx(&init) != 0) {
    result.initResult = kRapiFailed;
    result.reason = lastError(api);
    api.uninit();
    return result;
  }
  const bool ended = event->wait(initLimitMs);
  if (!ended || init.result != kRapiOk) {
    // Uninit cuts a running initialisation short, so nothing writes `init` after it.
    api.uninit();
    result.initResult = ended ? init.result : kRapiUnreachable;
    result.reason = lastError(api);
    if (!ended && result.reason.empty()) result.reason = "no answer within " + std::to_string(initLimitMs) + " ms";
    return result;
  }
  result.initResult = kRapiOk;
  result.path = programPath(installDirectory(api));
  result.step = api.createProcess(result.path.c_str(), result.commandLine.c_str()) != 0 ? LaunchStep::kStarted
                                                                                     : LaunchStep::kStart;
  if (!result.started()) result.reason = lastError(api);
  api.uninit();
  return result;
}

LoadedRemoteApi::~LoadedRemoteApi() = default;

std::unique_ptr<LoadedRemoteApi> loadRemoteApi(std::string& reason) {
  const char* other = std::getenv(kRemoteApiEnvironment);
  const std::string name = other != nullptr && *other != 0 ? other : kRemoteApiModule;
  auto loaded = std::make_unique<LoadedRemoteApi>();
  loaded->module = platform::loadModule(name);
  if (!loaded->module) {
    reason = "the remote-API module " + platform::moduleSearchText(name) + " is not installed";
    return nullptr;
  }
  const platform::Module& m = *loaded->module;
  RemoteApi& api = loaded->api;
  if (!take(m, "CeRapiInitEx", api.initEx) || !take(m, "CeRapiUninit", api.uninit) ||
      !take(m, "CeCreateProcess", api.createProcess) || !take(m, "CeRegOpenKeyEx", api.regOpenKeyEx) ||
      !take(m, "CeRegQueryValueEx", api.regQueryValueEx) || !take(m, "CeRegCloseKey", api.regCloseKey)) {
    reason = "the remote-API module " + platform::moduleFileName(name) + " lacks an entry point";
    return nullptr;
  }
  take(m, "RapiLastError", api.lastError);
  return loaded;
}

LaunchResult launch(uint32_t number) {
  std::string reason;
  std::unique_ptr<LoadedRemoteApi> loaded = loadRemoteApi(reason);
  if (!loaded) {
    LaunchResult result;
    result.commandLine = launchCommandLine(number);
    result.reason = reason;
    return result;
  }
  return runLaunch(number, loaded->api);
}

std::string failureMessage(const LaunchResult& r) {
  const std::string why = r.reason.empty() ? std::string() : " (" + r.reason + ")";
  switch (r.step) {
    case LaunchStep::kNoModule:
      return "The device program cannot be started from here: " + r.reason +
             ". Start it on the device by hand.";
    case LaunchStep::kInitialisation:
      switch (r.initResult) {
        case kRapiNotConfigured:
          return "No device is set up to start the device program on. Set its \"Host\" (and "
                 "\"User\", \"Port\") under Software\\Orvane\\Vistrel\\RemoteDevice in the settings.";
        case kRapiRefused:
          return "The device refused the login" + why + ".";
        case kRapiUnreachable:
          return "The device did not answer" + why + ".";
        default:
          return "The device could not be reached" + why + ".";
      }
    case LaunchStep::kStart:
      return "The device program " + utf8(r.path) + " could not be started on the device" + why + ".";
    case LaunchStep::kStarted:
      break;
  }
  return {};
}

bool startLauncher(uint32_t number, std::function<void(const LaunchResult&)> done, LaunchFunction run) {
  bool expected = false;
  if (!gRunning.compare_exchange_strong(expected, true)) return true;
  if (!run) run = launch;
  try {
    std::thread([number, done = std::move(done), run = std::move(run)] {
      const LaunchResult result = run(number);
      gRunning.store(false);
      if (done) done(result);
    }).detach();
  } catch (const std::system_error&) {
    gRunning.store(false);
    return false;
  }
  return true;
}

bool launcherRunning() { return gRunning.load(); }

}  // namespace launcher
