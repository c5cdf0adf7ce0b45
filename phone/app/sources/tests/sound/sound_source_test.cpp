// The sound source over the fake recorder: block layout, the drop rule, the one-block
// hand-back, preview, Halt while a block comes back, Stop and a new layout.
#include "sources/sound_source.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "fake_audio_in.h"
#include "manual_clock.h"
#include "memory_key_store.h"
#include "platform/event.h"
#include "settings/settings_store.h"

namespace sources {
namespace {

struct LayoutCase {
  int32_t frameTimeIndex;
  uint32_t frameTimeMs;
  uint32_t pcmBytes;
  uint32_t strideBytes;
  uint32_t blocks;
};
constexpr LayoutCase kLayouts[] = {
    {0, 20, 320, 432, 303},      {1, 40, 640, 788, 166},       {2, 100, 1600, 1856, 70},
    {3, 200, 3200, 3636, 36},    {4, 500, 8000, 8976, 14},     {5, 1000, 16000, 17876, 7},
    {6, 2000, 32000, 35676, 3},
};

class SoundSourceTest : public ::testing::Test {
 protected:
  SoundSourceTest() : clock_(1000) {}

  std::unique_ptr<SoundSource> make(const settings::SettingsStore* store = nullptr) {
    SoundEnvironment env;
    env.clock = &clock_;
    env.makeRecorder = recorder_.factory();
    env.device = "testmic";
    env.store = store;
    env.text = [](uint32_t id) -> const char16_t* { return id == 70 ? u"Sound" : nullptr; };
    auto source = std::make_unique<SoundSource>(env);
    source->Init();
    return source;
  }

  StartParams params(uint32_t mode) {
    StartParams p;
    p.frameReady = &frameReady_;
    p.mode = mode;
    return p;
  }

  bool start(SoundSource& s, uint32_t mode = kModeCapture) {
    StartParams p = params(mode);
    return s.Start(p);
  }

  // Fills one block completely with `pattern`, moving the clock on by 10 ms first.
  void fill(uint8_t pattern, uint32_t bytes = 0xFFFFFFFFu) {
    clock_.advanceMs(10);
    ASSERT_TRUE(recorder_.fill(bytes, pattern)) << "the recorder ran out of blocks";
  }

