#pragma once

// The screen readers and injectors of this platform, chosen by screen_select_posix.cpp.
#include "platform/screen.h"

namespace platform {

// Null when the frame buffer device is missing, unreadable or unusable.
std::unique_ptr<ScreenReader> openFrameBufferReader();
// Null when $DISPLAY is unset or no X server answers there (or X11 is not built in).
std::unique_ptr<ScreenReader> openDisplayServerReader();

std::unique_ptr<InputInjector> openUinputInjector(uint32_t width, uint32_t height);
std::unique_ptr<InputInjector> openDisplayServerInjector();

}  // namespace platform
