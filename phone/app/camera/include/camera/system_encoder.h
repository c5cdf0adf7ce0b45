#pragma once

// The system's hardware JPEG encoder, reached through a factory that a run-time module
// provides: "JPEGENC.dll" with the export "gCreateJpegImageEncoder", else the fallback
// "blenhart.dll" beside the program with the export "DllGetData" (both the same factory
// signature). On this platform the fallback is our own module (sysenc/) on the system's
// libjpeg. The pipeline binds one factory per process.
//
// The encoder object is created for one picture size and quality and encodes planar
// "YV12" pictures (luma, then U, then V) of exactly that size; the pipeline turns the
// picture beforehand (picture_repack.h), the object is given no rotation.
//
// Threading: one encoder object must not be used by two threads at once. Separate objects
// and the factory are independent.

#include <cstdint>
#include <memory>

#include "sources/module_loader.h"

namespace camera {

// The creation record handed to the factory.
struct SystemEncoderCreation {
  uint32_t recordBytes = sizeof(SystemEncoderCreation);  // lets a module check the layout
  uint32_t width = 0;   // of the pictures to encode (already turned)
  uint32_t height = 0;
  uint32_t quality = 0;           // 1..100 as libjpeg counts it
  uint32_t thumbnailWidth = 160;  // size of an embedded thumbnail, if the encoder makes one
  uint32_t thumbnailHeight = 120;
  uint32_t format = 0;  // input layout: the FOURCC "YV12" in the program's plane order
};

struct SystemEncoder;

// The object's operations, in this order.
struct SystemEncoderOperations {
  // Encodes one picture of the creation size from `source` into `destination`.
  // *inOutSize is the room of the destination on entry and the JPEG length on return.
  // 0 on success; anything else is an error (nothing usable in the destination).
  int32_t (*Encode)(SystemEncoder* encoder, const uint8_t* source, uint8_t* destination,
                    uint32_t* inOutSize);
  // Frees the object.
  void (*Release)(SystemEncoder* encoder);
  // Sets an option; 0 on success. May be null (no options).
  int32_t (*SetOption)(SystemEncoder* encoder, uint32_t option, uint32_t value);
};

// Every encoder object begins with its operations.
struct SystemEncoder {
  const SystemEncoderOperations* operations;
};

// Option 10: embedding of the thumbnail; the pipeline turns it off (value 0).
inline constexpr uint32_t kSystemEncoderOptionThumbnail = 10;

// Creates an object in *slot. 0 on success (with a non-null object); anything else fails.
using SystemEncoderFactory = int32_t (*)(SystemEncoder** slot, const SystemEncoderCreation* record);

inline constexpr char kSystemEncoderModuleName[] = "JPEGENC.dll";
inline constexpr char kSystemEncoderEntryName[] = "gCreateJpegImageEncoder";
inline constexpr char kFallbackEncoderModuleName[] = "blenhart.dll";
inline constexpr char kFallbackEncoderEntryName[] = "DllGetData";

// A bound factory and the module that holds its code.
class SystemEncoderBinding {
 public:
  // "JPEGENC.dll" by the system's search (loader.load), else "blenhart.dll" from the
  // program's folder (loader.loadBesideProgram); empty when neither has its export.
  static SystemEncoderBinding bind(sources::ModuleLoader& loader);

  SystemEncoderFactory factory() const { return factory_; }
  explicit operator bool() const { return factory_ != nullptr; }

 private:
  std::unique_ptr<platform::Module> module_;
  SystemEncoderFactory factory_ = nullptr;
};

// The process's factory: bound on the first call (by the first camera source built) with
// `loader`, kept for the rest of the run; later calls return the same factory. Null when
// there is none. Thread-safe.
SystemEncoderFactory processSystemEncoder(sources::ModuleLoader& loader);

}  // namespace camera
