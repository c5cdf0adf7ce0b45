#pragma once

#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "entries/device_entry_table.h"
#include "platform/module.h"

namespace lookout {

// The library bound at run time: the module stays loaded while this lives.
struct DeviceBinding {
  std::unique_ptr<platform::Module> module;
  DeviceEntryTable table{};
};

using ModuleLoader = std::function<std::unique_ptr<platform::Module>(std::string_view name)>;

// Loads "device.ax", fills the table through DllGetData and opens the engine as a client
// (Open with 0). False, with `why` saying what failed, when the module or its export is
// missing, DllGetData refuses or Open returns false; the viewer then ends with code 0.
bool bindDevice(const ModuleLoader& loader, DeviceBinding& binding, std::string& why);

}  // namespace lookout
