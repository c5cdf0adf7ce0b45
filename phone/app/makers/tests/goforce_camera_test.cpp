#include "makers/goforce_camera.h"

#include <gtest/gtest.h>

#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include "camera_rig.h"

namespace makers::testing {
namespace {

// Stand-in resource manager: components are tables of operations; every call is
// recorded ("Open", "Get 43414D20", "Alloc 320x240", "Probe 0", "Setup 640x480 1 1024",
// "Start 640x480", "Fetch", "EncoderStop", "CameraStop", "Release", "Free", "Close").
struct FakeGoForce {
  std::mutex mutex;
  std::vector<std::string> log;
  uint32_t failGet = 0;           // component id whose get fails
  bool allocFails = false;
  std::vector<std::pair<uint32_t, uint32_t>> sizes = {{640, 480}, {320, 240}};
  std::vector<uint32_t> fetchSizes;  // sizes the encoder reports in turn, then 0
  size_t fetched = 0;

  static FakeGoForce& instance() {
    static FakeGoForce fake;
    return fake;
  }
  void record(std::string call) {
    std::lock_guard lock(mutex);
    log.push_back(std::move(call));
  }
  size_t count(const std::string& call) {
    std::lock_guard lock(mutex);
    size_t n = 0;
    for (const auto& c : log) n += c == call;
    return n;
  }

  static int32_t open(void** m) {
    instance().record("Open");
    *m = &instance();
    return 0;
  }
  static void close(void** m) {
    instance().record("Close");
    *m = nullptr;
  }
  static int32_t getAttribute(void*, uint32_t, uint32_t*) { return 1; }
  static int32_t get(void*, void** component, uint32_t id) {
    char line[32];
    std::snprintf(line, sizeof line, "Get %X", id);
    instance().record(line);
    if (id == instance().failGet) return 1;
    *component = id == goforce::kCamera ? static_cast<void*>(&cameraObject)
                                        : (id == goforce::kJpegEncoder ? static_cast<void*>(&encoderObject)
                                                                       : static_cast<void*>(&otherObject));
    return 0;
  }
  static void release(void*, void** component) {
    instance().record("Release");
    *component = nullptr;
  }
  static int32_t alloc(void*, void** surface, uint32_t w, uint32_t h) {
    instance().record("Alloc " + std::to_string(w) + "x" + std::to_string(h));
    if (instance().allocFails) return 1;
    *surface = &otherObject;
    return 0;
  }
  static void free(void*, void** surface) {
    instance().record("Free");
    *surface = nullptr;
  }
  static int32_t probe(void*, uint32_t index, uint32_t* w, uint32_t* h) {
    FakeGoForce& f = instance();
    if (index >= f.sizes.size()) return 1;
    *w = f.sizes[index].first;
    *h = f.sizes[index].second;
    return 0;
  }
  static int32_t cameraStart(void*, void*, uint32_t w, uint32_t h) {
    instance().record("Start " + std::to_string(w) + "x" + std::to_string(h));
    return 0;
  }
  static int32_t cameraStop(void*) {
    instance().record("CameraStop");
    return 0;
  }
  static int32_t setup(void*, void*, uint32_t w, uint32_t h, uint32_t level, uint32_t kib) {
    instance().record("Setup " + std::to_string(w) + "x" + std::to_string(h) + " " + std::to_string(level) +
                      " " + std::to_string(kib));
    return 0;
  }
  static int32_t fetch(void*, uint8_t* buffer, uint32_t limit, uint32_t* size) {
    FakeGoForce& f = instance();
    std::lock_guard lock(f.mutex);
    const uint32_t n = f.fetched < f.fetchSizes.size() ? f.fetchSizes[f.fetched++] : 0;
    *size = n;
    if (n == 0) return 1;
    std::memset(buffer, 0xAB, n < limit ? n : limit);  // a lying size is not written past the limit
    buffer[0] = 0xFF;
    buffer[1] = 0xD8;
    return 0;
  }
  static int32_t encoderStop(void*) {
    instance().record("EncoderStop");
    return 0;
  }

  static inline const goforce::CameraOps cameraOps{&probe, &cameraStart, &cameraStop};
  static inline const goforce::EncoderOps encoderOps{&setup, &fetch, &encoderStop};
  struct Object {
    const void* ops;
  };
  static inline Object cameraObject{&cameraOps};
  static inline Object encoderObject{&encoderOps};
  static inline Object otherObject{nullptr};

