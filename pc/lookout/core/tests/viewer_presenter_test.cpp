#include "lookout/viewer_presenter.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "fake_device.h"
#include "lookout/device_binding.h"
#include "lookout/snapshot.h"
#include "manual_clock.h"
#include "wait_until.h"

namespace lookout {
namespace {

using platform::testing::waitUntil;
using testing::FakeDevice;
using testing::FakeView;

// The whole file, closed again (an open file cannot be removed on Windows).
std::vector<uint8_t> fileBytes(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<uint8_t>((std::istreambuf_iterator<char>(in)), {});
}

std::tm makeTime(int year, int month, int day, int hour, int minute, int second) {
  std::tm t{};
  t.tm_year = year - 1900;
  t.tm_mon = month - 1;
  t.tm_mday = day;
  t.tm_hour = hour;
  t.tm_min = minute;
  t.tm_sec = second;
  return t;
}

std::vector<uint8_t> bytes(std::initializer_list<uint8_t> b) { return b; }

class OwnTexts {
 public:
  OwnTexts() {
    std::string error;
    module_ = loadOwnModule(error);
  }
  const platform::ResourceModule* module() const { return module_.get(); }

 private:
  std::unique_ptr<platform::ResourceModule> module_;
};

struct Viewer {
  explicit Viewer(ViewerSettings settings = {}, std::tm now = makeTime(2009, 12, 6, 9, 5, 7))
      : texts(own.module()),
        clock(100000),
        presenter(device.table(), view, texts, texts, clock, std::move(settings),
                  [now] { return now; }) {
    // The window follows a resize request at once, as a window system's call would.
    view.onResizeRequest = [this](uint32_t w, uint32_t h) { presenter.resizeWindow(w, h); };
    presenter.initialize();
  }
  // A frame of the given picture size, processed as the frame thread would.
  ViewerPresenter::Step frame(uint32_t w, uint32_t h, bool decodes = true,
                              std::vector<uint8_t> jpeg = {0xFF, 0xD8, 1, 2, 3, 0xFF, 0xD9}) {
    device.push({std::move(jpeg), w, h, decodes});
    return presenter.processFrame();
  }
  std::u16string lastStatus() {
    std::lock_guard lock(view.statusMutex);
    return view.statuses.empty() ? u"" : view.statuses.back();
  }

