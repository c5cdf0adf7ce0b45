#include "front/settings_command.h"

#include <gtest/gtest.h>

#include "fake_capture.h"
#include "memory_key_store.h"
#include "settings/settings_store.h"

namespace front {
namespace {

using sources::SourceKind;
using ui::testing::FakeSource;

const settings::SettingChoice kSizes[] = {
    {0, 0, u"320x240"}, {0, 1, u"640x480"}, {0, 2, u"640x480"}};

class SettingsCommandTest : public ::testing::Test {
 protected:
  SettingsCommandTest() : store_(*keys_) {
    store_.setMainPath(settings::kSettingsPath);
    core::CaptureContext::Options o;
    o.store = &store_;
    o.text = ui::testing::testText;
    o.view = &window_;
    context_ = std::make_unique<core::CaptureContext>(o);
    auto camera = std::make_unique<FakeSource>(SourceKind::kCamera, texts::kTextCamera);
    camera_ = camera.get();
    camera_->add({0, u"Resolution", -1, 0, 3, kSizes});
    camera_->add({0, u"Brightness", -1, 2, 5, nullptr, -20, 10});
    camera_->setEnabled(true);
    auto screen = std::make_unique<FakeSource>(SourceKind::kScreen, texts::kTextScreen);
    screen_ = screen.get();
    context_->sources.append(std::move(camera));
    context_->sources.append(std::move(screen));
    context_->targets.push_back(std::make_unique<targets::NetworkTarget>(store_, targets::NetworkTarget::Options{}));
    context_->targets.push_back(std::make_unique<ui::testing::FakeTarget>(u"FTP"));
    network_ = static_cast<targets::NetworkTarget*>(context_->targets[0].get());
    context_->currentTarget = network_;
    network_->Prepare();
    menu_ = std::make_unique<ui::MenuBuilder>(*context_, menus_, ui::MenuBuilder::Hooks{});
  }

  // Applies one change; its messages joined.
  bool apply(SettingChange::Kind kind, const std::string& text, std::string& said) {
    std::vector<std::string> messages;
    const bool ok = applySettingChanges(*context_, *menu_, {{kind, text}}, deviceTargetFields, messages);
    said.clear();
    for (const std::string& m : messages) said += m + "\n";
    return ok;
  }

