#pragma once

// How the maker-specific cameras reach a stream driver ("CAM1:", "CAM2:", "DSC1:"): open
// it by name the way a file is created, send it control requests, read from it, create
// the named events it signals, and map the frame area it fills at a fixed address.
//
// On this platform no such driver exists: the system port opens a driver that a local
// program serves as a control device (platform/device_io.h, "CAM1:" is served as the
// device "\\.\CAM1") and reads nothing; a frame area is the named shared memory that
// program made under frameAreaObjectName (platform/named_objects.h), owned by a user this
// process trusts. Tests give a recording fake that serves frame areas.
//
// Threading: a port may be used from any thread; one handle is used by one thread at a
// time (the cameras guard their handle with a lock).

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

namespace makers {

// Access, sharing, creation and attribute words of an open.
inline constexpr uint32_t kGenericRead = 0x80000000u;
inline constexpr uint32_t kGenericWrite = 0x40000000u;
inline constexpr uint32_t kShareRead = 1;
inline constexpr uint32_t kShareWrite = 2;
inline constexpr uint32_t kOpenExisting = 3;
inline constexpr uint32_t kAttributeNormal = 128;

struct DriverOpen {
  uint32_t access = 0;
  uint32_t share = 0;
  uint32_t creation = kOpenExisting;
  uint32_t attributes = 0;
};

// An open driver.
class DriverHandle {
 public:
  virtual ~DriverHandle() = default;
  // Request `code` with `inSize` bytes at `in` (the driver may write back into them, as
  // a driver's control entry can) and room for `outSize` bytes at `out`; the count of
  // answered bytes goes to `*returned` when not null. True on success.
  virtual bool control(uint32_t code, void* in, uint32_t inSize, void* out, uint32_t outSize,
                       uint32_t* returned) = 0;
  // Reads up to `size` bytes; their count goes to `*got`. True on success.
  virtual bool read(void* buffer, uint32_t size, uint32_t* got) = 0;
};

// A named event created for a driver; closed when destroyed.
class NamedEvent {
 public:
  virtual ~NamedEvent() = default;
};

class DriverPort {
 public:
  virtual ~DriverPort() = default;
  // Null when the driver is not there.
  virtual std::unique_ptr<DriverHandle> open(std::u16string_view name, const DriverOpen& how) = 0;
  // An auto-reset event, not signalled, under `name`; null when it cannot be made.
  virtual std::unique_ptr<NamedEvent> createNamedEvent(std::u16string_view name) = 0;
  // `bytes` bytes of the frame area at the device's fixed address `address`, writable;
  // valid while the port lives. Null when the device has no such area.
  virtual uint8_t* mapFrameArea(uint32_t address, uint32_t bytes) = 0;
};

// The port of this system (see above). Lives for the whole process.
DriverPort& systemDriverPort();

// The name of the shared memory that stands for the frame area at `address` on this
// platform: "_VistrelFrameArea_A3C00000" (the object prefix of named objects applies).
std::string frameAreaObjectName(uint32_t address);

}  // namespace makers
