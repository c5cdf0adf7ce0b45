// warden.exe: the Windows service "Vistrel Service", and its install and remove switches.

#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

#include "platform/utf16.h"
#include "service_win32.h"
#include "vistrel_version.h"
#include "warden/command_line.h"
#include "warden/module_device_library.h"
#include "warden/service_runner.h"

namespace {

constexpr const char* kUsage = R"(Usage: warden [/i | /u]
       warden HARDWARE-ID [INF-PATH]

Without arguments, runs as the Windows service "Vistrel Service" (the service control
manager starts it so): loads the PC library device.ax beside this program, opens it as
the serving process and receives the phone's frames for every program until stopped.
The user control code 128 makes it read its settings again. Exit status 0 when the
service dispatcher returned; 2 when the program was not started by the service manager.

  /i   install "Vistrel Service" (automatic start, this program's path) and start it;
       exit status 2 when it cannot be created (for example, when it exists already).
       VISTREL_KEY_STORE, VISTREL_OBJECT_PREFIX and VISTREL_DEVICE_PREFIX, when set, are
       kept for the service (the "Environment" value of its registry key).
  /u   stop and delete the service; exit status 2 when it cannot be deleted.
The switches are exact: "/I" is a hardware ID like any other first argument.

  HARDWARE-ID [INF-PATH]   installing or removing a driver's device is not available
       in this build (the virtual audio driver is not built for Windows); exit status 2.

--help shows this text, --version prints the version.
)";


void WINAPI serviceMain(DWORD, LPWSTR*) {
  warden::applyServiceEnvironment(warden::kServiceName);
  warden::ScmServiceHost host;
  warden::ModuleDeviceLibrary device;
  warden::ServiceRunner runner(host, device);
  runner.serviceMain();  // its outcome is in the status reported to the service manager
}

std::string programPath() {
  wchar_t path[MAX_PATH];
  const DWORD n = GetModuleFileNameW(nullptr, path, MAX_PATH);
  return platform::utf16ToUtf8Lossy(std::u16string(path, path + n));
}

}  // namespace

int main(int argc, char** argv) {
  if (vistrel::printVersionIfAsked("warden", argc, argv)) return 0;
  const std::vector<std::string> args(argv + 1, argv + argc);
  const warden::CommandLine c = warden::parseCommandLine(args);
  using Mode = warden::CommandLine::Mode;
  if (c.system) {
    std::fprintf(stderr, "warden: --system has no meaning on Windows (see --help)\n");
    return warden::kExitFailed;
  }
  switch (c.mode) {
    case Mode::kHelp:
      std::fputs(kUsage, stdout);
      return 0;
    case Mode::kBad:
      std::fprintf(stderr, "warden: %s (see --help)\n", c.error.c_str());
      return warden::kExitFailed;
    case Mode::kService: {
      std::u16string name16 = platform::utf8ToUtf16Lossy(warden::kServiceName);
      std::wstring name(name16.begin(), name16.end());
      SERVICE_TABLE_ENTRYW table[] = {{name.data(), serviceMain}, {nullptr, nullptr}};
      if (!StartServiceCtrlDispatcherW(table)) {
        std::fprintf(stderr,
                     "warden: not started by the service manager (error %lu); install the "
                     "service with /i\n",
                     GetLastError());
        return warden::kExitFailed;
      }
      return 0;
    }
    case Mode::kInstallService: {
      warden::ScmServiceManager manager;
      return warden::installService(manager, warden::wardenServiceConfig(programPath()), stderr);
    }
    case Mode::kRemoveService: {
      warden::ScmServiceManager manager;
      return warden::uninstallService(manager, warden::kServiceName, stderr);
    }
    case Mode::kInstallDevice:
    case Mode::kRemoveDevice:
      std::fprintf(stderr,
                   "warden: installing or removing the device %s is not available on Windows: the "
                   "virtual audio driver is not built for it\n",
                   c.hardwareId.c_str());
      return warden::kExitFailed;
  }
  return warden::kExitFailed;
}
