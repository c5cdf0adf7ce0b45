#include "platform/device_io.h"
#include "platform/device_server.h"
#include "platform/byte_order.h"

namespace platform {

using namespace device_wire;

std::optional<DeviceRequest> parseDeviceRequest(const uint8_t* packet, size_t size) {
  if (size < kRequestHeaderBytes || platform::load32(packet) != kDeviceRequestMagic) return std::nullopt;
  const uint32_t length = platform::load32(packet + 8);
  // A packet longer than the largest request was cut by the receive buffer.
  if (size > kRequestHeaderBytes + kDeviceMaxPayload || length != size - kRequestHeaderBytes) {
    return std::nullopt;
  }
  return DeviceRequest{platform::load32(packet + 4), packet + kRequestHeaderBytes, length,
                       platform::load32(packet + 12)};
}

}  // namespace platform
