#include "core/capture_context.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "manual_clock.h"
#include "memory_key_store.h"
#include "protocol/stream_header.h"
#include "texts/text_ids.h"
#include "wait_until.h"

namespace core {
namespace {

using sources::SourceKind;

const char16_t* testText(uint32_t id) {
  static const std::map<uint32_t, const char16_t*> texts = {
      {texts::kTextCamera, u"Camera"},   {texts::kTextScreen, u"Screen"},
      {texts::kTextSound, u"Sound"},     {texts::kTextSource, u"Source"},
      {texts::kTextMode, u"Mode"},       {texts::kTextStart, u"Start"},
      {texts::kTextStop, u"Stop"},       {texts::kTextMenu, u"Menu"},
      {texts::kTextPreview, u"Preview"}, {texts::kTextQuality, u"Quality"},
      {texts::kTextMirror, u"Mirror"},   {texts::kTextDone, u"On"}};
  auto it = texts.find(id);
  return it == texts.end() ? nullptr : it->second;
}

class FakeSource final : public sources::CaptureSource {
 public:
  FakeSource(SourceKind kind, uint32_t nameId) : kind_(kind), nameId_(nameId) {
    quality.textId = texts::kTextQuality;
    quality.count = 10;
    quality.defaultIndex = 4;
    quality.key = settings::newSettingKey();
  }
  void Init() override { ++inits; }
  bool Start(sources::StartParams& p) override {
    ++starts;
    lastMode = p.mode;
    lastPreview = p.preview != nullptr;
    lastOrientation = p.screenOrientation;
    if (backgroundOut) p.background = backgroundOut;
    started = startOk;
    return startOk;
  }
  bool Stop() override {
    ++stops;
    started = false;
    return true;
  }
  bool Halt() override { return true; }
  bool IsStarted() override { return started; }
  uint32_t NameTextId() override { return nameId_; }
  SourceKind Kind() override { return kind_; }
  void Reset() override {}
  settings::SourceSetting* Settings() override { return &quality; }
  bool SetSetting(settings::SourceSetting* s, int32_t index) override {
    applied.emplace_back(s, index);
    return true;
  }
  uint32_t TakeFrame(sources::FrameDescriptor* out) override {
    if (!out) return pending;
    const uint32_t t = pending;
    if (t) {
      out->timestampMs = t;
      out->sourceWord = id;
      ++taken;
    }
    pending = 0;
    return t;
  }
  settings::SourceSetting* DeviceSettingList() override { return nullptr; }
  bool ApplyDeviceSetting(settings::SourceSetting*, int32_t) override { return true; }
  bool enabledByDefault() override { return byDefault; }
  bool remoteInput(uint32_t command, uint32_t argument) override {
    inputs.push_back({command, argument});
    return takesInput;
  }

  settings::SourceSetting quality;
  bool takesInput = false;
  std::vector<std::pair<uint32_t, uint32_t>> inputs;
  bool byDefault = true;  // false: the probe did not find the device
  bool startOk = true;
  bool started = false;
  int inits = 0, starts = 0, stops = 0, taken = 0;
  uint32_t lastMode = 0, lastOrientation = 99;
  bool lastPreview = false;
  uint32_t pending = 0;
  uint32_t id = 0;
  const uint32_t* backgroundOut = nullptr;
  std::vector<std::pair<const settings::SourceSetting*, int32_t>> applied;

 private:
  SourceKind kind_;
  uint32_t nameId_;
};

class FakeTarget final : public targets::DeliveryTarget {
 public:
  explicit FakeTarget(const char16_t* name) : name_(name) {}
  bool Prepare() override { ++prepares; return true; }
  bool Start(const targets::TargetStartParams& p) override {
    ++starts;
    params = p;
    return startOk;
  }
  void Stop() override { ++stops; }
  void Release() override { ++releases; }
  const char16_t* Name() override { return name_; }
  bool IsAlive() override { return alive; }
  bool SettingChanged(const settings::SourceSetting* s) override {
    changed.push_back(s);
    return true;
  }
  bool PublishSettings(const settings::SourceSetting* first) override {
    published = first;
    return true;
  }
  bool Command(const char16_t* text, uint32_t) override {
    commands.push_back(text);
    return commandResult;
  }
  bool AcceptsKind(SourceKind kind) override { return kind != refusedKind; }