  OwnTexts own;
  ModuleTexts texts;
  FakeDevice device;
  FakeView view;
  platform::ManualClock clock;
  ViewerPresenter presenter;
};

TEST(SnapshotName, DatedNameInTheFolder) {
  struct Case {
    std::tm time;
    const char* expected;
  } cases[] = {
      {makeTime(2009, 12, 6, 9, 5, 7), "/snaps/91206-090507.jpg"},
      {makeTime(2010, 1, 2, 23, 59, 58), "/snaps/100102-235958.jpg"},
      {makeTime(2000, 10, 31, 0, 0, 0), "/snaps/01031-000000.jpg"},
  };
  for (const Case& c : cases) EXPECT_EQ(snapshotFileName("/snaps", c.time), c.expected);
}

TEST(Snapshot, ReplacesALongerEarlierFileWhole) {
  auto dir = std::filesystem::temp_directory_path() / ("lookout-snap-" + std::to_string(::getpid()));
  std::filesystem::create_directories(dir);
  std::string path = (dir / "a.jpg").string();
  std::vector<uint8_t> longer(1000, 0xAB), shorter = bytes({1, 2, 3});
  ASSERT_TRUE(writeSnapshot(path, longer.data(), longer.size()));
  ASSERT_TRUE(writeSnapshot(path, shorter.data(), shorter.size()));
  EXPECT_EQ(fileBytes(path), shorter);
  EXPECT_FALSE(writeSnapshot((dir / "missing" / "b.jpg").string(), shorter.data(), 3));
  std::filesystem::remove_all(dir);
}

TEST(Presenter, StartShowsTitleWaitingTextMenuAndTheNarrowWindow) {
  Viewer v;
  EXPECT_EQ(v.view.title, u"Vistrel");
  EXPECT_EQ(v.lastStatus(), u"Waiting for connection...");
  EXPECT_TRUE(v.view.checked);
  // 320 x 0 picture area plus frame and status bar.
  ASSERT_EQ(v.view.outerSizes.size(), 1u);
  EXPECT_EQ(v.view.outerSizes[0], std::make_pair(328, 70));
  ASSERT_EQ(v.view.menus.size(), 4u);
  struct Item {
    size_t menu, item;
    const char16_t* text;
    uint32_t command;
  } items[] = {
      {0, 0, u"SetFolder", 40002}, {0, 1, u"Exit", 40001},
      {1, 0, u"Capture Photo (F8)", 40003}, {1, 1, u"Settings", 40004},
      {2, 0, u"Set Actual Size", 40005}, {2, 1, u"Auto Resize", 40006},
      {3, 0, u"About ...", 40007},
  };
  const char16_t* titles[] = {u"File", u"Tools", u"View", u"Help"};
  for (size_t i = 0; i < 4; ++i) EXPECT_EQ(v.view.menus[i].title, titles[i]);
  for (const Item& it : items) {
    ASSERT_LT(it.item, v.view.menus[it.menu].items.size());
    EXPECT_EQ(v.view.menus[it.menu].items[it.item].text, it.text);
    EXPECT_EQ(v.view.menus[it.menu].items[it.item].command, it.command);
  }
}

TEST(Presenter, FrameRateClimbsSlowlyForAPictureEvery100Ms) {
  Viewer v;
  const char16_t* expected[] = {u"320x240@0.0", u"320x240@0.2", u"320x240@0.3", u"320x240@0.5"};
  for (const char16_t* e : expected) {
    ASSERT_EQ(v.frame(320, 240), ViewerPresenter::Step::Continue);
    EXPECT_EQ(v.lastStatus(), e);
    v.clock.advanceMs(100);
  }
}

TEST(Presenter, TickGapsOf8192MsOrBackwardsCountAsNoRate) {
  Viewer v;
  v.frame(320, 240);
  v.clock.advanceMs(8192);
  v.frame(320, 240);  // too long ago: rate 0, weight 0.5
  EXPECT_EQ(v.lastStatus(), u"320x240@0.0");
  v.clock.advanceMs(50);
  v.frame(320, 240);  // rate 20, weight 0.01
  EXPECT_EQ(v.lastStatus(), u"320x240@0.2");
  v.clock.setMs(10);  // the tick went backwards
  v.frame(320, 240);  // rate 0 pulls the average half way down
  EXPECT_EQ(v.lastStatus(), u"320x240@0.1");
}

TEST(Presenter, KeepActualSizeDecidesWhetherTheWindowFollowsThePicture) {
  struct Case {
    uint32_t keep;
    std::pair<int32_t, int32_t> lastOuterSize;
    std::pair<uint32_t, uint32_t> renderSize;
  } cases[] = {
      {0, {328, 310}, {320, 240}},  // kept; the picture is scaled into the window
      {1, {648, 550}, {640, 480}},  // grown
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.keep);
    Viewer v(ViewerSettings{c.keep, u""});
    v.frame(320, 240);  // the first picture always sizes the window
    EXPECT_EQ(v.view.outerSizes.back(), std::make_pair(328, 310));
    v.frame(640, 480);
    EXPECT_EQ(v.view.outerSizes.back(), c.lastOuterSize);
    EXPECT_EQ(v.device.outputSizes.back(), c.renderSize);
    EXPECT_EQ(v.lastStatus(), u"640x480@0.0");
  }
}

// The window thread may carry out the resize request after the next frames: they render
// at the size asked for, and the loop goes on.
TEST(Presenter, FramesBeforeTheWindowFollowsRenderAtTheRequestedSize) {
  Viewer v;
  std::vector<std::pair<uint32_t, uint32_t>> requests;
  v.view.onResizeRequest = [&](uint32_t w, uint32_t h) { requests.emplace_back(w, h); };
  ASSERT_EQ(v.frame(320, 240), ViewerPresenter::Step::Continue);
  ASSERT_EQ(v.frame(320, 240), ViewerPresenter::Step::Continue);
  EXPECT_EQ(v.device.outputSizes.back(), std::make_pair(320u, 240u));
  v.presenter.paint();
  EXPECT_EQ(v.view.drawn.size(), 1u);
  EXPECT_EQ(requests, (std::vector<std::pair<uint32_t, uint32_t>>{{320, 240}}));
  // The window then reports the size it took.
  v.presenter.resizeWindow(320, 240);
  v.presenter.onClientResized(320, 240);
  EXPECT_EQ(v.frame(320, 240), ViewerPresenter::Step::Continue);
  EXPECT_EQ(v.device.outputSizes.back(), std::make_pair(320u, 240u));
}

TEST(Presenter, SetActualSizeResizesOnTheNextFrame) {
  Viewer v(ViewerSettings{0, u""});
  v.frame(320, 240);
  v.frame(640, 480);
  int wakes = v.device.wakes;
  v.presenter.onCommand(kCommandActualSize);
  EXPECT_EQ(v.device.wakes, wakes + 1);
  v.frame(640, 480);
  EXPECT_EQ(v.view.outerSizes.back(), std::make_pair(648, 550));
  v.frame(640, 480);  // the request is used up
  EXPECT_EQ(v.view.outerSizes.size(), 3u);
}

TEST(Presenter, AutoResizeTogglesTheCheckAndResizesWhenSwitchedOn) {
  Viewer v(ViewerSettings{0, u""});
  EXPECT_FALSE(v.view.checked);
  v.frame(320, 240);
  v.frame(640, 480);
  size_t before = v.view.outerSizes.size();
  v.presenter.onCommand(kCommandAutoResize);
  EXPECT_TRUE(v.view.checked);
  EXPECT_EQ(v.presenter.settings().keepActualSize, 1u);
  ASSERT_EQ(v.view.outerSizes.size(), before + 1);
  EXPECT_EQ(v.view.outerSizes.back(), std::make_pair(648, 550));
  v.presenter.onCommand(kCommandAutoResize);
  EXPECT_FALSE(v.view.checked);
  EXPECT_EQ(v.presenter.settings().keepActualSize, 0u);
  EXPECT_EQ(v.view.outerSizes.size(), before + 1);
}

TEST(Presenter, ResizingAMaximisedWindowRestoresItFirst) {
  Viewer v;
  v.view.maximized = true;
  v.presenter.resizeWindow(640, 480);
  EXPECT_EQ(v.view.restores, 1);
  EXPECT_EQ(v.view.outerSizes.back(), std::make_pair(648, 550));
  v.presenter.resizeWindow(0, 480);  // nothing for a width of 0
  EXPECT_EQ(v.view.outerSizes.size(), 2u);
}

TEST(Presenter, InteractiveSizingKeepsThePicturesAspect) {
  Viewer v;
  WindowRect current{100, 100, 428, 410};  // 320 x 240 picture area
  // Before the first picture the window keeps its size, whichever edge is dragged.
  EXPECT_EQ(v.presenter.sizing(SizingEdge::Bottom, {100, 100, 428, 600}, current), current);
  EXPECT_EQ(v.presenter.sizing(SizingEdge::TopLeft, {50, 20, 428, 410}, current),
            (WindowRect{100, 100, 428, 410}));
  v.frame(320, 240);
  struct Case {
    SizingEdge edge;
    WindowRect dragged, expected;
  } cases[] = {
      // Bottom edge to a picture height of 480: width 640.
      {SizingEdge::Bottom, {100, 100, 428, 100 + 480 + 70}, {100, 100, 100 + 8 + 640, 650}},
      {SizingEdge::Top, {100, 0, 428, 410}, {100, 0, 100 + 8 + 453, 410}},
      // Right edge to a picture width of 160: height 120, the bottom follows.
      {SizingEdge::Right, {100, 100, 100 + 8 + 160, 410}, {100, 100, 268, 100 + 70 + 120}},
      {SizingEdge::BottomLeft, {0, 100, 428, 999}, {0, 100, 428, 100 + 70 + 315}},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(v.presenter.sizing(c.edge, c.dragged, current), c.expected)
        << static_cast<int>(c.edge);
  }
}

TEST(Presenter, PaintsOnlyWhenThePictureAreaMatchesTheBitmap) {
  Viewer v;
  v.presenter.paint();
  EXPECT_TRUE(v.view.drawn.empty());  // no bitmap yet
  EXPECT_FALSE(v.presenter.hasPicture());  // the front erases the background until then
  v.frame(321, 240);
  EXPECT_TRUE(v.presenter.hasPicture());
  v.presenter.paint();
  ASSERT_EQ(v.view.drawn.size(), 1u);
  EXPECT_EQ(v.view.drawn[0].width, 321u);
  EXPECT_EQ(v.view.drawn[0].height, 240u);
  EXPECT_EQ(v.view.drawn[0].stride, 964u);  // rows padded to 4 bytes
  EXPECT_EQ(v.view.drawn[0].firstByte, 321 & 0xFF);
  v.presenter.onClientResized(400, 300);  // the user made it bigger: wait for the next render
  v.presenter.paint();
  EXPECT_EQ(v.view.drawn.size(), 1u);
  v.frame(321, 240);  // rendered at the picture area's size
  EXPECT_EQ(v.device.outputSizes.back(), std::make_pair(400u, 300u));
  EXPECT_EQ(v.view.invalidations, 1);
  v.presenter.paint();
  ASSERT_EQ(v.view.drawn.size(), 2u);
  EXPECT_EQ(v.view.drawn[1].firstByte, 400 & 0xFF);
}

TEST(Presenter, KeysAreForwardedOrIgnored) {
  std::vector<uint32_t> forwarded = {8, 13, 35, 37, 38, 39, 40, 42, 112, 113, 114, 115};
  for (uint32_t k = 48; k <= 57; ++k) forwarded.push_back(k);
  const uint32_t ignored[] = {9, 27, 32, 34, 36, 41, 43, 47, 58, 65, 90, 111, 116, 118, 120, 256};
  Viewer v;
  for (uint32_t k : forwarded) v.presenter.onKeyDown(k);
  for (uint32_t k : ignored) v.presenter.onKeyDown(k);
  ASSERT_EQ(v.device.inputs.size(), forwarded.size());
  for (size_t i = 0; i < forwarded.size(); ++i)
    EXPECT_EQ(v.device.inputs[i], (FakeDevice::Input{256, forwarded[i], 0}));
}

TEST(Presenter, ClicksAreScaledTo65536AcrossThePictureArea) {
  Viewer v;
  v.presenter.onLeftButtonDown(10, 10);  // picture area still 320 x 0: nothing
  EXPECT_TRUE(v.device.inputs.empty());
  v.presenter.onClientResized(320, 240);
  struct Case {
    int32_t x, y;
    uint32_t sx, sy;
  } cases[] = {{0, 0, 0, 0}, {160, 120, 32768, 32768}, {319, 239, 65331, 65262}, {80, 200, 16384, 54613}};
  for (const Case& c : cases) v.presenter.onLeftButtonDown(c.x, c.y);
  ASSERT_EQ(v.device.inputs.size(), std::size(cases));
  for (size_t i = 0; i < std::size(cases); ++i)
    EXPECT_EQ(v.device.inputs[i], (FakeDevice::Input{513, cases[i].sx, cases[i].sy}));
}

TEST(Presenter, F8WithoutAFolderAsksForOneAndSavesNothing) {
  Viewer v;
  v.view.folderAnswer = u"/nowhere-chosen";
  v.presenter.onKeyDown(kSnapshotKey);
  ASSERT_EQ(v.view.folderDialogs.size(), 1u);
  EXPECT_EQ(v.view.folderDialogs[0], u"Folder for Snapshots");
  EXPECT_EQ(v.presenter.settings().folder, u"/nowhere-chosen");
  EXPECT_EQ(v.device.wakes, 0);
  EXPECT_TRUE(v.device.inputs.empty());  // F8 is not a phone key
  // The frame after it is not saved: the folder does not exist, and nothing tried to write.
  v.frame(320, 240);
  EXPECT_FALSE(std::filesystem::exists("/nowhere-chosen"));
  // Cancel keeps the folder.
  v.view.folderAnswer.reset();
  v.presenter.onCommand(kCommandSetFolder);
  EXPECT_EQ(v.presenter.settings().folder, u"/nowhere-chosen");
}

TEST(Presenter, F8WithAFolderSavesTheNextFrameAsDatedJpeg) {
  auto dir = std::filesystem::temp_directory_path() / ("lookout-f8-" + std::to_string(::getpid()));
  std::filesystem::create_directories(dir);
  std::u16string folder;
  for (char c : dir.string()) folder.push_back(static_cast<char16_t>(c));
  Viewer v(ViewerSettings{1, folder});
  v.frame(320, 240, true, bytes({9, 9}));  // no request: not saved
  EXPECT_TRUE(std::filesystem::is_empty(dir));
  v.presenter.onKeyDown(kSnapshotKey);
  EXPECT_EQ(v.device.wakes, 1);
  EXPECT_TRUE(v.view.folderDialogs.empty());
  std::vector<uint8_t> jpeg = {0xFF, 0xD8, 0x10, 0x20, 0xFF, 0xD9};
  v.frame(320, 240, true, jpeg);
  EXPECT_EQ(fileBytes(dir / "91206-090507.jpg"), jpeg);
  v.frame(320, 240, true, bytes({1}));  // the request is used up
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir), {}), 1);
  std::filesystem::remove_all(dir);
}

