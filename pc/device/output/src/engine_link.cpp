#include "output/engine_link.h"

#include <span>

namespace output {

namespace {
constexpr char kServerGone[] = "the serving process is gone; receiving the phone by itself from now on";
}  // namespace

const char* modeDescription(engine::Mode mode) {
  switch (mode) {
    case engine::Mode::kClient: return "client: showing the frames the serving process publishes";
    case engine::Mode::kServing: return "serving";
    case engine::Mode::kStandAlone: return "stand-alone: receiving the phone by itself";
  }
  return "?";
}

EngineLink::EngineLink(engine::CameraEngine::Options options,
                       std::function<void(const std::string&)> say)
    : options_(std::move(options)), say_(std::move(say)) {
  if (!say_) say_ = [](const std::string&) {};
}

EngineLink::EngineLink(std::function<std::shared_ptr<engine::CameraEngine>()> provide,
                       std::function<void(const std::string&)> say)
    : say_(std::move(say)), provide_(std::move(provide)) {
  if (!say_) say_ = [](const std::string&) {};
}

EngineLink::~EngineLink() = default;

void EngineLink::ensureEngine() {
  if (engine_) return;
  engine_ = provide_ ? provide_() : std::make_shared<engine::CameraEngine>(options_);
}

engine::CameraEngine& EngineLink::ensuredEngine() {
  ensureEngine();
  return *engine_;
}

void EngineLink::open() {
  ensureEngine();
  engine_->open(false);
  const engine::Mode mode = engine_->mode();
  if (opened_ && lastMode_ == engine::Mode::kClient && mode == engine::Mode::kStandAlone) {
    say_(kServerGone);
  }
  if (!opened_ || mode != lastMode_) say_(std::string("engine open, ") + modeDescription(mode));
  if (mode == engine::Mode::kStandAlone && engine_->frameServer() != nullptr) {
    say_("listening for the phone on port " + std::to_string(engine_->frameServer()->port()));
  }
  opened_ = true;
  lastMode_ = mode;
}

void EngineLink::close() {
  if (engine_) engine_->endStreaming();
}

FrameLink::Source EngineLink::source() {
  if (!engine_) return Source::kNone;
  if (engine_->frameServer() != nullptr) return Source::kFrameServer;
  if (engine_->mode() == engine::Mode::kClient) return Source::kSharedBlock;
  return Source::kNone;
}

FrameLink::Wait EngineLink::waitFrame(uint32_t timeoutMs) {
  if (!engine_) return Wait::kOther;
  const int32_t r = engine_->waitFrame(timeoutMs);
  if (lastMode_ == engine::Mode::kClient && engine_->mode() == engine::Mode::kStandAlone) {
    lastMode_ = engine::Mode::kStandAlone;  // the engine took over inside the wait
    say_(kServerGone);
    if (engine_->frameServer() != nullptr) {
      say_("listening for the phone on port " + std::to_string(engine_->frameServer()->port()));
    }
  }
  if (r == server::kWaitFrameReady) return Wait::kFrame;
  if (r == server::kWaitTimeout) return Wait::kTimeout;
  return Wait::kOther;
}

uint32_t EngineLink::sendPhoneInput(uint32_t message, uint32_t x, uint32_t y) {
  return engine_ ? engine_->sendPhoneInput(message, x, y) : 0;
}

uint32_t EngineLink::latestLength() { return engine_ ? engine_->newestFrameLength() : 0; }

bool EngineLink::renderNewest(uint8_t* dst, size_t size) {
  if (!engine_) return false;
  const engine::RenderGeometry geometry = engine_->renderGeometry();
  bool rendered = false;
  engine_->withNewestFrame([&](std::span<const uint8_t> frame) {
    rendered = engine_->render(frame, geometry, std::span<uint8_t>(dst, size));
  });
  return rendered;
}

FrameLink::Rendered EngineLink::renderNewestStraight(uint8_t* dst, size_t size,
                                                     const TakeStraight& take) {
  Rendered result;
  if (!engine_) return result;
  const engine::RenderGeometry geometry = engine_->renderGeometry();
  engine_->withNewestFrame([&](std::span<const uint8_t> frame) {
    const engine::CameraEngine::Rendered r =
        engine_->renderStraightOr(frame, geometry, std::span<uint8_t>(dst, size), take);
    result = {r.ok, r.straight};
  });
  return result;
}

uint32_t EngineLink::outputWidth() {
  ensureEngine();
  return engine_->outputWidth();
}
uint32_t EngineLink::outputHeight() {
  ensureEngine();
  return engine_->outputHeight();
}
void EngineLink::setOutputSize(uint32_t width, uint32_t height) {
  ensureEngine();
  engine_->setOutputSize(width, height);
}
uint32_t EngineLink::settingsWidth() {
  ensureEngine();
  return engine_->settings().width;
}
uint32_t EngineLink::settingsHeight() {
  ensureEngine();
  return engine_->settings().height;
}

void EngineLink::wake() {
  if (engine_) engine_->wake();
}

}  // namespace output
