#pragma once

// The device's own display as a picture source, and input injected into it.
//
// A ScreenReader reads what the display shows now: the Linux frame buffer (fbdev) or the
// root window of an X server (with every visible window on it). An InputInjector moves
// the pointer, taps and presses keys on the same display: XTest on an X server, a
// virtual input device (uinput) on a frame buffer console.
//
// Threading: each object is used by one thread at a time; different objects may be used
// on different threads at once.

#include <cstdint>
#include <memory>

namespace platform {

// Where a pixel's colours sit in its little-endian pixel word (2, 3 or 4 bytes).
struct PixelLayout {
  uint32_t bitsPerPixel = 0;  // 16, 24 or 32
  uint32_t redMask = 0;
  uint32_t greenMask = 0;
  uint32_t blueMask = 0;
};

// One picture of the screen. `pixels` holds `height` rows of `width` pixels, rows
// `strideBytes` apart (stride >= width x bytes per pixel); valid until the reader's next
// read or its end.
struct ScreenImage {
  const uint8_t* pixels = nullptr;
  uint32_t width = 0;
  uint32_t height = 0;
  uint32_t strideBytes = 0;
  PixelLayout layout;
};

enum class ScreenKind { kFrameBuffer, kDisplayServer };

class ScreenReader {
 public:
  virtual ~ScreenReader() = default;
  // Reads the screen now. False when it cannot be read any more (the display server went
  // away, the device failed or reports a geometry its memory does not hold); the reader
  // is then of no further use.
  virtual bool read(ScreenImage& out) = 0;
  virtual ScreenKind kind() const = 0;
  // How the pixels are read, for messages ("fbdev /dev/fb0", "X11 shared memory", "X11").
  virtual const char* method() const = 0;
};

// Which screen comes first when both could be read.
enum class ScreenPreference {
  kFrameBufferFirst,    // fbdev when present and readable, else the X server
  kDisplayServerFirst,  // the X server's root window when one answers, else fbdev
};

// The frame buffer device: $VISTREL_FRAMEBUFFER when set (empty: none), else /dev/fb0.
// The X server: $DISPLAY, only when set and not empty. Null when no screen can be read.
std::unique_ptr<ScreenReader> openScreenReader(ScreenPreference preference);

// The frame buffer device path as above; empty when it is switched off. The device
// probe looks at the same device.
const char* frameBufferPath();

class InputInjector {
 public:
  virtual ~InputInjector() = default;
  // Moves the pointer to pixel (x, y) and presses and releases the first button there.
  virtual bool tap(uint32_t x, uint32_t y) = 0;
  // Presses and releases the key of a virtual-key code (the PC's key codes: 0x41 'A',
  // 0x0D Enter, 0x25..0x28 arrows ...). False for a code without a key here.
  virtual bool key(uint32_t virtualKey) = 0;
};

// An injector for the display `kind` of `width` x `height` pixels: XTest on the X server
// of $DISPLAY, uinput (/dev/uinput) for a frame buffer. Null when it cannot be made.
std::unique_ptr<InputInjector> openInputInjector(ScreenKind kind, uint32_t width, uint32_t height);

// The key of a virtual-key code: its X keysym and its Linux input event code (0 when
// the code has no key).
struct KeyNames {
  uint32_t keysym = 0;
  uint16_t eventCode = 0;
};
KeyNames keyForVirtualKey(uint32_t virtualKey);

}  // namespace platform

namespace platform {

// What a frame buffer device reports about its screen (the fields of its variable and
// fixed screen information that locate the visible picture).
struct FrameBufferGeometry {
  uint32_t width = 0, height = 0;      // visible resolution
  uint32_t xOffset = 0, yOffset = 0;   // the visible area inside the virtual screen
  uint32_t bitsPerPixel = 0;
  uint32_t lineBytes = 0;
  uint32_t redOffset = 0, redLength = 0;
  uint32_t greenOffset = 0, greenLength = 0;
  uint32_t blueOffset = 0, blueLength = 0;
};

// The visible picture inside the device's mapped memory of `memoryBytes` bytes. False
// when the geometry is unusable (a pixel size other than 16, 24 or 32 bits, colour
// fields outside the pixel, rows shorter than the width) or the visible area does not
// lie wholly inside the memory.
bool frameBufferView(const FrameBufferGeometry& geometry, const uint8_t* memory,
                     uint64_t memoryBytes, ScreenImage& out);

}  // namespace platform
