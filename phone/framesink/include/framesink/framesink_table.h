#pragma once

// The entry table of the camera access module "framesink.dll" (framesink.so on this
// platform). The module exports one function, DllGetData, that copies the nine entry
// points below into a caller-owned FramesinkTable and returns 1. Every entry works on the
// one camera graph of the process, created by SinkOpen and destroyed by SinkClose.
//
// Results are truth values (only the low byte counts) or, for SinkOpen, a category mask.
// The caller owns every table and buffer it passes; the module keeps no pointer to them
// after a call returns (a sample callback's data pointer is valid only during the call).
//
// Threading: the entries are called from one caller thread at a time. Sample callbacks
// run on the module's capture thread while the graph runs; when SinkSetState(0) or
// SinkClose returns, no callback is running and none will start.
//
// Slot names follow the module's entry table; they keep its spelling.

#include <cstdint>

// Pin categories, used as bit masks.
inline constexpr uint32_t kSinkPreview = 1;
inline constexpr uint32_t kSinkCapture = 2;
inline constexpr uint32_t kSinkStill = 4;

// Graph states of SinkSetState.
inline constexpr uint32_t kSinkStopped = 0;
inline constexpr uint32_t kSinkPaused = 1;
inline constexpr uint32_t kSinkRunning = 2;

// Which control set SinkGetRanges / SinkGetSetValues address: 0 = camera controls,
// any other value = picture controls.
inline constexpr int32_t kSinkCameraControls = 0;
inline constexpr int32_t kSinkPictureControls = 1;

// Camera control properties (which = 0).
enum : uint32_t {
  kCameraPan = 0,
  kCameraTilt = 1,
  kCameraRoll = 2,
  kCameraZoom = 3,
  kCameraExposure = 4,
  kCameraIris = 5,
  kCameraFocus = 6,
};

// Picture control properties (which != 0).
enum : uint32_t {
  kPictureBrightness = 0,
  kPictureContrast = 1,
  kPictureHue = 2,
  kPictureSaturation = 3,
  kPictureSharpness = 4,
  kPictureGamma = 5,
  kPictureColorEnable = 6,
  kPictureWhiteBalance = 7,
  kPictureBacklightCompensation = 8,
  kPictureGain = 9,
};

// Control flags: automatic or manual setting.
inline constexpr uint32_t kControlAuto = 1;
inline constexpr uint32_t kControlManual = 2;

// Result codes stored in RangeEntry / ValueEntry.
inline constexpr uint32_t kSinkOk = 0;
inline constexpr uint32_t kSinkNotImplemented = 0x80004001u;   // E_NOTIMPL
inline constexpr uint32_t kSinkFail = 0x80004005u;             // E_FAIL
inline constexpr uint32_t kSinkInvalidArg = 0x80070057u;       // E_INVALIDARG
inline constexpr uint32_t kSinkPropUnsupported = 0x80070490u;  // E_PROP_ID_UNSUPPORTED

// One format of a category: 12 bytes. `format` is a FOURCC in memory order ("UYVY",
// "YV12", "IJPG", ...) or the first 32 bits of an RGB media subtype.
struct FormatEntry {
  int32_t width;   // pixels (taken as absolute value)
  int32_t height;  // pixels (taken as absolute value)
  uint32_t format;
  bool operator==(const FormatEntry&) const = default;
};

// One control range: seven 32-bit words.
struct RangeEntry {
  uint32_t property;
  int32_t minimum;
  int32_t maximum;
  int32_t step;
  int32_t defaultValue;
  uint32_t capabilityFlags;  // kControlAuto / kControlManual bits
  uint32_t result;           // kSinkOk or the failure code of the query
};

// One control value: four 32-bit words.
struct ValueEntry {
  uint32_t property;
  int32_t value;
  uint32_t flags;   // kControlAuto / kControlManual
  uint32_t result;  // kSinkOk or the failure code of the call
};

// Called with one picture: (data, size in bytes, user value). The bytes are the
// callback's to read and change until it returns. For "IJPG" the size is the
// length of the complete JPEG file; for raw formats the size of one picture.
struct SampleCallback {
  void (*function)(uint8_t* data, uint32_t sizeBytes, void* user);  // null: drop
  void* user;
};

struct FramesinkTable {
  // 0: opens the camera for the requested category mask; returns the connected mask, 0 on
  // failure (no camera; everything built is released).
  uint32_t (*SinkOpen)(uint32_t categories);
  // 1: stops and releases the graph. Always 1.
  uint32_t (*SinkClose)();
  // 2: 0 stop, 1 pause, 2 run. True when the graph exists.
  uint32_t (*SinkSetState)(uint32_t state);
  // 3: installs (or, with null / a null function, clears) the callback of a category.
  uint32_t (*SinkSetCallback)(const SampleCallback* callback, uint32_t category);
  // 4: lists up to *count formats of a category; *count becomes the number found.
  uint32_t (*SinkGetFormats)(FormatEntry* table, uint32_t* count, uint32_t category);
  // 5: selects a listed format (matched by width, height and format) for a category.
  uint32_t (*SinkSetFormat)(const FormatEntry* entry, uint32_t category);
  // 6: installs the still callback (or clears it), runs the graph and takes one still.
  uint32_t (*SinkTriggerStill)(const SampleCallback* callback);
  // 7: queries `count` ranges of camera controls (which = 0) or picture controls.
  uint32_t (*SinkGetRanges)(RangeEntry* table, uint32_t count, int32_t which);
  // 8: gets (set = 0) or sets (set != 0) `count` values.
  uint32_t (*SinkGetSetValues)(ValueEntry* table, uint32_t count, int32_t which, uint32_t set);
};

// Signature of the module's single export.
using FramesinkGetDataFunction = uint32_t (*)(FramesinkTable* table);
inline constexpr const char kFramesinkModuleName[] = "framesink.dll";

// Which camera SinkOpen uses. The environment variable wins over the setting; both take
// "auto" (the first V4L2 capture device, else the test-pattern device), "v4l2" (the first
// V4L2 capture device only), "test-pattern", or a device path such as "/dev/video2".
inline constexpr const char kFramesinkDeviceEnvironment[] = "VISTREL_FRAMESINK_DEVICE";
inline constexpr const char16_t kFramesinkSettingsKey[] = u"Software\\Orvane\\Vistrel\\Framesink";
inline constexpr const char16_t kFramesinkDeviceValue[] = u"Device";
