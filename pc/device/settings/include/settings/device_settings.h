#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace platform {
class KeyStore;
}

namespace settings {

// The PC library's settings: one base key shared by every program (port, language) and
// one key per program below it (picture size, rotation, mirror, connect at start-up), so
// that the viewer and a video program can each keep their own picture.
inline constexpr char16_t kBaseKey[] = u"Software\\Orvane\\Vistrel";

struct DeviceSettings {
  uint32_t rotation = 0;          // "Rotation": 0..3 quarter turns counter-clockwise
  uint32_t mirror = 0;            // "Mirror": non-zero flips left to right
  uint32_t port = 2047;           // "Port" (base key): 16 bits used
  uint32_t connectAtStartup = 1;  // "ConnectAtStartup"
  uint32_t width = 320;           // "Width": default output width
  uint32_t height = 240;          // "Height"
  uint32_t language = 0;          // "Language" (base key): 0 = automatic
  // "ListenAddress" (base key, a string): the local address the frame server listens on,
  // a numeric IPv4 or IPv6 address; empty = every IPv4 address. Set by hand by whoever
  // administers the machine; the settings dialogs never write it.
  std::u16string listenAddress;

  bool operator==(const DeviceSettings&) const = default;
};

// The address to listen on for `settings`: its "ListenAddress" (which may be no address
// at all; the frame server then never listens), or "0.0.0.0" when that is empty.
std::string listenAddressOf(const DeviceSettings& settings);

// The longest "ListenAddress" taken from the store, in characters (an IPv6 address with
// an interface name fits easily).
inline constexpr size_t kMaxListenAddressChars = 80;

// The per-program key: the base key, a backslash and the program's base name; the base
// key itself for an empty base name (a process without a table entry).
std::u16string programKeyPath(std::u16string_view baseName);

// Starts from the defaults; takes each number only when it exists and is exactly 4 bytes,
// and "ListenAddress" only when it is a string of at most kMaxListenAddressChars.
// A key that cannot be opened leaves its values at their defaults.
DeviceSettings readDeviceSettings(platform::KeyStore& store, std::u16string_view baseName);

// Creates the keys as needed and writes every value; failures are ignored (the record
// stays in effect in memory).
void writeDeviceSettings(platform::KeyStore& store, std::u16string_view baseName,
                         const DeviceSettings& settings);

}  // namespace settings
