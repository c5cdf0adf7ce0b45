// The Win32 front in this process, over the fake entry table: the window, its menu and
// status bar, the picture drawn upright, keys, clicks, sizing and the menu commands.
#include <windows.h>
#include <commctrl.h>

#include <gtest/gtest.h>

#include <string>
#include <thread>

#include "fake_device.h"
#include "lookout_window_win32.h"
#include "manual_clock.h"

namespace lookout {
namespace {

std::wstring menuText(HMENU menu, UINT position) {
  wchar_t text[64] = {};
  GetMenuStringW(menu, position, text, 64, MF_BYPOSITION);
  return text;
}

struct Front : ::testing::Test {
  Front()
      : texts(loadModule()),
        clock(100000),
        table(makeTable()),
        presenter(table, window, texts, texts, clock, ViewerSettings{1, u"C:\\snaps"}) {
    EXPECT_TRUE(window.create(u"Vistrel", nullptr));
    window.attach(&presenter);
    presenter.initialize();
    ShowWindow(window.handle(), SW_SHOWNORMAL);
    pump();
  }
  ~Front() override {
    window.attach(nullptr);
    if (IsWindow(window.handle())) DestroyWindow(window.handle());
    pump();
  }
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
  // The window thread's queued work, including what the frame thread posted.
  static void pump() {
    MSG m;
    for (int round = 0; round < 3; ++round) {
      while (PeekMessageW(&m, nullptr, 0, 0, PM_REMOVE)) {
        if (m.message == WM_QUIT) continue;
        TranslateMessage(&m);
        DispatchMessageW(&m);
      }
      Sleep(5);
    }
  }
  // A frame processed on another thread, as the frame thread does, then the posted work.
  void frame(uint32_t w, uint32_t h) {
    device.push({{0xFF, 0xD8, 0xFF, 0xD9}, w, h, true});
    std::thread([this] { presenter.processFrame(); }).join();
    pump();
    UpdateWindow(window.handle());
  }
  std::wstring status() {
    HWND bar = GetDlgItem(window.handle(), LookoutWindowWin32::kStatusBarId);
    wchar_t text[64] = {};
    GetWindowTextW(bar, text, 64);
    return text;
  }
  SIZE client() {
    RECT r{};
    GetClientRect(window.handle(), &r);
    return {r.right, r.bottom};
  }
  int statusBarHeight() {
    RECT r{};
    GetWindowRect(GetDlgItem(window.handle(), LookoutWindowWin32::kStatusBarId), &r);
    return r.bottom - r.top;
  }

