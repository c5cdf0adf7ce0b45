// In-memory dialog templates from resource scripts: the dialog the system makes from the
// bytes has the script's caption, font, controls, classes, texts and styles.

#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "dialog_template_win32.h"

namespace {

using dialogs::win32::makeDialogTemplate;
using dialogs::win32::styleValue;

constexpr char kScript[] = R"(
7 DIALOGEX 0, 0, 200, 160
STYLE DS_MODALFRAME | WS_POPUP | WS_CAPTION | WS_SYSMENU
CAPTION "Tried"
FONT 8, "MS Shell Dlg"
BEGIN
  LTEXT "Left", 10, 5, 5, 40, 8
  CTEXT "Middle", 11, 50, 5, 40, 8
  PUSHBUTTON "Push", 12, 5, 20, 40, 14
  DEFPUSHBUTTON "Default", 13, 50, 20, 40, 14
  AUTOCHECKBOX "Box", 14, 5, 40, 40, 10
  GROUPBOX "Group", IDC_STATIC, 100, 5, 90, 50
  EDITTEXT 15, 5, 55, 40, 12, ES_NUMBER | ES_AUTOHSCROLL
  COMBOBOX 16, 50, 55, 40, 60, CBS_DROPDOWNLIST | WS_TABSTOP
  LISTBOX 17, 5, 75, 40, 40, LBS_NOTIFY | WS_VSCROLL | WS_TABSTOP
  ICON 101, 18, 50, 75, 20, 20
  CONTROL "Own", 19, "Button", BS_AUTORADIOBUTTON | WS_TABSTOP, 100, 75, 40, 10
  AUTORADIOBUTTON "Radio", 20, 100, 90, 40, 10
END
)";

INT_PTR CALLBACK quietProcedure(HWND, UINT message, WPARAM, LPARAM) { return message == WM_INITDIALOG; }

class TemplateDialog : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string error;
    module_ = platform::ResourceModule::parse(kScript, "tried.rc", error);
    ASSERT_NE(module_, nullptr) << error;
    bytes_ = makeDialogTemplate(*module_->dialog(7));
    window_ = CreateDialogIndirectParamW(GetModuleHandleW(nullptr), reinterpret_cast<const DLGTEMPLATE*>(bytes_.data()),
                                         nullptr, &quietProcedure, 0);
    ASSERT_NE(window_, nullptr) << "the system refused the template: " << GetLastError();
  }
  void TearDown() override {
    if (window_ != nullptr) DestroyWindow(window_);
  }
  static std::wstring text(HWND w) {
    wchar_t buffer[128] = {};
    return std::wstring(buffer, static_cast<size_t>(GetWindowTextW(w, buffer, 128)));
  }
  static std::wstring className(HWND w) {
    wchar_t buffer[64] = {};
    return std::wstring(buffer, static_cast<size_t>(GetClassNameW(w, buffer, 64)));
  }

  std::unique_ptr<platform::ResourceModule> module_;
  std::vector<uint8_t> bytes_;
  HWND window_ = nullptr;
};

TEST_F(TemplateDialog, TheSystemMakesTheScriptsDialog) {
  EXPECT_EQ(text(window_), L"Tried");
  const LONG style = GetWindowLongW(window_, GWL_STYLE);
  EXPECT_TRUE(style & WS_CAPTION);
  EXPECT_TRUE(style & WS_SYSMENU);
  EXPECT_TRUE(style & WS_POPUP);
  LOGFONTW font{};
  const auto handle = reinterpret_cast<HGDIOBJ>(SendMessageW(window_, WM_GETFONT, 0, 0));
  ASSERT_NE(handle, nullptr) << "the script's font was not given to the dialog";
  ASSERT_NE(GetObjectW(handle, sizeof(font), &font), 0);
  EXPECT_EQ(std::wstring(font.lfFaceName).empty(), false);

  struct Case {
    int id;
    const wchar_t* className;
    const wchar_t* text;
    LONG typeMask;  // the bits that tell the control's kind
    LONG type;
    LONG alsoSet;   // further bits that must be set
  };
  const Case cases[] = {
      {10, L"Static", L"Left", SS_TYPEMASK, SS_LEFT, WS_GROUP},
      {11, L"Static", L"Middle", SS_TYPEMASK, SS_CENTER, 0},
      {12, L"Button", L"Push", BS_TYPEMASK, BS_PUSHBUTTON, WS_TABSTOP},
      {13, L"Button", L"Default", BS_TYPEMASK, BS_DEFPUSHBUTTON, WS_TABSTOP},
      {14, L"Button", L"Box", BS_TYPEMASK, BS_AUTOCHECKBOX, WS_TABSTOP},
      {15, L"Edit", L"", 0, 0, ES_NUMBER | ES_AUTOHSCROLL},
      {16, L"ComboBox", L"", 3, CBS_DROPDOWNLIST, WS_TABSTOP},
      {17, L"ListBox", L"", 0, 0, LBS_NOTIFY | WS_TABSTOP},  // the scroll bar comes with items
      {18, L"Static", L"", SS_TYPEMASK, SS_ICON, 0},
      {19, L"Button", L"Own", BS_TYPEMASK, BS_AUTORADIOBUTTON, WS_TABSTOP},
      {20, L"Button", L"Radio", BS_TYPEMASK, BS_AUTORADIOBUTTON, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.id);
    HWND control = GetDlgItem(window_, c.id);
    ASSERT_NE(control, nullptr);
    EXPECT_EQ(className(control), c.className);
    EXPECT_EQ(text(control), c.text);
    const LONG controlStyle = GetWindowLongW(control, GWL_STYLE);
    EXPECT_EQ(controlStyle & c.typeMask, c.type);
    EXPECT_EQ(controlStyle & c.alsoSet, c.alsoSet);
    EXPECT_TRUE(controlStyle & WS_CHILD);
    EXPECT_TRUE(controlStyle & WS_VISIBLE);
  }
  // An edit box has its frame (the system may draw it as a sunken edge instead).
  HWND edit = GetDlgItem(window_, 15);
  EXPECT_TRUE((GetWindowLongW(edit, GWL_STYLE) & WS_BORDER) || (GetWindowLongW(edit, GWL_EXSTYLE) & WS_EX_CLIENTEDGE));
  // The group box has no identifier of its own: it is found by its text.
  EXPECT_NE(FindWindowExW(window_, nullptr, L"Button", L"Group"), nullptr);
  // Positions are dialog units: the second text starts right of the first.
  RECT left, middle;
  GetWindowRect(GetDlgItem(window_, 10), &left);
  GetWindowRect(GetDlgItem(window_, 11), &middle);
  EXPECT_GT(middle.left, left.left);
}

TEST(StyleValue, NamesAndNumbers) {
  EXPECT_EQ(styleValue("WS_TABSTOP"), WS_TABSTOP);
  EXPECT_EQ(styleValue("0x80"), 0x80u);
  EXPECT_EQ(styleValue("12"), 12u);
  EXPECT_FALSE(styleValue("WS_NOSUCHSTYLE"));
  EXPECT_FALSE(styleValue("12abc"));
}

}  // namespace
