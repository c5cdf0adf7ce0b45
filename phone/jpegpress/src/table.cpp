#include "encoder.h"

namespace jpegpress {

void fillTable(JpegEncoderTable* table) {
  table->CreateEncoder = createEncoder;
  table->DestroyEncoder = destroyEncoder;
  table->SetQuality = setQuality;
  table->EncodeFrame = encodeFrame;
  table->ConvertPreview = convertPreview;
}

}  // namespace jpegpress
