#pragma once

#include <functional>
#include <memory>
#include <string>

#include "engine/camera_engine.h"
#include "output/capture_pin.h"

namespace output {

// The capture source's view of this process's CameraEngine. The engine is made at the
// first open. A client engine whose serving process has gone opens again by itself while
// the camera streams (it then receives the phone itself), so the stream goes on.
class EngineLink : public FrameLink {
 public:
  // The link makes an engine of its own with these options.
  explicit EngineLink(engine::CameraEngine::Options options,
                      std::function<void(const std::string&)> say = nullptr);
  // The link shares the engine that `provide` hands out when first needed (the process's
  // one).
  explicit EngineLink(std::function<std::shared_ptr<engine::CameraEngine>()> provide,
                      std::function<void(const std::string&)> say = nullptr);
  ~EngineLink() override;

  void open() override;
  void close() override;
  Source source() override;
  Wait waitFrame(uint32_t timeoutMs) override;
  uint32_t latestLength() override;
  bool renderNewest(uint8_t* dst, size_t size) override;
  Rendered renderNewestStraight(uint8_t* dst, size_t size, const TakeStraight& take) override;
  uint32_t outputWidth() override;
  uint32_t outputHeight() override;
  void setOutputSize(uint32_t width, uint32_t height) override;
  uint32_t settingsWidth() override;
  uint32_t settingsHeight() override;

  engine::CameraEngine* engine() { return engine_.get(); }
  // The engine, made now when there is none yet.
  engine::CameraEngine& ensuredEngine();
  // Wakes a streaming thread waiting for a frame.
  void wake();
  // A key or click for the phone, as the library's SendPhoneInput entry (0 before the
  // first open).
  uint32_t sendPhoneInput(uint32_t message, uint32_t x, uint32_t y);

 private:
  void ensureEngine();

  engine::CameraEngine::Options options_;
  std::function<void(const std::string&)> say_;
  std::function<std::shared_ptr<engine::CameraEngine>()> provide_;
  std::shared_ptr<engine::CameraEngine> engine_;
  bool opened_ = false;
  engine::Mode lastMode_ = engine::Mode::kStandAlone;
};

const char* modeDescription(engine::Mode mode);

}  // namespace output
