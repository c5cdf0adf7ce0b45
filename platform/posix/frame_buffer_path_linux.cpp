// Where the frame buffer device is: the device probe and the screen reader ask the same.
#include <cstdlib>

#include "platform/screen.h"

namespace platform {

const char* frameBufferPath() {
  const char* path = std::getenv("VISTREL_FRAMEBUFFER");
  return path != nullptr ? path : "/dev/fb0";
}

}  // namespace platform