  std::unique_ptr<platform::ResourceModule> own;
  ModuleTexts texts;
  testing::FakeDevice device;
  platform::ManualClock clock;
  DeviceEntryTable table;
  LookoutWindowWin32 window;
  ViewerPresenter presenter;
};

TEST_F(Front, MenuBarCarriesTheTextsCommandsAndCheckMark) {
  wchar_t title[32] = {};
  GetWindowTextW(window.handle(), title, 32);
  EXPECT_EQ(std::wstring(title), L"Vistrel");
  HMENU bar = GetMenu(window.handle());
  ASSERT_EQ(GetMenuItemCount(bar), 4);
  struct Expected {
    const wchar_t* title;
    std::vector<std::pair<const wchar_t*, UINT>> items;
  } expected[] = {
      {L"File", {{L"SetFolder", 40002}, {L"Exit", 40001}}},
      {L"Tools", {{L"Capture Photo (F8)", 40003}, {L"Settings", 40004}}},
      {L"View", {{L"Set Actual Size", 40005}, {L"Auto Resize", 40006}}},
      {L"Help", {{L"About ...", 40007}}},
  };
  for (UINT i = 0; i < 4; ++i) {
    EXPECT_EQ(menuText(bar, i), expected[i].title);
    HMENU popup = GetSubMenu(bar, static_cast<int>(i));
    ASSERT_EQ(GetMenuItemCount(popup), static_cast<int>(expected[i].items.size()));
    for (UINT j = 0; j < expected[i].items.size(); ++j) {
      EXPECT_EQ(menuText(popup, j), expected[i].items[j].first);
      EXPECT_EQ(GetMenuItemID(popup, static_cast<int>(j)), expected[i].items[j].second);
    }
  }
  EXPECT_EQ(GetMenuState(bar, kCommandAutoResize, MF_BYCOMMAND) & MF_CHECKED, static_cast<UINT>(MF_CHECKED));
  SendMessageW(window.handle(), WM_COMMAND, kCommandAutoResize, 0);
  EXPECT_EQ(GetMenuState(bar, kCommandAutoResize, MF_BYCOMMAND) & MF_CHECKED, 0u);
  EXPECT_FALSE(presenter.autoResize());

  SendMessageW(window.handle(), WM_COMMAND, kCommandAbout, 0);
  SendMessageW(window.handle(), WM_COMMAND, kCommandSettings, 0);
  EXPECT_EQ(device.abouts, 1);
  EXPECT_EQ(device.settingsShown, 1);
  EXPECT_EQ(device.lastParent, static_cast<void*>(window.handle()));
  SendMessageW(window.handle(), WM_COMMAND, kCommandExit, 0);
  EXPECT_FALSE(IsWindow(window.handle()));
}

// lookout.png beside the program becomes the window's icon.
TEST_F(Front, IconComesFromTheOwnModulesPicture) {
  HICON icon = loadViewerIcon(own.get());
  ASSERT_NE(icon, nullptr);
  ICONINFO info{};
  ASSERT_TRUE(GetIconInfo(icon, &info));
  BITMAP colour{};
  GetObjectW(info.hbmColor, sizeof colour, &colour);
  EXPECT_EQ(colour.bmWidth, 32);
  DeleteObject(info.hbmColor);
  DeleteObject(info.hbmMask);
  DestroyIcon(icon);
  EXPECT_EQ(loadViewerIcon(nullptr), nullptr);
}

TEST_F(Front, StatusFollowsTheFramesAndThePictureIsDrawnUpright) {
  EXPECT_EQ(status(), L"Waiting for connection...");
  EXPECT_EQ(client().cx, 320);  // a 320 x 0 picture area before the first picture
  frame(320, 240);
  EXPECT_EQ(status(), L"320x240@0.0");
  EXPECT_EQ(client().cx, 320);
  EXPECT_EQ(client().cy, 240 + statusBarHeight());
  clock.advanceMs(100);
  frame(320, 240);
  EXPECT_EQ(status(), L"320x240@0.2");

  HDC dc = GetDC(window.handle());
  EXPECT_EQ(GetPixel(dc, 10, 239), RGB(255, 0, 0));
  EXPECT_EQ(GetPixel(dc, 10, 0), RGB(0, 0, 255));
  EXPECT_EQ(GetPixel(dc, 319, 120), RGB(0, 0, 255));
  ReleaseDC(window.handle(), dc);
}

TEST_F(Front, KeysAndClicksGoThroughThePresenter) {
  frame(320, 240);
  SendMessageW(window.handle(), WM_KEYDOWN, '5', 0);
  SendMessageW(window.handle(), WM_KEYDOWN, 'A', 0);  // not a phone key
  SendMessageW(window.handle(), WM_KEYDOWN, VK_LEFT, 0);
  SendMessageW(window.handle(), WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(160, 120));
  SendMessageW(window.handle(), WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(40, 200));
  using Input = testing::FakeDevice::Input;
  EXPECT_EQ(device.inputs, (std::vector<Input>{{256, 53, 0}, {256, 37, 0}, {513, 32768, 32768}, {513, 8192, 54613}}));
  // F8 with a folder asks the loop for a snapshot: no dialog, a wake.
  const int wakes = device.wakes;
  SendMessageW(window.handle(), WM_KEYDOWN, VK_F8, 0);
  EXPECT_EQ(device.wakes, wakes + 1);
}

TEST_F(Front, DraggingAnEdgeKeepsThePicturesAspect) {
  RECT before{};
  GetWindowRect(window.handle(), &before);
  // Before the first picture the window keeps its size.
  RECT dragged = before;
  dragged.bottom += 100;
  SendMessageW(window.handle(), WM_SIZING, WMSZ_BOTTOM, reinterpret_cast<LPARAM>(&dragged));
  EXPECT_EQ(dragged.bottom, before.bottom);

  frame(320, 240);
  RECT outer{};
  GetWindowRect(window.handle(), &outer);
  const int frameWidth = (outer.right - outer.left) - 320;
  const int frameHeight = (outer.bottom - outer.top) - 240 - statusBarHeight();
  // The bottom edge dragged to a picture-area height of 480: the width follows to 640.
  dragged = outer;
  dragged.bottom = outer.top + frameHeight + statusBarHeight() + 480;
  SendMessageW(window.handle(), WM_SIZING, WMSZ_BOTTOM, reinterpret_cast<LPARAM>(&dragged));
  EXPECT_EQ(dragged.right - dragged.left, frameWidth + 640);
}

}  // namespace
}  // namespace lookout
