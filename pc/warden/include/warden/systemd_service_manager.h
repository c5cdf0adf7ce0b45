#pragma once

#include <string>
#include <vector>

#include "warden/service_manager.h"

namespace warden {

// Where a unit lives: the user's own service manager (the default: the camera and
// microphone outputs and the user's settings live in the desktop session) or the
// machine's.
enum class UnitScope { kUser, kSystem };

// Runs `argv` (argv[0] looked up on PATH), with standard output and standard error
// collected into `output` when given. The exit status, or -1 when it could not be run
// or was killed.
int runProgram(const std::vector<std::string>& argv, std::string* output);

// "systemctl" with "--user" for the user scope.
int runSystemctl(UnitScope scope, const std::vector<std::string>& args, std::string* output);

// The unit name of a service name: lower case, spaces as "-", ".service" added
// ("Vistrel Service" -> "vistrel-service.service"; unit names cannot hold spaces).
std::string unitNameFor(const std::string& serviceName);

// The folder units of `scope` are written to: $VISTREL_UNIT_DIR when set; else for the
// user $XDG_CONFIG_HOME/systemd/user (~/.config when unset), for the machine
// /etc/systemd/system.
std::string unitDirectory(UnitScope scope);

// The unit file of a service.
std::string unitFileText(const ServiceConfig& config, UnitScope scope);

// ExecStart= quoting of one word: in double quotes, with \ " % $ escaped. False for text
// a unit file cannot carry (a line break).
bool quoteUnitWord(const std::string& word, std::string& quoted);

// The service manager through systemctl. A service is a unit file written into
// unitDirectory(scope), then daemon-reload, enable; start and stop are systemctl's, and
// deletion is disable, removing the file, daemon-reload.
class SystemdServiceManager : public ServiceManager {
 public:
  explicit SystemdServiceManager(UnitScope scope) : scope_(scope) {}

  bool connect(std::string& error) override;
  bool createService(const ServiceConfig& config, std::string& error) override;
  bool setDescription(const std::string& name, const std::string& description,
                      std::string& error) override;
  bool startService(const std::string& name, std::string& error) override;
  bool stopService(const std::string& name, std::string& error) override;
  bool deleteService(const std::string& name, std::string& error) override;

 private:
  bool systemctl(const std::vector<std::string>& args, std::string& error, std::string* out = nullptr);
  std::string unitPath(const std::string& name) const;

  UnitScope scope_;
};

}  // namespace warden
