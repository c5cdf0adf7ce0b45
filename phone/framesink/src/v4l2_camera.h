#pragma once

// The V4L2 capture camera: mmap streaming on one video-capture node, its pixel formats
// and discrete frame sizes offered as FormatEntry records, its controls mapped onto the
// camera and picture control properties.
//
// Category model: a V4L2 node has one stream. Sizes it can stream at 5 frames per second
// or more are the capture category; the still category is a single picture taken from
// the same stream at the still size, and offers every size (so sizes the camera only
// delivers slowly are stills only). There is no preview category.

#include <memory>
#include <string>

#include "camera_device.h"
#include "platform/v4l2_io.h"

namespace framesink {

// Opens `path`, or with an empty path the first node that is a streaming video-capture
// device. Null when there is none (or it cannot be opened).
std::unique_ptr<CameraDevice> openV4l2Camera(std::shared_ptr<platform::V4l2Io> io, const std::string& path);

// Frame rate below which a size is offered as a still only.
inline constexpr uint32_t kMinCaptureFramesPerSecond = 5;

}  // namespace framesink
