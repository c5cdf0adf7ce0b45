#include "targets/connecting_dialog.h"

#include <cstdio>

namespace targets {

Rect placeOverParent(const Rect& parent, const Rect& dialog) {
  Rect out;
  out.left = parent.left + (parent.width() - dialog.width()) / 2;
  out.top = parent.top + (parent.height() - dialog.height()) / 4;
  out.right = out.left + dialog.width();
  out.bottom = out.top + dialog.height();
  return out;
}

std::u16string dottedAddress(uint32_t networkOrder) {
  const uint8_t* b = reinterpret_cast<const uint8_t*>(&networkOrder);
  char text[16];
  std::snprintf(text, sizeof text, "%d.%d.%d.%d", b[0], b[1], b[2], b[3]);
  return std::u16string(text, text + std::char_traits<char>::length(text));
}

void ConnectingDialog::onInitDialog(ConnectingView& view) {
  view_ = &view;
  place();
  showStatus();
}

void ConnectingDialog::place() {
  if (view_) view_->moveTo(placeOverParent(view_->parentRect(), view_->dialogRect()));
}

void ConnectingDialog::onSettingChange() { place(); }

void ConnectingDialog::onClose() {
  if (view_) view_->endDialog(1);
}

void ConnectingDialog::onCommand(int id) {
  if (view_ && (id == 1 || id == kConnectingCancel)) view_->endDialog(0);
}

void ConnectingDialog::onHelp() {
  if (view_) view_->openHelp(u"ConnectNetwork");
}

void ConnectingDialog::showStatus() {
  if (!view_) return;
  view_->setItemText(kFieldAddress, dottedAddress(address_.load()));
  const std::string count = std::to_string(attempts_.load());
  view_->setItemText(kFieldAttempts, std::u16string(count.begin(), count.end()));
}

void ConnectingDialog::requestClose() {
  if (view_) view_->postClose();
}

}  // namespace targets
