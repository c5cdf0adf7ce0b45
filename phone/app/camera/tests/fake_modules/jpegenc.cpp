// Stand-in for the system's "JPEGENC.dll": its factory creates nothing and answers 77, so
// a test can tell it from the fallback module.
#include <cstdint>

extern "C" __attribute__((visibility("default"))) int32_t gCreateJpegImageEncoder(void** slot, const void*) {
  if (slot) *slot = nullptr;
  return 77;
}