  int prepares = 0, starts = 0, stops = 0, releases = 0;
  bool startOk = true, alive = true, commandResult = false;
  SourceKind refusedKind = static_cast<SourceKind>(99);
  targets::TargetStartParams params;
  const settings::SourceSetting* published = nullptr;
  std::vector<const settings::SourceSetting*> changed;
  std::vector<std::u16string> commands;

 private:
  const char16_t* name_;
};

class FakeView final : public WindowView {
 public:
  std::map<int, std::u16string> commandTexts;
  std::vector<std::pair<std::u16string, std::u16string>> messages;
  int invalidates = 0, idleResets = 0, draws = 0, commandPosts = 0, quits = 0;
  std::atomic<int> propertyPosts{0};
  uint32_t degrees = 0;
  int32_t clientW = 320, clientH = 240;
  std::vector<uint32_t> fills;
  uint32_t timerMs = 0;

  void setCommandText(int c, const std::u16string& t) override { commandTexts[c] = t; }
  void showMessage(const std::u16string& t, const std::u16string& c) override { messages.emplace_back(t, c); }
  void setWaitCursor(bool) override {}
  void invalidate() override { ++invalidates; }
  void startTimer(uint32_t, uint32_t ms) override { timerMs = ms; }
  void stopTimer(uint32_t) override { timerMs = 0; }
  void resetIdleTimer() override { ++idleResets; }
  uint32_t displayRotationDegrees() override { return degrees; }
  void clientSize(int32_t& w, int32_t& h) override {
    w = clientW;
    h = clientH;
  }
  void drawPreview(const PreviewBitmap&) override { ++draws; }
  void fill(uint32_t colour) override { fills.push_back(colour); }
  void postCommandReceived() override { ++commandPosts; }
  void postPropertyCommands() override { ++propertyPosts; }
  void rebuildMenu() override {}
  bool openHelp(const std::u16string&) override { return true; }
  void closeWindow() override {}
  void postQuit(int) override { ++quits; }
};

struct Rig {
  std::shared_ptr<platform::testing::MemoryKeyStoreStorage::State> state;
  std::unique_ptr<platform::KeyStore> keys = platform::testing::makeMemoryKeyStore(state);
  settings::SettingsStore store{*keys};
  FakeView view;
  platform::ManualClock clock{1000};
  std::unique_ptr<CaptureContext> context;
  std::vector<FakeSource*> src;
  FakeTarget* network = nullptr;
  FakeTarget* other = nullptr;

