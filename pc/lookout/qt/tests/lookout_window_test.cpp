// The Qt front on the offscreen platform, over the fake entry table.
#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QLabel>
#include <QMenuBar>
#include <QTest>

#include <thread>

#include "fake_device.h"
#include "key_mapping.h"
#include "lookout_window.h"
#include "manual_clock.h"

namespace lookout {
namespace {

QApplication& application() {
  static int argc = 1;
  static char name[] = "lookout_qt_tests";
  static char* argv[] = {name, nullptr};
  static QApplication* app = new QApplication(argc, argv);
  return *app;
}

struct Front : ::testing::Test {
  Front()
      : texts(loadModule()),
        clock(100000),
        table(makeTable()),
        presenter(table, window, texts, texts, clock, ViewerSettings{1, u"/tmp"}) {
    window.attach(&presenter);
    presenter.initialize();
    window.show();
    settle();
  }
  ~Front() override { window.attach(nullptr); }
  const platform::ResourceModule* loadModule() {
    std::string error;
    own = loadOwnModule(error);
    return own.get();
  }
  DeviceEntryTable makeTable() {
    DeviceEntryTable t = device.table();
    t.RenderFrame = testing::renderRedBottomRow;
    return t;
  }
  static void settle() {
    for (int i = 0; i < 5; ++i) QApplication::processEvents();
  }
  // A frame processed on another thread, as the frame thread does, then the queued work.
  void frame(uint32_t w, uint32_t h) {
    device.push({{0xFF, 0xD8, 0xFF, 0xD9}, w, h, true});
    std::thread([this] { presenter.processFrame(); }).join();
    settle();
  }

