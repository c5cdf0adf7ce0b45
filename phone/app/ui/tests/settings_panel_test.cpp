#include "ui/settings_panel.h"

#include <gtest/gtest.h>

#include "fake_capture.h"
#include "fake_dialog_view.h"
#include "ui/menu_bars.h"

namespace ui {
namespace {

using sources::SourceKind;
using testing::describe;

const settings::SettingChoice kSizes[] = {
    {0, 0, u"320x240"}, {0, 1, u"640x480"}, {0, 2, u"640x480"}};

class SettingsPanelTest : public ::testing::Test {
 protected:
  SettingsPanelTest() : context_(options()) {
    auto s = std::make_unique<testing::FakeSource>(SourceKind::kCamera, texts::kTextCamera);
    camera_ = s.get();
    camera_->add({texts::kTextResolution, u"Resolution", -1, 0, 3, kSizes});
    camera_->add({texts::kTextBrightness, u"Brightness", -1, 2, 5, nullptr, -2, 1});
    camera_->add({texts::kTextMirror, u"Mirror", -1, 0, 2, nullptr, 0, 1});
    camera_->add({texts::kTextContrast, u"Contrast", -1, 0, 3, nullptr, 0, 10});
    camera_->setEnabled(true);
    context_.sources.append(std::move(s));
    context_.targets.push_back(std::make_unique<testing::FakeTarget>(u"Network"));
    context_.currentTarget = context_.targets.back().get();
    panel_ = std::make_unique<SettingsPanel>(context_, *camera_, view_, menus_,
                                             SettingsPanel::Hooks{[this] { ++shrinks_; }, {}});
  }
  core::CaptureContext::Options options() {
    core::CaptureContext::Options o;
    o.text = testing::testText;
    o.view = &window_;
    return o;
  }
  testing::FakeTarget& target() { return static_cast<testing::FakeTarget&>(*context_.currentTarget); }
  std::string advanced() { return describe(menus_.menus[kButtonAdvanced]); }
  std::u16string value() { return view_.itemText(SettingsPanel::kValue); }

