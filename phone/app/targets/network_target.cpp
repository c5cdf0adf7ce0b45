#include "targets/network_target.h"

#include <algorithm>
#include <cstring>
#include <mutex>

#include "platform/byte_order.h"
#include "protocol/property_list.h"
#include "protocol/stream_header.h"

namespace targets {

namespace {
constexpr uint32_t kSendSliceMs = 100;
constexpr size_t kSendChunk = 65536;
// How often the thread looks whether the previous message has arrived.
constexpr uint32_t kBacklogSliceMs = 5;
// Receives of PC commands (32 bytes each at most) in one pass of the sending thread.
constexpr int kCommandReceivesPerPass = 8;
}  // namespace

// Everything the sending thread touches. Shared between the target and its thread.
struct NetworkTarget::Link {
  platform::Clock* clock = nullptr;
  std::shared_ptr<HostResolver> resolver;
  std::shared_ptr<platform::Event> frameReady;
  ConnectingHost* connecting = nullptr;
  ConnectingDialog* dialog = nullptr;

  // Settings as they were when the thread started.
  uint32_t remotePort = kDefaultRemotePort;
  uint32_t remoteIpAuto = 1;
  std::u16string remoteIp;
  std::string partnerHostName = kDefaultPartnerHostName;

  TargetStartParams params;

  std::atomic<int32_t> portOverride{0};
  std::atomic<uint32_t> peerAddress{0};
  std::atomic<bool> stopRequested{false};
  platform::Event stopEvent{platform::Event::Reset::kManual};
  std::atomic<bool> linkUp{false};
  std::atomic<uint64_t> framesDropped{0};  // pictures taken and dropped behind a backlog
  std::atomic<uint64_t> bytesDropped{0};
  std::atomic<uint32_t> dropGeneration{0};
  std::atomic<bool> sending{false};
  std::atomic<uint32_t> lastSendTick{0};

  ControlQueue queue;

  std::mutex listMutex;
  std::vector<uint8_t> listBuffer;  // empty until Prepare
  size_t listLength = 0;            // bytes of the last built list; 0 = none
  size_t listPending = 0;

  // Sending thread only.
  platform::TcpSocket socket;
  long backlogBytes = 0;  // unacknowledged bytes at the last look
  CommandReader commands;
  uint32_t attempts = 0;