  QApplication& app = application();  // before any widget
  std::unique_ptr<platform::ResourceModule> own;
  ModuleTexts texts;
  testing::FakeDevice device;
  platform::ManualClock clock;
  DeviceEntryTable table;
  LookoutWindow window;
  ViewerPresenter presenter;
};

TEST_F(Front, MenuBarCarriesTheTextsAndCommands) {
  EXPECT_EQ(window.windowTitle(), "Vistrel");
  QList<QAction*> menus = window.menuBar()->actions();
  ASSERT_EQ(menus.size(), 4);
  struct Expected {
    const char* title;
    std::vector<std::pair<const char*, uint32_t>> items;
  } expected[] = {
      {"File", {{"SetFolder", 40002}, {"Exit", 40001}}},
      {"Tools", {{"Capture Photo (F8)", 40003}, {"Settings", 40004}}},
      {"View", {{"Set Actual Size", 40005}, {"Auto Resize", 40006}}},
      {"Help", {{"About ...", 40007}}},
  };
  for (int i = 0; i < 4; ++i) {
    EXPECT_EQ(menus[i]->text(), expected[i].title);
    QList<QAction*> items = menus[i]->menu()->actions();
    ASSERT_EQ(items.size(), static_cast<qsizetype>(expected[i].items.size()));
    for (size_t j = 0; j < expected[i].items.size(); ++j) {
      EXPECT_EQ(items[j]->text(), expected[i].items[j].first);
      EXPECT_EQ(items[j]->data().toUInt(), expected[i].items[j].second);
    }
  }
  window.action(kCommandAbout)->trigger();
  window.action(kCommandSettings)->trigger();
  EXPECT_EQ(device.abouts, 1);
  EXPECT_EQ(device.settingsShown, 1);
  EXPECT_EQ(device.lastParent, static_cast<void*>(static_cast<QWidget*>(&window)));
  window.action(kCommandExit)->trigger();
  EXPECT_FALSE(window.isVisible());
}

TEST_F(Front, StatusTextFollowsTheFramesAndTheWindowThePicture) {
  EXPECT_EQ(window.statusLabel()->text(), "Waiting for connection...");
  EXPECT_EQ(window.width(), 320);  // a 320 x 0 picture area before the first picture
  frame(320, 240);
  EXPECT_EQ(window.statusLabel()->text(), "320x240@0.0");
  EXPECT_EQ(window.picture()->size(), QSize(320, 240));
  clock.advanceMs(100);
  frame(320, 240);
  EXPECT_EQ(window.statusLabel()->text(), "320x240@0.2");
  // The picture is drawn upright: the bitmap's first row is the bottom one.
  QImage shown = window.picture()->grab().toImage();
  ASSERT_EQ(shown.size(), QSize(320, 240));
  EXPECT_EQ(shown.pixel(10, 239), qRgb(255, 0, 0));
  EXPECT_EQ(shown.pixel(10, 0), qRgb(0, 0, 255));
  EXPECT_EQ(shown.pixel(319, 120), qRgb(0, 0, 255));
}

TEST_F(Front, AutoResizeCheckMarkFollowsTheSetting) {
  QAction* autoResize = window.action(kCommandAutoResize);
  ASSERT_NE(autoResize, nullptr);
  EXPECT_TRUE(autoResize->isCheckable());
  EXPECT_TRUE(autoResize->isChecked());
  frame(320, 240);
  autoResize->trigger();
  EXPECT_FALSE(autoResize->isChecked());
  EXPECT_FALSE(presenter.autoResize());
  frame(640, 480);  // the window keeps its size
  EXPECT_EQ(window.picture()->size(), QSize(320, 240));
  autoResize->trigger();
  settle();
  EXPECT_TRUE(autoResize->isChecked());
  EXPECT_EQ(window.picture()->size(), QSize(640, 480));  // resized at once
}

TEST_F(Front, KeysAndClicksReachThePhone) {
  frame(320, 240);
  QTest::keyClick(&window, Qt::Key_5);
  QTest::keyClick(&window, Qt::Key_Left);
  QTest::keyClick(&window, Qt::Key_A);  // not a phone key
  QTest::keyClick(&window, Qt::Key_F8);  // the snapshot, with the folder set: no dialog
  QTest::mouseClick(window.picture(), Qt::LeftButton, {}, QPoint(160, 60));
  QTest::mouseClick(window.picture(), Qt::RightButton, {}, QPoint(160, 60));
  using Input = testing::FakeDevice::Input;
  std::vector<Input> expected = {{256, 53, 0}, {256, 37, 0}, {513, 32768, 16384}};
  EXPECT_EQ(device.inputs, expected);
  EXPECT_GE(device.wakes, 1);  // the snapshot request wakes the frame loop
}

TEST_F(Front, DraggingTheBottomEdgeKeepsTheAspect) {
  frame(320, 240);
  WindowMetrics m = window.metrics();
  window.resize(window.width(), m.frameHeight + m.statusBarHeight + 480);
  for (int i = 0; i < 20 && window.picture()->width() != 640; ++i) {
    settle();
    QTest::qWait(5);
  }
  EXPECT_EQ(window.picture()->size(), QSize(640, 480));
}

TEST_F(Front, BeforeTheFirstPictureTheWindowKeepsItsSize) {
  QSize start = window.size();
  window.resize(start.width() + 200, start.height() + 100);
  for (int i = 0; i < 20 && window.size() != start; ++i) {
    settle();
    QTest::qWait(5);
  }
  EXPECT_EQ(window.size(), start);
}

TEST(KeyMapping, QtKeysToTheirVirtualKeyCodes) {
  struct Case {
    int key;
    uint32_t vk;
  } cases[] = {
      {Qt::Key_Backspace, 8}, {Qt::Key_Return, 13}, {Qt::Key_Enter, 13}, {Qt::Key_End, 35},
      {Qt::Key_NumberSign, 35}, {Qt::Key_Left, 37}, {Qt::Key_Up, 38}, {Qt::Key_Right, 39},
      {Qt::Key_Down, 40}, {Qt::Key_Asterisk, 42}, {Qt::Key_0, 48}, {Qt::Key_9, 57},
      {Qt::Key_F1, 112}, {Qt::Key_F4, 115}, {Qt::Key_F8, 119}, {Qt::Key_A, 65},
      {Qt::Key_Home, 36}, {Qt::Key_Shift, 0}, {Qt::Key_unknown, 0},
  };
  for (const Case& c : cases) EXPECT_EQ(virtualKeyFor(c.key), c.vk) << c.key;
}

}  // namespace
}  // namespace lookout
