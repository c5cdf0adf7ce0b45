#include "warden/command_line.h"

namespace warden {

CommandLine parseCommandLine(const std::vector<std::string>& args) {
  CommandLine c;
  size_t i = 0;
  for (; i < args.size() && args[i].rfind("--", 0) == 0; ++i) {
    if (args[i] == "--help") {
      c.mode = CommandLine::Mode::kHelp;
      return c;
    } else if (args[i] == "--system") {
      c.system = true;
    } else {
      c.mode = CommandLine::Mode::kBad;
      c.error = "unknown option " + args[i];
      return c;
    }
  }
  const size_t rest = args.size() - i;
  if (rest == 0) {
    c.mode = CommandLine::Mode::kService;
  } else if (args[i] == "-h") {
    c.mode = CommandLine::Mode::kHelp;
  } else if (args[i] == "/i" || args[i] == "/u") {
    c.mode = args[i] == "/i" ? CommandLine::Mode::kInstallService : CommandLine::Mode::kRemoveService;
    if (rest > 1) {
      c.mode = CommandLine::Mode::kBad;
      c.error = args[i] + " takes no further argument";
    }
  } else if (rest > 2) {
    c.mode = CommandLine::Mode::kBad;
    c.error = "too many arguments";
  } else if (args[i].empty()) {
    c.mode = CommandLine::Mode::kBad;
    c.error = "the hardware ID is empty";
  } else {
    c.hardwareId = args[i];
    if (rest == 2) {
      c.mode = CommandLine::Mode::kInstallDevice;
      c.definitionPath = args[i + 1];
    } else {
      c.mode = CommandLine::Mode::kRemoveDevice;
    }
  }
  if (c.system && c.mode != CommandLine::Mode::kInstallService &&
      c.mode != CommandLine::Mode::kRemoveService) {
    c.mode = CommandLine::Mode::kBad;
    c.error = "--system goes with /i or /u";
  }
  return c;
}

}  // namespace warden
