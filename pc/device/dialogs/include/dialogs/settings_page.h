#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "dialogs/language_list.h"
#include "protocol/property_list.h"
#include "settings/device_settings.h"
#include "ui/dialog_view.h"

namespace dialogs {

// How often a window front's page looks for a new property list from the phone
// (milliseconds).
inline constexpr int kPropertyPollMs = 250;

// Resource identifiers of the PC library's dialogs and texts.
inline constexpr int kFrameTemplate = 102;     // "Settings": the frame with button 1
inline constexpr int kPageTemplate = 103;      // the settings page
inline constexpr int kAboutTemplate = 104;     // "About"
inline constexpr int kIconResource = 101;
inline constexpr uint32_t kPageTitleText = 105;
inline constexpr uint32_t kDefaultLanguageText = 109;
inline constexpr uint32_t kPortRangeText = 111;  // "The port must be a number from 1 to 65535."
inline constexpr uint32_t kFrameCaptionText = 1019;
inline constexpr uint32_t kFrameButtonText = 1020;

// Controls of the settings page.
inline constexpr int kResolutionList = 1000;
inline constexpr int kRotationList = 1002;
inline constexpr int kMirrorBox = 1003;
inline constexpr int kPropertyList = 1004;
inline constexpr int kValueList = 1005;
inline constexpr int kConnectButton = 1008;
inline constexpr int kPortEdit = 1009;
inline constexpr int kConnectAtStartupBox = 1010;
inline constexpr int kAboutButton = 1011;
inline constexpr int kLanguageList = 1016;
// Controls of the About box.
inline constexpr int kAboutIcon = 1015;
inline constexpr int kAboutVersion = 1017;
inline constexpr int kAboutLink = 1012;
inline constexpr int kAboutMailLabel = 1018;
inline constexpr int kAboutMail = 1013;

inline constexpr char16_t kVersionText[] = u"Vistrel v2.1";
inline constexpr char kMakerWebAddress[] = "http://www.orvane.example/";

struct Resolution {
  uint32_t width, height;
};
inline constexpr Resolution kResolutions[8] = {{160, 120}, {176, 144},  {320, 240},   {352, 288},
                                               {640, 480}, {1280, 960}, {1280, 1024}, {1600, 1200}};

// What the settings page works on: the engine's settings, the phone's property list and
// the library's languages.
//
// Threading: the window thread; readProperties may run while the frame server's parser
// replaces the list (the host serialises).
class SettingsHost {
 public:
  virtual ~SettingsHost() = default;
  virtual settings::DeviceSettings settings() = 0;
  // Applies a record from the page and saves it.
  virtual void apply(const settings::DeviceSettings& settings) = 0;
  virtual void readProperties(
      const std::function<void(const std::vector<protocol::PropertyEntry>&)>& reader) = 0;
  // The PC's copy takes the index and the set-property command goes to the phone.
  virtual bool setProperty(uint32_t key, uint32_t index) = 0;
  // Connect: opens the engine and starts the phone launcher with the port plus 65536.
  virtual void connect() = 0;
  virtual void showAbout() = 0;
  // The language list (read on the window thread), and choosing one of its entries:
  // its language is loaded with the fallbacks of LanguageList::select. Returns the
  // chosen entry's id.
  virtual const LanguageList& languages() = 0;
  virtual uint16_t selectLanguage(uint32_t index) = 0;
  // Texts of the loaded language module.
  virtual std::u16string text(uint32_t id) = 0;
};

// One property as the page shows it: its name, and the items that can be chosen with
// their texts.
struct ShownProperty {
  uint32_t key = 0;
  std::u16string name;
  std::vector<uint32_t> items;         // item indices of the list's lines
  std::vector<std::u16string> texts;   // the lines
  int selectedLine = -1;               // line of the current value; -1 when not selectable
  bool operator==(const ShownProperty&) const = default;
};

// The most values one property shows: a window around the current value of a longer range.
inline constexpr uint32_t kMaxShownValues = 1024;

// The listable properties of a property list, in list order.
std::vector<ShownProperty> shownProperties(const std::vector<protocol::PropertyEntry>& list);

// The settings page (template 103): the phone's properties and values, the picture
// settings, the port, connecting at start-up, Connect, the language and About. Every
// change is applied and saved at once.
//
// Threading: the window thread.
class SettingsPage {
 public:
  SettingsPage(ui::DialogView& view, SettingsHost& host);

  void onInitDialog();
  // Selection changes of lists, clicks of buttons and boxes.
  void onSelectionChanged(int id);
  void onCommand(int id);
  // The port box lost the focus.
  void onPortEditDone();
  // Refills the property lists when the phone's list changed since they were filled
  // (called when the engine reports a change, or on a timer of kPropertyPollMs).
  void refreshProperties();

  const std::vector<ShownProperty>& properties() const { return shown_; }

 private:
  void fillProperties(bool force);
  void fillValues();
  void applyWorking();

  ui::DialogView& view_;
  SettingsHost& host_;
  settings::DeviceSettings working_;
  std::vector<ShownProperty> shown_;
  uint32_t chosenKey_ = 0;
  bool haveChosen_ = false;
};

// Extras a front offers beyond the dialog view: the window's caption, hiding controls,
// a control made into a web link, and a control showing an icon.
class WindowExtras {
 public:
  virtual ~WindowExtras() = default;
  virtual void setCaption(const std::u16string& caption) = 0;
  virtual void showItem(int id, bool shown) = 0;
  virtual void makeLink(int id, const std::u16string& text) = 0;
  virtual void setIcon(int id, int iconResource) = 0;
};

// The settings frame (template 102): caption and button text from the texts; button 1 or
// closing the window ends it.
class SettingsFrame {
 public:
  SettingsFrame(ui::DialogView& view, WindowExtras& extras, SettingsHost& host);
  void onInitDialog();
  void onCommand(int id);
  void onClose();

 private:
  ui::DialogView& view_;
  WindowExtras& extras_;
  SettingsHost& host_;
};

// The About box (template 104): icon, version, the maker's web address as a link, the
// e-mail lines hidden. Buttons 1 and 2 close it; the link opens the address.
class AboutBox {
 public:
  AboutBox(ui::DialogView& view, WindowExtras& extras, std::function<bool(const std::string&)> open);
  void onInitDialog();
  void onCommand(int id);
  void onLinkClicked();

 private:
  ui::DialogView& view_;
  WindowExtras& extras_;
  std::function<bool(const std::string&)> open_;
};

}  // namespace dialogs