  Rig() { store.setMainPath(settings::kSettingsPath); }
  void write(const char16_t* name, const std::u16string& value) {
    settings::writeString(store.OpenKey(nullptr, true), name, value);
  }
  void writeDword(const char16_t* name, uint32_t value) {
    settings::writeDword(store.OpenKey(nullptr, true), name, value);
  }
  // Sources in the given kinds and names, two targets, then start-up loading.
  void build(std::vector<std::pair<SourceKind, uint32_t>> list, bool load = true,
             CaptureContext::Options o = {}) {
    o.store = &store;
    o.text = &testText;
    o.view = &view;
    o.clock = &clock;
    context = std::make_unique<CaptureContext>(o);
    uint32_t id = 0;
    for (auto [kind, name] : list) {
      auto s = std::make_unique<FakeSource>(kind, name);
      s->id = id++;
      src.push_back(s.get());
      context->sources.append(std::move(s));
    }
    auto n = std::make_unique<FakeTarget>(u"Network");
    auto f = std::make_unique<FakeTarget>(u"Ftp");
    network = n.get();
    other = f.get();
    context->targets.push_back(std::move(n));
    context->targets.push_back(std::move(f));
    if (load) context->loadState();
  }
  std::vector<bool> enabled() const {
    std::vector<bool> out;
    for (auto* s : src) out.push_back(s->enabled());
    return out;
  }
};

const std::vector<std::pair<SourceKind, uint32_t>> kFour = {{SourceKind::kCamera, texts::kTextCamera},
                                                            {SourceKind::kCamera, texts::kTextCamera},
                                                            {SourceKind::kScreen, texts::kTextScreen},
                                                            {SourceKind::kSound, texts::kTextSound}};

TEST(StartUp, EnablingRules) {
  struct Case {
    const char* what;
    uint32_t crashed;
    const char16_t* source;  // null = no saved value
    std::vector<bool> enabled;
    bool soundFound = true;
  } cases[] = {
      {"no saved value: first and sound", 0, nullptr, {true, false, false, true}},
      {"not starting with ';' counts as none", 0, u"Screen;", {true, false, false, true}},
      {"saved list", 0, u";Screen;Sound;", {false, false, true, true}},
      {"two sources of one name share it", 0, u";Camera;", {true, true, false, false}},
      {"after a crash cameras start disabled", 1, u";Camera;", {false, false, true, true}},
      {"no capture device: sound not by default", 0, nullptr, {true, false, false, false}, false},
      {"no capture device, after a crash", 1, nullptr, {false, false, true, false}, false},
      {"no capture device, saved list honoured", 0, u";Sound;", {false, false, false, true}, false},
  };
  for (const Case& c : cases) {
    Rig rig;
    rig.writeDword(u"Crashed", c.crashed);
    if (c.source) rig.write(u"Source", c.source);
    rig.build(kFour, false);
    rig.src[3]->byDefault = c.soundFound;
    rig.context->loadState();
    EXPECT_EQ(rig.enabled(), c.enabled) << c.what;
    EXPECT_EQ(rig.src[0]->inits, 1);
    EXPECT_EQ(settings::readDword(rig.store.OpenKey(nullptr, false), u"Crashed"), 1u) << c.what;
  }
}

// Where nobody watches the device, one crashed run does not disable the cameras: only
// several in a row do, and a clean exit starts the count again.
TEST(StartUp, CrashedRunsInARowBeforeCamerasStartDisabled) {
  CaptureContext::Options patient;
  patient.crashedRunsBeforeDisabling = 3;
  Rig rig;
  rig.write(u"Source", u";Camera;Sound;");
  struct Step {
    bool crash;  // the run ends without saving
    std::vector<bool> enabled;
    bool disabledByCrashes;
  } steps[] = {
      {true, {true, true, false, true}, false},   // first run: nothing crashed before
      {true, {true, true, false, true}, false},   // one crashed run
      {true, {true, true, false, true}, false},   // two in a row
      {false, {false, false, true, true}, true},  // three: the crash rule applies
      {true, {false, false, true, true}, false},  // the clean exit saved it
      {true, {false, false, true, true}, false},
  };
  int run = 0;
  for (const Step& step : steps) {
    rig.src.clear();
    rig.build(kFour, true, patient);
    EXPECT_EQ(rig.enabled(), step.enabled) << "run " << run;
    EXPECT_EQ(rig.context->camerasDisabledByCrashes, step.disabledByCrashes) << "run " << run;
    if (!step.crash) rig.context->saveState();
    ++run;
  }
  EXPECT_EQ(settings::readDword(rig.store.OpenKey(nullptr, false), u"CrashedRuns"), 1u);
}

TEST(Toggle, AFailedSourceCanStayEnabledForTheNextStart) {
  CaptureContext::Options keep;
  keep.keepFailedSourcesEnabled = true;
  Rig rig;
  rig.build(kFour, true, keep);
  rig.src[0]->startOk = false;
  rig.context->StartSources(false);
  ASSERT_EQ(rig.view.messages.size(), 1u);
  EXPECT_NE(rig.view.messages[0].first.find(u"tried again"), std::u16string::npos);
  EXPECT_TRUE(rig.src[0]->enabled());
  rig.src[0]->startOk = true;
  EXPECT_TRUE(rig.context->ToggleCapture());
  EXPECT_TRUE(rig.src[0]->started);
}

TEST(StartUp, ModeSettingsAndSharedSubKeys) {
  Rig rig;
  rig.write(u"Mode", u"Ftp");
  {
    auto camera = rig.store.OpenKey(u"Camera", true);
    settings::writeDword(camera, u"Quality", 7);
    auto sound = rig.store.OpenKey(u"Sound", true);
    settings::writeDword(sound, u"Quality", 10);  // not below the count: -1
  }
  rig.writeDword(u"Preview", 1);
  rig.build(kFour);
  EXPECT_EQ(rig.context->currentTarget, rig.other);
  EXPECT_EQ(rig.src[0]->quality.current, 7);
  EXPECT_EQ(rig.src[1]->quality.current, 7);  // same name, same sub-key
  EXPECT_EQ(rig.src[3]->quality.current, -1);
  EXPECT_EQ(std::u16string(rig.src[0]->quality.name), u"Quality");
  EXPECT_EQ(rig.context->previewSetting.current, 1);
  EXPECT_EQ(rig.context->previewSetting.count, 2u);

  Rig unknown;
  unknown.write(u"Mode", u"Nothing");
  unknown.build(kFour);
  EXPECT_EQ(unknown.context->currentTarget, unknown.network);
}

TEST(Exit, SavesEverythingAndClearsTheMarker) {
  Rig rig;
  rig.build(kFour);
  rig.src[0]->quality.current = 3;
  rig.src[2]->setEnabled(true);
  rig.src[3]->quality.current = 9;
  rig.context->previewSetting.current = 1;
  rig.context->onDestroy();
  auto main = rig.store.OpenKey(nullptr, false);
  EXPECT_EQ(settings::readString(main, u"Source", 128), u";Camera;Screen;Sound;");
  EXPECT_EQ(settings::readString(main, u"Mode", 128), u"Network");
  EXPECT_EQ(settings::readDword(main, u"Crashed"), 0u);
  EXPECT_EQ(settings::readDword(main, u"Preview"), 1u);
  EXPECT_EQ(settings::readDword(rig.store.OpenKey(u"Sound", false), u"Quality"), 9u);
  EXPECT_EQ(rig.view.quits, 1);
  EXPECT_TRUE(rig.context->sources.empty());
}

// A source whose output buffer lives from Start to Stop, and a target whose sending
// thread writes into every frame it takes (as the network target stamps a header in front
// of the data and clears the JPEG's first bytes), from Start until Stop returns.
class BufferSource final : public sources::CaptureSource {
 public:
  void Init() override {}
  bool Start(sources::StartParams&) override {
    buffer_.store(new uint8_t[256]);
    return true;
  }
  bool Stop() override {
    uint8_t* b = buffer_.exchange(nullptr);
    if (senderRunning && senderRunning->load()) ++*freedWhileSending;
    delete[] b;
    std::this_thread::sleep_for(std::chrono::milliseconds(30));  // room for a late touch
    return true;
  }
  bool Halt() override { return true; }
  bool IsStarted() override { return true; }
  uint32_t NameTextId() override { return texts::kTextCamera; }
  SourceKind Kind() override { return SourceKind::kCamera; }
  void Reset() override {}
  settings::SourceSetting* Settings() override { return nullptr; }
  bool SetSetting(settings::SourceSetting*, int32_t) override { return true; }
  uint32_t TakeFrame(sources::FrameDescriptor* out) override {
    if (out) {
      out->data = taken_;  // the buffer handed out by the peek below
      out->sizeBytes = 256;
    } else {
      taken_ = buffer_.load();
    }
    return 7;
  }
  settings::SourceSetting* DeviceSettingList() override { return nullptr; }
  bool ApplyDeviceSetting(settings::SourceSetting*, int32_t) override { return true; }

