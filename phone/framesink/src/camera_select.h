#pragma once

// Which camera SinkOpen opens: the selection text from VISTREL_FRAMESINK_DEVICE, else the
// "Device" value of the Framesink settings key, else "auto".
//   "auto" (or empty, or anything unknown)  the first V4L2 capture node, else the test pattern
//   "v4l2"                                   the first V4L2 capture node only
//   "test-pattern"                           the built-in test-pattern camera
//   a path ("/dev/video2")                   that V4L2 node only

#include <memory>
#include <string>

#include "camera_device.h"
#include "v4l2_io.h"

namespace platform {
class KeyStore;
}

namespace framesink {

// The selection text as configured (environment, then settings).
std::string ConfiguredSelection(platform::KeyStore& store);

std::unique_ptr<CameraDevice> OpenSelectedCamera(const std::string& selection,
                                                 std::shared_ptr<V4l2Io> io);

}  // namespace framesink
