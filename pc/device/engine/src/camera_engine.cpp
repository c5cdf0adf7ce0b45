#include "engine/camera_engine.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "decoder/render_geometry.h"
#include "engine/engine_hooks.h"
#include "platform/clock.h"
#include "platform/key_store.h"
#include "platform/local_datagram.h"
#include "platform/utf16.h"
#include "platform/byte_order.h"
#include "protocol/stream_header.h"

namespace engine {
namespace {

// Never destroyed, and kept in static storage rather than on the heap: the library's
// unload step still uses them after static destruction, and nothing is left to free.
template <typename T>
T& immortal() {
  alignas(T) static unsigned char storage[sizeof(T)];
  static T* object = new (storage) T();
  return *object;
}

std::mutex& instanceMutex() { return immortal<std::mutex>(); }
std::shared_ptr<CameraEngine>& instanceSlot() { return immortal<std::shared_ptr<CameraEngine>>(); }

// Text 110 of the PC text table (in English; the hooks give the current language's) and
// the viewer's stand-in name.
constexpr uint32_t kInUseTextId = 110;
constexpr char kInUseText[] = "Camera device is used by another application";
constexpr char kViewerFile[] = "lookout.exe";
constexpr char kViewerName[] = "Vistrel Viewer (lookout.exe)";
constexpr uint32_t kInUseStyle = 0x00053030;  // warning icon, modal, foreground, topmost

bool endsWith(const std::string& s, const std::string& tail) {
  return s.size() >= tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
}

}  // namespace

std::string commandEndpoint() {
  return "vistrel-" + platform::namedObjectName(kCommandEndpointName);
}

std::string inUseMessage(const std::string& otherPath) {
  const std::string shown = endsWith(otherPath, kViewerFile) ? kViewerName : otherPath;
  return hooks().text(kInUseTextId, kInUseText) + ":\n" + shown + "\n";
}

std::shared_ptr<CameraEngine> CameraEngine::sharedInstance() {
  std::lock_guard lock(instanceMutex());
  auto& slot = instanceSlot();
  if (!slot) slot = std::make_shared<CameraEngine>(Options{});
  return slot;
}

CameraEngine& CameraEngine::instance() { return *sharedInstance(); }

void CameraEngine::destroyInstance() {
  std::shared_ptr<CameraEngine> engine;
  {
    std::lock_guard lock(instanceMutex());
    engine = std::move(instanceSlot());
  }
}

CameraEngine::CameraEngine(Options options)
    : options_(std::move(options)),
      store_(options_.keyStore != nullptr ? *options_.keyStore : platform::KeyStore::machine()),
      table_(platform::utf8ToUtf16Lossy(options_.executablePath.empty() ? platform::executablePath()
                                                   : options_.executablePath)) {
  table_.registerProcess();
  settings_ = settings::readDeviceSettings(store_, table_.baseName());
  outputWidth_ = settings_.width;
  outputHeight_ = settings_.height;
}

CameraEngine::~CameraEngine() {
  relayStop_ = true;
  relay_.joinFor(server::kThreadStopWaitMs);
  table_.unregisterProcess();
  liveServer_.store(nullptr);
  if (server_) server_->stop();
  server_.reset();
  block_.reset();
}

bool CameraEngine::open(bool serve) {
  std::lock_guard lock(mutex_);
  return openLocked(serve);
}

void CameraEngine::connectPhone() {
  std::lock_guard lock(mutex_);
  openLocked(false, true);
}

bool CameraEngine::setPhoneProperty(uint32_t key, uint32_t index) {
  if (mode_ == Mode::kClient && !frameServer()) {
    // The serving process holds the list: the command goes there if its list has the value.
    bool known = false;
    readProperties([&](const std::vector<protocol::PropertyEntry>& list) {
      for (const protocol::PropertyEntry& e : list) {
        if (e.key == key) {
          known = index < e.count;
          break;
        }
      }
    });
    return known && queueCommand(key, index);
  }
  if (!properties_.choose(key, index)) return false;
  return queueCommand(key, index);
}

void CameraEngine::readProperties(
    const std::function<void(const std::vector<protocol::PropertyEntry>&)>& reader) {
  if (mode_ == Mode::kClient && !frameServer() && sharedProperties_) {
    std::lock_guard lock(sharedReadMutex_);
    sharedProperties_->read(sharedBytes_, sharedEntries_);
    reader(sharedEntries_);
    return;
  }
  properties_.read(reader);
}

void CameraEngine::publishProperties() {
  if (!sharedProperties_) return;
  properties_.read([this](const std::vector<protocol::PropertyEntry>& list) { sharedProperties_->publish(list); });
}

bool CameraEngine::openLocked(bool serve, bool connectButton) {
  if (serve && !servingMarker_) {
    servingMarker_ = platform::PresenceMarker::create(kServingMarkerName);
    if (!servingMarker_) return false;
  }
  const Mode mode = serve ? Mode::kServing
                          : (platform::PresenceMarker::exists(kServingMarkerName) ? Mode::kClient
                                                                                  : Mode::kStandAlone);
  mode_ = mode;
  // A client whose serving process has gone opens as a stand-alone receiver now; its
  // shared block stays (a waiting reader may still hold it) but is no longer read.
  const bool clientLeftAlone = !server_ && block_ && mode == Mode::kStandAlone;
  if ((!server_ && !block_) || clientLeftAlone) {
    if (mode != Mode::kServing && !frameBuffer_) frameBuffer_.reset(new uint8_t[kFrameBufferSize]);
    if (mode == Mode::kStandAlone) {
      if (auto other = table_.findOtherReceiver()) {
        hooks().showMessage("Vistrel", inUseMessage(platform::utf16ToUtf8Lossy(*other)), kInUseStyle);
      }
    }
    if (mode != Mode::kStandAlone) {
      block_ = NamedFrameBlock::open();
      sharedProperties_ = SharedPropertyList::open();
    }
    if (mode == Mode::kServing && sharedProperties_) {
      properties_.setChangeListener([this](bool) { publishProperties(); });
      publishProperties();  // no list yet: clients find an empty one, not the last run's
    }
    if (mode != Mode::kClient) {
      server::FrameReceiver::Options o;
      o.listener.bindAddress = listenAddressLocked();
      server_ = std::make_unique<server::FrameReceiver>(o);
      server_->setPort(static_cast<uint16_t>(settings_.port));
      server_->setMessageCallback(&server::PropertyStore::onMessage, &properties_);
      server_->attachSharedFrameBlock(mode == Mode::kServing ? block_.get() : nullptr);
      server_->start();
      liveServer_.store(server_.get(), std::memory_order_release);
      if (mode == Mode::kServing) startCommandRelay();
    }
  }
  if (mode != Mode::kServing && (connectButton || settings_.connectAtStartup != 0)) {
    const uint32_t port = settings_.port & 0xFFFF;
    hooks().startPhoneLauncher(connectButton ? port + 0x10000 : port);
  }
  if (server_) server_->enableListening();
  table_.setReceiving(mode != Mode::kClient);
  return true;
}

void CameraEngine::endStreaming() {
  std::lock_guard lock(mutex_);
  if (server_) server_->listener().enableListening(false);
  table_.setReceiving(false);
}

void CameraEngine::releaseServingMarker() {
  std::lock_guard lock(mutex_);
  servingMarker_.reset();
}

std::string CameraEngine::listenAddressLocked() const {
  return options_.bindAddress.empty() ? settings::listenAddressOf(settings_) : options_.bindAddress;
}

settings::DeviceSettings CameraEngine::settings() const {
  std::lock_guard lock(mutex_);
  return settings_;
}

uint32_t CameraEngine::reloadSettings() {
  const settings::DeviceSettings fresh = settings::readDeviceSettings(store_, table_.baseName());
  std::lock_guard lock(mutex_);
  applyLocked(fresh, false);
  return 1;
}

void CameraEngine::applySettings(const settings::DeviceSettings& fromDialog) {
  std::lock_guard lock(mutex_);
  applyLocked(fromDialog, true);
}

void CameraEngine::applyLocked(const settings::DeviceSettings& in, bool fromDialog) {
  settings_.connectAtStartup = in.connectAtStartup;
  settings_.width = in.width;
  settings_.height = in.height;
  bool pictureChanged = false;
  if (in.rotation != settings_.rotation || in.mirror != settings_.mirror) {
    settings_.rotation = in.rotation;
    settings_.mirror = in.mirror;
    pictureChanged = true;
  }
  if (in.port != settings_.port) {
    settings_.port = in.port;
    if (server_) {
      server_->setPort(static_cast<uint16_t>(settings_.port));
    } else if (block_) {
      // A client cannot move the port itself: it stores it and asks the service to
      // listen there.
      settings::writeDeviceSettings(store_, table_.baseName(), settings_);
      hooks().requestServiceReload();
    }
  }
  settings_.language = in.language;
  if (!fromDialog && in.listenAddress != settings_.listenAddress) {
    settings_.listenAddress = in.listenAddress;
    if (server_) server_->setBindAddress(listenAddressLocked());
  }
  if (pictureChanged) {
    if (server_) {
      server_->wake();
    } else if (block_) {
      block_->pulse();
    }
  }
  if (fromDialog) settings::writeDeviceSettings(store_, table_.baseName(), settings_);
}

void CameraEngine::startCommandRelay() {
  std::shared_ptr<platform::LocalDatagramReceiver> endpoint =
      platform::LocalDatagramReceiver::bind(commandEndpoint());
  if (!endpoint) return;  // another server holds it: its clients reach that one
  server::FrameReceiver* frameServer = server_.get();
  relay_.start([this, endpoint, frameServer] {
    uint8_t packet[16];
    while (!relayStop_) {
      const long n = endpoint->receive(packet, sizeof packet, 200);
      if (n <= 0) continue;
      const auto command = platform::readPacket(kCommandPacket, {packet, static_cast<size_t>(n)});
      if (!command) continue;
      const uint32_t code = command->words[0], argument = command->words[1];
      if (code != protocol::CMD_TAP && code != protocol::CMD_KEY) {
        // A client's choice of a property value: this process's copy and the published
        // list take it too.
        if (!properties_.choose(code, argument)) continue;
        publishProperties();
      }
      frameServer->sendCommand(code, argument);
    }
  });
}

bool CameraEngine::queueCommand(uint32_t code, uint32_t argument) {
  if (server::FrameReceiver* live = frameServer()) return live->sendCommand(code, argument);
  if (mode_ != Mode::kClient) return false;
  uint8_t packet[kCommandPacket.headerBytes()];
  const uint32_t words[2] = {code, argument};
  const size_t size = platform::writePacket(kCommandPacket, words, {}, packet);
  return platform::sendLocalDatagram(commandEndpoint(), packet, size);
}

uint32_t CameraEngine::sendPhoneInput(uint32_t message, uint32_t x, uint32_t y) {
  if (!frameServer() && mode_ != Mode::kClient) return 0;
  if (message == kMessageKeyDown) return queueCommand(protocol::CMD_KEY, x) ? 1 : 0;
  if (message != kMessageLeftButtonDown) return 0;
  uint32_t w, h;
  {
    std::lock_guard lock(decodeMutex_);
    w = decodedWidth_;
    h = decodedHeight_;
  }
  const settings::DeviceSettings s = settings();
  const auto point = decoder::mapClick(x, y, outputWidth_, outputHeight_, w, h, s.rotation & 3,
                                       s.mirror != 0);
  if (!point) return 0;
  return queueCommand(protocol::CMD_TAP, (point->y << 16) | (point->x & 0xFFFF)) ? 1 : 0;
}

uint32_t CameraEngine::copyNewest(uint8_t* destination) {
  if (server::FrameReceiver* live = frameServer()) return live->latestJpeg(destination);
  if (block_) return block_->readFrame(destination);
  return 0;
}

uint32_t CameraEngine::getFrame(uint8_t** frame) {
  uint8_t* buffer = frameBuffer_.get();
  const uint32_t n = copyNewest(buffer);
  if (frame != nullptr) *frame = buffer;
  return n;
}

int32_t CameraEngine::waitFrame(uint32_t timeoutMs) {
  if (server::FrameReceiver* live = frameServer()) return live->waitForFrame(timeoutMs);
  if (!block_) return server::kWaitNotAFrame;
  // A client waits in short slices and looks for its serving process between them, so
  // that it notices within about a second when that process has gone, whatever the
  // caller's time-out, and then receives the phone by itself.
  const uint32_t startMs = platform::systemClock().nowMs();
  for (;;) {
    if (!platform::PresenceMarker::exists(kServingMarkerName)) {
      {
        std::lock_guard lock(mutex_);
        if (!server_ && !platform::PresenceMarker::exists(kServingMarkerName)) openLocked(false);
      }
      if (server::FrameReceiver* live = frameServer()) {
        const uint32_t spent = platform::elapsedMs(startMs, platform::systemClock().nowMs());
        if (timeoutMs != 0xFFFFFFFFu && spent >= timeoutMs) return server::kWaitTimeout;
        return live->waitForFrame(timeoutMs == 0xFFFFFFFFu ? timeoutMs
                                                           : timeoutMs - spent);
      }
    }
    const uint32_t spent = platform::elapsedMs(startMs, platform::systemClock().nowMs());
    uint32_t slice = kServerCheckMs;
    if (timeoutMs != 0xFFFFFFFFu) slice = spent >= timeoutMs ? 0 : std::min(slice, timeoutMs - spent);
    if (block_->waitFrame(slice)) return server::kWaitFrameReady;
    if (timeoutMs != 0xFFFFFFFFu &&
        platform::elapsedMs(startMs, platform::systemClock().nowMs()) >= timeoutMs) {
      return server::kWaitTimeout;
    }
  }
}

void CameraEngine::wake() {
  if (server::FrameReceiver* live = frameServer()) {
    live->wake();
  } else if (block_) {
    block_->pulse();
  }
}

RenderGeometry CameraEngine::renderGeometry() const {
  const settings::DeviceSettings s = settings();
  return RenderGeometry{outputWidth_, outputHeight_, s.rotation & 3, s.mirror != 0};
}

bool CameraEngine::render(std::span<const uint8_t> frame, const RenderGeometry& g,
                          std::span<uint8_t> destination) {
  std::lock_guard lock(decodeMutex_);
  return renderLocked(frame, g, destination, nullptr).ok;
}

CameraEngine::Rendered CameraEngine::renderStraightOr(std::span<const uint8_t> frame,
                                                      const RenderGeometry& g,
                                                      std::span<uint8_t> destination,
                                                      const TakeStraight& take) {
  std::lock_guard lock(decodeMutex_);
  return renderLocked(frame, g, destination, &take);
}

CameraEngine::Rendered CameraEngine::renderLocked(std::span<const uint8_t> frame,
                                                  const RenderGeometry& g,
                                                  std::span<uint8_t> destination,
                                                  const TakeStraight* take) {
  if (!decoder_) decoder_ = std::make_unique<decoder::JpegDecoder>();
  Rendered r;
  if (frame.empty() || destination.data() == nullptr) return r;
  uint32_t w = 0, h = 0;
  if (!decoder_->decodeHeader(frame.data(), frame.size(), &w, &h)) return r;
  // The size is known once the header was read, even when the picture then fails.
  decodedWidth_ = w;
  decodedHeight_ = h;
  const decoder::StraightTarget* target = nullptr;
  if (take != nullptr && w == g.width && h == g.height && g.rotation == 0 && !g.mirror) {
    target = (*take)(w, h);
  }
  if (target != nullptr) {
    r.straight = true;
    r.ok = decoder_->renderStraight(*target);
  } else {
    r.ok = decoder_->render(g.mirror, destination.data(), destination.size(), g.width, g.height,
                            g.rotation);
  }
  return r;
}

bool CameraEngine::decodeJpeg(const uint8_t* data, uint32_t size, uint32_t* width,
                              uint32_t* height) {
  std::lock_guard lock(decodeMutex_);
  if (!decoder_) decoder_ = std::make_unique<decoder::JpegDecoder>();
  if (!decodeCopy_) decodeCopy_.reset(new uint8_t[kFrameBufferSize]);
  decodedWidth_ = decodedHeight_ = 0;
  decodeCopySize_ = 0;
  if (data == nullptr || size == 0 || size > kFrameBufferSize) return false;
  if (data != decodeCopy_.get()) std::memcpy(decodeCopy_.get(), data, size);
  uint32_t w = 0, h = 0;
  if (!decoder_->decodeHeader(decodeCopy_.get(), size, &w, &h)) return false;
  decodeCopySize_ = size;
  decodedWidth_ = w;
  decodedHeight_ = h;
  const bool quarterTurn = (settings().rotation & 1) != 0;
  if (width != nullptr) *width = quarterTurn ? h : w;
  if (height != nullptr) *height = quarterTurn ? w : h;
  return true;
}

void CameraEngine::setOutputSize(uint32_t width, uint32_t height) {
  if (width < 1 || width > kMaxOutputSide || height < 1 || height > kMaxOutputSide) return;
  outputWidth_ = width;
  outputHeight_ = height;
}

bool CameraEngine::renderFrame(uint8_t* destination) {
  if (destination == nullptr) return false;
  const RenderGeometry g = renderGeometry();
  std::lock_guard lock(decodeMutex_);
  if (decodeCopySize_ == 0) return false;
  return renderLocked(std::span<const uint8_t>(decodeCopy_.get(), decodeCopySize_), g,
                      std::span<uint8_t>(destination, decoder::imageSize(g.width, g.height)),
                      nullptr)
      .ok;
}

}  // namespace engine
