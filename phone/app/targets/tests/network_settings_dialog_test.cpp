#include "targets/network_settings_dialog.h"

#include <gtest/gtest.h>

#include <map>

#include "memory_key_store.h"
#include "targets/network_target.h"

namespace targets {
namespace {

class FakeDialog final : public ui::DialogView {
 public:
  std::map<int, std::u16string> texts;
  std::map<int, bool> checked, enabled;
  int result = -1;
  bool menuDestroyed = false;
  void resetListItems(int) override {}
  void addListItem(int, const std::u16string&) override {}
  void setListSelection(int, int) override {}
  int listSelection(int) const override { return -1; }
  int listCount(int) const override { return 0; }
  void setItemText(int id, const std::u16string& t) override { texts[id] = t; }
  std::u16string itemText(int id) const override {
    auto it = texts.find(id);
    return it == texts.end() ? u"" : it->second;
  }
  void setChecked(int id, bool c) override { checked[id] = c; }
  bool isChecked(int id) const override { return checked.count(id) && checked.at(id); }
  void enableItem(int id, bool e) override { enabled[id] = e; }
  void setMenuButtonText(int, const std::u16string& t) override { texts[-1] = t; }
  void destroyMenuBar() override { menuDestroyed = true; }
  void showMessage(const std::u16string&, const std::u16string&) override {}
  void layoutFromTemplate() override {}
  void endDialog(int r) override { result = r; }
};

TEST(NetworkSettings, OpenEditAndDone) {
  std::shared_ptr<platform::testing::MemoryKeyStoreStorage::State> state;
  auto keys = platform::testing::makeMemoryKeyStore(state);
  settings::SettingsStore store(*keys);
  store.setMainPath(settings::kSettingsPath);
  NetworkTarget target(store, {});
  ASSERT_TRUE(target.Prepare());
  FakeDialog view;
  std::u16string helpTopic;
  NetworkSettingsDialog dialog(target, view, [&](std::u16string_view t) {
    helpTopic = t;
    return true;
  }, u"Done");
  dialog.onInitDialog();
  EXPECT_TRUE(view.checked[NetworkSettingsDialog::kAutodetect]);
  EXPECT_FALSE(view.enabled[NetworkSettingsDialog::kAddress]);
  EXPECT_FALSE(view.enabled[NetworkSettingsDialog::kAddressLabel]);
  EXPECT_EQ(view.texts[NetworkSettingsDialog::kPort], u"2047");
  EXPECT_EQ(view.texts[NetworkSettingsDialog::kTimeout], u"5");
  EXPECT_EQ(view.texts[-1], u"Done");

  view.checked[NetworkSettingsDialog::kAutodetect] = false;
  dialog.onCommand(NetworkSettingsDialog::kAutodetect);
  EXPECT_TRUE(view.enabled[NetworkSettingsDialog::kAddress]);

  struct Case {
    const char16_t* port;
    const char16_t* timeout;
    uint32_t wantPort;
    uint32_t wantTimeout;
  } cases[] = {
      {u"3001", u"0", 3001, 0},
      {u"70000", u"-1", 3001, 0},  // out of range: kept
      {u"65535", u"12", 65535, 12},
      {u"12ab", u"", 65535, 12},   // not numbers: kept
  };
  for (const Case& c : cases) {
    view.texts[NetworkSettingsDialog::kAddress] = u"10.0.0.9";
    view.texts[NetworkSettingsDialog::kPort] = c.port;
    view.texts[NetworkSettingsDialog::kTimeout] = c.timeout;
    dialog.onCommand(ui::kDialogDone);
    EXPECT_EQ(view.result, ui::kDialogDone);
    EXPECT_EQ(target.remotePort, c.wantPort) << std::string(c.port, c.port + 2);
    EXPECT_EQ(target.remoteTimeout, c.wantTimeout);
    EXPECT_EQ(target.remoteIpAuto, 0u);
    EXPECT_EQ(target.remoteIp, u"10.0.0.9");
  }
  EXPECT_TRUE(view.menuDestroyed);
  dialog.onClose();
  EXPECT_EQ(view.result, ui::kDialogClosed);
  dialog.onHelp();
  EXPECT_EQ(helpTopic, u"GenealSettings");
}

}  // namespace
}  // namespace targets
