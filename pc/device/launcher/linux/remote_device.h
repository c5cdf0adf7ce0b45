#pragma once

// The body of the remote-API modules (rapi.so over ssh, rapi_local.so on this machine):
// the session behind the C entry points of launcher/remote_api.h. A transport says how a
// shell script runs on the device; everything else is shared.

#include <cstdint>
#include <string>
#include <vector>

#include "launcher/remote_api.h"

namespace launcher::remote {

// How a script reaches the device's shell.
class Transport {
 public:
  virtual ~Transport() = default;
  // Reads the transport's settings (at the start of a session). False with `reason` and
  // `code` (kRapiNotConfigured, ...) when no session can be made.
  virtual bool configure(std::string& reason, int32_t& code) = 0;
  // The program and arguments that run `script` (sh syntax) on the device.
  virtual std::vector<std::string> command(const std::string& script) const = 0;
  // The result code and the reason of a run that did not reach the script: the exit
  // status and standard error of the command. kRapiOk when the script itself ran.
  virtual int32_t classify(int status, const std::string& errorText, std::string& reason) const = 0;
};

// The transport of this module; each module defines it.
Transport& moduleTransport();

// The last non-empty line of a command's error output (at most 300 bytes): its reason.
std::string lastLine(const std::string& text);

// Quotes `text` as one word for sh.
std::string shellQuote(const std::string& text);

// The scripts run on the device: print its settings file (the file the device program
// uses, by the same rules), and start a program detached.
std::string settingsScript();
std::string startScript(const std::string& path, const std::vector<std::string>& arguments);

}  // namespace launcher::remote
