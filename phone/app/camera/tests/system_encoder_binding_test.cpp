#include "camera/system_encoder.h"

#include <gtest/gtest.h>

#include "sources/capture_source.h"
#include "sources/module_loader.h"

namespace camera {
namespace {

int32_t callFactory(SystemEncoderFactory factory) {
  SystemEncoder* object = nullptr;
  SystemEncoderCreation record;
  record.width = 32;
  record.height = 32;
  record.quality = 70;
  record.format = sources::kFormatYv12;
  const int32_t result = factory(&object, &record);
  if (object) object->operations->Release(object);
  return result;
}

TEST(SystemEncoderBinding, TheSystemLibraryComesFirstThenTheFallbackBesideTheProgram) {
  sources::FolderModuleLoader both({VISTREL_FAKE_JPEGENC_DIR, VISTREL_MODULE_DIR});
  const SystemEncoderBinding system = SystemEncoderBinding::bind(both);
  ASSERT_TRUE(system);
  EXPECT_EQ(callFactory(system.factory()), 77);  // the stand-in's answer

  sources::FolderModuleLoader fallbackOnly({VISTREL_MODULE_DIR});
  const SystemEncoderBinding fallback = SystemEncoderBinding::bind(fallbackOnly);
  ASSERT_TRUE(fallback);
  EXPECT_EQ(callFactory(fallback.factory()), 0);  // blenhart.so makes a real object

  sources::FolderModuleLoader none({VISTREL_FAKE_JPEGENC_DIR "/nothing-here"});
  EXPECT_FALSE(SystemEncoderBinding::bind(none));
}

TEST(SystemEncoderBinding, OneFactoryPerProcess) {
  sources::FolderModuleLoader fallbackOnly({VISTREL_MODULE_DIR});
  const SystemEncoderFactory first = processSystemEncoder(fallbackOnly);
  ASSERT_NE(first, nullptr);
  sources::FolderModuleLoader other({VISTREL_FAKE_JPEGENC_DIR});
  EXPECT_EQ(processSystemEncoder(other), first);  // bound once, by the first caller
}

}  // namespace
}  // namespace camera