  const std::atomic<bool>* senderRunning = nullptr;
  int* freedWhileSending = nullptr;  // outlives the source, which exit destroys

 private:
  std::atomic<uint8_t*> buffer_{nullptr};
  uint8_t* taken_ = nullptr;  // sending thread only
};

class SendingTarget final : public targets::DeliveryTarget {
 public:
  ~SendingTarget() override { Stop(); }
  bool Prepare() override { return true; }
  bool Start(const targets::TargetStartParams& p) override {
    running = true;
    thread_ = std::thread([this, p] {
      while (running.load()) {
        sources::FrameDescriptor frame;
        if (p.fetch(p.user, &frame) != 0 && frame.data) std::memset(frame.data, 0, frame.sizeBytes);
        std::this_thread::yield();
      }
    });
    return true;
  }
  void Stop() override {
    if (!thread_.joinable()) return;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));  // a send in progress ends
    running = false;
    thread_.join();
  }
  void Release() override {}
  const char16_t* Name() override { return u"Network"; }
  bool IsAlive() override { return true; }
  bool SettingChanged(const settings::SourceSetting*) override { return true; }
  bool PublishSettings(const settings::SourceSetting*) override { return true; }
  bool Command(const char16_t*, uint32_t) override { return false; }
  bool AcceptsKind(SourceKind) override { return true; }

