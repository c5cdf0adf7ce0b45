#include "output/media_type.h"

#include <cstring>

namespace output {

MediaType buildMediaType(uint32_t width, uint32_t height) {
  MediaType type;
  type.majorType = kMediaTypeVideo;
  type.subtype = kMediaSubtypeRgb24;
  type.formatType = kFormatVideoInfo;
  type.fixedSizeSamples = true;
  type.temporalCompression = false;
  const uint32_t image = pictureSize(width, height);
  type.sampleSize = image;
  VideoInfoHeader info;
  info.dwBitRate = image * 200;  // bytes x 8 bits x 25 pictures
  info.dwBitErrorRate = 0;
  info.AvgTimePerFrame = kFrameInterval;
  info.bmiHeader.biWidth = static_cast<int32_t>(width);
  info.bmiHeader.biHeight = static_cast<int32_t>(height);
  info.bmiHeader.biSizeImage = image;
  writeVideoInfo(info, &type);
  return type;
}

std::optional<VideoInfoHeader> readVideoInfo(const MediaType& type) {
  if (type.format.size() < sizeof(VideoInfoHeader)) return std::nullopt;
  VideoInfoHeader info;
  std::memcpy(&info, type.format.data(), sizeof info);
  return info;
}

void writeVideoInfo(const VideoInfoHeader& info, MediaType* type) {
  if (type->format.size() < sizeof info) type->format.resize(sizeof info);
  std::memcpy(type->format.data(), &info, sizeof info);
}

HResult checkMediaType(const MediaType& type) {
  if (type.majorType != kMediaTypeVideo || type.subtype != kMediaSubtypeRgb24 ||
      type.format.size() < sizeof(VideoInfoHeader)) {
    return kVfwEInvalidMediaType;
  }
  return kSOk;
}

VideoStreamConfigCaps buildStreamCaps(uint32_t width, uint32_t height) {
  const auto w = static_cast<int32_t>(width), h = static_cast<int32_t>(height);
  VideoStreamConfigCaps caps;
  caps.guid = kFormatVideoInfo;
  caps.VideoStandard = 0;
  caps.InputSize = {w, h};
  caps.MinCroppingSize = {80, 60};
  caps.MaxCroppingSize = {w, h};
  caps.CropGranularityX = 80;
  caps.CropGranularityY = 60;
  caps.CropAlignX = 4;
  caps.CropAlignY = 4;
  caps.MinOutputSize = {80, 60};
  caps.MaxOutputSize = {w, h};
  caps.OutputGranularityX = 4;
  caps.OutputGranularityY = 4;
  caps.MinFrameInterval = 400000;
  caps.MaxFrameInterval = 50000000;
  caps.MinBitsPerSecond = 23040;
  caps.MaxBitsPerSecond = 2147483647;
  return caps;
}

std::optional<std::pair<int32_t, int32_t>> scaleWindowPoint(int32_t x, int32_t y, int32_t width,
                                                            int32_t height) {
  if (width <= 0 || height <= 0) return std::nullopt;
  return std::make_pair(static_cast<int32_t>(int64_t{x} * 65536 / width),
                        static_cast<int32_t>(int64_t{y} * 65536 / height));
}

bool isVideoWindowMouseMessage(uint32_t message) {
  return message == 513 || message == 514 || message == 516;
}

}  // namespace output
