#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "output/pixel_convert.h"
#include "platform/v4l2_io.h"

namespace output {

// Writes the camera's pictures to a v4l2loopback device: sets the device's output format
// to the picture size and the chosen pixel format, then writes each picture whole with
// one write() (continued after a partial write or an interruption). Programs that open the
// device read the pictures as from any camera.
class V4l2Output {
 public:
  V4l2Output(platform::V4l2Io& io, std::string path, PixelFormat format);
  ~V4l2Output();
  V4l2Output(const V4l2Output&) = delete;
  V4l2Output& operator=(const V4l2Output&) = delete;

  // Opens the device and checks that it takes pictures (a video output device).
  bool open(std::string* error);
  // Sets the format for width x height. Fails when the device refuses or changes it.
  bool configure(uint32_t width, uint32_t height, std::string* error);
  // Converts a rendered picture (bottom-up BGR, as the engine renders) and writes it. A
  // picture of another size first sets the format again.
  bool writePicture(const uint8_t* bottomUpBgr, uint32_t width, uint32_t height,
                    std::string* error);
  void close();

  bool isOpen() const { return fd_ >= 0; }
  uint64_t picturesWritten() const { return written_; }

 private:
  bool writeAll(const uint8_t* data, size_t size, std::string* error);

  platform::V4l2Io& io_;
  std::string path_;
  PixelFormat format_;
  int fd_ = -1;
  uint32_t width_ = 0, height_ = 0;
  std::vector<uint8_t> picture_;
  uint64_t written_ = 0;
};

// The V4L2 four-character code for a picture format.
uint32_t V4l2FourCc(PixelFormat format);
// "yuyv", "bgr24", "rgb24", "bgrx", "rgbx", "i420".
std::optional<PixelFormat> parseV4l2Format(const std::string& name);

}  // namespace output
