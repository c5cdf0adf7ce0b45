#pragma once

#include <cstdint>
#include <string>

#include "platform/local_packet.h"

namespace warden {

// How other programs reach the running service: its control endpoint, a datagram socket
// in the abstract namespace named "vistrel-service/" followed by the named-object name of
// "Vistrel Service" (so VISTREL_OBJECT_PREFIX keeps test installations apart, as it does
// for the shared frame block). One datagram is one control request: the four bytes "VSCC"
// and the control code as a 32-bit little-endian word. The endpoint takes every code but
// stop (stopping is the service manager's job: SIGTERM); 128 asks for a settings reload.
// Any local user may send: as with the shared frame block, the service and the desktop
// user must reach each other, and a reload only reads the settings again.

std::string serviceControlSocketName();  // without the leading NUL of the abstract name

inline constexpr uint32_t kControlRequestMagic = platform::fourcc('V', 'S', 'C', 'C');
// The magic and the control code, nothing after them.
inline constexpr platform::PacketShape kControlRequestPacket{kControlRequestMagic, 1};

// Sends one control code to the running service. True when a running service took the
// datagram; false when none runs (or it cannot be reached). Never blocks for long.
// Threading: any thread.
bool sendServiceControl(uint32_t code);

// The reload request (user control code 128) the PC library sends after it stored a new
// port or setting while a service serves the phone.
bool requestServiceReload();

}  // namespace warden
