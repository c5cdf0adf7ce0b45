#pragma once

#include <string>
#include <vector>

namespace warden {

// What the command line asks for. The switches are compared exactly: "/i" installs,
// "/I" is a hardware ID like any other first argument.
struct CommandLine {
  enum class Mode { kService, kInstallService, kRemoveService, kInstallDevice, kRemoveDevice, kHelp, kBad };
  Mode mode = Mode::kService;
  bool system = false;         // --system: the machine's service manager
  std::string hardwareId;      // device modes
  std::string definitionPath;  // kInstallDevice
  std::string error;           // kBad
};

// `args` without the program name. Options (--help, --system) come first.
CommandLine parseCommandLine(const std::vector<std::string>& args);

}  // namespace warden
