// The one-frame hand-off between a camera's producer thread and the delivery target's
// thread, and Halt releasing a blocked producer. Run under ThreadSanitizer in CI.

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <future>
#include <thread>
#include <vector>

#include "camera/camera_source.h"
#include "fake_camera.h"
#include "fake_system_encoder.h"
#include "platform/event.h"

namespace camera {
namespace {

using namespace sources;
using namespace std::chrono_literals;
using testing::FakeCamera;
using testing::mode;

constexpr uint32_t kSide = 32;
constexpr uint32_t kJpegBytes = 64;

// A small JPEG-looking picture (passed through unchanged) that carries its number.
void fillFrame(std::vector<uint8_t>& picture, uint32_t number) {
  picture.assign(kJpegBytes, 0);
  picture[0] = 0xFF, picture[1] = 0xD8, picture[2] = 0xFF, picture[3] = 0xE0;
  for (uint32_t i = 4; i < kJpegBytes; ++i) picture[i] = static_cast<uint8_t>(number * 7 + i);
  std::memcpy(&picture[4], &number, 4);
}

bool frameIntact(const uint8_t* data, uint32_t number) {
  std::vector<uint8_t> expected;
  fillFrame(expected, number);
  return std::memcmp(data, expected.data(), kJpegBytes) == 0;
}

uint32_t frameNumber(const uint8_t* data) {
  uint32_t n;
  std::memcpy(&n, data + 4, 4);
  return n;
}

class HandoffTest : public ::testing::Test {
 protected:
  HandoffTest() : camera_(env(), {mode(kSide, kSide, kFormatUyvy)}) {
    testing::FakeSystemEncoder::reset();
    camera_.Init();
    camera_.common(kSettingFrameRate).current = 10;  // MAX: no pacing
  }
  static CameraEnvironment env() {
    CameraEnvironment e;
    e.systemEncoder = testing::FakeSystemEncoder::factory;
    return e;
  }
  bool start() {
    StartParams p;
    p.mode = kModeCapture;
    p.frameReady = &frameReady_;
    return camera_.Start(p);
  }
  bool deliver(uint32_t number) {
    std::vector<uint8_t> picture;
    fillFrame(picture, number);
    return camera_.DeliverFrame(nullptr, picture.data(), kJpegBytes);
  }
  // Waits until a frame is waiting (the producer published it).
  bool waitForFrame() {
    for (int i = 0; i < 5000; ++i) {
      if (camera_.TakeFrame(nullptr) != 0) return true;
      frameReady_.wait(1);
    }
    return false;
  }

  platform::Event frameReady_{platform::Event::Reset::kAuto};
  FakeCamera camera_;
};

TEST_F(HandoffTest, EveryFrameArrivesOnceInOrderAndStaysIntactUntilTheNextTake) {
  ASSERT_TRUE(start());
  constexpr uint32_t kFrames = 300;
  std::atomic<uint32_t> returned{0}, taken{0};
  std::atomic<bool> tooMany{false};
  std::thread producer([&] {
    for (uint32_t n = 0; n < kFrames; ++n) {
      EXPECT_TRUE(deliver(n));
      returned.fetch_add(1);
    }
  });
  std::vector<uint32_t> numbers;
  FrameDescriptor held{};
  uint32_t heldNumber = 0;
  while (numbers.size() < kFrames) {
    ASSERT_TRUE(frameReady_.wait(5000)) << "no frame after " << numbers.size();
    // A producer cannot be past a frame that was not taken yet.
    if (returned.load() > taken.load()) tooMany = true;
    // The frame handed out before is still untouched while the next one waits.
    if (held.data) {
      ASSERT_TRUE(frameIntact(held.data, heldNumber)) << heldNumber;
    }
    FrameDescriptor out;
    ASSERT_NE(camera_.TakeFrame(&out), 0u);
    taken.fetch_add(1);
    ASSERT_EQ(out.format, kFormatJpeg);
    ASSERT_EQ(out.sizeBytes, kJpegBytes);
    ASSERT_NE(out.data, held.data) << "the two output buffers alternate";
    held = out;
    heldNumber = frameNumber(out.data);
    numbers.push_back(heldNumber);
  }
  producer.join();
  EXPECT_FALSE(tooMany.load());
  for (uint32_t n = 0; n < kFrames; ++n) ASSERT_EQ(numbers[n], n);
}

TEST_F(HandoffTest, HaltReleasesAProducerBlockedOnItsUntakenFrame) {
  ASSERT_TRUE(start());
  auto blocked = std::async(std::launch::async, [&] { return deliver(1); });
  ASSERT_TRUE(waitForFrame());
  EXPECT_EQ(blocked.wait_for(50ms), std::future_status::timeout) << "the producer waits";
  ASSERT_TRUE(camera_.Halt());
  ASSERT_EQ(blocked.wait_for(5s), std::future_status::ready);
  EXPECT_FALSE(blocked.get()) << "a halted source reports the frame as not delivered";
  EXPECT_EQ(camera_.TakeFrame(nullptr), 0u) << "the waiting frame is gone";
  EXPECT_EQ(camera_.halts, 1);
  EXPECT_FALSE(camera_.IsStarted());
  EXPECT_FALSE(deliver(2)) << "nothing is accepted while halted";
}

TEST_F(HandoffTest, AReleaseLeftByHaltDoesNotLetTheNextFrameThrough) {
  ASSERT_TRUE(start());
  ASSERT_TRUE(camera_.Halt());  // no producer was waiting: the release is left over
  ASSERT_TRUE(start());
  auto producer = std::async(std::launch::async, [&] { return deliver(5); });
  ASSERT_TRUE(waitForFrame());
  EXPECT_EQ(producer.wait_for(50ms), std::future_status::timeout);
  FrameDescriptor out;
  ASSERT_NE(camera_.TakeFrame(&out), 0u);
  EXPECT_TRUE(frameIntact(out.data, 5));
  ASSERT_EQ(producer.wait_for(5s), std::future_status::ready);
  EXPECT_TRUE(producer.get());
}

TEST_F(HandoffTest, RestartsWhileFramesFlowNeverCorruptAHeldFrame) {
  ASSERT_TRUE(start());
  std::atomic<bool> stop{false};
  std::thread producer([&] {
    for (uint32_t n = 0; !stop.load(); ++n) {
      if (!deliver(n)) std::this_thread::yield();
    }
  });
  std::atomic<uint32_t> takenCount{0};
  std::thread consumer([&] {
    FrameDescriptor held{};
    uint32_t heldNumber = 0;
    while (!stop.load()) {
      frameReady_.wait(2);
      if (held.data) {
        ASSERT_TRUE(frameIntact(held.data, heldNumber));
      }
      FrameDescriptor out;
      if (camera_.TakeFrame(&out) == 0) continue;
      held = out;
      heldNumber = frameNumber(out.data);
      takenCount.fetch_add(1);
    }
  });
  for (int i = 0; i < 40; ++i) {
    std::this_thread::sleep_for(1ms);  // the taker runs a moment between restarts
    ASSERT_TRUE(camera_.Halt());
    ASSERT_TRUE(start());
  }
  stop = true;
  camera_.Halt();
  producer.join();
  consumer.join();
  EXPECT_GT(takenCount.load(), 0u);
  EXPECT_EQ(camera_.halts, 41);
}

}  // namespace
}  // namespace camera
