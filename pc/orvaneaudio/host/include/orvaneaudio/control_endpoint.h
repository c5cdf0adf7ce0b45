#pragma once

// The serving side of the microphone's control device: the platform's device server
// (platform/device_server.h) with the feed handler below.

#include <cstdint>

#include "platform/device_server.h"

namespace orvaneaudio {

using ControlEndpoint = platform::DeviceServer;
using ControlRequest = platform::DeviceRequest;
using platform::parseDeviceRequest;

// The handler of the microphone's control device: IOCTL_AUDIO_FEED_WRITE writes its bytes
// into the ring (an empty feed writes nothing) and succeeds; other codes fail.
class FeedRing;
ControlEndpoint::Handler feedHandler(FeedRing& ring);

}  // namespace orvaneaudio
