#include "lookout/device_binding.h"

namespace lookout {

bool bindDevice(const ModuleLoader& loader, DeviceBinding& binding, std::string& why) {
  binding.module = loader("device.ax");
  if (!binding.module) {
    why = "cannot load " + platform::moduleSearchText("device.ax");
    return false;
  }
  auto getData = reinterpret_cast<DeviceGetDataFunction>(binding.module->symbol("DllGetData"));
  if (getData == nullptr) {
    why = platform::moduleFileName("device.ax") + " has no DllGetData";
    return false;
  }
  binding.table = DeviceEntryTable{};
  if ((getData(&binding.table) & 0xFF) == 0 || binding.table.Open == nullptr) {
    why = "DllGetData of " + platform::moduleFileName("device.ax") + " refused";
    return false;
  }
  if ((binding.table.Open(0) & 0xFF) == 0) {
    why = "cannot open the camera engine";
    return false;
  }
  return true;
}

}  // namespace lookout