  std::shared_ptr<platform::testing::MemoryKeyStoreStorage::State> state_;
  std::unique_ptr<platform::KeyStore> keys_ = platform::testing::makeMemoryKeyStore(state_);
  settings::SettingsStore store_;
  ui::testing::QuietWindow window_;
  ui::testing::FakeMenuView menus_;
  std::unique_ptr<core::CaptureContext> context_;
  std::unique_ptr<ui::MenuBuilder> menu_;
  FakeSource* camera_ = nullptr;
  FakeSource* screen_ = nullptr;
  targets::NetworkTarget* network_ = nullptr;
};

TEST_F(SettingsCommandTest, SetChangesSourceAndTargetSettingsOrSaysWhyNot) {
  using K = SettingChange::Kind;
  struct Case {
    const char* set;
    bool ok;
    const char* says;
  } cases[] = {
      {"camera/resolution=640x480 (2)", true, "Camera/Resolution = 640x480 (2)"},
      {"Camera/Resolution=1", true, "Camera/Resolution = 640x480 (1)"},
      {"Camera/Resolution=640x480", true, "Camera/Resolution = 640x480 (1)"},
      {"Camera/Resolution=1024x768", false, "is none of: 320x240, 640x480 (1), 640x480 (2)"},
      {"Camera/Brightness=10", true, "Camera/Brightness = 10"},
      {"Camera/Brightness=15", false, "not one of -20..20 in steps of 10"},
      {"Camera/Zoom=2", false, "Camera has no setting \"Zoom\" (it has: Resolution, Brightness)"},
      {"Phone/Zoom=2", false, "no source or target is called \"Phone\""},
      {"Camera=2", false, "--set takes \"Source/Name=value\""},
      {"Network/RemotePort=2048", true, "Network/RemotePort = 2048"},
      {"Network/RemotePort=70000", false, "from 0 to 65535"},
      {"Network/RemoteIP=192.168.1.20", true, "Network/RemoteIP = 192.168.1.20"},
      {"Network/RemoteIPAuto=off", true, "Network/RemoteIPAuto = 0"},
      {"Network/RemoteIPAuto=maybe", false, "RemoteIPAuto takes 1 or on"},
      {"Network/RemoteTimeout=-1", false, "whole number"},
      {"FTP/Server=x", false, "FTP has no setting \"Server\" (it has none)"},
  };
  for (const Case& c : cases) {
    std::string said;
    EXPECT_EQ(apply(K::kSet, c.set, said), c.ok) << c.set << ": " << said;
    EXPECT_NE(said.find(c.says), std::string::npos) << c.set << ": " << said;
  }
  EXPECT_EQ(camera_->setting(0).current, 1);
  EXPECT_EQ(camera_->setting(1).current, 3);
  EXPECT_EQ(network_->remotePort, 2048u);
  EXPECT_EQ(network_->remoteIp, u"192.168.1.20");
  EXPECT_EQ(network_->remoteIpAuto, 0u);
  EXPECT_EQ(network_->remoteTimeout, targets::kDefaultRemoteTimeout);
  // Released, the target saves what the command changed.
  network_->Release();
  EXPECT_EQ(settings::readDword(store_.OpenKey(u"Network", false), u"RemotePort"), 2048u);
}

// The FTP uploader's settings through its dialog's rules; not the current target, so it is
// prepared for each change and saves it at once.
TEST_F(SettingsCommandTest, SetChangesTheFtpUploadersSettings) {
  using K = SettingChange::Kind;
  context_->targets[1] = std::make_unique<targets::FtpTarget>(store_, targets::FtpTarget::Options{});
  struct Case {
    const char* set;
    bool ok;
    const char* says;
  } cases[] = {
      {"FTP/Server=ftp.example.org", true, "FTP/Server = ftp.example.org"},
      {"FTP/Port=2121", true, "FTP/Port = 2121"},
      {"FTP/Port=65536", false, "from 0 to 65535"},
      {"FTP/Password=secret", true, "FTP/Password = ********"},
      {"FTP/Interval=0", true, "FTP/Interval = 0"},
      {"FTP/PassiveMode=off", true, "FTP/PassiveMode = 0"},
      {"FTP/IgnoreErrors=on", true, "FTP/IgnoreErrors = 1"},
      {"FTP/UseTempFile=perhaps", false, "takes 1 or on, 0 or off"},
      {"FTP/Directory=", true, "FTP/Directory = "},  // stored empty; the next load takes "./upload"
  };
  for (const Case& c : cases) {
    std::string said;
    EXPECT_EQ(apply(K::kSet, c.set, said), c.ok) << c.set << ": " << said;
    EXPECT_NE(said.find(c.says), std::string::npos) << c.set << ": " << said;
  }
  std::string said;
  EXPECT_FALSE(apply(K::kSet, "FTP/Login=" + std::string(128, 'x'), said));
  EXPECT_NE(said.find("at most 127 characters"), std::string::npos) << said;
  const settings::Key key = store_.OpenKey(u"FTP", false);
  EXPECT_EQ(settings::readString(key, u"Server", 128), u"ftp.example.org");
  EXPECT_EQ(settings::readString(key, u"Password", 128), u"secret");
  EXPECT_EQ(settings::readDword(key, u"Port"), 2121u);
  EXPECT_EQ(settings::readDword(key, u"PassiveMode"), 0u);
  EXPECT_EQ(settings::readDword(key, u"IgnoreErrors"), 1u);
  EXPECT_EQ(settings::readDword(key, u"Interval"), 0u);
}

TEST_F(SettingsCommandTest, SourceChangesAreReportedWhileCapturingLikeTheEditorsChanges) {
  auto& ftp = static_cast<ui::testing::FakeTarget&>(*context_->targets[1]);
  context_->currentTarget = &ftp;
  std::string said;
  ASSERT_TRUE(apply(SettingChange::Kind::kSet, "Camera/Brightness=20", said));
  EXPECT_TRUE(ftp.reported.empty());
  context_->captureStartTick = 3;
  ASSERT_TRUE(apply(SettingChange::Kind::kSet, "Camera/Brightness=0", said));
  EXPECT_EQ(ftp.reported, (std::vector<const settings::SourceSetting*>{&camera_->setting(1)}));
  EXPECT_EQ(camera_->applied.back(), std::make_pair(&camera_->setting(1), 2));
}

TEST_F(SettingsCommandTest, EnableDisableAndTargetFollowTheMenusRules) {
  using K = SettingChange::Kind;
  std::string said;
  EXPECT_TRUE(apply(K::kEnable, "screen", said));
  EXPECT_FALSE(camera_->enabled());  // the screen excludes the camera
  EXPECT_TRUE(screen_->enabled());
  EXPECT_NE(said.find("enabled sources: Screen"), std::string::npos) << said;
  EXPECT_TRUE(apply(K::kEnable, "Screen", said));  // already enabled: stays so
  EXPECT_TRUE(screen_->enabled());
  EXPECT_TRUE(apply(K::kDisable, "Screen", said));
  EXPECT_NE(said.find("enabled sources: none"), std::string::npos) << said;
  EXPECT_FALSE(apply(K::kEnable, "Sound", said));
  EXPECT_NE(said.find("no source is called \"Sound\" (sources: Camera, Screen)"), std::string::npos);

  EXPECT_TRUE(apply(K::kTarget, "ftp", said));
  EXPECT_EQ(context_->currentTarget, context_->targets[1].get());
  auto& ftp = static_cast<ui::testing::FakeTarget&>(*context_->targets[1]);
  ftp.prepareOk = false;
  EXPECT_TRUE(apply(K::kTarget, "Network", said));
  EXPECT_FALSE(apply(K::kTarget, "FTP", said));
  EXPECT_NE(said.find("could not be prepared; it stays Network"), std::string::npos) << said;
  EXPECT_FALSE(apply(K::kTarget, "Disk", said));
}

TEST_F(SettingsCommandTest, ListingShowsValuesChoicesAndWhatIsEnabledAndCurrent) {
  camera_->notedSetting = &camera_->setting(1);
  camera_->note = "how this build treats it";
  const std::string listing = listSettings(*context_, deviceTargetFields);
  EXPECT_EQ(listing,
            "Sources (* enabled):\n"
            "* Camera\n"
            "    Resolution = 320x240   [320x240 | 640x480 (1) | 640x480 (2)]\n"
            "    Brightness = 0   [-20 .. 20, step 10]   (how this build treats it)\n"
            "  Screen\n"
            "Targets (* current):\n"
            "* Network\n"
            "    RemoteIP = 192.168.7.1\n"
            "    RemotePort = 2047\n"
            "    RemoteIPAuto = 1\n"
            "    RemoteTimeout = 5\n"
            "  FTP\n");
}

}  // namespace
}  // namespace front
