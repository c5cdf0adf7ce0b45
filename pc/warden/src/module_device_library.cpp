#include "warden/module_device_library.h"

namespace warden {

bool ModuleDeviceLibrary::bind(DeviceEntryTable& table, std::string& error) {
  module_ = platform::loadModule(name_);
  if (!module_) {
    error = "cannot load " + platform::moduleSearchText(name_);
    return false;
  }
  auto getData = reinterpret_cast<DeviceGetDataFunction>(module_->symbol("DllGetData"));
  if (getData == nullptr) {
    error = platform::moduleFileName(name_) + " has no DllGetData";
    module_.reset();
    return false;
  }
  DeviceEntryTable filled{};
  if ((getData(&filled) & 0xFF) == 0 || filled.Open == nullptr || filled.Close == nullptr ||
      filled.ReloadSettings == nullptr) {
    error = platform::moduleFileName(name_) + " did not fill its entry table";
    module_.reset();
    return false;
  }
  table = filled;
  return true;
}

}  // namespace warden
