#pragma once

#include <cstdio>
#include <string>
#include <vector>

namespace warden {

// What the service is registered as.
struct ServiceConfig {
  std::string name;            // "Vistrel Service"
  std::string displayName;     // the same text
  std::string description;     // the same text
  std::string executablePath;  // the program as it was started, made absolute
  bool autoStart = true;       // started whenever the machine (or the session) starts
  bool restartOnFailure = true;
  // Environment the service must see (NAME=VALUE), for installations that point the
  // programs at another settings store or object namespace.
  std::vector<std::string> environment;
};

// The service manager as the installer sees it. Every call returns false with a one-line
// `error` when it fails.
// Threading: one thread.
class ServiceManager {
 public:
  virtual ~ServiceManager() = default;
  // Reaches the service manager; false when none answers.
  virtual bool connect(std::string& error) = 0;
  // Registers a new service; false when one of that name exists already (which is then
  // left exactly as it was) or the registration failed (nothing is left behind).
  virtual bool createService(const ServiceConfig& config, std::string& error) = 0;
  virtual bool setDescription(const std::string& name, const std::string& description,
                              std::string& error) = 0;
  virtual bool startService(const std::string& name, std::string& error) = 0;
  virtual bool stopService(const std::string& name, std::string& error) = 0;
  // Removes a registered service; false when there is none of that name.
  virtual bool deleteService(const std::string& name, std::string& error) = 0;
};

// The exit statuses of "/i", "/u" and the device installation.
inline constexpr int kExitDone = 0;
inline constexpr int kExitDoneRestartNeeded = 1;
inline constexpr int kExitFailed = 2;

// "/i": connect, create, set the description, start (a failing start is reported but
// keeps the status 0). Messages go to `err`, one line each.
int installService(ServiceManager& manager, const ServiceConfig& config, std::FILE* err);
// "/u": connect, stop (its result does not count), delete.
int uninstallService(ServiceManager& manager, const std::string& name, std::FILE* err);

// The service's own registration: name, texts and the path the program runs from.
ServiceConfig wardenServiceConfig(const std::string& executablePath);

}  // namespace warden
