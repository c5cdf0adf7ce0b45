#pragma once

// Which camera SinkOpen opens: the selection text from VISTREL_FRAMESINK_DEVICE, else the
// "Device" value of the Framesink settings key, else "auto".
//   "auto" (or empty, or anything unknown)  the first V4L2 capture node
//   "v4l2"                                   the same
//   "test-pattern"                           the built-in test-pattern camera
//   a path ("/dev/video2")                   that V4L2 node only

#include <memory>
#include <string>

#include "camera_device.h"
#include "platform/v4l2_io.h"

namespace platform {
class KeyStore;
}

namespace framesink {

// The selection text as configured (environment, then settings).
std::string configuredSelection(platform::KeyStore& store);

// The selected camera; nullptr when there is none, `problem` then says so ("no camera
// found: ..."). The test pattern is opened only when selected.
std::unique_ptr<CameraDevice> openSelectedCamera(const std::string& selection,
                                                 std::shared_ptr<platform::V4l2Io> io, std::string& problem);

}  // namespace framesink
