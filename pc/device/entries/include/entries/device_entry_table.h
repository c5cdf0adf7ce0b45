#pragma once

#include <cstdint>

// The PC library's entry table. Programs load the library by name ("device.ax"), look up
// DllGetData and call it once with a table of 13 entries, which it fills in this order.
// Every entry acts on the process's one engine, creating it on first use. Truth values:
// only the low byte counts.
//
// Calling order: Open first; then any entry from any thread (a frame loop: WaitFrame,
// GetFrame, DecodeJpeg, RenderFrame); Wake to release a waiting thread; Close last.
// DllGetData and the slot names keep the table's spelling.
extern "C" {

struct DeviceEntryTable {
  uint32_t (*Open)(uint8_t serve);                      // 0: 1 = serve other processes
  void (*Close)();                                      // 1
  uint32_t (*ReloadSettings)();                         // 2: returns 1
  uint32_t (*ShowAbout)(void* parentWindow);            // 3: returns 1
  uint32_t (*ShowSettings)(void* parentWindow);         // 4: returns 1
  uint32_t (*SendPhoneInput)(uint32_t message, uint32_t x, uint32_t y);  // 5
  uint32_t (*GetFrame)(uint8_t** frame);                // 6: JPEG length, 0 = none
  int32_t (*WaitFrame)(uint32_t timeoutMs);             // 7: 0, 258 or -1
  void (*Wake)();                                       // 8
  uint32_t (*DecodeJpeg)(const uint8_t* data, uint32_t size, uint32_t* width,
                         uint32_t* height);             // 9
  uint32_t (*SetOutputSize)(uint32_t width, uint32_t height);  // 10
  uint32_t (*RenderFrame)(uint8_t* destination);        // 11
  void* (*GetResourceModule)();                         // 12
};

// Fills the caller's 13 entries; returns 1.
typedef uint32_t (*DeviceGetDataFunction)(DeviceEntryTable* table);

}  // extern "C"

inline constexpr int kDeviceEntryCount = 13;
static_assert(sizeof(DeviceEntryTable) == kDeviceEntryCount * sizeof(void*));
