#include "dialog_template_win32.h"

#include <windows.h>

#include <cstdlib>
#include <cstring>
#include <string>

namespace dialogs::win32 {

namespace {

struct NamedStyle {
  const char* name;
  uint32_t value;
};

constexpr NamedStyle kStyles[] = {
    {"WS_OVERLAPPED", WS_OVERLAPPED}, {"WS_POPUP", WS_POPUP}, {"WS_CHILD", WS_CHILD},
    {"WS_MINIMIZE", WS_MINIMIZE}, {"WS_VISIBLE", WS_VISIBLE}, {"WS_DISABLED", WS_DISABLED},
    {"WS_CLIPSIBLINGS", WS_CLIPSIBLINGS}, {"WS_CLIPCHILDREN", WS_CLIPCHILDREN}, {"WS_MAXIMIZE", WS_MAXIMIZE},
    {"WS_CAPTION", WS_CAPTION}, {"WS_BORDER", WS_BORDER}, {"WS_DLGFRAME", WS_DLGFRAME},
    {"WS_VSCROLL", WS_VSCROLL}, {"WS_HSCROLL", WS_HSCROLL}, {"WS_SYSMENU", WS_SYSMENU},
    {"WS_THICKFRAME", WS_THICKFRAME}, {"WS_GROUP", WS_GROUP}, {"WS_TABSTOP", WS_TABSTOP},
    {"WS_MINIMIZEBOX", WS_MINIMIZEBOX}, {"WS_MAXIMIZEBOX", WS_MAXIMIZEBOX},
    {"DS_ABSALIGN", DS_ABSALIGN}, {"DS_SYSMODAL", DS_SYSMODAL}, {"DS_LOCALEDIT", DS_LOCALEDIT},
    {"DS_SETFONT", DS_SETFONT}, {"DS_MODALFRAME", DS_MODALFRAME}, {"DS_NOIDLEMSG", DS_NOIDLEMSG},
    {"DS_SETFOREGROUND", DS_SETFOREGROUND}, {"DS_3DLOOK", DS_3DLOOK}, {"DS_FIXEDSYS", DS_FIXEDSYS},
    {"DS_NOFAILCREATE", DS_NOFAILCREATE}, {"DS_CONTROL", DS_CONTROL}, {"DS_CENTER", DS_CENTER},
    {"DS_CENTERMOUSE", DS_CENTERMOUSE}, {"DS_CONTEXTHELP", DS_CONTEXTHELP}, {"DS_SHELLFONT", DS_SHELLFONT},
    {"ES_LEFT", ES_LEFT}, {"ES_CENTER", ES_CENTER}, {"ES_RIGHT", ES_RIGHT}, {"ES_MULTILINE", ES_MULTILINE},
    {"ES_UPPERCASE", ES_UPPERCASE}, {"ES_LOWERCASE", ES_LOWERCASE}, {"ES_PASSWORD", ES_PASSWORD},
    {"ES_AUTOVSCROLL", ES_AUTOVSCROLL}, {"ES_AUTOHSCROLL", ES_AUTOHSCROLL}, {"ES_NOHIDESEL", ES_NOHIDESEL},
    {"ES_READONLY", ES_READONLY}, {"ES_WANTRETURN", ES_WANTRETURN}, {"ES_NUMBER", ES_NUMBER},
    {"LBS_NOTIFY", LBS_NOTIFY}, {"LBS_SORT", LBS_SORT}, {"LBS_NOREDRAW", LBS_NOREDRAW},
    {"LBS_MULTIPLESEL", LBS_MULTIPLESEL}, {"LBS_USETABSTOPS", LBS_USETABSTOPS},
    {"LBS_NOINTEGRALHEIGHT", LBS_NOINTEGRALHEIGHT}, {"LBS_EXTENDEDSEL", LBS_EXTENDEDSEL},
    {"LBS_DISABLENOSCROLL", LBS_DISABLENOSCROLL}, {"LBS_NOSEL", LBS_NOSEL}, {"LBS_STANDARD", LBS_STANDARD},
    {"CBS_SIMPLE", CBS_SIMPLE}, {"CBS_DROPDOWN", CBS_DROPDOWN}, {"CBS_DROPDOWNLIST", CBS_DROPDOWNLIST},
    {"CBS_AUTOHSCROLL", CBS_AUTOHSCROLL}, {"CBS_SORT", CBS_SORT}, {"CBS_HASSTRINGS", CBS_HASSTRINGS},
    {"CBS_NOINTEGRALHEIGHT", CBS_NOINTEGRALHEIGHT}, {"CBS_DISABLENOSCROLL", CBS_DISABLENOSCROLL},
    {"BS_PUSHBUTTON", BS_PUSHBUTTON}, {"BS_DEFPUSHBUTTON", BS_DEFPUSHBUTTON}, {"BS_CHECKBOX", BS_CHECKBOX},
    {"BS_AUTOCHECKBOX", BS_AUTOCHECKBOX}, {"BS_RADIOBUTTON", BS_RADIOBUTTON}, {"BS_3STATE", BS_3STATE},
    {"BS_AUTO3STATE", BS_AUTO3STATE}, {"BS_GROUPBOX", BS_GROUPBOX}, {"BS_AUTORADIOBUTTON", BS_AUTORADIOBUTTON},
    {"BS_LEFTTEXT", BS_LEFTTEXT}, {"BS_MULTILINE", BS_MULTILINE}, {"BS_NOTIFY", BS_NOTIFY}, {"BS_FLAT", BS_FLAT},
    {"SS_LEFT", SS_LEFT}, {"SS_CENTER", SS_CENTER}, {"SS_RIGHT", SS_RIGHT}, {"SS_ICON", SS_ICON},
    {"SS_BLACKRECT", SS_BLACKRECT}, {"SS_LEFTNOWORDWRAP", SS_LEFTNOWORDWRAP}, {"SS_BITMAP", SS_BITMAP},
    {"SS_ETCHEDHORZ", SS_ETCHEDHORZ}, {"SS_NOPREFIX", SS_NOPREFIX}, {"SS_NOTIFY", SS_NOTIFY},
    {"SS_CENTERIMAGE", SS_CENTERIMAGE}, {"SS_SUNKEN", SS_SUNKEN},
    {"WS_EX_DLGMODALFRAME", WS_EX_DLGMODALFRAME}, {"WS_EX_NOPARENTNOTIFY", WS_EX_NOPARENTNOTIFY},
    {"WS_EX_TOPMOST", WS_EX_TOPMOST}, {"WS_EX_TRANSPARENT", WS_EX_TRANSPARENT},
    {"WS_EX_TOOLWINDOW", WS_EX_TOOLWINDOW}, {"WS_EX_WINDOWEDGE", WS_EX_WINDOWEDGE},
    {"WS_EX_CLIENTEDGE", WS_EX_CLIENTEDGE}, {"WS_EX_CONTEXTHELP", WS_EX_CONTEXTHELP},
    {"WS_EX_STATICEDGE", WS_EX_STATICEDGE}, {"WS_EX_CONTROLPARENT", WS_EX_CONTROLPARENT},
    {"WS_EX_APPWINDOW", WS_EX_APPWINDOW},
};

uint32_t styleBits(const std::vector<std::string>& names) {
  uint32_t bits = 0;
  for (const std::string& n : names) bits |= styleValue(n).value_or(0);
  return bits;
}

// The class ordinals of the predefined control classes.
constexpr uint16_t kButtonClass = 0x0080, kEditClass = 0x0081, kStaticClass = 0x0082, kListBoxClass = 0x0083,
                   kScrollBarClass = 0x0084, kComboBoxClass = 0x0085;

struct ControlKind {
  const char* statement;
  uint16_t classOrdinal;
  uint32_t fixed;     // the statement's own bits (button kind, text alignment)
  uint32_t defaults;  // what the statement adds when the script gives no style
};

constexpr ControlKind kKinds[] = {
    {"LTEXT", kStaticClass, SS_LEFT, WS_GROUP},
    {"RTEXT", kStaticClass, SS_RIGHT, WS_GROUP},
    {"CTEXT", kStaticClass, SS_CENTER, WS_GROUP},
    {"ICON", kStaticClass, SS_ICON, 0},
    {"PUSHBUTTON", kButtonClass, BS_PUSHBUTTON, WS_TABSTOP},
    {"DEFPUSHBUTTON", kButtonClass, BS_DEFPUSHBUTTON, WS_TABSTOP},
    {"CHECKBOX", kButtonClass, BS_CHECKBOX, WS_TABSTOP},
    {"AUTOCHECKBOX", kButtonClass, BS_AUTOCHECKBOX, WS_TABSTOP},
    {"RADIOBUTTON", kButtonClass, BS_RADIOBUTTON, 0},
    {"AUTORADIOBUTTON", kButtonClass, BS_AUTORADIOBUTTON, 0},
    {"STATE3", kButtonClass, BS_3STATE, WS_TABSTOP},
    {"AUTO3STATE", kButtonClass, BS_AUTO3STATE, WS_TABSTOP},
    {"GROUPBOX", kButtonClass, BS_GROUPBOX, 0},
    {"EDITTEXT", kEditClass, ES_LEFT | WS_BORDER, WS_TABSTOP},
    {"COMBOBOX", kComboBoxClass, 0, CBS_SIMPLE | WS_TABSTOP},
    {"LISTBOX", kListBoxClass, WS_BORDER, LBS_NOTIFY | WS_VSCROLL},
    {"SCROLLBAR", kScrollBarClass, 0, 0},
};

class Writer {
 public:
  void word(uint16_t v) { bytes_.insert(bytes_.end(), {static_cast<uint8_t>(v), static_cast<uint8_t>(v >> 8)}); }
  void dword(uint32_t v) {
    word(static_cast<uint16_t>(v));
    word(static_cast<uint16_t>(v >> 16));
  }
  void text(const std::u16string& s) {
    for (char16_t c : s) word(c);
    word(0);
  }
  void align4() {
    while (bytes_.size() % 4 != 0) bytes_.push_back(0);
  }
  std::vector<uint8_t> take() { return std::move(bytes_); }