  std::atomic<bool> running{false};

 private:
  std::thread thread_;
};

// Closing the window while capturing stops the sending thread before the sources free the
// buffers it may still be writing into.
TEST(Exit, TheSendingThreadEndsBeforeTheSourcesFreeTheirBuffers) {
  Rig rig;
  rig.write(u"Source", u";Camera;");
  CaptureContext::Options o;
  o.store = &rig.store;
  o.text = &testText;
  o.view = &rig.view;
  o.clock = &rig.clock;
  rig.context = std::make_unique<CaptureContext>(o);
  auto source = std::make_unique<BufferSource>();
  auto target = std::make_unique<SendingTarget>();
  int freedWhileSending = 0;
  source->senderRunning = &target->running;
  source->freedWhileSending = &freedWhileSending;
  rig.context->sources.append(std::move(source));
  rig.context->targets.push_back(std::move(target));
  rig.context->loadState();
  ASSERT_TRUE(rig.context->ToggleCapture());
  // The sending thread is at work on the source's frames before the window closes.
  ASSERT_TRUE(platform::testing::waitUntil([&] { return rig.context->framesFetched.load() > 0; }));
  rig.context->onDestroy();
  EXPECT_EQ(freedWhileSending, 0);
}

TEST(Fetch, OldestFirstAndListOrderOnTies) {
  Rig rig;
  rig.build(kFour);
  for (auto* s : rig.src) {
    s->setEnabled(true);
    s->started = true;
  }
  rig.src[0]->pending = 50;
  rig.src[1]->pending = 40;
  rig.src[2]->pending = 40;
  rig.src[3]->pending = 0;
  sources::FrameDescriptor d;
  EXPECT_EQ(CaptureContext::FetchFrame(rig.context.get(), &d), 40u);
  EXPECT_EQ(d.sourceWord, 1u);  // the earlier of the two equal stamps
  EXPECT_EQ(CaptureContext::FetchFrame(rig.context.get(), &d), 40u);
  EXPECT_EQ(d.sourceWord, 2u);
  rig.src[0]->started = false;  // a stopped source is not asked
  EXPECT_EQ(CaptureContext::FetchFrame(rig.context.get(), &d), 0u);
  EXPECT_EQ(rig.src[0]->taken, 0);
  EXPECT_EQ(rig.context->lastFetchTick.load(), 1000u);
}

TEST(Toggle, NoSourceRefusesAndSoftKeyKeepsStart) {
  Rig rig;
  rig.write(u"Source", u";");
  rig.build(kFour);
  rig.context->onCreate();
  EXPECT_FALSE(rig.context->ToggleCapture());
  ASSERT_EQ(rig.view.messages.size(), 1u);
  EXPECT_EQ(rig.view.messages[0].first, u"Please select source.");
  EXPECT_EQ(rig.view.messages[0].second, u"");
  EXPECT_EQ(rig.view.commandTexts[kCommandSoftKey], u"Start");
  EXPECT_EQ(rig.network->starts, 0);
}

TEST(Toggle, StartAndStop) {
  Rig rig;
  rig.build(kFour);
  static const uint32_t colour = 0x123456;
  rig.src[0]->backgroundOut = &colour;
  EXPECT_TRUE(rig.context->ToggleCapture());
  EXPECT_EQ(rig.src[0]->lastMode, sources::kModeCapture);
  EXPECT_FALSE(rig.src[0]->lastPreview);
  EXPECT_EQ(rig.context->background, &colour);
  EXPECT_EQ(rig.network->starts, 1);
  EXPECT_EQ(rig.network->params.user, rig.context.get());
  EXPECT_EQ(rig.network->published, &rig.src[0]->quality);  // the camera's list goes to the PC
  EXPECT_EQ(rig.context->captureStartTick, 1000u);
  EXPECT_EQ(rig.view.commandTexts[kCommandSoftKey], u"Stop");
  // A setting change goes to the target while capturing, the preview setting does not.
  rig.context->NotifySettingChanged(&rig.src[0]->quality, 0);
  rig.context->NotifySettingChanged(&rig.context->previewSetting, 0);
  EXPECT_EQ(rig.network->changed.size(), 1u);

  EXPECT_FALSE(rig.context->ToggleCapture());
  EXPECT_EQ(rig.network->stops, 1);
  EXPECT_EQ(rig.src[0]->lastMode, sources::kModePreview);
  EXPECT_TRUE(rig.src[0]->lastPreview);
  EXPECT_EQ(rig.view.commandTexts[kCommandSoftKey], u"Start");
}

