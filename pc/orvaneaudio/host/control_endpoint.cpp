#include "orvaneaudio/control_endpoint.h"

#include "orvaneaudio/feed_control.h"
#include "orvaneaudio/feed_ring.h"

namespace orvaneaudio {

static_assert(platform::kDeviceInvalidRequest == kStatusInvalidParameter);

ControlEndpoint::Handler feedHandler(FeedRing& ring) {
  return [&ring](uint32_t code, const uint8_t* in, uint32_t length) -> uint32_t {
    if (code != IOCTL_AUDIO_FEED_WRITE) return kStatusInvalidParameter;
    ring.write(length > 0 ? in : nullptr, length);
    return kStatusSuccess;
  };
}

}  // namespace orvaneaudio