TEST(Presenter, ADecodeOrRenderFailureEndsTheLoopButTheWindowStaysUsable) {
  for (bool decodeFails : {true, false}) {
    SCOPED_TRACE(decodeFails);
    Viewer v;
    EXPECT_EQ(v.frame(320, 240), ViewerPresenter::Step::Continue);
    v.device.renderResult = decodeFails;
    EXPECT_EQ(v.frame(320, 240, !decodeFails), ViewerPresenter::Step::End);
    v.presenter.paint();  // the last picture is still shown
    ASSERT_EQ(v.view.drawn.size(), 1u);
    v.presenter.onCommand(kCommandAbout);
    v.presenter.onCommand(kCommandSettings);
    EXPECT_EQ(v.device.abouts, 1);
    EXPECT_EQ(v.device.settingsShown, 1);
    EXPECT_EQ(v.device.lastParent, &v.view);
    v.presenter.onCommand(kCommandExit);
    EXPECT_EQ(v.view.closes, 1);
  }
}

TEST(Presenter, NoFrameGoesBackToWaiting) {
  Viewer v;
  EXPECT_EQ(v.presenter.processFrame(), ViewerPresenter::Step::Continue);
  EXPECT_TRUE(v.device.outputSizes.empty());
}

TEST(Presenter, FrameThreadRunsUntilShutdownWakesIt) {
  Viewer v;
  std::atomic<int> resizes{0};
  v.view.onResizeRequest = [&](uint32_t, uint32_t) { ++resizes; };
  ASSERT_TRUE(v.presenter.startFrameThread());
  v.device.push({{1, 2, 3}, 320, 240, true});
  // The frame thread shows the status, then asks for the window's size.
  ASSERT_TRUE(waitUntil([&] { return v.lastStatus() == u"320x240@0.0" && resizes.load() > 0; }))
      << ::testing::PrintToString(v.lastStatus()) << ", " << resizes.load() << " resize requests";
  EXPECT_EQ(resizes.load(), 1);
  EXPECT_TRUE(v.presenter.shutdown());
  EXPECT_TRUE(v.presenter.frameLoopEnded());
  EXPECT_EQ(v.device.closes, 1);
  EXPECT_GE(v.device.wakes, 1);
}

