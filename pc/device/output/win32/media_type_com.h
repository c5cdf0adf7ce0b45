#pragma once

// The capture pin's media types as DirectShow passes them (AM_MEDIA_TYPE with a format
// block from CoTaskMemAlloc) and back, and the small COM helpers the filter and its
// property page share.

#include <windows.h>
#include <dshow.h>

#include "output/media_type.h"

namespace output::win32 {

// Releases a COM pointer that may be null and forgets it.
template <typename T>
void safeRelease(T*& p) {
  if (p != nullptr) p->Release();
  p = nullptr;
}

inline GUID toGuid(const Guid& g) {
  GUID out;
  static_assert(sizeof(out) == sizeof(g));
  std::memcpy(&out, &g, sizeof(out));
  return out;
}
inline Guid fromGuid(const GUID& g) {
  Guid out;
  std::memcpy(&out, &g, sizeof(out));
  return out;
}

MediaType fromAmMediaType(const AM_MEDIA_TYPE& am);
// Fills `am` (its format block is allocated with CoTaskMemAlloc); false when out of memory.
bool toAmMediaType(const MediaType& type, AM_MEDIA_TYPE* am);
// A whole AM_MEDIA_TYPE from CoTaskMemAlloc, as enumerators and GetFormat hand out.
AM_MEDIA_TYPE* newAmMediaType(const MediaType& type);
void freeAmMediaTypeContents(AM_MEDIA_TYPE& am);
void deleteAmMediaType(AM_MEDIA_TYPE* am);

}  // namespace output::win32
