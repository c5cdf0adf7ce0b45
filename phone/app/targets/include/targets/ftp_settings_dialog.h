#pragma once

// "FTP" settings of the uploader (dialog 604, full screen, menu bar 150 with "Done"). The
// dialog is taller than the screen and scrolls vertically. Controls by identifier:
// server 1045, "Interval" 1052, "Port" 1046, "Login" 1047, "Password" 1048 (a password
// edit), "Directory" 1054, "File" 1050, check boxes "Passive Mode" 1049, "Use temp file"
// 1076, "Ignore errors" 1077, "Power safe" 1078; where a template has them, the check
// box 1053 for the page upload with its file name 1051 and label 1055, enabled only
// while 1053 is checked. The values stay in the target's memory; Release writes them.
//
// Threading: the window thread.

#include <functional>
#include <string>
#include <string_view>

#include "ui/dialog_view.h"

namespace targets {

class FtpTarget;

// What the dialog's scrolling needs of its window besides the controls.
class ScrollingView {
 public:
  virtual ~ScrollingView() = default;
  // The height of the visible part of the dialog (the page), in pixels.
  virtual int pageHeight() const = 0;
  // Sets the vertical scroll bar: range 0..maximum, the page and the thumb position.
  virtual void setScrollRange(int maximum, int page, int position) = 0;
  // Moves every control by `dy` pixels (negative: up).
  virtual void scrollContents(int dy) = 0;
};

class FtpSettingsDialog {
 public:
  static constexpr int kTemplateId = 604;
  static constexpr int kMenuBarId = 150;
  static constexpr int kServer = 1045;
  static constexpr int kInterval = 1052;
  static constexpr int kPort = 1046;
  static constexpr int kLogin = 1047;
  static constexpr int kPassword = 1048;
  static constexpr int kDirectory = 1054;
  static constexpr int kFile = 1050;
  static constexpr int kPassive = 1049;
  static constexpr int kUseTempFile = 1076;
  static constexpr int kIgnoreErrors = 1077;
  static constexpr int kPowerSafe = 1078;
  static constexpr int kUploadHtml = 1053;
  static constexpr int kFileHtml = 1051;
  static constexpr int kFileHtmlLabel = 1055;
  static constexpr int kLineStep = 16;  // pixels per scroll-bar arrow click

  enum class Scroll { kLineUp, kLineDown, kPageUp, kPageDown, kThumbTrack, kThumbPosition, kOther };

  // `contentHeight` is the dialog's full height at opening (its template height).
  FtpSettingsDialog(FtpTarget& target, ui::DialogView& view, ScrollingView& scrolling,
                    std::function<bool(std::u16string_view topic)> openHelp, std::u16string doneText,
                    int contentHeight);

  void onInitDialog();
  void onCommand(int id);  // clicks on 1053 and "Done" (1)
  void onClose();
  void onHelp();
  void onSize();
  void onVScroll(Scroll kind, int thumbPosition);

  int scrollPosition() const { return position_; }

 private:
  void enableHtml();
  void scrollTo(int position);

  FtpTarget& target_;
  ui::DialogView& view_;
  ScrollingView& scrolling_;
  std::function<bool(std::u16string_view)> openHelp_;
  std::u16string doneText_;
  int contentHeight_;
  int position_ = 0;
  bool menuBar_ = false;
};

}  // namespace targets
