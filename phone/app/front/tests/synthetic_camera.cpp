#include "synthetic_camera.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <jpeglib.h>

#include "platform/clock.h"
#include "platform/event.h"
#include "texts/text_ids.h"

namespace testing_sources {

namespace {
constexpr const char kCommentTag[] = "vistrel-frame ";
constexpr uint32_t kWidths[3] = {320, 640, 1280};
constexpr uint32_t kHeights[3] = {240, 480, 960};
constexpr uint32_t kRates[4] = {0, 30, 15, 5};  // 0 = as fast as taken
}  // namespace

size_t encodeTestPicture(uint32_t number, uint32_t width, uint32_t height, uint8_t* out,
                         size_t capacity, std::vector<uint8_t>& rgb, int quality) {
  rgb.resize(static_cast<size_t>(width) * height * 3);
  static const uint8_t bars[8][3] = {{235, 235, 235}, {235, 235, 16}, {16, 235, 235}, {16, 235, 16},
                                     {235, 16, 235},  {235, 16, 16},  {16, 16, 235},  {16, 16, 16}};
  const uint32_t shift = number * 4;
  for (uint32_t y = 0; y < height; ++y) {
    uint8_t* row = rgb.data() + static_cast<size_t>(y) * width * 3;
    for (uint32_t x = 0; x < width; ++x) {
      const uint8_t* c = bars[((x + shift) * 8 / width) % 8];
      const uint8_t shade = static_cast<uint8_t>((y * 64) / height);
      row[x * 3 + 0] = static_cast<uint8_t>(c[0] - (c[0] > 64 ? shade / 2 : 0));
      row[x * 3 + 1] = c[1];
      row[x * 3 + 2] = c[2];
    }
  }
  jpeg_compress_struct cinfo{};
  jpeg_error_mgr jerr{};
  cinfo.err = jpeg_std_error(&jerr);
  jpeg_create_compress(&cinfo);
  unsigned char* buffer = out;
  unsigned long size = capacity;
  jpeg_mem_dest(&cinfo, &buffer, &size);
  cinfo.image_width = width;
  cinfo.image_height = height;
  cinfo.input_components = 3;
  cinfo.in_color_space = JCS_RGB;
  jpeg_set_defaults(&cinfo);
  jpeg_set_quality(&cinfo, quality, TRUE);
  cinfo.dct_method = JDCT_IFAST;
  jpeg_start_compress(&cinfo, TRUE);
  char comment[40];
  const int n = std::snprintf(comment, sizeof comment, "%s%06u", kCommentTag, number);
  jpeg_write_marker(&cinfo, JPEG_COM, reinterpret_cast<const JOCTET*>(comment),
                    static_cast<unsigned>(n));
  while (cinfo.next_scanline < cinfo.image_height) {
    JSAMPROW row = rgb.data() + static_cast<size_t>(cinfo.next_scanline) * width * 3;
    jpeg_write_scanlines(&cinfo, &row, 1);
  }
  jpeg_finish_compress(&cinfo);
  jpeg_destroy_compress(&cinfo);
  size_t length = size;
  if (buffer != out) {  // the library needed more room than we gave
    std::free(buffer);
    length = 0;
  }
  return length;
}

long pictureNumber(const uint8_t* jpeg, size_t size) {
  const size_t tag = sizeof kCommentTag - 1;
  for (size_t i = 0; i + 4 + tag + 6 <= size && i < 256; ++i) {
    if (jpeg[i] == 0xFF && jpeg[i + 1] == 0xFE &&
        std::memcmp(jpeg + i + 4, kCommentTag, tag) == 0) {
      return std::strtol(std::string(reinterpret_cast<const char*>(jpeg + i + 4 + tag), 6).c_str(),
                         nullptr, 10);
    }
  }
  return -1;
}

SyntheticCamera::SyntheticCamera() {
  static const char16_t* const resolutionLabels[3] = {u"320x240", u"640x480", u"1280x960"};
  for (int i = 0; i < 3; ++i) resolutionChoices_[i] = {0, i, resolutionLabels[i]};
  static const char16_t* const rateLabels[4] = {nullptr, u"30", u"15", u"5"};
  for (int i = 0; i < 4; ++i) {
    rateChoices_[i] = {i == 0 ? static_cast<uint32_t>(texts::kTextMax) : 0u,
                       static_cast<int32_t>(kRates[i]), rateLabels[i]};
  }
}

SyntheticCamera::~SyntheticCamera() { Stop(); }

void SyntheticCamera::Init() {
  resolution_ = settings::SourceSetting{};
  resolution_.textId = texts::kTextResolution;
  resolution_.count = 3;
  resolution_.defaultIndex = 0;
  resolution_.choices = resolutionChoices_;
  resolution_.key = settings::newSettingKey();
  resolution_.next = &rate_;
  rate_ = settings::SourceSetting{};
  rate_.textId = texts::kTextFrameRate;
  rate_.count = 4;
  rate_.defaultIndex = 2;
  rate_.choices = rateChoices_;
  rate_.key = settings::newSettingKey();
}

uint32_t SyntheticCamera::NameTextId() { return texts::kTextCamera; }

bool SyntheticCamera::Start(sources::StartParams& params) {
  Stop();
  if (params.mode != sources::kModeCapture) return true;  // no preview
  const int32_t r = settings::effectiveIndex(resolution_);
  const int32_t f = settings::effectiveIndex(rate_);
  const uint32_t width = kWidths[r >= 0 && r < 3 ? r : 0];
  const uint32_t height = kHeights[r >= 0 && r < 3 ? r : 0];
  const uint32_t rate = kRates[f >= 0 && f < 4 ? f : 2];
  const size_t capacity = 32 + static_cast<size_t>(width) * height * 3 + 4096;
  for (auto& b : buffers_) b.assign(capacity, 0);
  {
    std::lock_guard lock(mutex_);
    running_ = true;
    halt_ = false;
    waiting_ = false;
  }
  platform::Event* ready = params.frameReady;
  thread_ = std::thread([this, width, height, rate, ready] {
    produce(width, height, rate ? 1000 / rate : 0, ready);
  });
  return true;
}

void SyntheticCamera::produce(uint32_t width, uint32_t height, uint32_t intervalMs,
                              platform::Event* frameReady) {
  std::vector<uint8_t> rgb;
  uint32_t number = 0;
  int current = 0;
  platform::Clock& clock = platform::systemClock();
  uint32_t next = clock.nowMs();
  for (;;) {
    if (intervalMs) {
      std::unique_lock lock(mutex_);
      const uint32_t now = clock.nowMs();
      const int32_t wait = static_cast<int32_t>(next - now);
      if (wait > 0) taken_.wait_for(lock, std::chrono::milliseconds(wait), [this] { return halt_; });
      if (halt_) return;
      next += intervalMs;
      if (static_cast<int32_t>(clock.nowMs() - next) > static_cast<int32_t>(intervalMs)) next = clock.nowMs();
    }
    std::vector<uint8_t>& buffer = buffers_[current];
    const size_t length = encodeTestPicture(number, width, height, buffer.data() + 32, buffer.size() - 32, rgb);
    // Stamped when the picture is complete (a camera stamps at capture; the encoding
    // time is what the benchmark measures as the bare encode rate).
    uint32_t stamp = clock.nowMs();
    if (stamp == 0) stamp = 1;
    std::unique_lock lock(mutex_);
    if (halt_) return;
    if (length != 0) {
      frame_ = sources::FrameDescriptor{};
      frame_.data = buffer.data() + 32;
      frame_.sizeBytes = static_cast<uint32_t>(length);
      frame_.format = sources::kFormatJpeg;
      frame_.width = width;
      frame_.height = height;
      frame_.timestampMs = stamp;
      frame_.sourceWord = number;
      waiting_ = true;
      ++produced_;
      lock.unlock();
      if (frameReady) frameReady->set();
      lock.lock();
      taken_.wait(lock, [this] { return !waiting_ || halt_; });
      if (halt_) return;
      current ^= 1;
    }
    ++number;
  }
}

bool SyntheticCamera::Halt() {
  {
    std::lock_guard lock(mutex_);
    halt_ = true;
    waiting_ = false;
  }
  taken_.notify_all();
  if (thread_.joinable()) thread_.join();
  return true;
}

bool SyntheticCamera::Stop() {
  Halt();
  std::lock_guard lock(mutex_);
  running_ = false;
  return true;
}

bool SyntheticCamera::IsStarted() {
  std::lock_guard lock(mutex_);
  return running_;
}

bool SyntheticCamera::SetSetting(settings::SourceSetting*, int32_t) { return true; }

uint32_t SyntheticCamera::TakeFrame(sources::FrameDescriptor* out) {
  std::lock_guard lock(mutex_);
  if (!waiting_) return 0;
  if (!out) return frame_.timestampMs;
  *out = frame_;
  waiting_ = false;
  taken_.notify_all();
  return frame_.timestampMs;
}

uint32_t SyntheticCamera::framesProduced() const {
  std::lock_guard lock(mutex_);
  return produced_;
}

}  // namespace testing_sources