TEST(Toggle, FailuresLeaveThePreview) {
  Rig rig;
  rig.build(kFour);
  rig.src[3]->startOk = false;
  rig.network->startOk = false;
  EXPECT_FALSE(rig.context->ToggleCapture());
  ASSERT_EQ(rig.view.messages.size(), 1u);
  EXPECT_EQ(rig.view.messages[0].first, u"Could not start source.");
  EXPECT_EQ(rig.view.messages[0].second, u"Sound");
  EXPECT_FALSE(rig.src[3]->enabled());  // disabled for the rest of the run
  EXPECT_EQ(rig.src[0]->lastMode, sources::kModePreview);
  EXPECT_EQ(rig.context->captureStartTick, 0u);
  // A kind the target refuses is not started.
  Rig refused;
  refused.build(kFour);
  refused.network->refusedKind = SourceKind::kSound;
  refused.context->StartSources(false);
  EXPECT_EQ(refused.src[3]->starts, 0);
  EXPECT_EQ(refused.src[0]->starts, 1);
}

TEST(Timer, IdleResetAndDeadTargetStopsCapture) {
  Rig rig;
  rig.build(kFour);
  rig.context->timerStep();  // idle: nothing
  EXPECT_EQ(rig.view.idleResets, 0);
  rig.clock.setMs(20000);
  ASSERT_TRUE(rig.context->ToggleCapture());
  rig.context->onTimer(kTimerId);
  EXPECT_EQ(rig.view.idleResets, 1);
  rig.clock.advanceMs(8192);
  rig.context->onTimer(kTimerId);
  EXPECT_EQ(rig.view.idleResets, 1);  // not more than 8192 ms yet
  rig.clock.advanceMs(1);
  rig.context->onTimer(kTimerId);
  EXPECT_EQ(rig.view.idleResets, 2);
  rig.clock.setMs(5);  // backwards
  rig.context->onTimer(kTimerId);
  EXPECT_EQ(rig.view.idleResets, 3);
  rig.network->alive = false;
  rig.context->onTimer(kTimerId);
  EXPECT_FALSE(rig.context->capturing());
  EXPECT_EQ(rig.network->stops, 1);
}

TEST(Orientation, DegreesAndRestartWhileCapturing) {
  EXPECT_EQ(orientationFromDegrees(90), 3u);
  EXPECT_EQ(orientationFromDegrees(270), 1u);
  EXPECT_EQ(orientationFromDegrees(180), 2u);
  EXPECT_EQ(orientationFromDegrees(0), 0u);
  EXPECT_EQ(orientationFromDegrees(45), 0u);
  Rig rig;
  rig.build(kFour);
  ASSERT_TRUE(rig.context->ToggleCapture());
  const int starts = rig.src[0]->starts;
  rig.view.degrees = 90;
  rig.context->onSize();
  EXPECT_EQ(rig.context->screenOrientation, 3u);
  EXPECT_EQ(rig.src[0]->starts, starts + 1);
  EXPECT_EQ(rig.src[0]->lastOrientation, 3u);
  EXPECT_EQ(rig.src[0]->lastMode, sources::kModeCapture);
  rig.context->onSize();  // unchanged: no restart
  EXPECT_EQ(rig.src[0]->starts, starts + 1);
}

