#pragma once

#include <functional>
#include <string>
#include <thread>

#include "warden/service_runner.h"

namespace warden {

// Blocks SIGTERM, SIGINT and SIGHUP in the calling thread. Call it first in main, before
// any thread exists (the PC library starts its own), so that every thread inherits the
// mask and only the host's control thread takes these signals.
void blockControlSignals();

// Sends one state notification ("READY=1\nSTATUS=...") to the service manager named by
// $NOTIFY_SOCKET: a datagram to that unix socket ("@name" is an abstract one). False when
// the variable is unset (not started by systemd) or the send failed.
bool notifyServiceManager(const std::string& text);

// The service manager on this platform: systemd runs the program in the foreground.
//  - Controls: SIGTERM and SIGINT are the stop control, SIGHUP the reload request (128);
//    the control endpoint of service_control.h brings any other code (stop excluded).
//    They are delivered on one control thread that the host owns.
//  - Status: every report goes to systemd's notification socket (READY=1 when running,
//    STOPPING=1 when stop pending, STATUS= with the state in words) and, when it carries
//    a note, as one line to standard error (the journal).
// Threading: construct, register and destroy on the main thread.
class SystemdServiceHost : public ServiceHost {
 public:
  SystemdServiceHost() = default;
  ~SystemdServiceHost() override;

  // Ends the control thread; no handler call happens after it returns. Call it before
  // the handler's owner goes away (the destructor calls it too).
  void shutdown();

  bool registerControlHandler(const std::string& serviceName,
                              std::function<void(uint32_t code)> handler) override;
  void setStatus(const ServiceStatus& status, const std::string& note) override;

 private:
  void controlLoop();

  std::function<void(uint32_t)> handler_;
  int signalFd_ = -1;
  int controlFd_ = -1;
  int quitFd_ = -1;
  std::thread thread_;
};

// The status text systemd shows for a status report.
std::string statusNotification(const ServiceStatus& status, const std::string& note);

}  // namespace warden
