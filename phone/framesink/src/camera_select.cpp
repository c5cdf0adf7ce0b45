#include "camera_select.h"

#include <cstdlib>

#include "platform/key_store.h"
#include "platform/utf16.h"
#include "test_pattern_camera.h"
#include "v4l2_camera.h"

namespace framesink {

std::string ConfiguredSelection(platform::KeyStore& store) {
  if (const char* env = std::getenv(kFramesinkDeviceEnvironment); env != nullptr && *env != 0)
    return env;
  auto key = store.openKey(kFramesinkSettingsKey);
  platform::RegistryValue value;
  if (!key || !key->queryValue(kFramesinkDeviceValue, value) || value.type != platform::kRegSz)
    return "auto";
  std::u16string text;
  for (size_t i = 0; i + 1 < value.data.size(); i += 2) {
    const char16_t c = static_cast<char16_t>(value.data[i] | value.data[i + 1] << 8);
    if (c == 0) break;
    text.push_back(c);
  }
  return text.empty() ? "auto" : platform::utf16ToUtf8Lossy(text);
}

std::unique_ptr<CameraDevice> OpenSelectedCamera(const std::string& selection,
                                                 std::shared_ptr<V4l2Io> io) {
  if (selection == "test-pattern") return OpenTestPatternCamera();
  if (selection == "v4l2") return OpenV4l2Camera(io, "");
  if (!selection.empty() && selection[0] == '/') return OpenV4l2Camera(io, selection);
  if (auto camera = OpenV4l2Camera(io, "")) return camera;
  return OpenTestPatternCamera();
}

}  // namespace framesink
