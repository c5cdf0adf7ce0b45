// Which screen the device reads and where its input goes.
#include "screen_readers.h"

namespace platform {

std::unique_ptr<ScreenReader> openScreenReader(ScreenPreference preference) {
  if (preference == ScreenPreference::kDisplayServerFirst) {
    if (auto reader = openDisplayServerReader()) return reader;
    return openFrameBufferReader();
  }
  if (auto reader = openFrameBufferReader()) return reader;
  return openDisplayServerReader();
}

std::unique_ptr<InputInjector> openInputInjector(ScreenKind kind, uint32_t width, uint32_t height) {
  if (kind == ScreenKind::kDisplayServer) return openDisplayServerInjector();
  return openUinputInjector(width, height);
}

}  // namespace platform