TEST(Presenter, SilentPhoneShowsWaitingAgainInsteadOfTheOldRate) {
  Viewer v;
  ASSERT_TRUE(v.presenter.startFrameThread());
  v.device.push({{1, 2, 3}, 320, 240, true});
  ASSERT_TRUE(waitUntil([&] { return v.lastStatus() == u"320x240@0.0"; }))
      << ::testing::PrintToString(v.lastStatus());
  v.device.timeOutWait();  // the library's wait for the next frame ran out
  ASSERT_TRUE(waitUntil([&] { return v.lastStatus() == u"Waiting for connection..."; }))
      << ::testing::PrintToString(v.lastStatus());
  {
    std::lock_guard lock(v.device.mutex);
    EXPECT_EQ(v.device.lastWaitMs, 2000u) << "the wait lasts 2 s without a frame";
  }
  v.device.push({{1, 2, 3}, 320, 240, true});
  ASSERT_TRUE(waitUntil([&] { return v.lastStatus() != u"Waiting for connection..."; }));
  EXPECT_EQ(v.lastStatus(), u"320x240@0.0") << "the phone is back; no old rate";
  EXPECT_TRUE(v.presenter.shutdown());
}

// A frame thread still inside the library when the viewer ends keeps the engine open: the
// engine is closed only once the thread has left it.
TEST(Presenter, ShutdownNeverClosesTheEngineUnderAFrameThreadStillInIt) {
  Viewer v;
  {
    std::lock_guard lock(v.device.mutex);
    v.device.holdDecode = true;
  }
  ASSERT_TRUE(v.presenter.startFrameThread());
  v.device.push({{1, 2, 3}, 320, 240, true});
  ASSERT_TRUE(waitUntil([&] {
    std::lock_guard lock(v.device.mutex);
    return v.device.inside > 0;
  }));
  EXPECT_FALSE(v.presenter.shutdown());  // not ended within its 1000 ms
  {
    std::lock_guard lock(v.device.mutex);
    EXPECT_EQ(v.device.closes, 0);
  }
  v.device.release();
  EXPECT_TRUE(waitUntil([&] { return v.presenter.frameLoopEnded(); }));
  EXPECT_TRUE(waitUntil([&] {
    std::lock_guard lock(v.device.mutex);
    return v.device.closes > 0;
  }));
  std::lock_guard lock(v.device.mutex);
  EXPECT_EQ(v.device.closes, 1);  // closed by the thread on its way out
  EXPECT_EQ(v.device.closesWhileInside, 0);
}

