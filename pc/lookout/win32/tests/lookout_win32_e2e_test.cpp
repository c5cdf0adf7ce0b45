// lookout.exe as a real process under Windows (Wine): it binds the PC library device.ax
// (copied into a folder of the test's own, beside the program), shows "Waiting for connection...", then the
// picture a phone on loopback sends; F8 saves that frame; a click and a key reach the
// phone; WM_CLOSE ends it with code 0 and its settings written. Without the library it
// ends at once with code 1 and no window.
#include <windows.h>
#include <commctrl.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "test_jpeg.h"
#include "viewer_process.h"
#include "lookout/viewer_settings.h"
#include "platform/key_store.h"
#include "platform/module.h"
#include "protocol/stream_header.h"
#include "test_stream.h"
#include "settings/device_settings.h"

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

constexpr uint32_t kWidth = 320, kHeight = 240;
constexpr uint8_t kRed = 200, kGreen = 40, kBlue = 90;

using viewer_testing::Viewer;
using viewer_testing::waitFor;

class LookoutWin32 : public ::testing::Test {
 protected:
  void SetUp() override {
    const std::string id = std::to_string(GetCurrentProcessId());
    key_ = "Software\\VistrelTest\\lookout_" + id;
    // The viewer inherits both.
    SetEnvironmentVariableA("VISTREL_KEY_STORE", key_.c_str());
    SetEnvironmentVariableA("VISTREL_OBJECT_PREFIX", ("lookout_" + id + "_").c_str());
    _putenv_s("VISTREL_KEY_STORE", key_.c_str());
    _putenv_s("VISTREL_OBJECT_PREFIX", ("lookout_" + id + "_").c_str());
    port_ = server::testing::freePort();
    settings::DeviceSettings s;
    s.port = port_;
    s.connectAtStartup = 0;
    s.listenAddress = u"127.0.0.1";
    settings::writeDeviceSettings(platform::KeyStore::machine(), u"", s);

    dir_ = fs::temp_directory_path() / ("vistrel_lookout_" + id);
    snaps_ = dir_ / "snaps";
    fs::create_directories(snaps_);
    lookout::ViewerSettings v;
    v.folder = snaps_.u16string();
    lookout::writeViewerSettings(platform::KeyStore::machine(), v);

    // The program, its texts and picture, and the library beside it.
    const fs::path bin = platform::programDirectory();
    for (const char* f : {"lookout.exe", "lookout.rc", "lookout.png", "device.ax"})
      fs::copy_file(bin / f, dir_ / f, fs::copy_options::overwrite_existing);
  }
  void TearDown() override {
    RegDeleteTreeA(HKEY_CURRENT_USER, key_.c_str());
    std::error_code ignored;
    fs::remove_all(dir_, ignored);
  }

  std::string key_;
  uint16_t port_ = 0;
  fs::path dir_, snaps_;
};

std::vector<uint8_t> plainPicture() {
  std::vector<uint8_t> rgb(kWidth * kHeight * 3);
  for (size_t i = 0; i < rgb.size(); i += 3) {
    rgb[i] = kRed;
    rgb[i + 1] = kGreen;
    rgb[i + 2] = kBlue;
  }
  return rgb;
}

bool nearColour(const uint8_t* rgb) {
  return std::abs(rgb[0] - kRed) <= 12 && std::abs(rgb[1] - kGreen) <= 12 && std::abs(rgb[2] - kBlue) <= 12;
}

