#pragma once

#include <cstdint>
#include <memory>
#include <string_view>

namespace platform {

// A control device opened by its device path ("\\.\Name"), reached with request codes
// the way a driver's control interface is: one request carries an input block and may
// return an output block.
//
// Threading: one thread at a time per handle.
class DeviceHandle {
 public:
  virtual ~DeviceHandle() = default;
  // Sends request `code` with `inSize` bytes from `in`; up to `outSize` bytes of answer
  // are written to `out` and their count to `*returned` (when not null). True on success.
  virtual bool control(uint32_t code, const void* in, uint32_t inSize, void* out,
                       uint32_t outSize, uint32_t* returned) = 0;
};

// Opens the device at `path`; null when no such device is available.
std::unique_ptr<DeviceHandle> openDevice(std::string_view path);

}  // namespace platform
