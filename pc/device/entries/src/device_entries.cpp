// The entry table of the PC library, and what happens when the library is unloaded.
#include "dialogs/device_dialogs.h"
#include "engine/camera_engine.h"
#include "engine/service_link.h"
#include "entries/device_entry_table.h"
#include "platform/module.h"
#include "warden/service_control_link.h"

namespace {

using engine::CameraEngine;

// The process's engine, made on first use.
CameraEngine& processEngine() {
#ifdef _WIN32
  // Windows unloads a library under its loader lock, where the engine's threads could not
  // be joined: once an entry made the engine, the library stays until the process ends,
  // and the process's end takes the engine with it.
  static const bool kept = platform::keepModuleLoaded(reinterpret_cast<const void*>(&processEngine));
  (void)kept;
#endif
  return CameraEngine::instance();
}

uint32_t Open(uint8_t serve) {
  CameraEngine& engine = processEngine();
  dialogs::ResourceModule(engine);  // the language first: the engine's messages speak it
  return engine.open(serve != 0) ? 1 : 0;
}

void Close() {
  processEngine().releaseServingMarker();
  CameraEngine::destroyInstance();
}

uint32_t ReloadSettings() { return processEngine().reloadSettings(); }

uint32_t ShowAbout(void* parent) {
  dialogs::ShowAbout(processEngine(), parent);
  return 1;
}

uint32_t ShowSettings(void* parent) {
  dialogs::ShowSettings(processEngine(), parent);
  return 1;
}

uint32_t SendPhoneInput(uint32_t message, uint32_t x, uint32_t y) {
  return processEngine().sendPhoneInput(message, x, y);
}

uint32_t GetFrame(uint8_t** frame) { return processEngine().getFrame(frame); }
int32_t WaitFrame(uint32_t timeoutMs) { return processEngine().waitFrame(timeoutMs); }
void Wake() { processEngine().wake(); }

uint32_t DecodeJpeg(const uint8_t* data, uint32_t size, uint32_t* width, uint32_t* height) {
  return processEngine().decodeJpeg(data, size, width, height) ? 1 : 0;
}

uint32_t SetOutputSize(uint32_t width, uint32_t height) {
  processEngine().setOutputSize(width, height);
  return 1;
}

uint32_t RenderFrame(uint8_t* destination) {
  return processEngine().renderFrame(destination) ? 1 : 0;
}

void* GetResourceModule() {
  return const_cast<platform::ResourceModule*>(dialogs::ResourceModule(processEngine()));
}

// The library reaches the running service through its control endpoint; its messages
// and texts go through the dialogs' hooks.
__attribute__((constructor)) void onLoad() {
  engine::setServiceLink(&warden::serviceControlLink());
  engine::setHooks(&dialogs::libraryHooks());
}

// The engine and the language modules go with the library. (On Windows this runs only
// when the process ends, if an entry made the engine: the threads are gone then, and so
// is everything the engine held.)
__attribute__((destructor)) void onUnload() {
#ifndef _WIN32
  CameraEngine::destroyInstance();
#endif
  engine::setHooks(nullptr);
  dialogs::releaseLanguages();
}

}  // namespace

extern "C" __attribute__((visibility("default"))) uint32_t DllGetData(DeviceEntryTable* table) {
  if (table == nullptr) return 0;
  *table = DeviceEntryTable{Open,           Close,       ReloadSettings, ShowAbout,
                            ShowSettings,   SendPhoneInput, GetFrame,    WaitFrame,
                            Wake,           DecodeJpeg,  SetOutputSize, RenderFrame,
                            GetResourceModule};
  return 1;
}
