#pragma once

// Starts the device program on the device from the PC, through the remote-API module
// (launcher/remote_api.h): when an engine opens with "ConnectAtStartup" and when the
// user presses Connect. At most one launch runs at a time in a process; it runs on its
// own short-lived thread.
//
// The launch number is the port the device program connects to (low 16 bits), plus
// kReconnectFlag when the device program must drop a link it holds and connect again
// (Connect). The device program gets it as its command line, "-p" and the number.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "launcher/remote_api.h"

namespace platform {
class Module;
}

namespace launcher {

inline constexpr uint32_t kInitLimitMs = 4096;
inline constexpr uint32_t kReconnectFlag = 0x10000;
// The module's name, and the environment variable that names another one (tests).
inline constexpr char kRemoteApiModule[] = "rapi.dll";
inline constexpr char kRemoteApiEnvironment[] = "VISTREL_RAPI_MODULE";
// Where the device's settings say the device program is installed (either key, either
// value name), read in this order.
inline constexpr char16_t kInstallKey[] = u"Security\\AppInstall\\Orvane Vistrel";
inline constexpr char16_t kAppsKey[] = u"Software\\Apps\\Orvane Vistrel";
inline constexpr uint32_t kInstallDirBytes = 520;
// The device program's file name on the device.
inline constexpr char16_t kProgramName[] = u"vistrel";

// The entry points of a loaded module; lastError may be null.
struct RemoteApi {
  RapiInitExFunction initEx = nullptr;
  RapiUninitFunction uninit = nullptr;
  RapiCreateProcessFunction createProcess = nullptr;
  RapiRegOpenKeyExFunction regOpenKeyEx = nullptr;
  RapiRegQueryValueExFunction regQueryValueEx = nullptr;
  RapiRegCloseKeyFunction regCloseKey = nullptr;
  RapiLastErrorFunction lastError = nullptr;
};

enum class LaunchStep {
  kNoModule,        // the module is missing or lacks an entry point
  kInitialisation,  // the device was not reached (see initResult)
  kStart,           // the device program did not start
  kStarted,
};

struct LaunchResult {
  LaunchStep step = LaunchStep::kNoModule;
  int32_t initResult = kRapiFailed;  // with kInitialisation: the module's code, or
                                     // kRapiUnreachable when it did not end in time
  std::u16string path;               // the program started (or tried)
  std::u16string commandLine;
  std::string reason;                // the module's own words, when it gave any

  bool started() const { return step == LaunchStep::kStarted; }
};

// "-p" and the number in decimal: "-p2047", "-p67583".
std::u16string launchCommandLine(uint32_t number);
// The device program in `installDir` ("<dir>/vistrel"), or its bare name, found through
// the device's program search path, when no folder is known.
std::u16string programPath(std::u16string_view installDir);

// The launch over a loaded module: initialise (at most `initLimitMs`), find the
// installation folder in the device's settings, start the program, end the session.
LaunchResult runLaunch(uint32_t number, const RemoteApi& api, uint32_t initLimitMs = kInitLimitMs);

// The module, loaded, with its entry points; null (and `reason` set) when it is missing or
// lacks one of the six required ones.
struct LoadedRemoteApi {
  std::unique_ptr<platform::Module> module;
  RemoteApi api;
  ~LoadedRemoteApi();
};
std::unique_ptr<LoadedRemoteApi> loadRemoteApi(std::string& reason);

// Loads the module, runs the launch and unloads it.
LaunchResult launch(uint32_t number);

// What a person is told about a launch that failed: one or two sentences.
std::string failureMessage(const LaunchResult& result);

// Starts a launch on a new thread, which calls `done` with the result at its end (on that
// thread, once the launch no longer counts as running). When a launch is already running,
// returns true at once and starts nothing; false when the thread could not be made. `run`
// replaces launch (tests).
using LaunchFunction = std::function<LaunchResult(uint32_t number)>;
bool startLauncher(uint32_t number, std::function<void(const LaunchResult&)> done = {},
                   LaunchFunction run = {});
// Whether a launch is running in this process.
bool launcherRunning();

}  // namespace launcher
