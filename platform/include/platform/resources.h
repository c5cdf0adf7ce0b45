#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

// Resource modules: the string tables, dialog templates and menus of a program or of one
// of its translations, kept as resource scripts in a small subset of the Windows
// resource-script syntax and read at run time. See docs/resources.md for the subset.
//
// The reader is strict: anything outside the subset fails the whole script with
// "file:line: message", and the caller falls back to another module.
//
// Threading: a loaded module is immutable and may be read from any thread.

// One control of a dialog template; positions and sizes in dialog units.
struct DialogControl {
  std::string statement;   // the script keyword: "LTEXT", "EDITTEXT", "CONTROL", "ICON", ...
  std::u16string text;     // label, or the resource name of a picture
  int32_t resourceId = 0;  // picture resource given by number (ICON 153, ...), else 0
  int32_t id = -1;         // control identifier; -1 for static texts without one
  std::string className;   // "STATIC", "BUTTON", "EDIT", "COMBOBOX", "LISTBOX", or the CONTROL class
  std::vector<std::string> style;    // names and numbers of the style expression, in order
  std::vector<std::string> exStyle;
  int32_t x = 0, y = 0, width = 0, height = 0;

  bool hasStyle(std::string_view name) const;
};

struct DialogTemplate {
  uint32_t id = 0;
  bool extended = false;  // DIALOGEX
  int32_t x = 0, y = 0, width = 0, height = 0;
  std::u16string caption;
  std::vector<std::string> style;
  std::vector<std::string> exStyle;
  std::u16string fontName;
  int32_t fontSize = 0;
  std::vector<DialogControl> controls;

  // The first control with this identifier, or null.
  const DialogControl* control(int32_t controlId) const;
};

struct MenuEntry {
  std::u16string text;
  int32_t id = 0;
  bool separator = false;
  bool popup = false;
  std::vector<std::string> options;  // CHECKED, GRAYED, ... as written
  std::vector<MenuEntry> items;       // of a popup
};

// A MENU or MENUEX resource. A menu bar is a MENUEX whose top-level entries are its
// buttons: MENUITEM for a plain button, POPUP "text", id for one that opens a popup.
struct MenuTemplate {
  uint32_t id = 0;
  bool extended = false;
  std::vector<MenuEntry> items;
};

struct Accelerator {
  int32_t key = 0;        // character, or virtual key code with VIRTKEY
  int32_t command = 0;
  std::vector<std::string> options;  // VIRTKEY, CONTROL, SHIFT, ALT, ...
};

class ResourceModule {
 public:
  // Reads the script at `path`. Null with `error` set ("path:line: message", or
  // "path: cannot be read") when it is missing or not valid.
  static std::unique_ptr<ResourceModule> load(const std::string& path, std::string& error);
  // Parses script text; `fileName` names it in errors.
  static std::unique_ptr<ResourceModule> parse(std::string_view text, std::string_view fileName,
                                               std::string& error);

  // The string resource, or null when there is none.
  const std::u16string* string(uint32_t id) const;
  // Copies at most `capacityChars` - 1 characters of the string resource and a
  // terminating zero into `buffer`; returns the characters copied, 0 when there is none.
  size_t loadString(uint32_t id, char16_t* buffer, size_t capacityChars) const;

  const DialogTemplate* dialog(uint32_t id) const;
  const MenuTemplate* menu(uint32_t id) const;
  // File name of an ICON resource (relative to the script's folder), or null.
  const std::string* icon(uint32_t id) const;
  const std::vector<Accelerator>* accelerators(uint32_t id) const;

  // The module's LANGUAGE as a language id (primary | sub << 10); 0 when not stated.
  uint16_t language() const { return language_; }
  const std::string& fileName() const { return fileName_; }

  const std::map<uint32_t, std::u16string>& strings() const { return strings_; }
  const std::map<uint32_t, DialogTemplate>& dialogs() const { return dialogs_; }
  const std::map<uint32_t, MenuTemplate>& menus() const { return menus_; }

 private:
  friend class ResourceScriptParser;
  std::string fileName_;
  uint16_t language_ = 0;
  std::map<uint32_t, std::u16string> strings_;
  std::map<uint32_t, DialogTemplate> dialogs_;
  std::map<uint32_t, MenuTemplate> menus_;
  std::map<uint32_t, std::string> icons_;
  std::map<uint32_t, std::vector<Accelerator>> accelerators_;
};

// Full path of the running program file; empty when it cannot be found.
std::string programFilePath();

}  // namespace platform
