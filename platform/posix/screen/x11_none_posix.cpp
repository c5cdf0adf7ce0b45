// Built without the X11 development files: no display server screen.
#include "screen_readers.h"

namespace platform {

std::unique_ptr<ScreenReader> openDisplayServerReader() { return nullptr; }
std::unique_ptr<InputInjector> openDisplayServerInjector() { return nullptr; }

}  // namespace platform
