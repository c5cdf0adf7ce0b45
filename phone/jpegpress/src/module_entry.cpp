// The module's single export: fills the caller's JpegEncoderTable and returns 1.

#include "encoder.h"

extern "C" __attribute__((visibility("default"))) uint32_t DllGetData(JpegEncoderTable* table) {
  jpegpress::fillTable(table);
  return 1;
}