  platform::ManualClock clock_;
  platform::FakeAudioIn recorder_;
  platform::Event frameReady_{platform::Event::Reset::kAuto};
};

TEST(SoundBlockLayout, EveryFrameTime) {
  for (const LayoutCase& c : kLayouts) {
    const SoundBlockLayout l = layoutSoundBlocks(c.frameTimeMs / 20);
    EXPECT_EQ(l.pcmBytes, c.pcmBytes) << c.frameTimeMs;
    EXPECT_EQ(l.strideBytes, c.strideBytes) << c.frameTimeMs;
    EXPECT_EQ(l.blockCount, c.blocks) << c.frameTimeMs;
  }
}

TEST_F(SoundSourceTest, SettingsAndTheirDefaults) {
  auto s = make();
  SourceSetting* f = s->Settings();
  ASSERT_NE(f, nullptr);
  EXPECT_EQ(f->textId, 7u);
  EXPECT_EQ(settings::settingValue(*f), 0);  // "PCM"
  ASSERT_EQ(f->count, 2u);
  EXPECT_EQ(std::u16string(f->choices[1].label), u"AMR");
  SourceSetting* q = f->next;
  ASSERT_NE(q, nullptr);
  EXPECT_EQ(q->textId, 23u);
  EXPECT_EQ(q->count, 8u);
  EXPECT_EQ(settings::settingValue(*q), 2);
  SourceSetting* t = q->next;
  ASSERT_NE(t, nullptr);
  EXPECT_EQ(t->textId, 8u);
  EXPECT_EQ(t->count, 7u);
  EXPECT_EQ(settings::settingValue(*t), 5);  // 100 ms
  EXPECT_EQ(std::u16string(t->choices[6].label), u"2000");
  EXPECT_EQ(t->next, nullptr);
  EXPECT_EQ(s->NameTextId(), 70u);
  EXPECT_EQ(s->Kind(), SourceKind::kSound);
}

// Every block lies in the region at its stride, with 32 free bytes in front of its PCM
// that belong to no other block; every "Frame Time" gives its own layout after a Stop.
TEST_F(SoundSourceTest, StopThenStartLaysTheBlocksOutForTheNewFrameTime) {
  auto s = make();
  for (const LayoutCase& c : kLayouts) {
    s->Settings()->next->next->current = c.frameTimeIndex;
    ASSERT_TRUE(start(*s)) << c.frameTimeMs;
    EXPECT_TRUE(s->IsStarted());
    EXPECT_EQ(s->layout().strideBytes, c.strideBytes);
    ASSERT_EQ(recorder_.queued(), c.blocks) << c.frameTimeMs;
    EXPECT_EQ(s->blocksWithRecorder(), c.blocks);
    const uint8_t* region = s->region();
    ASSERT_NE(region, nullptr);
    for (uint32_t i = 0; i < c.blocks; ++i) {
      fill(static_cast<uint8_t>(i));
      FrameDescriptor d;
      ASSERT_NE(s->TakeFrame(&d), 0u);
      ASSERT_EQ(d.sizeBytes, c.pcmBytes);
      const ptrdiff_t offset = d.data - region;
      EXPECT_EQ(offset % c.strideBytes, 76) << c.frameTimeMs << " block " << i;
      EXPECT_LE(offset + c.pcmBytes + c.pcmBytes / 320 * 36, 131072);
    }
    EXPECT_TRUE(s->Stop());
    EXPECT_EQ(s->region(), nullptr);
    EXPECT_FALSE(recorder_.isOpen());
  }
  EXPECT_EQ(recorder_.format().samplesPerSec, 8000u);
  EXPECT_EQ(recorder_.format().channels, 1u);
  EXPECT_EQ(recorder_.format().bitsPerSample, 16u);
  EXPECT_EQ(recorder_.device(), "testmic");
}

// A "Frame Time" changed while recording takes effect at the next start; the running
// recording keeps its blocks.
TEST_F(SoundSourceTest, AChangedFrameTimeTakesEffectAtTheNextStart) {
  auto s = make();
  ASSERT_TRUE(start(*s));
  s->Settings()->next->next->current = 3;
  EXPECT_TRUE(s->SetSetting(s->Settings()->next->next, 3));
  EXPECT_EQ(s->layout().pcmBytes, 1600u);
  fill(1);
  FrameDescriptor d;
  ASSERT_NE(s->TakeFrame(&d), 0u);
  EXPECT_EQ(d.sizeBytes, 1600u);
  ASSERT_TRUE(start(*s));
  EXPECT_EQ(s->layout().pcmBytes, 3200u);
  EXPECT_EQ(recorder_.queued(), 36u);
  // Without a change, halting and starting keeps the layout and the region.
  const uint8_t* region = s->region();
  EXPECT_TRUE(s->Halt());
  ASSERT_TRUE(start(*s));
  EXPECT_EQ(s->region(), region);
  EXPECT_EQ(recorder_.queued(), 36u);
}

TEST_F(SoundSourceTest, TakeFrameDescribesTheOldestBlockAndHandsItBackOnTheNextTake) {
  auto s = make();
  ASSERT_TRUE(start(*s));
  EXPECT_EQ(s->TakeFrame(nullptr), 0u);
  EXPECT_FALSE(frameReady_.wait(0));
  fill(0x11, 1000);
  EXPECT_TRUE(frameReady_.wait(0));
  const uint32_t first = clock_.nowMs();
  fill(0x22);
  EXPECT_EQ(recorder_.queued(), 68u);
  EXPECT_EQ(s->TakeFrame(nullptr), first);

  FrameDescriptor d;
  EXPECT_EQ(s->TakeFrame(&d), first);
  EXPECT_EQ(d.format, kFormatPcm);
  EXPECT_EQ(d.sizeBytes, 1000u);
  EXPECT_EQ(d.data[0], 0x11);
  EXPECT_EQ(d.timestampMs, first);
  EXPECT_EQ(d.sourceWord, 0u);
  EXPECT_EQ(d.width, 0u);
  // While the target sends it, the block stays out of the recorder's hands.
  EXPECT_EQ(recorder_.queued(), 68u);

  FrameDescriptor e;
  EXPECT_EQ(s->TakeFrame(&e), first + 10);
  EXPECT_EQ(recorder_.queued(), 69u);  // the first block went back
  EXPECT_EQ(e.data[0], 0x22);
  EXPECT_EQ(e.sizeBytes, 1600u);
  EXPECT_EQ(e.sourceWord, 1u);
  EXPECT_EQ(s->TakeFrame(nullptr), 0u);
  EXPECT_EQ(recorder_.queued(), 70u);  // a take without a record hands back too
}

// "AMR" is not built: blocks go out as PCM whatever "Format" says.
TEST_F(SoundSourceTest, AmrChosenStillSendsPcm) {
  auto s = make();
  s->Settings()->current = 1;
  ASSERT_TRUE(start(*s));
  fill(0x33);
  FrameDescriptor d;
  ASSERT_NE(s->TakeFrame(&d), 0u);
  EXPECT_EQ(d.format, kFormatPcm);
  EXPECT_EQ(d.sizeBytes, 1600u);
}

// A target that takes nothing: the recorder always keeps at least 4 blocks when one
// comes back (5 once the oldest is given back), never runs dry, and the newest sound
// waits in order.
TEST_F(SoundSourceTest, ATargetThatTakesNothingDropsTheOldestAndRecordingGoesOn) {
  auto s = make();
  ASSERT_TRUE(start(*s));
  for (int i = 0; i < 300; ++i) {
    fill(static_cast<uint8_t>(i));
    ASSERT_GE(s->blocksWithRecorder(), 5u) << "after block " << i;
  }
  EXPECT_EQ(recorder_.starved(), 0);
  EXPECT_EQ(s->blocksQueued(), 65u);
  EXPECT_EQ(recorder_.queued(), 5u);
  std::vector<int> got;
  FrameDescriptor d;
  while (s->TakeFrame(&d) != 0) got.push_back(d.data[0]);
  ASSERT_EQ(got.size(), 65u);
  for (size_t k = 0; k < got.size(); ++k) EXPECT_EQ(got[k], static_cast<uint8_t>(300 - 65 + k));
  EXPECT_EQ(d.sourceWord, 64u);
}

// With "Frame Time" 2000 the region holds 3 blocks: they must still reach the target,
// and recording must still never stall.
TEST_F(SoundSourceTest, TheLongestFrameTimeStillDeliversItsBlocks) {
  auto s = make();
  s->Settings()->next->next->current = 6;
  ASSERT_TRUE(start(*s));
  ASSERT_EQ(recorder_.queued(), 3u);
  FrameDescriptor d;
  for (int i = 0; i < 6; ++i) {
    fill(static_cast<uint8_t>(0x40 + i));
    ASSERT_NE(s->TakeFrame(&d), 0u) << "block " << i;
    EXPECT_EQ(d.data[0], 0x40 + i);
    EXPECT_EQ(d.sizeBytes, 32000u);
  }
  for (int i = 0; i < 10; ++i) fill(static_cast<uint8_t>(i));  // nobody takes
  EXPECT_EQ(recorder_.starved(), 0);
  ASSERT_NE(s->TakeFrame(&d), 0u);
  EXPECT_EQ(d.data[0], 9);  // only the newest is left
}

TEST_F(SoundSourceTest, PreviewRecordsNothing) {
  auto s = make();
  ASSERT_TRUE(start(*s, kModePreview));
  EXPECT_EQ(recorder_.opens(), 0);
  EXPECT_FALSE(s->IsStarted());
  EXPECT_EQ(s->TakeFrame(nullptr), 0u);
  // Capture, then back to preview: the recorder stops and closes.
  ASSERT_TRUE(start(*s));
  fill(1);
  ASSERT_TRUE(start(*s, kModePreview));
  EXPECT_FALSE(recorder_.isOpen());
  EXPECT_FALSE(s->IsStarted());
  EXPECT_EQ(s->TakeFrame(nullptr), 0u);
  EXPECT_FALSE(recorder_.fill(0xFFFF, 2));
}

TEST_F(SoundSourceTest, StartFailsWithoutADeviceOrWithFewerThanTwoBlocks) {
  {
    auto s = make();
    recorder_.refuseOpen = true;
    EXPECT_FALSE(start(*s));
    EXPECT_FALSE(s->IsStarted());
    recorder_.refuseOpen = false;
  }
  auto s = make();
  recorder_.acceptAtMost = 1;
  EXPECT_FALSE(start(*s));
  EXPECT_FALSE(s->IsStarted());
  EXPECT_FALSE(recorder_.isOpen());
  EXPECT_EQ(recorder_.queued(), 0u);
  recorder_.acceptAtMost = 2;
  EXPECT_TRUE(start(*s));
}

TEST_F(SoundSourceTest, EnabledByDefaultOnlyWhenTheProbeFoundTheDevice) {
  SoundEnvironment env;
  env.deviceFound = false;
  EXPECT_FALSE(SoundSource(env).enabledByDefault());
  env.deviceFound = true;
  EXPECT_TRUE(SoundSource(env).enabledByDefault());
}

TEST_F(SoundSourceTest, StopSavesTheSettingsAndTheDeviceComesFromTheSubKey) {
  std::shared_ptr<platform::testing::MemoryKeyStoreStorage::State> state;
  auto keyStore = platform::testing::makeMemoryKeyStore(state);
  settings::SettingsStore store(*keyStore);
  store.setMainPath(settings::kSettingsPath);
  {
    auto key = store.OpenKey(u"Sound", true);
    settings::writeString(key, kSoundDeviceValue, u"plughw:7");
  }
  SoundEnvironment env;
  env.store = &store;
  env.text = [](uint32_t id) -> const char16_t* { return id == 70 ? u"Sound" : nullptr; };
  EXPECT_EQ(probeSoundDevice(env).device, "plughw:7");
  EXPECT_EQ(probeSoundDevice(SoundEnvironment{}).device, "");

  auto s = make(&store);
  s->Settings()->name = u"Format";
  s->Settings()->next->name = u"Quality";
  s->Settings()->next->next->name = u"Frame Time";
  s->Settings()->next->next->current = 4;
  ASSERT_TRUE(start(*s));
  ASSERT_TRUE(s->Stop());
  auto key = store.OpenKey(u"Sound", false);
  EXPECT_EQ(settings::readDword(key, u"Frame Time"), 4u);
  EXPECT_EQ(settings::readDword(key, u"Format"), 0xFFFFFFFFu);
  EXPECT_EQ(settings::readString(key, kSoundDeviceValue, 260), u"plughw:7");
}

// Halt while the recorder is giving a block back: the block lands after Halt began, so
// it is neither handed to the recorder again nor announced; when Halt returns the
// recorder holds nothing, is closed and hears from nobody.
TEST_F(SoundSourceTest, HaltWhileABlockComesBack) {
  auto s = make();
  ASSERT_TRUE(start(*s));
  for (int i = 0; i < 66; ++i) fill(1);  // the next block back triggers the drop rule
  ASSERT_EQ(s->blocksWithRecorder(), 5u);
  while (frameReady_.wait(0)) {
  }
  recorder_.beforeCallback = [this] { recorder_.waitForReset(); };
  std::thread producer([this] { recorder_.fill(0xFFFF, 2); });
  // Halt waits inside the recorder's Reset for the block in flight.
  EXPECT_TRUE(s->Halt());
  producer.join();
  EXPECT_FALSE(frameReady_.wait(0));
  EXPECT_FALSE(s->IsStarted());
  EXPECT_FALSE(recorder_.isOpen());
  EXPECT_EQ(recorder_.queued(), 0u);
  EXPECT_EQ(recorder_.lateCalls(), 0);
  EXPECT_EQ(s->blocksQueued(), 0u);
  EXPECT_EQ(s->TakeFrame(nullptr), 0u);
  recorder_.beforeCallback = nullptr;
  ASSERT_TRUE(start(*s));
  EXPECT_EQ(recorder_.queued(), 70u);
}

// The recorder's thread, the target's thread and the window thread at once: the target
// takes as fast as it can while the recorder fills and the window halts and restarts.
TEST_F(SoundSourceTest, RecorderTargetAndWindowThreadsTogether) {
  auto s = make();
  ASSERT_TRUE(start(*s));
  std::atomic<bool> done{false};
  std::atomic<uint32_t> taken{0};
  std::thread target([&] {
    FrameDescriptor d;
    while (!done.load()) {
      if (s->TakeFrame(nullptr) != 0 && s->TakeFrame(&d) != 0) {
        EXPECT_EQ(d.sizeBytes, 1600u);
        taken.fetch_add(1);
      }
    }
  });
  std::thread producer([&] {
    while (!done.load()) recorder_.fill(0xFFFF, 7);
  });
  for (int round = 0; round < 20; ++round) {
    std::this_thread::sleep_for(
        std::chrono::milliseconds(2));  // the taker runs a moment between restarts
    EXPECT_TRUE(s->Halt());
    EXPECT_TRUE(start(*s));
  }
  done.store(true);
  producer.join();
  target.join();
  EXPECT_TRUE(s->Stop());
  EXPECT_FALSE(recorder_.isOpen());
  EXPECT_EQ(recorder_.lateCalls(), 0);
  EXPECT_GT(taken.load(), 0u);
}

}  // namespace
}  // namespace sources
