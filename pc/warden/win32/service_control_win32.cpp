// Reaching the running service through the service control manager: the user control
// code goes to "Vistrel Service" with ControlService.

#include <windows.h>

#include "warden/service_codes.h"
#include "warden/service_control.h"

namespace warden {

// Windows has no control socket: the service manager carries the request.
std::string serviceControlSocketName() { return {}; }

bool sendServiceControl(uint32_t code) {
  SC_HANDLE manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT);
  if (manager == nullptr) return false;
  const std::wstring name(kServiceName, kServiceName + std::char_traits<char>::length(kServiceName));
  SC_HANDLE service = OpenServiceW(manager, name.c_str(), SERVICE_USER_DEFINED_CONTROL);
  bool sent = false;
  if (service != nullptr) {
    SERVICE_STATUS status{};
    sent = ControlService(service, code, &status) != FALSE;
    CloseServiceHandle(service);
  }
  CloseServiceHandle(manager);
  return sent;
}

bool requestServiceReload() { return sendServiceControl(kControlReloadSettings); }

}  // namespace warden
