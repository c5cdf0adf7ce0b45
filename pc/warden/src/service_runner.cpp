#include "warden/service_runner.h"

namespace warden {

ServiceRunner::ServiceRunner(ServiceHost& host, DeviceLibrary& device) : host_(host), device_(device) {}

ServiceState ServiceRunner::state() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return state_;
}

void ServiceRunner::reportLocked(ServiceState state, uint32_t accepted, uint32_t exitCode,
                                 uint32_t waitHint, const std::string& note) {
  ServiceStatus s;
  s.currentState = state;
  s.controlsAccepted = accepted;
  s.win32ExitCode = exitCode;
  s.waitHint = waitHint;
  s.checkPoint = (state == ServiceState::kRunning || state == ServiceState::kStopped)
                     ? 0
                     : nextCheckPointLocked();
  host_.setStatus(s, note);
}

int ServiceRunner::serviceMain() {
  if (!host_.registerControlHandler(kServiceName, [this](uint32_t code) { control(code); })) {
    return 255;
  }
  {
    std::lock_guard<std::mutex> lock(mutex_);
    state_ = ServiceState::kStartPending;
    reportLocked(state_, 0, 0, kStartWaitHintMs, "starting");
  }

  std::string error;
  bool ok = device_.bind(table_, error);
  if (ok) {
    bound_ = true;
    if ((table_.Open(1) & 0xFF) == 0) {
      ok = false;
      error = "the camera engine could not be opened as the serving process";
      table_.Close();
      device_.unbind();
      bound_ = false;
    }
  }

  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!ok) {
      state_ = ServiceState::kStopped;
      exitCode_ = kExitDeviceFailed;
      reportLocked(state_, kAcceptStop, kExitDeviceFailed, 0, error);
      return 255;
    }
    if (stopRequested_) {
      // The stop came while the library was still being opened: honour it now.
      stopLocked();
    } else {
      state_ = ServiceState::kRunning;
      reportLocked(state_, kAcceptStop, 0, 0, "running");
    }
  }
  while (state() == ServiceState::kRunning) wake_.wait();
  return 0;
}

void ServiceRunner::stopLocked() {
  state_ = ServiceState::kStopPending;
  reportLocked(state_, kAcceptStop, 0, 0, "stopping");
  if (bound_) {
    table_.Close();
    device_.unbind();
    bound_ = false;
  }
  table_ = DeviceEntryTable{};
  state_ = ServiceState::kStopped;
  reportLocked(state_, kAcceptStop, 0, 0, "stopped");
  wake_.set();
}

void ServiceRunner::control(uint32_t code) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (code == kControlStop) {
    if (state_ == ServiceState::kRunning) {
      stopLocked();
      return;
    }
    if (state_ == ServiceState::kStartPending) stopRequested_ = true;
  } else if (code == kControlReloadSettings && state_ == ServiceState::kRunning) {
    table_.ReloadSettings();
  }
  const uint32_t accepted = state_ == ServiceState::kStartPending ? 0 : kAcceptStop;
  reportLocked(state_, accepted, 0, 0, "");
}

}  // namespace warden
