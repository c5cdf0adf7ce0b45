#include "targets/ftp_settings_dialog.h"

#include <gtest/gtest.h>

#include "fake_dialog_view.h"
#include "memory_key_store.h"
#include "targets/ftp_target.h"

namespace targets {
namespace {

using D = FtpSettingsDialog;

struct FakeScrolling final : ScrollingView {
  int page = 100;
  int maximum = -1, shownPage = -1, position = -1;
  int moved = 0;  // sum of every move of the contents
  int pageHeight() const override { return page; }
  void setScrollRange(int m, int p, int pos) override {
    maximum = m;
    shownPage = p;
    position = pos;
  }
  void scrollContents(int dy) override { moved += dy; }
};

struct Fixture {
  std::shared_ptr<platform::testing::MemoryKeyStoreStorage::State> state;
  std::unique_ptr<platform::KeyStore> keys = platform::testing::makeMemoryKeyStore(state);
  settings::SettingsStore store{*keys};
  FtpTarget target{store, {}};
  ui::testing::FakeDialogView view;
  FakeScrolling scrolling;
  std::u16string help;
  D dialog{target, view, scrolling, [this](std::u16string_view t) { return help = t, true; }, u"Done", 300};
  Fixture() {
    store.setMainPath(settings::kSettingsPath);
    target.Prepare();
  }
};

TEST(FtpSettingsDialog, FillsEditsAndReadsBack) {
  Fixture f;
  f.target.useTempFile = 1;
  f.target.uploadHtml = 0;
  f.dialog.onInitDialog();
  EXPECT_EQ(f.view.menuButtons[ui::kDoneButton], u"Done");
  EXPECT_EQ(f.view.texts[D::kServer], u"192.168.7.1");
  EXPECT_EQ(f.view.texts[D::kInterval], u"20");
  EXPECT_EQ(f.view.texts[D::kPort], u"21");
  EXPECT_EQ(f.view.texts[D::kLogin], u"anonymous");
  EXPECT_EQ(f.view.texts[D::kDirectory], u"./upload");
  EXPECT_EQ(f.view.texts[D::kFile], u"webcam.jpg");
  EXPECT_EQ(f.view.texts[D::kFileHtml], u"webcam.html");
  EXPECT_TRUE(f.view.checked[D::kPassive]);
  EXPECT_TRUE(f.view.checked[D::kUseTempFile]);
  EXPECT_FALSE(f.view.checked[D::kIgnoreErrors]);
  EXPECT_FALSE(f.view.checked[D::kPowerSafe]);
  EXPECT_FALSE(f.view.checked[D::kUploadHtml]);
  EXPECT_FALSE(f.view.enabled[D::kFileHtml]);
  EXPECT_FALSE(f.view.enabled[D::kFileHtmlLabel]);
  f.view.checked[D::kUploadHtml] = true;
  f.dialog.onCommand(D::kUploadHtml);
  EXPECT_TRUE(f.view.enabled[D::kFileHtml]);
  EXPECT_TRUE(f.view.enabled[D::kFileHtmlLabel]);

  struct Case {
    const char16_t* interval;
    const char16_t* port;
    uint32_t wantInterval;
    uint32_t wantPort;
  } cases[] = {
      {u"0", u"2121", 0, 2121},
      {u"-1", u"65536", 0, 2121},  // out of range: kept
      {u"3600", u"65535", 3600, 65535},
      {u"5s", u"", 3600, 65535},  // not numbers: kept
  };
  for (const Case& c : cases) {
    f.view.texts[D::kInterval] = c.interval;
    f.view.texts[D::kPort] = c.port;
    f.view.texts[D::kServer] = u"ftp.example";
    f.view.texts[D::kPassword] = u"secret";
    f.view.texts[D::kDirectory] = std::u16string(200, u'd');
    f.view.checked[D::kPassive] = false;
    f.view.checked[D::kPowerSafe] = true;
    f.dialog.onCommand(ui::kDialogDone);
    EXPECT_EQ(f.target.interval, c.wantInterval);
    EXPECT_EQ(f.target.port, c.wantPort);
  }
  EXPECT_EQ(f.target.server, u"ftp.example");
  EXPECT_EQ(f.target.password, u"secret");
  EXPECT_EQ(f.target.directory, std::u16string(127, u'd'));
  EXPECT_EQ(f.target.passiveMode, 0u);
  EXPECT_EQ(f.target.powerSafe, 1u);
  EXPECT_EQ(f.target.uploadHtml, 1u);
  EXPECT_EQ(f.target.useTempFile, 1u);
  EXPECT_EQ(f.view.endResults.back(), ui::kDialogDone);
  EXPECT_GE(f.view.menuBarDestroyed, 1);
  f.dialog.onClose();
  EXPECT_EQ(f.view.endResults.back(), ui::kDialogClosed);
  f.dialog.onHelp();
  EXPECT_EQ(f.help, u"GenealSettings");
}

TEST(FtpSettingsDialog, ScrollsWithinTheDialogHeight) {
  Fixture f;
  f.dialog.onInitDialog();
  f.dialog.onSize();
  EXPECT_EQ(f.view.layouts, 1);
  EXPECT_EQ(f.scrolling.maximum, 300);
  EXPECT_EQ(f.scrolling.shownPage, 100);
  struct Step {
    D::Scroll kind;
    int thumb;
    int wantPosition;
  } steps[] = {
      {D::Scroll::kLineUp, 0, 0},       // already at the top
      {D::Scroll::kLineDown, 0, 16},
      {D::Scroll::kPageDown, 0, 116},
      {D::Scroll::kPageDown, 0, 200},   // the last page
      {D::Scroll::kLineDown, 0, 200},
      {D::Scroll::kThumbTrack, 50, 50},
      {D::Scroll::kPageUp, 0, 0},
      {D::Scroll::kThumbPosition, 999, 200},
      {D::Scroll::kOther, 0, 200},
  };
  for (const Step& s : steps) {
    f.dialog.onVScroll(s.kind, s.thumb);
    EXPECT_EQ(f.dialog.scrollPosition(), s.wantPosition);
    EXPECT_EQ(f.scrolling.moved, -s.wantPosition) << "the contents moved by the difference";
  }
  // A turn of the screen lays the controls out afresh at the top; after "Done" the
  // range is no longer set.
  f.dialog.onSize();
  EXPECT_EQ(f.dialog.scrollPosition(), 0);
  EXPECT_EQ(f.scrolling.position, 0);
  f.dialog.onCommand(ui::kDialogDone);
  f.scrolling.maximum = -1;
  f.dialog.onSize();
  EXPECT_EQ(f.scrolling.maximum, -1);
}

}  // namespace
}  // namespace targets