TEST(Preview, HandShakeRepackAndRowSwap) {
  Rig rig;
  rig.build(kFour);
  rig.context->onCreate();
  rig.view.clientW = 2;
  rig.view.clientH = 2;
  rig.context->previewBitmap.resize(2, 2);
  // A 2x2 5-6-5 frame: row 0 white, yellow; row 1 pure green (0x07E0), blue (0x001F).
  uint16_t pixels[4] = {0xFFFF, 0xFFE0, 0x07E0, 0x001F};
  sources::FrameDescriptor f;
  f.data = reinterpret_cast<uint8_t*>(pixels);
  f.sizeBytes = sizeof pixels;
  f.format = sources::kFormatRgb565;
  f.width = 2;
  f.height = 2;
  EXPECT_FALSE(CaptureContext::previewCallback(rig.context.get(), &f, 0, nullptr));  // window not active
  rig.context->onActivate(true, false);
  EXPECT_TRUE(CaptureContext::previewCallback(rig.context.get(), &f, 0, nullptr));
  EXPECT_TRUE(rig.context->previewReady.load());
  uint16_t out[4];
  std::memcpy(out, rig.context->previewBitmap.pixels, sizeof out);
  // Rows swapped; 5-6-5 to 5-5-5: green 0x07E0 -> 0x03E0, blue stays, white 0x7FFF.
  EXPECT_EQ(out[0], 0x03E0);
  EXPECT_EQ(out[1], 0x001F);
  EXPECT_EQ(out[2], 0x7FFF);
  EXPECT_EQ(out[3], 0x7FE0);
  // Busy until painted.
  EXPECT_FALSE(CaptureContext::previewCallback(rig.context.get(), &f, 0, nullptr));
  rig.context->onPaint();
  EXPECT_EQ(rig.view.draws, 1);
  EXPECT_TRUE(CaptureContext::previewCallback(rig.context.get(), &f, 0, nullptr));
  // A client area of another size: the bitmap follows it and the picture is dropped.
  rig.view.clientW = 4;
  rig.context->onPaint();
  EXPECT_FALSE(rig.context->previewReady.load());
  EXPECT_EQ(rig.context->previewBitmap.width, 4);
  EXPECT_EQ(reinterpret_cast<uintptr_t>(rig.context->previewBitmap.pixels) % 32, 0u);
  rig.context->onPaint();
  EXPECT_EQ(rig.view.fills.back(), 0u);  // black without a background
  EXPECT_FALSE(CaptureContext::previewCallback(rig.context.get(), nullptr, 0, nullptr));
}

TEST(Window, CommandLineFromASecondCopy) {
  Rig rig;
  rig.build(kFour);
  rig.context->onCopyData(nullptr, 0);  // an empty command line
  ASSERT_TRUE(rig.context->commandText);
  EXPECT_EQ(*rig.context->commandText, u"");
  EXPECT_EQ(rig.view.commandPosts, 1);
  rig.context->onCommandReceived();
  EXPECT_EQ(rig.network->commands, std::vector<std::u16string>{u""});
  EXPECT_FALSE(rig.context->capturing());

  rig.network->commandResult = true;
  const std::u16string text = u"-p3000";
  rig.context->onCopyData(text.c_str(), text.size() + 1);
  rig.context->onCommandReceived();
  EXPECT_EQ(rig.network->commands.back(), u"-p3000");
  EXPECT_TRUE(rig.context->capturing());
  // Enter and the soft key toggle.
  rig.context->onKeyDown(kKeyEnter);
  EXPECT_FALSE(rig.context->capturing());
  EXPECT_TRUE(rig.context->onCommand(kCommandSoftKey));
  EXPECT_TRUE(rig.context->capturing());
  EXPECT_FALSE(rig.context->onCommand(12345));
}

TEST(Window, ActivationPreparesAndDeactivationReleases) {
  Rig rig;
  rig.build(kFour);
  rig.context->onActivate(true, false);
  EXPECT_EQ(rig.network->prepares, 1);
  EXPECT_TRUE(rig.src[0]->started);
  EXPECT_EQ(rig.src[0]->lastMode, sources::kModePreview);
  rig.context->onActivate(false, false);
  EXPECT_FALSE(rig.src[0]->started);
  EXPECT_EQ(rig.network->stops, 1);
  EXPECT_EQ(rig.network->releases, 1);
  rig.context->onActivate(true, true);  // names another window: only the flags
  EXPECT_EQ(rig.network->prepares, 1);
  EXPECT_TRUE(rig.context->windowActive.load());
}