 private:
  std::vector<uint8_t> bytes_;
};

int16_t unit(int32_t v) { return static_cast<int16_t>(v < -32768 ? -32768 : v > 32767 ? 32767 : v); }

}  // namespace

std::optional<uint32_t> styleValue(std::string_view name) {
  if (!name.empty() && name[0] >= '0' && name[0] <= '9') {
    const std::string text(name);
    char* end = nullptr;
    const unsigned long v = std::strtoul(text.c_str(), &end, 0);
    if (end == text.c_str() || *end != '\0') return std::nullopt;
    return static_cast<uint32_t>(v);
  }
  for (const NamedStyle& s : kStyles) {
    if (name == s.name) return s.value;
  }
  return std::nullopt;
}

std::vector<uint8_t> makeDialogTemplate(const platform::DialogTemplate& dialog) {
  Writer w;
  uint32_t style = styleBits(dialog.style);
  const bool font = !dialog.fontName.empty();
  if (font) style |= DS_SETFONT;
  w.word(1);       // version of the extended layout
  w.word(0xFFFF);  // its signature
  w.dword(0);      // help id
  w.dword(styleBits(dialog.exStyle));
  w.dword(style);
  w.word(static_cast<uint16_t>(dialog.controls.size()));
  w.word(static_cast<uint16_t>(unit(dialog.x)));
  w.word(static_cast<uint16_t>(unit(dialog.y)));
  w.word(static_cast<uint16_t>(unit(dialog.width)));
  w.word(static_cast<uint16_t>(unit(dialog.height)));
  w.word(0);  // no menu
  w.word(0);  // the dialog class
  w.text(dialog.caption);
  if (font) {
    w.word(static_cast<uint16_t>(dialog.fontSize));
    w.word(FW_NORMAL);
    w.word(0);  // not italic, default character set
    w.text(dialog.fontName);
  }
  for (const platform::DialogControl& c : dialog.controls) {
    w.align4();
    const ControlKind* kind = nullptr;
    for (const ControlKind& k : kKinds) {
      if (c.statement == k.statement) kind = &k;
    }
    uint32_t controlStyle = WS_CHILD | WS_VISIBLE | styleBits(c.style);
    if (kind != nullptr) controlStyle |= kind->fixed | (c.style.empty() ? kind->defaults : 0);
    w.dword(0);  // help id
    w.dword(styleBits(c.exStyle));
    w.dword(controlStyle);
    w.word(static_cast<uint16_t>(unit(c.x)));
    w.word(static_cast<uint16_t>(unit(c.y)));
    w.word(static_cast<uint16_t>(unit(c.width)));
    w.word(static_cast<uint16_t>(unit(c.height)));
    w.dword(static_cast<uint32_t>(c.id));
    if (kind != nullptr) {
      w.word(0xFFFF);
      w.word(kind->classOrdinal);
    } else {
      w.text(std::u16string(c.className.begin(), c.className.end()));
    }
    // An icon's picture is set at run time from its file: its title stays empty.
    w.text(c.statement == "ICON" ? std::u16string() : c.text);
    w.word(0);  // no creation data
  }
  return w.take();
}

}  // namespace dialogs::win32
