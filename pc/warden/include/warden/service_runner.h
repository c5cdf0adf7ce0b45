#pragma once

#include <cstdint>
#include <functional>
#include <mutex>
#include <string>

#include "entries/device_entry_table.h"
#include "platform/event.h"
#include "warden/service_codes.h"

namespace warden {

// The service's states and the status record it reports to its service manager.
enum class ServiceState : uint32_t {
  kStopped = 1,
  kStartPending = 2,
  kStopPending = 3,
  kRunning = 4,
};

inline constexpr uint32_t kServiceTypeWin32 = 0x30;
inline constexpr uint32_t kAcceptStop = 0x1;
inline constexpr uint32_t kExitDeviceFailed = 0xFFFFFFFFu;
inline constexpr uint32_t kStartWaitHintMs = 4000;

struct ServiceStatus {
  uint32_t serviceType = kServiceTypeWin32;
  ServiceState currentState = ServiceState::kStopped;
  uint32_t controlsAccepted = 0;
  uint32_t win32ExitCode = 0;
  uint32_t checkPoint = 0;
  uint32_t waitHint = 0;
};

// The service manager as the running service sees it.
// Threading: setStatus is called from the service main thread and from the thread that
// delivers controls, never from both at once.
class ServiceHost {
 public:
  virtual ~ServiceHost() = default;
  // Registers the handler of control codes under the service name; from then on the host
  // may call `handler` on its own control thread. False when that cannot be done.
  virtual bool registerControlHandler(const std::string& serviceName,
                                      std::function<void(uint32_t code)> handler) = 0;
  // Reports a status; `note` is a short human text (empty when the state says it all).
  virtual void setStatus(const ServiceStatus& status, const std::string& note) = 0;
};

// The PC library bound at run time by name, through its one export.
class DeviceLibrary {
 public:
  virtual ~DeviceLibrary() = default;
  // Loads the library, looks up DllGetData and fills `table`. False (with `error` set)
  // when the library is missing, lacks the export or refuses to fill the table.
  virtual bool bind(DeviceEntryTable& table, std::string& error) = 0;
  // Unloads the library; the table's pointers are dead afterwards.
  virtual void unbind() = 0;
};

// The service main and its control handler. serviceMain() runs on the program's main
// thread until the service has stopped; control() runs on the host's control thread.
class ServiceRunner {
 public:
  ServiceRunner(ServiceHost& host, DeviceLibrary& device);

  // Registers the handler, binds and opens the library as the serving process, reports
  // running and waits until stopped. Returns the process exit status: 0 after a normal
  // stop, 255 when the service could not start (the status then carries kExitDeviceFailed
  // or the handler could not be registered).
  int serviceMain();

  // One control code: stop, the reload request (128), or anything else, which only
  // reports the current status again.
  void control(uint32_t code);

  ServiceState state() const;

 private:
  void reportLocked(ServiceState state, uint32_t accepted, uint32_t exitCode, uint32_t waitHint,
                    const std::string& note);
  uint32_t nextCheckPointLocked() { return ++checkPointCounter_; }
  void stopLocked();

  ServiceHost& host_;
  DeviceLibrary& device_;
  mutable std::mutex mutex_;
  ServiceState state_ = ServiceState::kStopped;
  uint32_t checkPointCounter_ = 0;
  uint32_t exitCode_ = 0;
  bool bound_ = false;
  bool stopRequested_ = false;  // a stop that came while the service was still starting
  DeviceEntryTable table_{};
  platform::Event wake_{platform::Event::Reset::kAuto};
};

}  // namespace warden