TEST_F(LookoutWin32, ShowsThePhoneSavesASnapshotForwardsInputAndClosesCleanly) {
  Viewer viewer;
  ASSERT_TRUE(viewer.start(dir_ / "lookout.exe"));
  ASSERT_TRUE(waitFor([&] { return viewer.window() != nullptr; }, 30s)) << "no viewer window";
  ASSERT_TRUE(waitFor([&] { return viewer.statusText() == L"Waiting for connection..."; }, 10s))
      << "status: " << fs::path(viewer.statusText()).string();
  const HWND window = viewer.window();
  wchar_t title[32] = {};
  GetWindowTextW(window, title, 32);
  EXPECT_EQ(std::wstring(title), L"Vistrel");
  EXPECT_NE(GetMenu(window), nullptr);

  // A phone sending frames of one colour.
  const auto rgb = plainPicture();
  const auto frame = server::testing::message(protocol::MSG_VIDEO_JPEG,
                                              decoder_testing::encodeRgb(rgb.data(), kWidth, kHeight));
  server::testing::Phone phone;
  for (int i = 0; i < 100 && !phone.connect(port_, 1000); ++i) std::this_thread::sleep_for(50ms);
  ASSERT_TRUE(phone.valid()) << "the viewer's engine did not take the phone on port " << port_;
  const auto showsPicture = [&] {
    phone.send(frame);
    return viewer.statusText().rfind(L"320x240@", 0) == 0;
  };
  ASSERT_TRUE(waitFor(showsPicture, 15s)) << "status: " << fs::path(viewer.statusText()).string();

  // The window took the picture's size: a 320 x 240 picture area above the status bar.
  // (Its pixels live in the viewer's process under a display-less Wine; the front's own
  // test reads them back.)
  const auto clientIsPicture = [&] {
    RECT client{};
    GetClientRect(window, &client);
    return client.right == static_cast<LONG>(kWidth) &&
           client.bottom == static_cast<LONG>(kHeight) + viewer.statusBarHeight();
  };
  EXPECT_TRUE(waitFor(clientIsPicture, 5s));

  // F8: the next frame is saved as <yymmdd>-<hhmmss>.jpg and decodes to the phone's colour.
  PostMessageW(window, WM_KEYDOWN, VK_F8, 0);
  const auto saved = [&] {
    phone.send(frame);
    return !fs::is_empty(snaps_);
  };
  ASSERT_TRUE(waitFor(saved, 10s)) << "F8 saved nothing; status: " << fs::path(viewer.statusText()).string();
  std::this_thread::sleep_for(200ms);  // written whole
  const fs::path snap = fs::directory_iterator(snaps_)->path();
  EXPECT_TRUE(std::regex_match(snap.filename().string(), std::regex(R"(\d{5,6}-\d{6}\.jpg)")))
      << snap.filename().string();
  std::vector<uint8_t> jpeg(fs::file_size(snap));
  {
    FILE* f = _wfopen(snap.wstring().c_str(), L"rb");
    ASSERT_NE(f, nullptr);
    ASSERT_EQ(std::fread(jpeg.data(), 1, jpeg.size(), f), jpeg.size());
    std::fclose(f);
  }
  uint32_t w = 0, h = 0;
  const auto decoded = decoder_testing::referenceDecode(jpeg, &w, &h);
  ASSERT_EQ(w, kWidth);
  ASSERT_EQ(h, kHeight);
  EXPECT_TRUE(nearColour(&decoded[(120 * kWidth + 160) * 3]));

  // A click at the centre and the key "5" reach the phone.
  PostMessageW(window, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(160, 120));
  PostMessageW(window, WM_KEYDOWN, 'A', 0);  // not a phone key
  PostMessageW(window, WM_KEYDOWN, '5', 0);
  bool tapped = false, keyed = false, wrongKey = false;
  for (int i = 0; i < 50 && !(tapped && keyed); ++i) {
    protocol::StreamHeader command;
    if (!phone.readCommand(command, 200)) continue;
    if (command.commandCode() == protocol::CMD_TAP)
      tapped = command.commandArgument() == protocol::tapArgument(32768, 32768);
    if (command.commandCode() == protocol::CMD_KEY) {
      keyed = keyed || command.commandArgument() == '5';
      wrongKey = wrongKey || command.commandArgument() == 'A';
    }
  }
  EXPECT_TRUE(tapped) << "the click at the centre gave no tap at the picture's centre";
  EXPECT_TRUE(keyed) << "the key 5 did not reach the phone";
  EXPECT_FALSE(wrongKey);

  // WM_CLOSE ends the viewer with code 0 and writes its settings.
  {
    HKEY k;
    ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, (key_ + "\\Software\\Orvane\\Vistrel").c_str(), 0, KEY_SET_VALUE, &k),
              ERROR_SUCCESS);
    RegDeleteValueA(k, "KeepActualSize");
    RegCloseKey(k);
  }
  PostMessageW(window, WM_CLOSE, 0, 0);
  EXPECT_EQ(viewer.exitCode(10000), 0);
  const lookout::ViewerSettings after = lookout::readViewerSettings(platform::KeyStore::machine());
  EXPECT_EQ(after.folder, snaps_.u16string());
  std::unique_ptr<platform::RegistryKey> key = platform::KeyStore::machine().openKey(lookout::kViewerKey);
  ASSERT_NE(key, nullptr);
  platform::RegistryValue keep;
  EXPECT_TRUE(key->queryValue(lookout::kKeepActualSizeValue, keep)) << "KeepActualSize was not written at exit";
}

TEST_F(LookoutWin32, EndsAtOnceWithoutTheLibrary) {
  fs::remove(dir_ / "device.ax");
  Viewer viewer;
  ASSERT_TRUE(viewer.start(dir_ / "lookout.exe"));
  EXPECT_EQ(viewer.exitCode(30000), 1);
  EXPECT_EQ(viewer.window(), nullptr);
}

}  // namespace