TEST(control, TapsAndKeysGoToTheFirstEnabledSourceThatTakesThem) {
  Rig rig;
  rig.build(kFour);
  rig.src[0]->setEnabled(false);
  rig.src[2]->setEnabled(true);  // the screen
  rig.src[2]->takesInput = true;
  rig.src[3]->setEnabled(true);
  EXPECT_EQ(CaptureContext::control(rig.context.get(), protocol::CMD_TAP, 0x40002000u), 1u);
  EXPECT_EQ(CaptureContext::control(rig.context.get(), protocol::CMD_KEY, 0x0D), 1u);
  EXPECT_EQ(CaptureContext::control(rig.context.get(), 77, 1), 1u) << "a property command";
  EXPECT_TRUE(rig.src[0]->inputs.empty()) << "a disabled source got input";
  const std::vector<std::pair<uint32_t, uint32_t>> expected = {{protocol::CMD_TAP, 0x40002000u},
                                                               {protocol::CMD_KEY, 0x0D}};
  EXPECT_EQ(rig.src[2]->inputs, expected);
  EXPECT_TRUE(rig.src[3]->inputs.empty()) << "input went on after the screen took it";
}

// A value chosen on the PC arrives on the link's thread and is applied on the window
// thread as the editor applies one: the source takes it, the PC gets the value report,
// and the choice is saved at once.
TEST(PcCommands, SetPropertyIsAppliedReportedAndSaved) {
  Rig rig;
  rig.build({{SourceKind::kCamera, texts::kTextCamera}, {SourceKind::kScreen, texts::kTextScreen}});
  rig.context->onActivate(true, false);
  ASSERT_TRUE(rig.context->ToggleCapture());
  FakeSource& camera = *rig.src[0];
  const uint32_t key = camera.quality.key;
  std::thread link([&] { CaptureContext::control(rig.context.get(), key, 7); });
  link.join();
  EXPECT_EQ(rig.view.propertyPosts.load(), 1);
  EXPECT_TRUE(camera.applied.empty()) << "applied on the link's thread";
  rig.context->onPropertyCommands();
  ASSERT_EQ(camera.applied.size(), 1u);
  EXPECT_EQ(camera.applied[0].first, &camera.quality);
  EXPECT_EQ(camera.applied[0].second, 7);
  EXPECT_EQ(camera.quality.current, 7);
  EXPECT_EQ(rig.network->changed, std::vector<const settings::SourceSetting*>{&camera.quality});
  EXPECT_EQ(settings::readDword(rig.store.OpenKey(u"Camera", false), u"Quality"), 7u);
}

TEST(PcCommands, WhatNamesNoValueChangesNothing) {
  struct Case {
    const char* what;
    uint32_t code;  // 0: the camera's key
    uint32_t index;
    bool screenEnabled = true;
    uint32_t keyOf = 0;  // 1: the screen's key
  } cases[] = {
      {"index equal to the count", 0, 10},
      {"index far outside", 0, 0xFFFFFFFFu},
      {"unknown key", 0x7FFFFFF0u, 1},
      {"a tap", 1, 3},
      {"a key press", 2, 3},
      {"a disabled source's setting", 0, 3, false, 1},
  };
  for (const Case& c : cases) {
    Rig rig;
    rig.write(u"Source", c.screenEnabled ? u";Camera;Screen;" : u";Camera;");
    rig.build({{SourceKind::kCamera, texts::kTextCamera}, {SourceKind::kScreen, texts::kTextScreen}});
    rig.context->onActivate(true, false);
    ASSERT_TRUE(rig.context->ToggleCapture());
    const uint32_t code = c.code != 0 ? c.code : rig.src[c.keyOf]->quality.key;
    CaptureContext::control(rig.context.get(), code, c.index);
    rig.context->onPropertyCommands();
    for (FakeSource* s : rig.src) {
      EXPECT_TRUE(s->applied.empty()) << c.what;
      EXPECT_EQ(s->quality.current, -1) << c.what;
    }
    EXPECT_TRUE(rig.network->changed.empty()) << c.what;
    EXPECT_FALSE(rig.store.OpenKey(u"Camera", false)) << c.what;
  }
}

}  // namespace
}  // namespace core
