#pragma once

// A screen for tests: a picture the test paints, a reader over it that can be made to
// fail or to change size, and an injector that records what it was asked to do.

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/screen.h"

namespace platform {

class FakeScreen {
 public:
  struct Input {
    std::string what;  // "tap" or "key"
    uint32_t a = 0, b = 0;
  };

  FakeScreen(uint32_t width, uint32_t height, uint32_t bitsPerPixel) { resize(width, height, bitsPerPixel); }

  // A new geometry; the picture becomes black. 16 bits are RGB 5-6-5, 24 and 32 bits are
  // 8-8-8 with red in the high byte.
  void resize(uint32_t width, uint32_t height, uint32_t bitsPerPixel) {
    std::lock_guard lock(mutex_);
    width_ = width;
    height_ = height;
    layout_.bitsPerPixel = bitsPerPixel;
    if (bitsPerPixel == 16) {
      layout_.redMask = 0xF800, layout_.greenMask = 0x07E0, layout_.blueMask = 0x001F;
    } else {
      layout_.redMask = 0xFF0000, layout_.greenMask = 0x00FF00, layout_.blueMask = 0x0000FF;
    }
    // Rows padded by 8 bytes, as devices do.
    stride_ = width * (bitsPerPixel / 8) + 8;
    pixels_.assign(size_t{stride_} * height, 0);
  }
  // Sets pixel (x, y) to the raw pixel word `value`.
  void setPixel(uint32_t x, uint32_t y, uint32_t value) {
    std::lock_guard lock(mutex_);
    const uint32_t bytes = layout_.bitsPerPixel / 8;
    for (uint32_t i = 0; i < bytes; ++i)
      pixels_[size_t{y} * stride_ + size_t{x} * bytes + i] = static_cast<uint8_t>(value >> (8 * i));
  }
  // Writes a byte into the padding behind row `y` (nothing a reader may look at).
  void touchPadding(uint32_t y, uint8_t value) {
    std::lock_guard lock(mutex_);
    pixels_[size_t{y} * stride_ + stride_ - 1] = value;
  }
  void setReadable(bool readable) {
    std::lock_guard lock(mutex_);
    readable_ = readable;
  }
  // Whether new readers and injectors can be made.
  void setAvailable(bool available) {
    std::lock_guard lock(mutex_);
    available_ = available;
  }
  // Reads refused while the screen is not readable.
  uint32_t refusedReads() const {
    std::lock_guard lock(mutex_);
    return refusedReads_;
  }
  uint32_t reads() const {
    std::lock_guard lock(mutex_);
    return reads_;
  }
  uint32_t readersOpened() const {
    std::lock_guard lock(mutex_);
    return opened_;
  }
  std::vector<Input> inputs() const {
    std::lock_guard lock(mutex_);
    return inputs_;
  }

  std::unique_ptr<ScreenReader> openReader(ScreenKind kind = ScreenKind::kDisplayServer) {
    std::lock_guard lock(mutex_);
    if (!available_) return nullptr;
    ++opened_;
    return std::make_unique<Reader>(*this, kind);
  }
  std::unique_ptr<InputInjector> openInjector() {
    std::lock_guard lock(mutex_);
    if (!available_) return nullptr;
    return std::make_unique<Injector>(*this);
  }

 private:
  class Reader final : public ScreenReader {
   public:
    Reader(FakeScreen& screen, ScreenKind kind) : screen_(screen), kind_(kind) {}
    bool read(ScreenImage& out) override {
      std::lock_guard lock(screen_.mutex_);
      if (!screen_.readable_) {
        ++screen_.refusedReads_;
        return false;
      }
      ++screen_.reads_;
      // A copy, as a display server's answer is: the test may paint meanwhile.
      copy_ = screen_.pixels_;
      out.pixels = copy_.data();
      out.width = screen_.width_;
      out.height = screen_.height_;
      out.strideBytes = screen_.stride_;
      out.layout = screen_.layout_;
      return true;
    }
    ScreenKind kind() const override { return kind_; }
    const char* method() const override { return "fake"; }

   private:
    FakeScreen& screen_;
    const ScreenKind kind_;
    std::vector<uint8_t> copy_;
  };
  class Injector final : public InputInjector {
   public:
    explicit Injector(FakeScreen& screen) : screen_(screen) {}
    bool tap(uint32_t x, uint32_t y) override { return record("tap", x, y); }
    bool key(uint32_t virtualKey) override { return record("key", virtualKey, 0); }

   private:
    bool record(const char* what, uint32_t a, uint32_t b) {
      std::lock_guard lock(screen_.mutex_);
      screen_.inputs_.push_back({what, a, b});
      return true;
    }
    FakeScreen& screen_;
  };

  mutable std::mutex mutex_;
  uint32_t width_ = 0, height_ = 0, stride_ = 0;
  PixelLayout layout_;
  std::vector<uint8_t> pixels_;
  bool readable_ = true;
  bool available_ = true;
  uint32_t reads_ = 0;
  uint32_t refusedReads_ = 0;
  uint32_t opened_ = 0;
  std::vector<Input> inputs_;
};

}  // namespace platform
