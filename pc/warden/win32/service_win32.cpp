// The service on Windows: the service control manager as the runner's host, and "/i" and
// "/u" through it.

#include "service_win32.h"

#include <cstdlib>
#include <string>

#include "platform/utf16.h"

namespace warden {

namespace {

std::wstring wide(const std::string& utf8) {
  const std::u16string u = platform::utf8ToUtf16Lossy(utf8);
  return std::wstring(u.begin(), u.end());
}

std::string lastError(const char* what) {
  return std::string(what) + " failed (error " + std::to_string(GetLastError()) + ")";
}

constexpr wchar_t kEnvironmentValue[] = L"Environment";

std::wstring serviceKeyPath(const std::string& serviceName) {
  return L"SYSTEM\\CurrentControlSet\\Services\\" + wide(serviceName);
}

}  // namespace

void applyServiceEnvironment(const std::string& serviceName) {
  DWORD type = 0, size = 0;
  const std::wstring key = serviceKeyPath(serviceName);
  if (RegGetValueW(HKEY_LOCAL_MACHINE, key.c_str(), kEnvironmentValue, RRF_RT_REG_MULTI_SZ, &type, nullptr,
                   &size) != ERROR_SUCCESS ||
      size == 0 || size > 65536) {
    return;
  }
  std::wstring block(size / sizeof(wchar_t) + 2, L'\0');
  if (RegGetValueW(HKEY_LOCAL_MACHINE, key.c_str(), kEnvironmentValue, RRF_RT_REG_MULTI_SZ, &type, block.data(),
                   &size) != ERROR_SUCCESS) {
    return;
  }
  for (size_t at = 0; at < block.size() && block[at] != L'\0';) {
    const std::wstring entry(block.c_str() + at);
    at += entry.size() + 1;
    const size_t equals = entry.find(L'=');
    if (equals == 0 || equals == std::wstring::npos) continue;
    // Through the C runtime, so that getenv sees it as well as the system's calls.
    _wputenv_s(entry.substr(0, equals).c_str(), entry.c_str() + equals + 1);
  }
}

// ---------------------------------------------------------------------------------------

bool ScmServiceHost::registerControlHandler(const std::string& serviceName,
                                            std::function<void(uint32_t)> handler) {
  handler_ = std::move(handler);
  handle_ = RegisterServiceCtrlHandlerExW(wide(serviceName).c_str(), &ScmServiceHost::onControl, this);
  return handle_ != nullptr;
}

DWORD WINAPI ScmServiceHost::onControl(DWORD code, DWORD, LPVOID, LPVOID context) {
  auto* self = static_cast<ScmServiceHost*>(context);
  if (self->handler_) self->handler_(code);
  return NO_ERROR;
}

void ScmServiceHost::setStatus(const ServiceStatus& status, const std::string&) {
  if (handle_ == nullptr) return;
  SERVICE_STATUS s{};
  s.dwServiceType = status.serviceType;
  s.dwCurrentState = static_cast<DWORD>(status.currentState);
  s.dwControlsAccepted = status.controlsAccepted;
  s.dwWin32ExitCode = status.win32ExitCode;
  s.dwCheckPoint = status.checkPoint;
  s.dwWaitHint = status.waitHint;
  SetServiceStatus(handle_, &s);
}

// ---------------------------------------------------------------------------------------

ScmServiceManager::~ScmServiceManager() {
  if (manager_ != nullptr) CloseServiceHandle(manager_);
}

bool ScmServiceManager::connect(std::string& error) {
  manager_ = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
  if (manager_ == nullptr) error = lastError("OpenSCManager");
  return manager_ != nullptr;
}

bool ScmServiceManager::createService(const ServiceConfig& config, std::string& error) {
  // The program's own path, quoted: a path with spaces is one argument.
  const std::wstring command = L"\"" + wide(config.executablePath) + L"\"";
  SC_HANDLE service = CreateServiceW(
      manager_, wide(config.name).c_str(), wide(config.displayName).c_str(), SERVICE_ALL_ACCESS,
      SERVICE_WIN32_OWN_PROCESS, config.autoStart ? SERVICE_AUTO_START : SERVICE_DEMAND_START,
      SERVICE_ERROR_NORMAL, command.c_str(), nullptr, nullptr, L"\0", nullptr, nullptr);
  if (service == nullptr) {
    error = lastError("CreateService");
    return false;
  }
  if (!config.environment.empty()) {
    // The installer's VISTREL_* variables: the "Environment" value of the service's key,
    // which the service applies to itself when it starts.
    std::wstring block;
    for (const std::string& entry : config.environment) block += wide(entry) + L'\0';
    block += L'\0';
    const LSTATUS status =
        RegSetKeyValueW(HKEY_LOCAL_MACHINE, serviceKeyPath(config.name).c_str(), kEnvironmentValue,
                        REG_MULTI_SZ, block.data(), static_cast<DWORD>(block.size() * sizeof(wchar_t)));
    if (status != ERROR_SUCCESS) {
      error = "writing the service's environment failed (error " + std::to_string(status) + ")";
      DeleteService(service);  // nothing is left behind
      CloseServiceHandle(service);
      return false;
    }
  }
  CloseServiceHandle(service);
  return true;
}

bool ScmServiceManager::setDescription(const std::string& name, const std::string& description,
                                       std::string& error) {
  SC_HANDLE service = OpenServiceW(manager_, wide(name).c_str(), SERVICE_CHANGE_CONFIG);
  if (service == nullptr) {
    error = lastError("OpenService");
    return false;
  }
  std::wstring text = wide(description);
  SERVICE_DESCRIPTIONW d{text.data()};
  const bool ok = ChangeServiceConfig2W(service, SERVICE_CONFIG_DESCRIPTION, &d) != FALSE;
  if (!ok) error = lastError("ChangeServiceConfig2");
  CloseServiceHandle(service);
  return ok;
}

bool ScmServiceManager::startService(const std::string& name, std::string& error) {
  SC_HANDLE service = OpenServiceW(manager_, wide(name).c_str(), SERVICE_START);
  if (service == nullptr) {
    error = lastError("OpenService");
    return false;
  }
  const bool ok = StartServiceW(service, 0, nullptr) != FALSE;
  if (!ok) error = lastError("StartService");
  CloseServiceHandle(service);
  return ok;
}

bool ScmServiceManager::stopService(const std::string& name, std::string& error) {
  SC_HANDLE service = OpenServiceW(manager_, wide(name).c_str(), SERVICE_ALL_ACCESS);
  if (service == nullptr) {
    error = lastError("OpenService");
    return false;
  }
  SERVICE_STATUS status{};
  const bool ok = ControlService(service, SERVICE_CONTROL_STOP, &status) != FALSE;
  if (!ok) error = lastError("ControlService");
  CloseServiceHandle(service);
  return ok;
}

bool ScmServiceManager::deleteService(const std::string& name, std::string& error) {
  SC_HANDLE service = OpenServiceW(manager_, wide(name).c_str(), SERVICE_ALL_ACCESS);
  if (service == nullptr) {
    error = lastError("OpenService");
    return false;
  }
  const bool ok = DeleteService(service) != FALSE;
  if (!ok) error = lastError("DeleteService");
  CloseServiceHandle(service);
  return ok;
}

}  // namespace warden
