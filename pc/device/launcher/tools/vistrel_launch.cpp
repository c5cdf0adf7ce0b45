// vistrel-launch: starts the device program on the device set up in the PC settings, the
// way the settings page's Connect does, waits for the launch to end and says how it went.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>
#include <thread>

#include "launcher/phone_launcher.h"
#include "platform/key_store.h"
#include "platform/utf16.h"
#include "settings/device_settings.h"
#include "vistrel_version.h"

namespace {

constexpr const char* kUsage = R"(Usage: vistrel-launch [options]

Starts the device program (vistrel) on the device set up in the PC settings, with the
command line -p and the port it is to connect to, the way the settings page's Connect
does. The device is reached through the remote-API module rapi.so (beside the PC
library; VISTREL_RAPI_MODULE names another), which uses ssh with the settings under
HKEY_LOCAL_MACHINE\Software\Orvane\Vistrel\RemoteDevice: "Host", "User", "Port",
"IdentityFile", "KnownHostsFile", "SshOptions". The device's own settings say where
the program is installed ("InstallDir"); else it is looked up on the device's PATH.

Options:
  -c, --connect     add 65536 to the number, as Connect does: a device program that
                    already runs drops its link and connects again
  -p, --port N      the port (1..65535; default: the PC settings' "Port")
      --times N     make N start requests in quick succession (a request while a
                    launch runs starts nothing more); default 1
  -h, --help        show this text
  --version         print the version

Exit status: 0 the program was started, 1 it was not (the message says why), 2 bad
option.
)";

bool number(const char* text, unsigned long low, unsigned long high, unsigned long& out) {
  char* end = nullptr;
  out = std::strtoul(text, &end, 10);
  return end != text && *end == 0 && out >= low && out <= high;
}

}  // namespace

int main(int argc, char** argv) {
  if (vistrel::printVersionIfAsked("vistrel-launch", argc, argv)) return 0;
  bool connect = false;
  unsigned long port = 0, times = 1;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "-h" || a == "--help") {
      std::fputs(kUsage, stdout);
      return 0;
    } else if (a == "-c" || a == "--connect") {
      connect = true;
    } else if ((a == "-p" || a == "--port") && i + 1 < argc) {
      if (!number(argv[++i], 1, 65535, port)) {
        std::fprintf(stderr, "vistrel-launch: --port takes 1..65535, not \"%s\"\n", argv[i]);
        return 2;
      }
    } else if (a == "--times" && i + 1 < argc) {
      if (!number(argv[++i], 1, 100, times)) {
        std::fprintf(stderr, "vistrel-launch: --times takes 1..100, not \"%s\"\n", argv[i]);
        return 2;
      }
    } else {
      std::fprintf(stderr, "vistrel-launch: unknown option %s (see --help)\n", a.c_str());
      return 2;
    }
  }
  if (port == 0) port = settings::readDeviceSettings(platform::KeyStore::machine(), u"").port & 0xFFFF;
  const uint32_t launchNumber = static_cast<uint32_t>(port) + (connect ? launcher::kReconnectFlag : 0);

  std::mutex mutex;
  std::string said;
  int launches = 0;
  bool started = false;
  for (unsigned long i = 0; i < times; ++i) {
    const bool ok = launcher::startLauncher(launchNumber, [&](const launcher::LaunchResult& r) {
      std::lock_guard lock(mutex);
      ++launches;
      started = r.started();
      said = r.started() ? "started " + platform::utf16ToUtf8Lossy(r.path) + " " +
                               platform::utf16ToUtf8Lossy(r.commandLine) + " on the device"
                         : launcher::failureMessage(r);
    });
    if (!ok) {
      std::fprintf(stderr, "vistrel-launch: no thread for the launch\n");
      return 1;
    }
  }
  // The launcher's own limits end every launch; this only waits for it.
  while (true) {
    {
      std::lock_guard lock(mutex);
      if (launches > 0 && !launcher::launcherRunning()) break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  std::lock_guard lock(mutex);
  if (times > 1) std::printf("%lu start requests, %d launch\n", times, launches);
  std::fprintf(started ? stdout : stderr, "vistrel-launch: %s\n", said.c_str());
  return started ? 0 : 1;
}
