#include "media_type_com.h"

#include <cstring>

namespace output::win32 {

MediaType fromAmMediaType(const AM_MEDIA_TYPE& am) {
  MediaType type;
  type.majorType = fromGuid(am.majortype);
  type.subtype = fromGuid(am.subtype);
  type.fixedSizeSamples = am.bFixedSizeSamples != FALSE;
  type.temporalCompression = am.bTemporalCompression != FALSE;
  type.sampleSize = am.lSampleSize;
  type.formatType = fromGuid(am.formattype);
  // A block larger than any format we know is not ours to copy whole; the header is
  // what is read from it.
  if (am.pbFormat != nullptr && am.cbFormat > 0 && am.cbFormat <= 65536) {
    type.format.assign(am.pbFormat, am.pbFormat + am.cbFormat);
  }
  return type;
}

bool toAmMediaType(const MediaType& type, AM_MEDIA_TYPE* am) {
  std::memset(am, 0, sizeof(*am));
  am->majortype = toGuid(type.majorType);
  am->subtype = toGuid(type.subtype);
  am->bFixedSizeSamples = type.fixedSizeSamples;
  am->bTemporalCompression = type.temporalCompression;
  am->lSampleSize = type.sampleSize;
  am->formattype = toGuid(type.formatType);
  if (!type.format.empty()) {
    am->pbFormat = static_cast<BYTE*>(CoTaskMemAlloc(type.format.size()));
    if (am->pbFormat == nullptr) return false;
    std::memcpy(am->pbFormat, type.format.data(), type.format.size());
    am->cbFormat = static_cast<ULONG>(type.format.size());
  }
  return true;
}

AM_MEDIA_TYPE* newAmMediaType(const MediaType& type) {
  auto* am = static_cast<AM_MEDIA_TYPE*>(CoTaskMemAlloc(sizeof(AM_MEDIA_TYPE)));
  if (am == nullptr) return nullptr;
  if (!toAmMediaType(type, am)) {
    CoTaskMemFree(am);
    return nullptr;
  }
  return am;
}

void freeAmMediaTypeContents(AM_MEDIA_TYPE& am) {
  if (am.pbFormat != nullptr) CoTaskMemFree(am.pbFormat);
  am.pbFormat = nullptr;
  am.cbFormat = 0;
  if (am.pUnk != nullptr) am.pUnk->Release();
  am.pUnk = nullptr;
}

void deleteAmMediaType(AM_MEDIA_TYPE* am) {
  if (am == nullptr) return;
  freeAmMediaTypeContents(*am);
  CoTaskMemFree(am);
}

}  // namespace output::win32
