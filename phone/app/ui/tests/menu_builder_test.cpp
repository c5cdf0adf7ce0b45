#include "ui/menu_builder.h"

#include <gtest/gtest.h>

#include "fake_capture.h"
#include "ui/menu_bars.h"

namespace ui {
namespace {

using sources::SourceKind;
using testing::describe;
using testing::FakeSource;
using testing::FakeTarget;

class MenuBuilderTest : public ::testing::Test {
 protected:
  MenuBuilderTest() : context_(options()) {}

  core::CaptureContext::Options options() {
    core::CaptureContext::Options o;
    o.text = testing::testText;
    o.view = &window_;
    return o;
  }
  FakeSource& addSource(SourceKind kind, uint32_t nameId, bool enabled, bool withSettings = true) {
    auto s = std::make_unique<FakeSource>(kind, nameId);
    FakeSource& ref = *s;
    if (withSettings) ref.add(settings::SourceSetting{texts::kTextQuality, u"Quality", -1, 0, 5});
    ref.setEnabled(enabled);
    context_.sources.append(std::move(s));
    return ref;
  }
  FakeTarget& addTarget(const char16_t* name) {
    context_.targets.push_back(std::make_unique<FakeTarget>(name));
    auto& t = static_cast<FakeTarget&>(*context_.targets.back());
    if (!context_.currentTarget) context_.currentTarget = &t;
    return t;
  }
  MenuBuilder& builder() {
    if (!builder_) {
      MenuBuilder::Hooks hooks;
      hooks.languageCount = [this] { return languages_; };
      hooks.setWaitCursor = [this](bool w) { cursor_.push_back(w); };
      hooks.runSettingsPanel = [this](sources::CaptureSource& s) { panels_.push_back(&s); };
      hooks.runLanguageDialog = [this] { activeDuringDialog_.push_back(context_.windowActive); };
      hooks.runAbout = [this] { activeDuringDialog_.push_back(context_.windowActive); };
      hooks.destroyWindow = [this] { ++destroys_; };
      hooks.owner = &owner_;
      builder_ = std::make_unique<MenuBuilder>(context_, menus_, hooks);
    }
    return *builder_;
  }
  std::string menu() { return describe(menus_.menus[kButtonMenu]); }