  testing::QuietWindow window_;
  core::CaptureContext context_;
  testing::FakeSource* camera_ = nullptr;
  ui::testing::FakeDialogView view_;
  testing::FakeMenuView menus_;
  std::unique_ptr<SettingsPanel> panel_;
  int shrinks_ = 0;
};

TEST_F(SettingsPanelTest, OpenListsNumericSettingsAndPutsChoicesInTheAdvancedMenu) {
  panel_->onInitDialog();
  EXPECT_EQ(view_.lists[SettingsPanel::kList].items,
            (std::vector<std::u16string>{u"Brightness", u"Contrast"}));
  EXPECT_EQ(view_.listSelection(SettingsPanel::kList), 0);
  EXPECT_EQ(value(), u"0");  // -2 + 2 * 1
  EXPECT_EQ(view_.menuButtons[kDoneButton], u"Done");
  EXPECT_EQ(view_.menuButtons[kButtonAdvanced], u"Advanced");
  // Numbers run on across submenus; sizes that repeat get labels that tell them apart.
  EXPECT_EQ(advanced(),
            "Resolution{320x240=42000* 640x480 (1)=42001 640x480 (2)=42002} Mirror=42003 "
            "Reset All=40004");
  EXPECT_EQ(shrinks_, 0);
  EXPECT_TRUE(menus_.opened.empty());
}

TEST_F(SettingsPanelTest, StepsStopAtBothEndsWithoutApplyingOrReporting) {
  context_.captureStartTick = 5;
  panel_->onInitDialog();
  view_.setListSelection(SettingsPanel::kList, 1);  // Contrast 0, 10, 20
  panel_->onListSelectionChanged();
  EXPECT_EQ(value(), u"0");
  panel_->onCommand(SettingsPanel::kMinus);  // at the first value
  EXPECT_TRUE(camera_->applied.empty());
  EXPECT_TRUE(target().reported.empty());
  panel_->onListKey(DialogKey::kRight);
  panel_->onCommand(SettingsPanel::kPlus);
  EXPECT_EQ(value(), u"20");
  panel_->onCommand(SettingsPanel::kPlus);  // at the last value
  EXPECT_EQ(value(), u"20");
  EXPECT_EQ(camera_->applied.size(), 2u);
  EXPECT_EQ(target().reported.size(), 2u);
  EXPECT_EQ(camera_->setting(3).current, 2);
}

TEST_F(SettingsPanelTest, ChangesAreReportedOnlyWhileCapturing) {
  panel_->onInitDialog();
  panel_->onCommand(SettingsPanel::kPlus);
  EXPECT_EQ(camera_->applied.size(), 1u);
  EXPECT_TRUE(target().reported.empty());
  context_.captureStartTick = 9;
  panel_->onCommand(42002);
  ASSERT_EQ(target().reported.size(), 1u);
  EXPECT_EQ(target().reported[0], &camera_->setting(0));
  EXPECT_EQ(camera_->setting(0).current, 2);
  EXPECT_NE(advanced().find("640x480 (2)=42002*"), std::string::npos);
}

TEST_F(SettingsPanelTest, ATwoValuedItemTogglesFromItsDefault) {
  panel_->onInitDialog();
  panel_->onCommand(42003);
  EXPECT_EQ(camera_->setting(2).current, 1);
  EXPECT_NE(advanced().find("Mirror=42003*"), std::string::npos);
  panel_->onCommand(42003);
  EXPECT_EQ(camera_->setting(2).current, 0);
  EXPECT_NE(advanced().find("Mirror=42003 "), std::string::npos);
  panel_->onCommand(42004);  // no such entry
  EXPECT_EQ(camera_->applied.size(), 2u);
}

TEST_F(SettingsPanelTest, ResetAllReturnsEverySettingToItsDefaultAndResetsOnce) {
  panel_->onInitDialog();
  panel_->onCommand(SettingsPanel::kPlus);
  panel_->onCommand(42001);
  panel_->onCommand(42003);
  panel_->onCommand(kCommandResetAll);
  for (size_t i = 0; i < 4; ++i) EXPECT_EQ(camera_->setting(i).current, -1) << i;
  EXPECT_EQ(camera_->resets, 1);
  EXPECT_EQ(value(), u"0");
  EXPECT_NE(advanced().find("320x240=42000*"), std::string::npos);
  EXPECT_NE(advanced().find("Mirror=42003 "), std::string::npos);
}

TEST_F(SettingsPanelTest, UpAndDownWrapAndShowTheValue) {
  panel_->onInitDialog();
  EXPECT_TRUE(panel_->onListKey(DialogKey::kUp));
  EXPECT_EQ(view_.listSelection(SettingsPanel::kList), 1);
  EXPECT_EQ(value(), u"0");
  EXPECT_TRUE(panel_->onListKey(DialogKey::kDown));
  EXPECT_EQ(view_.listSelection(SettingsPanel::kList), 0);
  EXPECT_TRUE(panel_->onListKey(DialogKey::kAction));
  EXPECT_FALSE(panel_->onListKey(DialogKey::kOther));
}

TEST_F(SettingsPanelTest, WithoutNumericSettingsOnlyTheAdvancedPopupShows) {
  testing::FakeSource sound(SourceKind::kSound, texts::kTextSound);
  sound.add({0, u"Stereo", -1, 0, 2, nullptr, 0, 1});
  SettingsPanel panel(context_, sound, view_, menus_, SettingsPanel::Hooks{[this] { ++shrinks_; }, {}});
  panel.onInitDialog();
  EXPECT_EQ(shrinks_, 1);
  EXPECT_EQ(menus_.opened, (std::vector<int>{kButtonAdvanced}));
  EXPECT_EQ(view_.listCount(SettingsPanel::kList), 0);
  EXPECT_EQ(advanced(), "Stereo=42000 Reset All=40004");
}

TEST_F(SettingsPanelTest, DoneAndCloseEndTheDialogAndDestroyRemovesTheBar) {
  panel_->onInitDialog();
  panel_->onCommand(kDoneButton);
  panel_->onClose();
  EXPECT_EQ(view_.endResults, (std::vector<int>{kDialogDone, kDialogDone}));
  panel_->onDestroy();
  EXPECT_EQ(view_.menuBarDestroyed, 1);
}

}  // namespace
}  // namespace ui
