#pragma once

#include <windows.h>

#include <functional>
#include <string>

#include "warden/service_manager.h"
#include "warden/service_runner.h"

namespace warden {

// Sets the variables (NAME=VALUE) of the "Environment" value in the service's key, which
// "/i" writes from the installer's VISTREL_* variables, in this process (a service
// manager that applies them itself is then merely repeated).
void applyServiceEnvironment(const std::string& serviceName);

// The service control manager as the running service's host.
class ScmServiceHost final : public ServiceHost {
 public:
  bool registerControlHandler(const std::string& serviceName,
                              std::function<void(uint32_t code)> handler) override;
  void setStatus(const ServiceStatus& status, const std::string& note) override;

 private:
  static DWORD WINAPI onControl(DWORD code, DWORD type, LPVOID data, LPVOID context);
  std::function<void(uint32_t)> handler_;
  SERVICE_STATUS_HANDLE handle_ = nullptr;
};

// "/i" and "/u": the service control manager with all access.
class ScmServiceManager final : public ServiceManager {
 public:
  ~ScmServiceManager() override;
  bool connect(std::string& error) override;
  bool createService(const ServiceConfig& config, std::string& error) override;
  bool setDescription(const std::string& name, const std::string& description,
                      std::string& error) override;
  bool startService(const std::string& name, std::string& error) override;
  bool stopService(const std::string& name, std::string& error) override;
  bool deleteService(const std::string& name, std::string& error) override;

 private:
  SC_HANDLE manager_ = nullptr;
};

}  // namespace warden