  testing::QuietWindow window_;
  core::CaptureContext context_;
  testing::FakeMenuView menus_;
  std::unique_ptr<MenuBuilder> builder_;
  uint32_t languages_ = 1;
  std::vector<bool> cursor_;
  std::vector<sources::CaptureSource*> panels_;
  std::vector<bool> activeDuringDialog_;
  int destroys_ = 0;
  int owner_ = 0;
};

TEST_F(MenuBuilderTest, OneSourceTwoTargetsHasModeButNoSourceMenu) {
  addSource(SourceKind::kCamera, texts::kTextCamera, true);
  addTarget(u"Network");
  addTarget(u"FTP");
  builder().build();
  EXPECT_EQ(menu(),
            "Mode{Network=42000* FTP=42001} Settings{Camera=42002 - Network=42003} "
            "About=42004 Exit=42005");
}

TEST_F(MenuBuilderTest, TwoSourcesComeFirstAndOnlyEnabledOnesWithSettingsGetAnEditor) {
  addSource(SourceKind::kCamera, texts::kTextCamera, true);
  addSource(SourceKind::kScreen, texts::kTextScreen, false);
  addSource(SourceKind::kSound, texts::kTextSound, true, /*withSettings=*/false);
  addTarget(u"Network");
  builder().build();
  EXPECT_EQ(menu(),
            "Source{Camera=42000* Screen=42001 Sound=42002*} "
            "Settings{Camera=42003 - Network=42004} About=42005 Exit=42006");
}

TEST_F(MenuBuilderTest, LanguageOnlyWithMoreThanOneLanguageAndNoSeparatorWithoutSourceItems) {
  addSource(SourceKind::kSound, texts::kTextSound, true, /*withSettings=*/false);
  addTarget(u"Network");
  languages_ = 3;
  builder().build();
  EXPECT_EQ(menu(), "Settings{Network=42000 Language=42001} About=42002 Exit=42003");
  languages_ = 1;
  builder().build();
  EXPECT_EQ(menu(), "Settings{Network=42000} About=42001 Exit=42002");
}

TEST_F(MenuBuilderTest, EnablingASourceDisablesTheOthersOfItsKindAndRestartsThem) {
  FakeSource& camera = addSource(SourceKind::kCamera, texts::kTextCamera, true);
  FakeSource& screen = addSource(SourceKind::kScreen, texts::kTextScreen, false);
  FakeSource& sound = addSource(SourceKind::kSound, texts::kTextSound, true);
  addTarget(u"Network");
  builder().build();

  EXPECT_TRUE(builder().dispatch(42001));  // Screen
  EXPECT_FALSE(camera.enabled());
  EXPECT_TRUE(screen.enabled());
  EXPECT_TRUE(sound.enabled());
  EXPECT_EQ(screen.starts, 1);
  EXPECT_EQ(menu().substr(0, 41), "Source{Camera=42000 Screen=42001* Sound=4");

  EXPECT_TRUE(builder().dispatch(42000));  // Camera back
  EXPECT_TRUE(camera.enabled());
  EXPECT_FALSE(screen.enabled());
  EXPECT_TRUE(sound.enabled());

  EXPECT_TRUE(builder().dispatch(42002));  // Sound off: a plain toggle
  EXPECT_FALSE(sound.enabled());
  EXPECT_TRUE(camera.enabled());
}

TEST_F(MenuBuilderTest, TargetSwitchStopsTheOldOneAndKeepsItWhenTheNewOneFails) {
  addSource(SourceKind::kCamera, texts::kTextCamera, true);
  FakeTarget& network = addTarget(u"Network");
  FakeTarget& ftp = addTarget(u"FTP");
  context_.captureStartTick = 77;
  builder().build();

  ftp.prepareOk = false;
  EXPECT_TRUE(builder().dispatch(42001));
  EXPECT_EQ(context_.currentTarget, &network);
  EXPECT_EQ(network.stops, 1);
  EXPECT_EQ(network.releases, 1);
  EXPECT_EQ(network.prepares, 0);  // not prepared again
  EXPECT_EQ(context_.captureStartTick, 0u);
  EXPECT_EQ(cursor_, (std::vector<bool>{true, false}));
  EXPECT_NE(menu().find("Network=42000* FTP=42001}"), std::string::npos);

  ftp.prepareOk = true;
  EXPECT_TRUE(builder().dispatch(42001));
  EXPECT_EQ(context_.currentTarget, &ftp);
  EXPECT_NE(menu().find("Network=42000 FTP=42001*}"), std::string::npos);
  EXPECT_NE(menu().find("- FTP=42003}"), std::string::npos);  // the settings item follows
}

TEST_F(MenuBuilderTest, EachKindOfItemIsDispatched) {
  FakeSource& camera = addSource(SourceKind::kCamera, texts::kTextCamera, true);
  FakeTarget& network = addTarget(u"Network");
  languages_ = 2;
  context_.windowActive = true;
  builder().build();
  // Settings{Camera=42000 - Network=42001 Language=42002} About=42003 Exit=42004
  EXPECT_TRUE(builder().dispatch(42000));
  EXPECT_EQ(panels_, (std::vector<sources::CaptureSource*>{&camera}));
  EXPECT_TRUE(builder().dispatch(42001));
  EXPECT_EQ(network.shownOver, (std::vector<void*>{&owner_}));
  EXPECT_TRUE(context_.windowActive);
  EXPECT_TRUE(builder().dispatch(42002));
  EXPECT_TRUE(context_.windowActive);
  EXPECT_TRUE(builder().dispatch(42003));
  EXPECT_FALSE(context_.windowActive);  // the window's activation sets it again
  EXPECT_EQ(activeDuringDialog_, (std::vector<bool>{false, false}));
  EXPECT_EQ(destroys_, 0);
  EXPECT_TRUE(builder().dispatch(42004));
  EXPECT_EQ(destroys_, 1);
}

TEST_F(MenuBuilderTest, NumbersOutsideTheMenuAreLeftToTheWindow) {
  addSource(SourceKind::kCamera, texts::kTextCamera, true);
  addTarget(u"Network");
  builder().build();
  for (int command : {41999, 42005, 42100, 42101, 40002}) {
    EXPECT_FALSE(builder().dispatch(command)) << command;
  }
  EXPECT_EQ(destroys_, 0);
}

}  // namespace
}  // namespace ui
