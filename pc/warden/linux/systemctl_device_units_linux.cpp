#include <filesystem>

#include "warden/device_installer.h"
#include "warden/systemd_service_manager.h"

namespace warden {

namespace {

std::string firstLine(const std::string& text) {
  std::string line = text.substr(0, text.find('\n'));
  return line.empty() ? "no message" : line;
}

}  // namespace

bool SystemctlDeviceUnits::enable(const std::string& unit, std::string& error) {
  // For every user: the unit is enabled in the global user configuration, which needs no
  // running manager (with a staging root, systemctl edits that tree).
  std::vector<std::string> argv{"systemctl", "--global"};
  if (!root_.empty() && std::filesystem::path(root_) != "/") argv.push_back("--root=" + root_);
  argv.insert(argv.end(), {"enable", unit});
  std::string output;
  if (runProgram(argv, &output) != 0) {
    error = "systemctl --global enable " + unit + ": " + firstLine(output);
    return false;
  }
  return true;
}

void SystemctlDeviceUnits::disable(const std::string& unit) {
  std::vector<std::string> argv{"systemctl", "--global"};
  if (!root_.empty() && std::filesystem::path(root_) != "/") argv.push_back("--root=" + root_);
  argv.insert(argv.end(), {"disable", unit});
  runProgram(argv, nullptr);
}

DeviceUnits::Restart SystemctlDeviceUnits::restart(const std::string& unit, std::string& error) {
  std::string output;
  if (runSystemctl(UnitScope::kUser, {"show", "--property=Version"}, &output) != 0) {
    return Restart::kNoSession;
  }
  runSystemctl(UnitScope::kUser, {"daemon-reload"}, nullptr);  // its result does not count
  if (runSystemctl(UnitScope::kUser, {"restart", unit}, &output) != 0) {
    error = "systemctl --user restart " + unit + ": " + firstLine(output);
    return Restart::kFailed;
  }
  return Restart::kDone;
}

void SystemctlDeviceUnits::stop(const std::string& unit) {
  runSystemctl(UnitScope::kUser, {"stop", unit}, nullptr);
}

}  // namespace warden
