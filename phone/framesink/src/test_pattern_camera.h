#pragma once

// The built-in camera for machines without one: the sizes of kTestPatternSizes in "UYVY"
// and "YV12" for both the capture and the still category, pictures drawn by
// renderTestPattern at a steady rate, frame numbers counting from 1 for each camera
// opened, and a brightness picture control of its own (0..8, default 4).

#include <memory>

#include "camera_device.h"
#include "platform/clock.h"

namespace framesink {

inline constexpr uint32_t kTestPatternPeriodMs = 66;  // about 15 pictures a second

std::unique_ptr<CameraDevice> openTestPatternCamera(platform::Clock& clock = platform::systemClock());

}  // namespace framesink
