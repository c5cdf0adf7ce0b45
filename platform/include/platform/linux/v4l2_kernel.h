#pragma once

// The kernel's V4L2 request codes and structures (VIDIOC_*, v4l2_format, v4l2_buffer, ...)
// as the ioctls of platform/v4l2_io.h take them. This is the one place outside
// platform/posix that includes the kernel's header: the code that drives a V4L2 node
// (the device program's camera, the PC's loopback output) is Linux code by nature and
// speaks the kernel's structures as they are, rather than through a copy of them.
#include <linux/videodev2.h>