  static sources::GoForceLibrary library() {
    sources::GoForceLibrary lib;
    lib.entries = {reinterpret_cast<void*>(&open),    reinterpret_cast<void*>(&close),
                   reinterpret_cast<void*>(&getAttribute), reinterpret_cast<void*>(&get),
                   reinterpret_cast<void*>(&release), reinterpret_cast<void*>(&alloc),
                   reinterpret_cast<void*>(&free)};
    return lib;
  }
  void reset() {
    std::lock_guard lock(mutex);
    log.clear();
    failGet = 0;
    allocFails = false;
    sizes = {{640, 480}, {320, 240}};
    fetchSizes.clear();
    fetched = 0;
  }
};

class GoForceCameraTest : public CameraRig {
 protected:
  void SetUp() override {
    CameraRig::SetUp();
    fake().reset();
  }
  static FakeGoForce& fake() { return FakeGoForce::instance(); }
};

TEST_F(GoForceCameraTest, SessionModesAndJpegFrames) {
  // 100 and 2621440 bytes are outside 129..2621439; 200 and 129 go out as they are.
  fake().fetchSizes = {100, 200, 0, 2621440, 129};
  GoForceCamera source(environment(), FakeGoForce::library());
  source.Init();
  sources::PictureMode modes[sources::kMaxPictureModes];
  ASSERT_EQ(source.EnumerateModes(modes, 0), 2u);
  EXPECT_EQ(modes[0].format, sources::kFormatJpeg);
  EXPECT_EQ(modes[1].width, 320u);
  const std::vector<std::string> session = {"Open", "Get 4A584520", "Get 43414D20", "Get 56582020",
                                            "Get 49324320", "Alloc 320x240"};
  EXPECT_EQ(fake().log, session);

  source.common(camera::kSettingQuality).current = 5;  // 80: level 1
  ASSERT_TRUE(startCapture(source));                   // 320 x 240 is the default
  sources::FrameDescriptor frame;
  ASSERT_TRUE(ready.wait(5000));
  ASSERT_NE(source.TakeFrame(&frame), 0u);
  EXPECT_EQ(frame.sizeBytes, 200u);
  ASSERT_TRUE(ready.wait(5000));
  ASSERT_NE(source.TakeFrame(&frame), 0u);
  EXPECT_EQ(frame.sizeBytes, 129u);
  source.Stop();
  EXPECT_EQ(fake().count("Setup 320x240 1 1024"), 1u);
  EXPECT_EQ(fake().count("Start 320x240"), 1u);
  EXPECT_EQ(fake().count("EncoderStop"), 1u);
  EXPECT_EQ(fake().count("Release"), 4u);
  EXPECT_EQ(fake().count("Free"), 1u);
  EXPECT_EQ(fake().log.back(), "Close");
}

TEST_F(GoForceCameraTest, PreviewProducesNothing) {
  GoForceCamera source(environment(), FakeGoForce::library());
  source.Init();
  ASSERT_TRUE(startPreview(source));
  EXPECT_EQ(fake().count("Start 320x240"), 0u);
}

TEST_F(GoForceCameraTest, AFailingSessionStepReleasesWhatWasObtained) {
  const struct { uint32_t failGet; bool allocFails; size_t releases; } cases[] = {
      {goforce::kJpegEncoder, false, 0}, {goforce::kBus, false, 3}, {0, true, 4}};
  for (const auto& c : cases) {
    fake().reset();
    fake().failGet = c.failGet;
    fake().allocFails = c.allocFails;
    GoForceCamera source(environment(), FakeGoForce::library());
    source.Init();
    EXPECT_FALSE(startCapture(source));
    EXPECT_EQ(fake().count("Release"), c.releases);
    EXPECT_EQ(fake().count("Free"), 0u);
    EXPECT_EQ(fake().log.back(), "Close");
  }
}

TEST(GoForceQuality, Levels) {
  const struct { uint32_t quality, level; } cases[] = {
      {30, 5}, {40, 4}, {50, 4}, {60, 3}, {70, 2}, {80, 1}, {90, 0}, {100, 0}};
  for (const auto& c : cases) EXPECT_EQ(goforce::qualityLevel(c.quality), c.level) << c.quality;
}

}  // namespace
}  // namespace makers::testing
