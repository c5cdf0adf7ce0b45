#include "targets/network_settings_dialog.h"

#include "targets/network_target.h"

namespace targets {

namespace {
std::u16string number(uint32_t v) {
  const std::string s = std::to_string(v);
  return std::u16string(s.begin(), s.end());
}
}  // namespace

bool readDialogNumber(const std::u16string& text, long long& value) {
  size_t i = 0;
  while (i < text.size() && text[i] == u' ') ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == u'-' || text[i] == u'+')) negative = text[i++] == u'-';
  const size_t start = i;
  long long v = 0;
  while (i < text.size() && text[i] >= u'0' && text[i] <= u'9') {
    if (v > 1000000000000LL) return false;
    v = v * 10 + (text[i] - u'0');
    ++i;
  }
  while (i < text.size() && text[i] == u' ') ++i;
  if (i == start || i != text.size()) return false;
  value = negative ? -v : v;
  return true;
}

NetworkSettingsDialog::NetworkSettingsDialog(NetworkTarget& target, ui::DialogView& view,
                                             std::function<bool(std::u16string_view)> openHelp,
                                             std::u16string doneText)
    : target_(target), view_(view), openHelp_(std::move(openHelp)), doneText_(std::move(doneText)) {}

void NetworkSettingsDialog::onInitDialog() {
  view_.setMenuButtonText(ui::kDoneButton, doneText_);
  const bool autoIp = target_.remoteIpAuto == 1;
  view_.setChecked(kAutodetect, autoIp);
  view_.enableItem(kAddress, !autoIp);
  view_.enableItem(kAddressLabel, !autoIp);
  view_.setItemText(kAddress, target_.remoteIp);
  view_.setItemText(kPort, number(target_.remotePort));
  view_.setItemText(kTimeout, number(target_.remoteTimeout));
}

void NetworkSettingsDialog::onCommand(int id) {
  if (id == kAutodetect) {
    const bool autoIp = view_.isChecked(kAutodetect);
    view_.enableItem(kAddress, !autoIp);
    view_.enableItem(kAddressLabel, !autoIp);
    return;
  }
  if (id != ui::kDialogDone) return;
  target_.remoteIpAuto = view_.isChecked(kAutodetect) ? 1 : 0;
  std::u16string address = view_.itemText(kAddress);
  if (address.size() > 259) address.resize(259);
  target_.remoteIp = address;
  long long v = 0;
  if (readDialogNumber(view_.itemText(kPort), v) && v >= 0 && v < 65536) {
    target_.remotePort = static_cast<uint32_t>(v);
  }
  if (readDialogNumber(view_.itemText(kTimeout), v) && v >= 0 && v <= 0xFFFFFFFFLL) {
    target_.remoteTimeout = static_cast<uint32_t>(v);
  }
  view_.endDialog(ui::kDialogDone);
  view_.destroyMenuBar();
}

void NetworkSettingsDialog::onClose() {
  view_.endDialog(ui::kDialogClosed);
  view_.destroyMenuBar();
}

void NetworkSettingsDialog::onHelp() {
  if (openHelp_) openHelp_(u"GenealSettings");
}

void NetworkSettingsDialog::onSize() { view_.layoutFromTemplate(); }

}  // namespace targets
