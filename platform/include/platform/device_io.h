#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "platform/local_packet.h"

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
  // The status code the device answered the last request with (0 = success); a request
  // that never reached the device leaves kDeviceUnreachable.
  virtual uint32_t lastStatus() const { return 0; }
};

// Opens the device at `path`; null when no such device is available.
std::unique_ptr<DeviceHandle> openDevice(std::string_view path);

// The status a handle reports when its device could not be reached.
inline constexpr uint32_t kDeviceUnreachable = 0xC000000Eu;  // no such device

// How a control device is reached on POSIX systems.
//
// The device "\\.\Name" is served on the abstract local socket (SOCK_SEQPACKET) named
// "vistrel-device/Name"; the environment variable VISTREL_DEVICE_PREFIX, when set,
// replaces "vistrel-device/" (tests use it to keep their devices apart). Any local
// process may connect, as any user may open such a device.
//
// One request is one packet: a 16-byte header of little-endian 32-bit words (magic
// kDeviceRequestMagic, request code, input length, output capacity) followed by exactly
// input-length bytes. The answer is one packet: magic kDeviceReplyMagic, status, output
// length, then that many bytes. Inputs longer than kDeviceMaxPayload travel as
// consecutive requests with the same code, each answered; the call succeeds when all do.
namespace device_wire {
inline constexpr uint32_t kDeviceRequestMagic = fourcc('V', 'D', 'R', 'Q');
inline constexpr uint32_t kDeviceReplyMagic = fourcc('V', 'D', 'R', 'P');
inline constexpr uint32_t kRequestHeaderBytes = 16;
inline constexpr uint32_t kReplyHeaderBytes = 12;
inline constexpr uint32_t kDeviceMaxPayload = 65536;
inline constexpr char kDefaultPrefix[] = "vistrel-device/";
// The two packets in the local-packet framing (local_packet.h).
inline constexpr PacketShape kRequestPacket{kDeviceRequestMagic, 3, 1, kDeviceMaxPayload};
inline constexpr PacketShape kReplyPacket{kDeviceReplyMagic, 2, 1, kDeviceMaxPayload};
static_assert(kRequestPacket.headerBytes() == kRequestHeaderBytes);
static_assert(kReplyPacket.headerBytes() == kReplyHeaderBytes);
}  // namespace device_wire

// The abstract socket name (without its leading NUL) serving `path`; empty when `path`
// is not of the form "\\.\Name".
std::string deviceEndpointName(std::string_view path);

}  // namespace platform
