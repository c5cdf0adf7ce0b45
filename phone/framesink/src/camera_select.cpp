#include "camera_select.h"

#include <cstdlib>

#include "platform/key_store.h"
#include "platform/utf16.h"
#include "test_pattern_camera.h"
#include "v4l2_camera.h"

namespace framesink {

std::string configuredSelection(platform::KeyStore& store) {
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

std::unique_ptr<CameraDevice> openSelectedCamera(const std::string& selection,
                                                 std::shared_ptr<platform::V4l2Io> io, std::string& problem) {
  problem.clear();
  if (selection == "test-pattern") return openTestPatternCamera();
  const bool path = !selection.empty() && selection[0] == '/';
  if (auto camera = openV4l2Camera(io, path ? selection : "")) return camera;
  // The test pattern is never taken in place of a camera: colour bars would look like a
  // working product while the camera is missing or broken.
  if (path)
    problem = "no camera found: " + selection + " is not a V4L2 video capture device";
  else
    problem = "no camera found: no V4L2 video capture device (/dev/video*); " +
              std::string(kFramesinkDeviceEnvironment) +
              "=test-pattern selects the built-in test pattern";
  return nullptr;
}

}  // namespace framesink
