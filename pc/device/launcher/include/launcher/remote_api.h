#pragma once

// The remote-API module: how the PC reaches a device to start the device program there.
// It is loaded at run time by the name "rapi" (rapi.so beside the PC library, see
// platform::loadModule) and is optional: without it the device program is started by
// hand. Each implementation chooses its own way to the device (the shipped one uses ssh;
// a local one runs the program on this machine for tests).
//
// The entry points are plain C functions looked up by name, so their names keep their
// spelling. One process runs one session at a time: CeRapiInitEx ... CeRapiUninit.
//
//  CeRapiInitEx(init)   starts reaching the device. Returns 0 when it started; the module
//                       then sets init->event (calls its set) once it has ended, any
//                       thread, with init->result 0 when the device answered, else a
//                       kRapi... code. Non-zero: nothing was started and the event is
//                       never set.
//  CeRapiUninit()       ends the session, also one whose initialisation is still running
//                       (it is cut short); nothing of the session runs after it returns.
//  CeRegOpenKeyEx       opens a key of the device's settings (HKEY_LOCAL_MACHINE only);
//                       0 = open.
//  CeRegQueryValueEx    reads a value of an open key: type and data, `sizeBytes` in = the
//                       buffer's capacity, out = the value's size; 0 = read and it fitted.
//  CeRegCloseKey        closes a key.
//  CeCreateProcess      starts `path` with `commandLine` on the device, detached, and
//                       returns non-zero when it was started.
//  RapiLastError        (optional) the reason of the last failure as UTF-8 text; returns
//                       its length, writes at most `capacity` - 1 bytes and a zero.

#include <cstdint>

inline constexpr uint32_t kRapiHkeyLocalMachine = 0x80000002u;
inline constexpr uint32_t kRapiKeyAllAccess = 0xF003Fu;

// init->result codes.
inline constexpr int32_t kRapiOk = 0;
inline constexpr int32_t kRapiNotConfigured = 1;  // no device is set up
inline constexpr int32_t kRapiUnreachable = 2;    // no answer, or the connection failed
inline constexpr int32_t kRapiRefused = 3;        // the device refused the login
inline constexpr int32_t kRapiFailed = 4;         // anything else

extern "C" {

// The caller's event: the module calls set(object). (A module keeps its own copy of any
// library it links, so it cannot reach the caller's objects by their methods.)
struct RapiEvent {
  void (*set)(void* object) = nullptr;
  void* object = nullptr;
};

struct RapiInit {
  uint32_t size = sizeof(RapiInit);
  RapiEvent event;
  int32_t result = kRapiFailed;
};

using RapiKey = void*;

using RapiInitExFunction = int32_t (*)(RapiInit* init);
using RapiUninitFunction = int32_t (*)();
using RapiCreateProcessFunction = int32_t (*)(const char16_t* path, const char16_t* commandLine);
using RapiRegOpenKeyExFunction = int32_t (*)(uint32_t root, const char16_t* subKey, uint32_t options,
                                             uint32_t access, RapiKey* key);
using RapiRegQueryValueExFunction = int32_t (*)(RapiKey key, const char16_t* name, uint32_t* type,
                                                uint8_t* data, uint32_t* sizeBytes);
using RapiRegCloseKeyFunction = int32_t (*)(RapiKey key);
using RapiLastErrorFunction = uint32_t (*)(char* text, uint32_t capacity);

}  // extern "C"
