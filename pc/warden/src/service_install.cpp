#include <cstdlib>

#include "warden/service_manager.h"
#include "warden/service_runner.h"

namespace warden {

ServiceConfig wardenServiceConfig(const std::string& executablePath) {
  ServiceConfig c;
  c.name = kServiceName;
  c.displayName = kServiceName;
  c.description = kServiceName;
  c.executablePath = executablePath;
  // An installation pointed at another settings store or object namespace keeps it.
  for (const char* name : {"VISTREL_KEY_STORE", "VISTREL_OBJECT_PREFIX", "VISTREL_DEVICE_PREFIX"}) {
    const char* value = std::getenv(name);
    if (value != nullptr && value[0] != 0) c.environment.push_back(std::string(name) + "=" + value);
  }
  return c;
}

int installService(ServiceManager& manager, const ServiceConfig& config, std::FILE* err) {
  std::string error;
  if (!manager.connect(error)) {
    std::fprintf(err, "warden: cannot reach the service manager: %s\n", error.c_str());
    return kExitFailed;
  }
  if (!manager.createService(config, error)) {
    std::fprintf(err, "warden: cannot install %s: %s\n", config.name.c_str(), error.c_str());
    return kExitFailed;
  }
  if (!manager.setDescription(config.name, config.description, error)) {
    std::fprintf(err, "warden: %s installed without its description: %s\n", config.name.c_str(),
                 error.c_str());
  }
  if (!manager.startService(config.name, error)) {
    std::fprintf(err, "warden: %s installed, but it did not start: %s\n", config.name.c_str(),
                 error.c_str());
  }
  return kExitDone;
}

int uninstallService(ServiceManager& manager, const std::string& name, std::FILE* err) {
  std::string error;
  if (!manager.connect(error)) {
    std::fprintf(err, "warden: cannot reach the service manager: %s\n", error.c_str());
    return kExitFailed;
  }
  manager.stopService(name, error);  // a service that does not run is removed all the same
  if (!manager.deleteService(name, error)) {
    std::fprintf(err, "warden: cannot remove %s: %s\n", name.c_str(), error.c_str());
    return kExitFailed;
  }
  return kExitDone;
}

}  // namespace warden
