// The PC library's entry table over the real engine, without the settings and About
// dialogs (they answer 1 and show nothing) and without a language module (the viewer's
// own texts serve). The viewer's end-to-end test loads it as "device.ax".
#include <cstdint>

#include "engine/camera_engine.h"
#include "entries/device_entry_table.h"

namespace {

using engine::CameraEngine;

uint32_t Open(uint8_t serve) { return CameraEngine::instance().open(serve != 0) ? 1 : 0; }

void Close() {
  CameraEngine::instance().releaseServingMarker();
  CameraEngine::destroyInstance();
}

uint32_t ReloadSettings() { return CameraEngine::instance().reloadSettings(); }
uint32_t ShowAbout(void*) { return 1; }
uint32_t ShowSettings(void*) { return 1; }

uint32_t SendPhoneInput(uint32_t message, uint32_t x, uint32_t y) {
  return CameraEngine::instance().sendPhoneInput(message, x, y);
}

uint32_t GetFrame(uint8_t** frame) { return CameraEngine::instance().getFrame(frame); }
int32_t WaitFrame(uint32_t timeoutMs) { return CameraEngine::instance().waitFrame(timeoutMs); }
void Wake() { CameraEngine::instance().wake(); }

uint32_t DecodeJpeg(const uint8_t* data, uint32_t size, uint32_t* width, uint32_t* height) {
  return CameraEngine::instance().decodeJpeg(data, size, width, height) ? 1 : 0;
}

uint32_t SetOutputSize(uint32_t width, uint32_t height) {
  CameraEngine::instance().setOutputSize(width, height);
  return 1;
}

uint32_t RenderFrame(uint8_t* destination) {
  return CameraEngine::instance().renderFrame(destination) ? 1 : 0;
}

void* GetResourceModule() { return nullptr; }

}  // namespace

extern "C" uint32_t DllGetData(DeviceEntryTable* table) {
  if (table == nullptr) return 0;
  *table = DeviceEntryTable{Open,           Close,       ReloadSettings, ShowAbout,
                            ShowSettings,   SendPhoneInput, GetFrame,    WaitFrame,
                            Wake,           DecodeJpeg,  SetOutputSize, RenderFrame,
                            GetResourceModule};
  return 1;
}
