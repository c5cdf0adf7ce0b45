// A stand-in for a run-time module: the exports chosen by the build's definitions, each
// doing nothing. DllGetData fills TABLE_ENTRIES non-null entries and returns
// GET_DATA_RESULT.

#include <cstdint>

#define EXPORT extern "C" __attribute__((visibility("default")))


#if defined(HTC_REQUIRED)
EXPORT int Camera_Init() { return 1; }
EXPORT int Camera_Begin() { return 1; }
EXPORT int Camera_End() { return 1; }
#endif
#if defined(HTC_DEINIT)
EXPORT int Camera_Deinit() { return 1; }
#endif
#if defined(HTC_OPTIONAL)
EXPORT int Camera_SetProperty() { return 1; }
EXPORT int Camera_GetProperty() { return 1; }
EXPORT int Camera_FlashLight() { return 1; }
EXPORT int Camera_EncodeJPEG() { return 1; }
#endif

#if defined(GF_ALL)
EXPORT int GFRmOpen() { return 1; }
EXPORT int GFRmClose() { return 1; }
EXPORT int GFRmGetAttribute() { return 1; }
EXPORT int GFRmComponentGet() { return 1; }
EXPORT int GFRmComponentRelease() { return 1; }
EXPORT int GFRmSurfaceAlloc() { return 1; }
#endif
#if defined(GF_SURFACE_FREE)
EXPORT int GFRmSurfaceFree() { return 1; }
#endif

#if defined(GET_DATA_RESULT)
namespace {
int fakeEntry() { return 1; }
}  // namespace

#if defined(JPEGPRESS_TABLE)
// The encoder module's own signature, so that a call through the table type matches.
#include "jpegpress/jpeg_encoder_table.h"
using Table = JpegEncoderTable;
#else
using Table = void;
#endif

EXPORT uint32_t DllGetData(Table* table) {
  void** entries = reinterpret_cast<void**>(table);
  for (int i = 0; i < TABLE_ENTRIES; ++i) entries[i] = reinterpret_cast<void*>(&fakeEntry);
  return GET_DATA_RESULT;
}
#endif
