#pragma once

#include <cstdint>

namespace warden {

// The service's name and the control codes it takes.
inline constexpr const char* kServiceName = "Vistrel Service";
inline constexpr uint32_t kControlStop = 1;
inline constexpr uint32_t kControlInterrogate = 4;
inline constexpr uint32_t kControlReloadSettings = 128;  // the service's own user code

}  // namespace warden