TEST(Presenter, FrameThreadEndsForGoodOnADecodeFailure) {
  Viewer v;
  ASSERT_TRUE(v.presenter.startFrameThread());
  v.device.push({{1}, 320, 240, false});
  EXPECT_TRUE(waitUntil([&] { return v.presenter.frameLoopEnded(); }));
  EXPECT_TRUE(v.presenter.shutdown());
}

// A loader with a stand-in module: what bindDevice makes of it.
struct FakeModule : platform::Module {
  void* getData = nullptr;
  void* symbol(const char* name) const override {
    return std::string(name) == "DllGetData" ? getData : nullptr;
  }
};

FakeDevice* bindFake = nullptr;
uint32_t fakeGetData(DeviceEntryTable* t) {
  *t = bindFake->table();
  return 1;
}

TEST(Binding, MissingModuleExportOrRefusedOpenStopTheViewer) {
  FakeDevice device;
  bindFake = &device;
  struct Case {
    bool haveModule, haveExport, openResult, bound;
    const char* why;
  } cases[] = {
      {false, false, true, false, "cannot load"},
      {true, false, true, false, "has no DllGetData"},
      {true, true, false, false, "cannot open the camera engine"},
      {true, true, true, true, ""},
  };
  for (const Case& c : cases) {
    device.openResult = c.openResult;
    device.opens = 0;
    ModuleLoader loader = [&c](std::string_view name) -> std::unique_ptr<platform::Module> {
      EXPECT_EQ(name, "device.ax");
      if (!c.haveModule) return nullptr;
      auto m = std::make_unique<FakeModule>();
      if (c.haveExport) m->getData = reinterpret_cast<void*>(&fakeGetData);
      return m;
    };
    DeviceBinding binding;
    std::string why;
    EXPECT_EQ(bindDevice(loader, binding, why), c.bound) << c.why;
    EXPECT_NE(why.find(c.why), std::string::npos) << why;
    if (!c.haveModule) {
      EXPECT_NE(why.find(platform::moduleFileName("device.ax")), std::string::npos) << why;
    }
    EXPECT_EQ(device.opens, c.haveExport ? 1 : 0);
  }
}

}  // namespace
}  // namespace lookout
