// warden: the service that serves the phone for every program on the PC, its install and
// remove switches, and the installer of the virtual microphone's device.
#include <unistd.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "warden/command_line.h"
#include "warden/device_installer.h"
#include "warden/module_device_library.h"
#include "warden/service_runner.h"
#include "warden/systemd_host.h"
#include "warden/systemd_service_manager.h"
#include "vistrel_version.h"

namespace {

constexpr const char* kUsage = R"(Usage: warden [--system] [/i | /u]
       warden HARDWARE-ID [DEFINITION-FILE]

Without arguments, runs the "Vistrel Service" in the foreground, as its systemd unit
starts it: loads the PC library (device.ax, i.e. device.so beside this program, else in
the installed module folder lib/vistrel), opens it as the serving process and receives
the phone's frames for every program until stopped.
  SIGTERM, SIGINT   stop
  SIGHUP            read the settings again (a changed port takes effect at once);
                    "systemctl --user reload vistrel-service" sends it
The state goes to systemd's notification socket ($NOTIFY_SOCKET). Exit status 0 after a
stop, 255 when the library could not be loaded or opened (the service's exit code
0xFFFFFFFF) or the service already runs.

  /i   install the service "vistrel-service.service" (Description "Vistrel Service",
       started with the session, restarted on failure, running this program from the
       path it was started as) and start it. Fails with 2 when it is installed already.
  /u   stop and remove the service. Fails with 2 when it is not installed.
  --system   with /i or /u: a unit of the machine's service manager in
       /etc/systemd/system (runs as root at boot) instead of the default user unit in
       ~/.config/systemd/user (runs in your session, next to PipeWire and the
       microphone, with your settings).
The switches are exact: "/I" is a hardware ID like any other first argument.

  HARDWARE-ID DEFINITION-FILE   install the device that the definition file describes
       for that hardware ID, or update the present device with that ID: the definition
       and its files are copied into the device store, the driver's unit is enabled for
       every user and restarted in your session, its ALSA (and PipeWire) configuration
       put in place. Usually run as root:
         warden 'ROOT\OrvaneAudio' /usr/share/vistrel/devices/orvaneaudio/orvaneaudio.vdef
  HARDWARE-ID   remove the present device with that hardware ID (any case).
Device exit status: 0 done; 1 done, but the audio system must be restarted to show it
(log in again, or "systemctl --user restart orvaneaudio"); 2 failed, nothing left half
done. The store is /var/lib/vistrel/devices; VISTREL_DEVICE_ROOT=DIR puts the store and
every installed file below DIR instead of "/".
/i and /u exit with 0 done or 2 failed.

--help shows this text, --version prints the version.

Environment: VISTREL_KEY_STORE (settings file), VISTREL_OBJECT_PREFIX (named objects
and the service's control endpoint), VISTREL_UNIT_DIR (folder for the unit of /i, /u),
VISTREL_DEVICE_ROOT. More: docs/warden.md.
)";

// The program as it was started, made absolute: a unit needs a full path.
std::string startedPath(const char* argv0) {
  const std::string a = argv0 != nullptr ? argv0 : "";
  if (a.find('/') == std::string::npos) {
    char buffer[PATH_MAX];
    const ssize_t n = ::readlink("/proc/self/exe", buffer, sizeof buffer - 1);
    return n > 0 ? std::string(buffer, static_cast<size_t>(n)) : a;
  }
  if (a[0] == '/') return a;
  char cwd[PATH_MAX];
  if (::getcwd(cwd, sizeof cwd) == nullptr) return a;
  std::string path = std::string(cwd) + "/" + a;
  while (path.find("/./") != std::string::npos) path.erase(path.find("/./"), 2);
  return path;
}

int runService() {
  warden::blockControlSignals();  // before any thread exists
  warden::SystemdServiceHost host;
  warden::ModuleDeviceLibrary device;
  warden::ServiceRunner runner(host, device);
  const int status = runner.serviceMain();
  host.shutdown();  // no control may reach the runner once it is gone
  return status;
}

}  // namespace

int main(int argc, char** argv) {
  if (vistrel::printVersionIfAsked("warden", argc, argv)) return 0;
  const std::vector<std::string> args(argv + 1, argv + argc);
  const warden::CommandLine c = warden::parseCommandLine(args);
  using Mode = warden::CommandLine::Mode;
  const warden::UnitScope scope = c.system ? warden::UnitScope::kSystem : warden::UnitScope::kUser;
  switch (c.mode) {
    case Mode::kHelp:
      std::fputs(kUsage, stdout);
      return 0;
    case Mode::kBad:
      std::fprintf(stderr, "warden: %s (see --help)\n", c.error.c_str());
      return warden::kExitFailed;
    case Mode::kService:
      return runService();
    case Mode::kInstallService: {
      warden::SystemdServiceManager manager(scope);
      return warden::installService(manager, warden::wardenServiceConfig(startedPath(argv[0])), stderr);
    }
    case Mode::kRemoveService: {
      warden::SystemdServiceManager manager(scope);
      return warden::uninstallService(manager, warden::kServiceName, stderr);
    }
    case Mode::kInstallDevice:
    case Mode::kRemoveDevice: {
      const char* root = std::getenv("VISTREL_DEVICE_ROOT");
      warden::SystemctlDeviceUnits units(root != nullptr ? root : "");
      const warden::DeviceLayout layout = warden::deviceLayoutFromEnvironment();
      return c.mode == Mode::kInstallDevice
                 ? warden::installDevice(layout, units, c.hardwareId, c.definitionPath, stderr)
                 : warden::removeDevice(layout, units, c.hardwareId, stderr);
    }
  }
  return warden::kExitFailed;
}
