#pragma once

// The "Connecting..." dialog (template 602): the PC's address in field 1032, the attempt
// count in field 1033, and "Cancel" (identifier 2). It is open while capture runs and the
// link is down; Cancel stops capture, and the dialog closes by itself once the link is up.

#include <atomic>
#include <cstdint>
#include <string>

namespace targets {

inline constexpr int kConnectingDialogId = 602;
inline constexpr int kFieldAddress = 1032;
inline constexpr int kFieldAttempts = 1033;
inline constexpr int kConnectingCancel = 2;

struct Rect {
  int left = 0;
  int top = 0;
  int right = 0;
  int bottom = 0;
  int width() const { return right - left; }
  int height() const { return bottom - top; }
};

// Centred across the parent and one quarter of the free height down, size unchanged.
Rect placeOverParent(const Rect& parent, const Rect& dialog);

// "%d.%d.%d.%d" of an address in network order, first octet first.
std::u16string dottedAddress(uint32_t networkOrder);

// What the dialog's logic sees of its window.
// Threading: the window thread only.
class ConnectingView {
 public:
  virtual ~ConnectingView() = default;
  virtual void setItemText(int controlId, const std::u16string& text) = 0;
  virtual Rect parentRect() const = 0;
  virtual Rect dialogRect() const = 0;
  virtual void moveTo(const Rect& rect) = 0;
  // Asks the window to close (WM_CLOSE posted); the front then calls onClose().
  virtual void postClose() = 0;
  virtual void openHelp(const std::u16string& topic) = 0;
  virtual void endDialog(int result) = 0;
};

// The dialog's logic. The sending thread reports the address and attempt count through
// report(); the front delivers them to the window with showStatus() on its own thread.
class ConnectingDialog {
 public:
  // WM_INITDIALOG: remembers the view, places the window, shows the last status.
  void onInitDialog(ConnectingView& view);
  void onSettingChange();
  void onClose();               // ends with 1
  void onCommand(int id);       // 1 or 2 end with 0
  void onHelp();
  // Shows the last reported address and count in fields 1032 and 1033.
  void showStatus();
  // The window is gone (the modal run returned).
  void onDestroyed() { view_ = nullptr; }
  bool open() const { return view_ != nullptr; }
  // Posts a close request when the window is open.
  void requestClose();

  // From the sending thread.
  void report(uint32_t address, uint32_t attempts) {
    address_.store(address);
    attempts_.store(attempts);
  }
  uint32_t address() const { return address_.load(); }
  uint32_t attempts() const { return attempts_.load(); }

 private:
  void place();
  ConnectingView* view_ = nullptr;
  std::atomic<uint32_t> address_{0};
  std::atomic<uint32_t> attempts_{0};
};

// Runs the dialog for the target. A windowed front runs it modally and keeps the timer
// going; a headless front has nobody to press Cancel and answers at once.
class ConnectingHost {
 public:
  virtual ~ConnectingHost() = default;
  // Window thread: runs the dialog; its result (0 = cancelled).
  virtual int runConnecting(ConnectingDialog& dialog) = 0;
  // Sending thread: the address or count changed (the host forwards it to the window).
  virtual void statusChanged(ConnectingDialog& dialog) = 0;
};

}  // namespace targets
