#pragma once

#include <memory>
#include <string>

#include "platform/module.h"
#include "warden/service_runner.h"

namespace warden {

// The real PC library: "device.ax" loaded by name (device.so beside the program, else
// through the library search path), its DllGetData called once.
class ModuleDeviceLibrary : public DeviceLibrary {
 public:
  explicit ModuleDeviceLibrary(std::string name = "device.ax") : name_(std::move(name)) {}
  bool bind(DeviceEntryTable& table, std::string& error) override;
  void unbind() override { module_.reset(); }

 private:
  std::string name_;
  std::unique_ptr<platform::Module> module_;
};

}  // namespace warden
