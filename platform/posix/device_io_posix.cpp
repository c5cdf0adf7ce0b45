#include "platform/device_io.h"

namespace platform {

// No control devices are available on this platform yet.
std::unique_ptr<DeviceHandle> openDevice(std::string_view /*path*/) { return nullptr; }

}  // namespace platform
