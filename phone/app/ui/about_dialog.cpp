#include "ui/about_dialog.h"

#include "ui/menu_bars.h"

namespace ui {

AboutDialog::AboutDialog(DialogView& view, TextFunction text, std::u16string model, Hooks hooks)
    : view_(view), text_(std::move(text)), model_(std::move(model)), hooks_(std::move(hooks)) {}

void AboutDialog::onInitDialog() {
  applyMenuBarTexts(view_, kMenuBarAbout, text_);
  fill();
}

void AboutDialog::onActivate() { fill(); }

void AboutDialog::fill() {
  view_.setItemText(kProduct, kProductAndVersion);
  view_.setItemText(kModel, model_);
  view_.setItemText(kWebAddress, kMakerWebAddress);
}

void AboutDialog::onCommand(int id) {
  if (id == kButtonHelp) {
    if (hooks_.postHelp) hooks_.postHelp();
    return;
  }
  if (id != kDoneButton) return;
  view_.endDialog(kDialogDone);
  view_.destroyMenuBar();
}

void AboutDialog::onHelp() {
  if (hooks_.openHelp) hooks_.openHelp(u"Main_Contents");
}

void AboutDialog::onClose() {
  view_.endDialog(kDialogClosed);
  view_.destroyMenuBar();
}

void AboutDialog::onSize() {
  view_.layoutFromTemplate();
  fill();
}

}  // namespace ui
