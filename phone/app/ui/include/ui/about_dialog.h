#pragma once

#include <functional>
#include <string>
#include <string_view>

#include "ui/dialog_view.h"
#include "ui/setting_rules.h"

namespace ui {

// "About" (dialog 601, full screen, menu bar 149 with "Done" and "Help"): the product
// name and version, the device's model as the system described it, the maker's address.
//
// Threading: the window thread.
class AboutDialog {
 public:
  static constexpr int kTemplateId = 601;
  static constexpr int kIcon = 1016;
  static constexpr int kProduct = 1060;
  static constexpr int kModel = 1039;
  static constexpr int kWebAddress = 1035;
  static constexpr int kIconResource = 153;

  struct Hooks {
    std::function<void()> postHelp;  // posts WM_HELP to the dialog itself
    std::function<bool(std::u16string_view topic)> openHelp;
  };

  // `model`: the device's maker text as returned at start-up (empty when the query failed).
  AboutDialog(DialogView& view, TextFunction text, std::u16string model, Hooks hooks);

  void onInitDialog();
  void onActivate();
  void onCommand(int id);  // "Done" (1) and "Help" (40003)
  void onHelp();
  void onClose();
  void onSize();

 private:
  void fill();
  DialogView& view_;
  TextFunction text_;
  std::u16string model_;
  Hooks hooks_;
};

inline constexpr const char16_t* kProductAndVersion = u"Vistrel v2.1";
inline constexpr const char16_t* kMakerWebAddress = u"www.orvane.example";

}  // namespace ui
