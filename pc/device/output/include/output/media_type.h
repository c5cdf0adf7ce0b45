#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <utility>
#include <vector>

#include "output/com_types.h"

namespace output {

// A media type as the graph passes it around: GUIDs, sample rules and the format block
// (a VIDEOINFOHEADER for our pictures, kept as bytes because a proposed type may carry a
// block of any length).
struct MediaType {
  Guid majorType{};
  Guid subtype{};
  bool fixedSizeSamples = false;
  bool temporalCompression = false;
  uint32_t sampleSize = 0;
  Guid formatType{};
  std::vector<uint8_t> format;
  friend bool operator==(const MediaType&, const MediaType&) = default;
};

// Bytes of one picture row and of the whole picture: 24-bit rows padded to 4 bytes.
constexpr uint32_t rowSize(uint32_t width) { return (width * 3 + 3) & ~3u; }
constexpr uint32_t pictureSize(uint32_t width, uint32_t height) { return rowSize(width) * height; }

// The capture pin's type for an output of width x height: RGB24, bottom-up, 25 pictures
// per second.
MediaType buildMediaType(uint32_t width, uint32_t height);

// The format block's header, when the type carries one of at least 88 bytes.
std::optional<VideoInfoHeader> readVideoInfo(const MediaType& type);
void writeVideoInfo(const VideoInfoHeader& info, MediaType* type);

// VFW_E_INVALIDMEDIATYPE unless the type is video, RGB24, with a format block of at least
// 88 bytes.
HResult checkMediaType(const MediaType& type);

// The one capability entry for the settings' size.
VideoStreamConfigCaps buildStreamCaps(uint32_t width, uint32_t height);

// The video window's click scaling: a point in client coordinates scaled to 0..65536
// across the client area. Nothing when the area is empty. Only the Windows renderer has
// such a window; the Linux outputs hand pictures to other programs and see no clicks.
std::optional<std::pair<int32_t, int32_t>> scaleWindowPoint(int32_t x, int32_t y, int32_t width,
                                                            int32_t height);

// The mouse messages the video window passes on with the cursor's scaled point: left
// button down (513) and up (514), right button down (516). Of these the engine acts only
// on the left button down (a tap).
bool isVideoWindowMouseMessage(uint32_t message);

}  // namespace output
