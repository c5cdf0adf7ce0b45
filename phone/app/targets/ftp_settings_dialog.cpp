#include "targets/ftp_settings_dialog.h"

#include <algorithm>

#include "targets/ftp_target.h"
#include "targets/network_settings_dialog.h"

namespace targets {

namespace {
std::u16string number(uint32_t v) {
  const std::string s = std::to_string(v);
  return std::u16string(s.begin(), s.end());
}
// At most 127 characters, as a 128-character buffer with its zero holds.
std::u16string fieldText(const ui::DialogView& view, int id) {
  std::u16string text = view.itemText(id);
  if (text.size() > kFtpStringChars - 1) text.resize(kFtpStringChars - 1);
  return text;
}
}  // namespace

FtpSettingsDialog::FtpSettingsDialog(FtpTarget& target, ui::DialogView& view, ScrollingView& scrolling,
                                     std::function<bool(std::u16string_view)> openHelp, std::u16string doneText,
                                     int contentHeight)
    : target_(target),
      view_(view),
      scrolling_(scrolling),
      openHelp_(std::move(openHelp)),
      doneText_(std::move(doneText)),
      contentHeight_(contentHeight) {}

void FtpSettingsDialog::onInitDialog() {
  view_.setMenuButtonText(ui::kDoneButton, doneText_);
  menuBar_ = true;
  view_.setItemText(kServer, target_.server);
  view_.setItemText(kInterval, number(target_.interval));
  view_.setItemText(kPort, number(target_.port));
  view_.setItemText(kLogin, target_.login);
  view_.setItemText(kPassword, target_.password);
  view_.setItemText(kDirectory, target_.directory);
  view_.setItemText(kFile, target_.fileName);
  view_.setItemText(kFileHtml, target_.fileNameHtml);
  view_.setChecked(kPassive, target_.passiveMode != 0);
  view_.setChecked(kUseTempFile, target_.useTempFile != 0);
  view_.setChecked(kIgnoreErrors, target_.ignoreErrors != 0);
  view_.setChecked(kPowerSafe, target_.powerSafe != 0);
  view_.setChecked(kUploadHtml, target_.uploadHtml == 1);
  enableHtml();
}

void FtpSettingsDialog::enableHtml() {
  const bool on = view_.isChecked(kUploadHtml);
  view_.enableItem(kFileHtml, on);
  view_.enableItem(kFileHtmlLabel, on);
}

void FtpSettingsDialog::onCommand(int id) {
  if (id == kUploadHtml) {
    enableHtml();
    return;
  }
  if (id != ui::kDialogDone) return;
  target_.server = fieldText(view_, kServer);
  target_.login = fieldText(view_, kLogin);
  target_.password = fieldText(view_, kPassword);
  target_.directory = fieldText(view_, kDirectory);
  target_.fileName = fieldText(view_, kFile);
  target_.fileNameHtml = fieldText(view_, kFileHtml);
  long long v = 0;
  if (readDialogNumber(view_.itemText(kInterval), v) && v >= 0 && v <= 0xFFFFFFFFLL) {
    target_.interval = static_cast<uint32_t>(v);
  }
  if (readDialogNumber(view_.itemText(kPort), v) && v >= 0 && v < 65536) {
    target_.port = static_cast<uint32_t>(v);
  }
  target_.passiveMode = view_.isChecked(kPassive) ? 1 : 0;
  target_.useTempFile = view_.isChecked(kUseTempFile) ? 1 : 0;
  target_.ignoreErrors = view_.isChecked(kIgnoreErrors) ? 1 : 0;
  target_.powerSafe = view_.isChecked(kPowerSafe) ? 1 : 0;
  target_.uploadHtml = view_.isChecked(kUploadHtml) ? 1 : 0;
  view_.endDialog(ui::kDialogDone);
  view_.destroyMenuBar();
  menuBar_ = false;
}

void FtpSettingsDialog::onClose() { view_.endDialog(ui::kDialogClosed); }

void FtpSettingsDialog::onHelp() {
  if (openHelp_) openHelp_(u"GenealSettings");
}

void FtpSettingsDialog::onSize() {
  view_.layoutFromTemplate();
  position_ = 0;  // the controls are back at their template places
  if (menuBar_) scrolling_.setScrollRange(contentHeight_, scrolling_.pageHeight(), position_);
}

void FtpSettingsDialog::scrollTo(int position) {
  const int page = scrolling_.pageHeight();
  const int last = std::max(0, contentHeight_ - page);
  position = std::clamp(position, 0, last);
  if (position == position_) return;
  scrolling_.scrollContents(position_ - position);
  position_ = position;
  scrolling_.setScrollRange(contentHeight_, page, position_);
}

void FtpSettingsDialog::onVScroll(Scroll kind, int thumbPosition) {
  switch (kind) {
    case Scroll::kLineUp: scrollTo(position_ - kLineStep); break;
    case Scroll::kLineDown: scrollTo(position_ + kLineStep); break;
    case Scroll::kPageUp: scrollTo(position_ - scrolling_.pageHeight()); break;
    case Scroll::kPageDown: scrollTo(position_ + scrolling_.pageHeight()); break;
    case Scroll::kThumbTrack:
    case Scroll::kThumbPosition: scrollTo(thumbPosition); break;
    case Scroll::kOther: break;
  }
}

}  // namespace targets