  std::string hostName() const {
    if (remoteIpAuto || remoteIp.empty() || portOverride.load() > 0) return partnerHostName;
    return narrowHostName(remoteIp);
  }
  uint16_t port() const {
    const int32_t o = portOverride.load();
    return static_cast<uint16_t>(o > 0 ? static_cast<uint32_t>(o) : remotePort);
  }
  void resolve() { peerAddress.store(resolveHost(*resolver, hostName())); }
  void show() {
    if (dialog) dialog->report(peerAddress.load(), attempts);
    if (connecting && !stopRequested.load()) connecting->statusChanged(*dialog);
  }
  // Asks the thread to give up the current connection (any thread).
  void requestDrop() {
    if (portOverride.load() > 0) peerAddress.store(0);
    lastSendTick.store(0);
    dropGeneration.fetch_add(1);
    linkUp.store(false);
  }
  void run();
  bool connectOnce();
  bool sendBlock(const uint8_t* data, size_t size);
  bool backlogged();
  void sendFrame(sources::FrameDescriptor& frame);
  void pass();
  void pollCommand();
};

// ---- Free helpers ----

uint32_t parseDottedAddress(const std::string& text) {
  uint8_t octets[4] = {};
  size_t at = 0;
  for (int part = 0; part < 4; ++part) {
    if (part > 0) {
      if (at >= text.size() || text[at] != '.') return 0;
      ++at;
    }
    uint32_t value = 0;
    size_t digits = 0;
    while (at < text.size() && text[at] >= '0' && text[at] <= '9' && digits < 4) {
      value = value * 10 + static_cast<uint32_t>(text[at] - '0');
      ++at;
      ++digits;
    }
    if (digits == 0 || value > 255) return 0;
    octets[part] = static_cast<uint8_t>(value);
  }
  if (at != text.size()) return 0;
  uint32_t address;
  std::memcpy(&address, octets, 4);  // network order: first octet first in memory
  return address;
}

uint32_t resolveHost(HostResolver& resolver, const std::string& name) {
  if (name.empty()) return 0;
  const uint32_t found = resolver.lookup(name);
  if (found != 0 && found != 0xFFFFFFFFu) return found;
  return parseDottedAddress(name);
}

std::string narrowHostName(std::u16string_view text) {
  std::string out;
  for (char16_t c : text) {
    const char low = static_cast<char>(c & 0xFF);
    if (low == 0) break;
    out.push_back(low);
  }
  return out;
}

uint32_t parsePortCommand(const char16_t* text) {
  if (!text) return 0;
  const char16_t* p = text;
  for (;;) {
    while (*p && *p != u'-') ++p;
    if (!*p) return 0;
    if (p[1] == u'p') break;
    ++p;
  }
  p += 2;
  while (*p == u' ' || *p == u'\t') ++p;
  const char16_t* start = p;
  while (*p && *p != u' ' && *p != u'\t') ++p;
  const size_t length = static_cast<size_t>(p - start);
  if (length == 0 || length > 15) return 0;
  // Decimal conversion of the leading digits, as the system's integer reading does.
  uint64_t value = 0;
  for (const char16_t* q = start; q < p && *q >= u'0' && *q <= u'9'; ++q) {
    value = value * 10 + static_cast<uint64_t>(*q - u'0');
  }
  return static_cast<uint32_t>(value);
}

// ---- The target ----

NetworkTarget::NetworkTarget(const settings::SettingsStore& store, Options options)
    : store_(store),
      options_(std::move(options)),
      clock_(options_.clock ? *options_.clock : platform::systemClock()) {
  if (!options_.resolver) options_.resolver = systemResolver();
  link_ = std::make_shared<Link>();
}

NetworkTarget::~NetworkTarget() { Stop(); }

std::string NetworkTarget::hostName() const {
  Link probe;
  probe.remoteIpAuto = remoteIpAuto;
  probe.remoteIp = remoteIp;
  probe.partnerHostName = partnerHostName;
  probe.portOverride.store(link_->portOverride.load());
  return probe.hostName();
}

int32_t NetworkTarget::portOverride() const { return link_->portOverride.load(); }
bool NetworkTarget::linkUp() const { return link_->linkUp.load(); }
uint64_t NetworkTarget::framesDropped() const { return link_->framesDropped.load(); }
uint64_t NetworkTarget::bytesDropped() const { return link_->bytesDropped.load(); }
bool NetworkTarget::IsSending() { return link_->sending.load(); }

bool NetworkTarget::Prepare() {
  remotePort = kDefaultRemotePort;
  remoteIpAuto = 1;
  remoteTimeout = kDefaultRemoteTimeout;
  remoteIp.clear();
  partnerHostName = kDefaultPartnerHostName;
  if (auto key = store_.OpenKey(u"Network", false)) {
    remoteIp = settings::readString(key, u"RemoteIP", 260);
    if (auto v = settings::readDword(key, u"RemotePort")) remotePort = *v;
    if (auto v = settings::readDword(key, u"RemoteIPAuto")) remoteIpAuto = *v;
    if (auto v = settings::readDword(key, u"RemoteTimeout")) remoteTimeout = *v;
    const std::u16string partner = settings::readString(key, u"PartnerHostName", 260);
    if (!partner.empty()) partnerHostName = narrowHostName(partner);
  }
  if (remotePort > 65535) remotePort = kDefaultRemotePort;
  if (remoteIpAuto > 1) remoteIpAuto = 1;
  if (remoteIp.empty()) remoteIp = kDefaultRemoteIp;
  link_->queue.clear();
  std::lock_guard lock(link_->listMutex);
  link_->listBuffer.assign(kListBufferSize, 0);
  link_->listLength = 0;
  link_->listPending = 0;
  return true;
}

void NetworkTarget::Release() {
  if (auto key = store_.OpenKey(u"Network", true)) {
    settings::writeString(key, u"RemoteIP", remoteIp);
    settings::writeDword(key, u"RemotePort", remotePort);
    settings::writeDword(key, u"RemoteIPAuto", remoteIpAuto);
    settings::writeDword(key, u"RemoteTimeout", remoteTimeout);
  }
  std::lock_guard lock(link_->listMutex);
  link_->listBuffer.clear();
  link_->listBuffer.shrink_to_fit();
  link_->listLength = 0;
  link_->listPending = 0;
}

bool NetworkTarget::Start(const TargetStartParams& params) {
  if (thread_ && thread_->running()) return false;
  Link& l = *link_;
  l.clock = &clock_;
  l.resolver = options_.resolver;
  l.frameReady = frameReadyShared();
  l.connecting = options_.connecting;
  l.dialog = &dialog_;
  l.remotePort = remotePort;
  l.remoteIpAuto = remoteIpAuto;
  l.remoteIp = remoteIp;
  l.partnerHostName = partnerHostName;
  l.params = params;
  l.socket.close();
  l.linkUp.store(false);
  l.sending.store(false);
  l.lastSendTick.store(0);
  l.stopRequested.store(false);
  l.stopEvent.reset();
  l.commands.clear();
  l.attempts = 0;
  {
    std::lock_guard lock(l.listMutex);
    l.listPending = 0;
  }
  l.queue.clear();
  frameReady().reset();
  thread_ = std::make_unique<platform::Thread>();
  std::shared_ptr<Link> shared = link_;
  return thread_->start([shared] { shared->run(); });
}

void NetworkTarget::Stop() {
  Link& l = *link_;
  l.stopRequested.store(true);
  l.stopEvent.set();
  frameReady().set();
  if (thread_) {
    if (!thread_->joinFor(kStopWaitMs + kStopGraceMs)) {
      // The thread keeps the old link state to itself; the target carries on with a fresh
      // one holding the same settings and list.
      auto fresh = std::make_shared<Link>();
      {
        std::lock_guard lock(l.listMutex);
        fresh->listBuffer = l.listBuffer;
        fresh->listLength = l.listLength;
      }
      link_ = fresh;
    }
    thread_.reset();
  }
  link_->linkUp.store(false);
  dialog_.requestClose();
  link_->portOverride.store(0);
}

bool NetworkTarget::SettingChanged(const settings::SourceSetting* setting) {
  if (!setting) return false;
  protocol::StreamHeader h;
  h.length = 0;
  h.setReport(setting->key, static_cast<uint32_t>(setting->current == -1 ? setting->defaultIndex
                                                                         : setting->current));
  ControlQueue::Message m;
  protocol::encodeHeader(h, m.data());
  link_->queue.push(m);  // dropped silently when full
  return true;
}

bool NetworkTarget::PublishSettings(const settings::SourceSetting* first) {
  if (!first) return false;
  std::vector<uint8_t> message(kListBufferSize, 0);
  protocol::PropertyListBuilder builder(message.data() + protocol::kHeaderSize,
                                        kListBufferSize - protocol::kHeaderSize);
  std::vector<protocol::PropertyListBuilder::Item> items;
  for (const settings::SourceSetting* s = first; s; s = s->next) {
    protocol::PropertyListBuilder::Entry e;
    e.tag = s->textId;
    e.name = s->name;
    e.current = static_cast<uint32_t>(s->current);
    e.defaultIndex = static_cast<uint32_t>(s->defaultIndex);
    e.count = s->count;
    items.clear();
    if (s->choices) {
      for (uint32_t i = 0; i < s->count; ++i) {
        const settings::SettingChoice& c = s->choices[i];
        const char16_t* label = c.label;
        if (!label && c.textId != 0 && options_.text) label = options_.text(c.textId);
        items.push_back({c.textId, c.value, label});
      }
      e.items = items.data();
    }
    e.base = s->base;
    e.step = s->step;
    e.next = s->next ? s->next->key : 0;
    e.key = s->key;
    if (!builder.add(e)) break;  // the list ends with the last entry that fits
  }
  if (builder.size() == 0) return false;
  protocol::StreamHeader h;
  h.length = static_cast<uint32_t>(protocol::kHeaderSize + builder.size());
  h.setMessage(protocol::MSG_PROPERTY_LIST, h.timestampMs());
  protocol::encodeHeader(h, message.data());
  std::lock_guard lock(link_->listMutex);
  if (link_->listBuffer.size() < kListBufferSize) return false;  // not prepared
  std::memcpy(link_->listBuffer.data(), message.data(), h.length);
  link_->listLength = h.length;
  link_->listPending = h.length;
  return true;
}

bool NetworkTarget::Command(const char16_t* text, uint32_t) {
  Link& l = *link_;
  l.portOverride.store(0);
  const uint32_t value = parsePortCommand(text);
  if (value == 0) return false;
  const bool reconnect = (value & 0x10000u) != 0;
  const int32_t port = static_cast<int32_t>(value & 0xFFFFu);
  l.portOverride.store(port);
  if (static_cast<uint32_t>(port) == remotePort && l.linkUp.load() && !reconnect) {
    l.portOverride.store(0);
    return false;
  }
  if (!threadRunning()) return true;
  l.requestDrop();
  return false;
}

void NetworkTarget::requestDrop() { link_->requestDrop(); }

bool NetworkTarget::IsAlive() {
  Link& l = *link_;
  if (!threadRunning() || l.stopRequested.load()) return false;
  if (l.linkUp.load()) {
    if (dialog_.open()) dialog_.requestClose();
    const uint32_t last = l.lastSendTick.load();
    if (remoteTimeout != 0 && last != 0 &&
        platform::elapsedMs(last, clock_.nowMs()) > remoteTimeout * 1024u) {
      l.requestDrop();
      // The list goes out again once the thread has reconnected.
    }
    return true;
  }
  return ShowConnecting() != 0;
}

int NetworkTarget::ShowConnecting() {
  if (dialog_.open() || dialogOpening_) return 1;
  if (!options_.connecting) return 1;
  dialogOpening_ = true;
  const int result = options_.connecting->runConnecting(dialog_);
  dialog_.onDestroyed();
  dialogOpening_ = false;
  return result;
}

// ---- The sending thread ----

void NetworkTarget::Link::run() {
  attempts = 0;
  resolve();
  show();
  while (!stopRequested.load()) {
    if (peerAddress.load() == 0) {
      if (stopEvent.wait(kRetryDelayMs)) break;
      ++attempts;
      resolve();
      show();
    } else if (socket.valid() && linkUp.load()) {
      pass();
    } else if (connectOnce()) {
      attempts = 0;
    } else {
      ++attempts;
      show();
      if (stopEvent.wait(kRetryDelayMs)) break;
    }
  }
  socket.close();
  linkUp.store(false);
}

bool NetworkTarget::Link::connectOnce() {
  socket.close();
  linkUp.store(false);
  const uint32_t generation = dropGeneration.load();
  const uint32_t address = peerAddress.load();
  const std::string dotted = narrowHostName(dottedAddress(address));
  platform::TcpSocket s = platform::TcpSocket::connect(dotted, port(), kConnectTimeoutMs);
  if (!s.valid() || stopRequested.load()) return false;
  s.setNoDelay(true);
  // Wait for the greeting in short slices so that Stop is seen at once.
  // A real-time limit, whatever clock the ticks come from.
  platform::Clock& wall = platform::systemClock();
  const uint32_t start = wall.nowMs();
  for (;;) {
    const uint32_t spent = platform::elapsedMs(start, wall.nowMs());
    if (spent >= kGreetingTimeoutMs || stopRequested.load()) return false;
    const auto r = s.waitReadable(std::min<uint32_t>(kSendSliceMs, kGreetingTimeoutMs - spent));
    if (r == platform::TcpSocket::kReady) break;
    if (r == platform::TcpSocket::kError) return false;
  }
  uint8_t greeting[4] = {};
  if (s.receive(greeting, sizeof greeting) != 4 ||
      std::memcmp(greeting, protocol::kGreeting, 4) != 0) {
    return false;
  }
  if (generation != dropGeneration.load() || stopRequested.load()) return false;
  socket = std::move(s);
  backlogBytes = 0;
  commands.clear();
  lastSendTick.store(0);
  {
    // A new peer knows nothing of this device: the last built list goes out first.
    std::lock_guard lock(listMutex);
    if (listLength != 0) listPending = listLength;
  }
  linkUp.store(true);
  return true;
}

bool NetworkTarget::Link::sendBlock(const uint8_t* data, size_t size) {
  sending.store(true);
  bool ok = true;
  // No time limit of its own: a slow link takes as long as it takes, while a dead one is
  // dropped by the stall check (which clears linkUp) or by the socket's error.
  while (size > 0) {
    if (stopRequested.load() || !linkUp.load()) {
      ok = false;
      break;
    }
    const long sent = socket.sendSome(data, std::min(size, kSendChunk), kSendSliceMs);
    if (sent < 0) {
      ok = false;
      break;
    }
    if (sent == 0) continue;
    lastSendTick.store(clock->nowMs());
    data += sent;
    size -= static_cast<size_t>(sent);
  }
  sending.store(false);
  backlogBytes = socket.unsentBytes();
  return ok;
}

// True while bytes sent earlier have not all reached the PC. A frame is then not taken:
// the source keeps replacing its newest picture, and the one sent next is fresh instead of
// waiting in the socket behind older ones. Arrivals count as progress for the stall check.
bool NetworkTarget::Link::backlogged() {
  const long unsent = socket.unsentBytes();
  if (unsent <= 0) {
    backlogBytes = 0;
    return false;
  }
  if (unsent < backlogBytes) lastSendTick.store(clock->nowMs());
  backlogBytes = unsent;
  return true;
}

void NetworkTarget::Link::sendFrame(sources::FrameDescriptor& frame) {
  uint8_t* header = frame.data - protocol::kHeaderSize;
  protocol::StreamHeader h;
  h.length = frame.sizeBytes + static_cast<uint32_t>(protocol::kHeaderSize);
  h.setMessage(frame.format == sources::kFormatPcm ? protocol::MSG_AUDIO : protocol::MSG_VIDEO_JPEG,
               frame.timestampMs);
  h.word5a = static_cast<uint16_t>(frame.width);
  h.word5b = static_cast<uint16_t>(frame.height);
  h.word6 = frame.sourceWord;
  h.reserved = 0;
  protocol::encodeHeader(h, header);
  if (frame.format == sources::kFormatJpeg) {
    std::memset(frame.data, 0, std::min<uint32_t>(10, frame.sizeBytes));
  }
  sendBlock(header, h.length);
}

void NetworkTarget::Link::pass() {
  std::vector<uint8_t> list;
  {
    std::lock_guard lock(listMutex);
    if (listPending != 0 && listPending <= listBuffer.size()) {
      list.assign(listBuffer.begin(), listBuffer.begin() + static_cast<long>(listPending));
    }
    listPending = 0;
  }
  ControlQueue::Message message;
  const auto usable = [](uint32_t stamp, const sources::FrameDescriptor& f) {
    return stamp != 0 && f.data != nullptr && f.sizeBytes != 0;
  };
  if (!list.empty()) {
    sendBlock(list.data(), list.size());
  } else if (queue.pop(message)) {
    sendBlock(message.data(), message.size());
  } else if (backlogged()) {
    // A picture taken now would wait behind the backlog and be stale when it could go:
    // it is dropped, which lets the source make a fresh one, so that the picture sent once
    // the link is free is at most one frame interval old. Sound is never dropped.
    sources::FrameDescriptor frame;
    const uint32_t stamp = params.fetch ? params.fetch(params.user, &frame) : 0;
    if (usable(stamp, frame) && frame.format == sources::kFormatPcm) {
      sendFrame(frame);
    } else if (usable(stamp, frame)) {
      bytesDropped.fetch_add(frame.sizeBytes, std::memory_order_relaxed);
      framesDropped.fetch_add(1, std::memory_order_relaxed);
    } else if (stamp == 0) {
      stopEvent.wait(kBacklogSliceMs);
    }
  } else {
    sources::FrameDescriptor frame;
    uint32_t stamp = params.fetch ? params.fetch(params.user, &frame) : 0;
    if (stamp == 0) {
      const bool came = frameReady->wait(kFrameWaitMs);
      if (stopRequested.load()) return;
      if (came && params.fetch) stamp = params.fetch(params.user, &frame);
    }
    if (usable(stamp, frame)) {
      sendFrame(frame);
    } else if (linkUp.load() && !sending.load()) {
      const uint32_t now = clock->nowMs();
      const uint32_t last = lastSendTick.load();
      // Not later than the last send: the tick wrapped (or stands still); send at once.
      if (now <= last || now - last >= kKeepAliveMs) {
        sendBlock(protocol::kKeepAlive, sizeof protocol::kKeepAlive);  // stamps lastSendTick
      }
    }
  }
  pollCommand();
}

void NetworkTarget::Link::pollCommand() {
  if (!socket.valid() || !linkUp.load()) return;
  // What has arrived is read in receives of at most 32 bytes, a bounded number of them a
  // pass so that a flood of commands cannot hold up the frames, and every command that
  // is whole is handed on, oldest first.
  for (int receives = 0; receives < kCommandReceivesPerPass; ++receives) {
    if (socket.waitReadable(0) != platform::TcpSocket::kReady) return;
    if (commands.room() == 0) return;
    const long n = socket.receive(commands.space(), commands.room());
    if (n <= 0) {
      // The PC closed the connection (or it failed): nothing sent on it can arrive any
      // more, so connect again rather than wait for the stall check.
      requestDrop();
      return;
    }
    commands.received(static_cast<size_t>(n));
    uint32_t code = 0, argument = 0;
    while (commands.takeCommand(code, argument)) {
      if (params.control) params.control(params.user, code, argument);
    }
  }
}

}  // namespace targets
