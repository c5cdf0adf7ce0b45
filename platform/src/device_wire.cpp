#include "platform/device_io.h"
#include "platform/device_server.h"

namespace platform {

std::optional<DeviceRequest> parseDeviceRequest(const uint8_t* packet, size_t size) {
  // A packet longer than the largest request was cut by the receive buffer: refused too.
  const auto view = readPacket(device_wire::kRequestPacket, {packet, size});
  if (!view) return std::nullopt;
  return DeviceRequest{view->words[0], view->payload.data(), static_cast<uint32_t>(view->payload.size()),
                       view->words[2]};
}

}  // namespace platform
