#pragma once

// "Settings" of the link to the PC (dialog 600, full screen, menu bar 150 with "Done"):
// "Autodetect IP" (1004), the address (1006, label 1002), "Port" (1007) and "Timeout"
// in seconds (1003). The values stay in the target's memory; Release writes them.
//
// Threading: the window thread.

#include <functional>
#include <string>
#include <string_view>

#include "ui/dialog_view.h"

namespace targets {

class NetworkTarget;

class NetworkSettingsDialog {
 public:
  static constexpr int kTemplateId = 600;
  static constexpr int kMenuBarId = 150;
  static constexpr int kAutodetect = 1004;
  static constexpr int kAddressLabel = 1002;
  static constexpr int kAddress = 1006;
  static constexpr int kPort = 1007;
  static constexpr int kTimeout = 1003;

  NetworkSettingsDialog(NetworkTarget& target, ui::DialogView& view,
                        std::function<bool(std::u16string_view topic)> openHelp,
                        std::u16string doneText);

  void onInitDialog();
  void onCommand(int id);  // kAutodetect clicks and "Done" (1)
  void onClose();
  void onHelp();
  void onSize();

 private:
  NetworkTarget& target_;
  ui::DialogView& view_;
  std::function<bool(std::u16string_view)> openHelp_;
  std::u16string doneText_;
};

// A dialog number as the system's integer reading takes it: optional blanks, an optional
// sign, decimal digits and nothing else. False when it is not such a number.
bool readDialogNumber(const std::u16string& text, long long& value);

}  // namespace targets
