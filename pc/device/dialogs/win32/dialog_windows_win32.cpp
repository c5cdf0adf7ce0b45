#include "dialog_windows_win32.h"

#include <string>

#include "dialog_template_win32.h"
#include "page_window_win32.h"
#include "platform/help.h"
#include "platform/utf16.h"

namespace dialogs::win32 {

namespace {

const wchar_t* wide(const std::u16string& s) { return reinterpret_cast<const wchar_t*>(s.c_str()); }

constexpr COLORREF kLinkColour = RGB(0, 0, 192);
constexpr UINT_PTR kPollTimer = 1;

HINSTANCE thisModule() {
  HMODULE module = nullptr;
  GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                     reinterpret_cast<LPCWSTR>(&thisModule), &module);
  return module;
}

bool hasClass(HWND control, const wchar_t* name) {
  wchar_t className[32] = {};
  return control != nullptr && GetClassNameW(control, className, 32) > 0 && lstrcmpiW(className, name) == 0;
}

// A modal dialog whose procedure is a member: the object rides in the dialog's user data.
template <typename Window>
INT_PTR CALLBACK modalProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_INITDIALOG) SetWindowLongPtrW(window, DWLP_USER, lParam);
  auto* self = reinterpret_cast<Window*>(GetWindowLongPtrW(window, DWLP_USER));
  return self != nullptr ? self->handle(window, message, wParam, lParam) : FALSE;
}

// Runs the dialog of `bytes` modally over `parent`; its result, -1 when it could not be made.
int runModal(const std::vector<uint8_t>& bytes, HWND parent, DLGPROC procedure, void* window) {
  return static_cast<int>(DialogBoxIndirectParamW(thisModule(), reinterpret_cast<const DLGTEMPLATE*>(bytes.data()),
                                                  parent, procedure, reinterpret_cast<LPARAM>(window)));
}

// The settings frame (102) holding the page (103).
class SettingsWindow {
 public:
  SettingsWindow(const DialogRequest& request, const platform::DialogTemplate& frame,
                 const platform::DialogTemplate& page)
      : template_(makeDialogTemplate(frame)),
        view_(true),
        presenter_(view_, view_, *request.host),
        page_(page, *request.host) {}

  int run(HWND parent) { return runModal(template_, parent, &modalProcedure<SettingsWindow>, this); }

  INT_PTR handle(HWND window, UINT message, WPARAM wParam, LPARAM) {
    switch (message) {
      case WM_INITDIALOG:
        view_.attach(window);
        presenter_.onInitDialog();
        if (page_.create(window)) {
          SetWindowPos(page_.window(), HWND_TOP, 0, 0, 0, 0, SWP_NOSIZE | SWP_SHOWWINDOW);
        }
        return TRUE;
      case WM_COMMAND:
        if (LOWORD(wParam) == IDCANCEL) {
          presenter_.onClose();
        } else if (HIWORD(wParam) == BN_CLICKED) {
          presenter_.onCommand(LOWORD(wParam));
        }
        return TRUE;
      case WM_CLOSE:
        presenter_.onClose();
        return TRUE;
      case WM_DESTROY:
        page_.destroy();
        return FALSE;
      default:
        return FALSE;
    }
  }

 private:
  std::vector<uint8_t> template_;
  DialogWindowView view_;
  SettingsFrame presenter_;
  PageWindow page_;
};

// The About box (104).
class AboutWindow {
 public:
  AboutWindow(const DialogRequest& request, const platform::DialogTemplate& about)
      : template_(makeDialogTemplate(about)),
        view_(true, request.iconPath),
        presenter_(view_, view_, [](const std::string& address) {
          return platform::systemProgramStarter().start({platform::kDesktopOpener, address});
        }) {}

  int run(HWND parent) { return runModal(template_, parent, &modalProcedure<AboutWindow>, this); }

  INT_PTR handle(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
      case WM_INITDIALOG:
        view_.attach(window);
        presenter_.onInitDialog();
        return TRUE;
      case WM_COMMAND:
        if (view_.linkId() != 0 && LOWORD(wParam) == view_.linkId()) {
          if (HIWORD(wParam) == STN_CLICKED) presenter_.onLinkClicked();
        } else {
          presenter_.onCommand(LOWORD(wParam));
        }
        return TRUE;
      case WM_CLOSE:
        presenter_.onCommand(IDCANCEL);
        return TRUE;
      case WM_CTLCOLORSTATIC:
        // The link's text in its colour.
        if (view_.linkId() != 0 && reinterpret_cast<HWND>(lParam) == GetDlgItem(window, view_.linkId())) {
          const HDC dc = reinterpret_cast<HDC>(wParam);
          SetTextColor(dc, kLinkColour);
          SetBkMode(dc, TRANSPARENT);
          return reinterpret_cast<INT_PTR>(GetSysColorBrush(COLOR_BTNFACE));
        }
        return FALSE;
      case WM_SETCURSOR:
        // A hand over the link (the arrow when the system has no hand cursor).
        if (view_.linkId() != 0 && reinterpret_cast<HWND>(wParam) == GetDlgItem(window, view_.linkId())) {
          HCURSOR hand = LoadCursorW(nullptr, IDC_HAND);
          SetCursor(hand != nullptr ? hand : LoadCursorW(nullptr, IDC_ARROW));
          SetWindowLongPtrW(window, DWLP_MSGRESULT, TRUE);
          return TRUE;
        }
        return FALSE;
      default:
        return FALSE;
    }
  }

 private:
  std::vector<uint8_t> template_;
  DialogWindowView view_;
  AboutBox presenter_;
};

}  // namespace

// ---- the link ------------------------------------------------------------------------

// The link's window properties: its previous procedure, its own font and the underlined
// copy shown while the pointer is over it.
constexpr wchar_t kPreviousProcedure[] = L"HOProc";
constexpr wchar_t kNormalFont[] = L"HOFont";
constexpr wchar_t kUnderlinedFont[] = L"HUFont";

LRESULT CALLBACK linkProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  const auto previous = reinterpret_cast<WNDPROC>(GetPropW(window, kPreviousProcedure));
  switch (message) {
    case WM_MOUSEMOVE: {
      // Underlined while the pointer is inside: the pointer is captured on entering and
      // let go on leaving, which restores the font (WM_CAPTURECHANGED).
      RECT area;
      GetClientRect(window, &area);
      const POINT at{static_cast<short>(LOWORD(lParam)), static_cast<short>(HIWORD(lParam))};
      if (PtInRect(&area, at)) {
        if (GetCapture() != window) {
          SetCapture(window);
          SendMessageW(window, WM_SETFONT, reinterpret_cast<WPARAM>(GetPropW(window, kUnderlinedFont)), TRUE);
        }
      } else if (GetCapture() == window) {
        ReleaseCapture();
      }
      break;
    }
    case WM_CAPTURECHANGED:
      SendMessageW(window, WM_SETFONT, reinterpret_cast<WPARAM>(GetPropW(window, kNormalFont)), TRUE);
      break;
    case WM_NCDESTROY:
      SetWindowLongPtrW(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(previous));
      DeleteObject(static_cast<HFONT>(RemovePropW(window, kUnderlinedFont)));
      RemovePropW(window, kNormalFont);
      RemovePropW(window, kPreviousProcedure);
      break;
    default:
      break;
  }
  return CallWindowProcW(previous, window, message, wParam, lParam);
}

// ---- the view ------------------------------------------------------------------------

void DialogWindowView::wrapLink(HWND control) {
  auto normal = reinterpret_cast<HFONT>(SendMessageW(control, WM_GETFONT, 0, 0));
  LOGFONTW font{};
  if (GetObjectW(normal != nullptr ? static_cast<HGDIOBJ>(normal) : GetStockObject(DEFAULT_GUI_FONT), sizeof(font),
                 &font) == 0) {
    return;
  }
  font.lfUnderline = TRUE;
  HFONT underlined = CreateFontIndirectW(&font);
  if (underlined == nullptr) return;
  SetPropW(control, kNormalFont, normal);
  SetPropW(control, kUnderlinedFont, underlined);
  SetPropW(control, kPreviousProcedure, reinterpret_cast<HANDLE>(GetWindowLongPtrW(control, GWLP_WNDPROC)));
  SetWindowLongPtrW(control, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&linkProcedure));
}

DialogWindowView::DialogWindowView(bool modal, std::string iconPath) : modal_(modal), iconPath_(std::move(iconPath)) {}

DialogWindowView::~DialogWindowView() {
  if (icon_ != nullptr) DestroyIcon(icon_);
}

bool DialogWindowView::isComboBox(int controlId) const {
  return hasClass(GetDlgItem(window_, controlId), L"ComboBox");
}

void DialogWindowView::resetListItems(int controlId) {
  SendDlgItemMessageW(window_, controlId, isComboBox(controlId) ? CB_RESETCONTENT : LB_RESETCONTENT, 0, 0);
}

void DialogWindowView::addListItem(int controlId, const std::u16string& text) {
  SendDlgItemMessageW(window_, controlId, isComboBox(controlId) ? CB_ADDSTRING : LB_ADDSTRING, 0,
                      reinterpret_cast<LPARAM>(wide(text)));
}

void DialogWindowView::setListSelection(int controlId, int index) {
  SendDlgItemMessageW(window_, controlId, isComboBox(controlId) ? CB_SETCURSEL : LB_SETCURSEL,
                      static_cast<WPARAM>(index), 0);
}

int DialogWindowView::listSelection(int controlId) const {
  const LRESULT r = SendDlgItemMessageW(window_, controlId, isComboBox(controlId) ? CB_GETCURSEL : LB_GETCURSEL, 0, 0);
  return r < 0 ? -1 : static_cast<int>(r);
}

int DialogWindowView::listCount(int controlId) const {
  const LRESULT r = SendDlgItemMessageW(window_, controlId, isComboBox(controlId) ? CB_GETCOUNT : LB_GETCOUNT, 0, 0);
  return r < 0 ? 0 : static_cast<int>(r);
}

void DialogWindowView::setItemText(int controlId, const std::u16string& text) {
  SetDlgItemTextW(window_, controlId, wide(text));
}

std::u16string DialogWindowView::itemText(int controlId) const {
  HWND control = GetDlgItem(window_, controlId);
  if (control == nullptr) return {};
  const int length = GetWindowTextLengthW(control);
  std::u16string text(static_cast<size_t>(length) + 1, u'\0');
  const int n = GetWindowTextW(control, reinterpret_cast<wchar_t*>(text.data()), length + 1);
  text.resize(static_cast<size_t>(n < 0 ? 0 : n));
  return text;
}

void DialogWindowView::setChecked(int controlId, bool checked) {
  CheckDlgButton(window_, controlId, checked ? BST_CHECKED : BST_UNCHECKED);
}

bool DialogWindowView::isChecked(int controlId) const {
  return IsDlgButtonChecked(window_, controlId) == BST_CHECKED;
}

void DialogWindowView::enableItem(int controlId, bool enabled) {
  if (HWND control = GetDlgItem(window_, controlId)) EnableWindow(control, enabled ? TRUE : FALSE);
}

void DialogWindowView::setMenuButtonText(int buttonId, const std::u16string& text) { setItemText(buttonId, text); }

void DialogWindowView::showMessage(const std::u16string& text, const std::u16string& caption) {
  MessageBoxW(GetAncestor(window_, GA_ROOT), wide(text), wide(caption), MB_OK | MB_ICONWARNING);
}

void DialogWindowView::endDialog(int result) {
  if (modal_) EndDialog(window_, result);
}

void DialogWindowView::setCaption(const std::u16string& caption) { SetWindowTextW(window_, wide(caption)); }

void DialogWindowView::showItem(int id, bool shown) {
  if (HWND control = GetDlgItem(window_, id)) ShowWindow(control, shown ? SW_SHOW : SW_HIDE);
}

void DialogWindowView::makeLink(int id, const std::u16string& text) {
  HWND control = GetDlgItem(window_, id);
  if (control == nullptr) return;
  // A static control tells its parent of clicks only with SS_NOTIFY.
  SetWindowLongPtrW(control, GWL_STYLE, GetWindowLongPtrW(control, GWL_STYLE) | SS_NOTIFY);
  SetWindowTextW(control, wide(text));
  if (link_ == 0) wrapLink(control);
  link_ = id;
}

void DialogWindowView::setIcon(int id, int) {
  HWND control = GetDlgItem(window_, id);
  if (control == nullptr || iconPath_.empty()) return;
  std::u16string path = platform::utf8ToUtf16Lossy(iconPath_);
  if (icon_ == nullptr) {
    icon_ = static_cast<HICON>(LoadImageW(nullptr, wide(path), IMAGE_ICON, 0, 0, LR_LOADFROMFILE | LR_DEFAULTSIZE));
  }
  if (icon_ != nullptr) SendMessageW(control, STM_SETICON, reinterpret_cast<WPARAM>(icon_), 0);
}

// ---- the page ------------------------------------------------------------------------

PageEvent pageEvent(int controlId, int code, bool listOrComboBox) {
  if (listOrComboBox) return code == LBN_SELCHANGE ? PageEvent::kSelectionChanged : PageEvent::kNone;
  if (controlId == kPortEdit) return code == EN_KILLFOCUS ? PageEvent::kPortEditDone : PageEvent::kNone;
  // "Connect at startup" follows every notification of its box; the others their clicks.
  if (controlId == kConnectAtStartupBox || code == BN_CLICKED) return PageEvent::kCommand;
  return PageEvent::kNone;
}

PageWindow::PageWindow(const platform::DialogTemplate& page, SettingsHost& host)
    : template_(makeDialogTemplate(page)), view_(false), presenter_(view_, host) {}

PageWindow::~PageWindow() { destroy(); }

bool PageWindow::create(HWND parent) {
  if (view_.window() != nullptr) return true;
  HWND window = CreateDialogIndirectParamW(thisModule(), reinterpret_cast<const DLGTEMPLATE*>(template_.data()),
                                          parent, &PageWindow::procedure, reinterpret_cast<LPARAM>(this));
  return window != nullptr;
}

void PageWindow::destroy() {
  HWND window = view_.window();
  if (window == nullptr) return;
  KillTimer(window, kPollTimer);
  DestroyWindow(window);
  view_.attach(nullptr);
}

INT_PTR CALLBACK PageWindow::procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_INITDIALOG) {
    SetWindowLongPtrW(window, DWLP_USER, lParam);
    reinterpret_cast<PageWindow*>(lParam)->view_.attach(window);
  }
  auto* self = reinterpret_cast<PageWindow*>(GetWindowLongPtrW(window, DWLP_USER));
  return self != nullptr ? self->handle(message, wParam, lParam) : FALSE;
}

INT_PTR PageWindow::handle(UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_INITDIALOG:
      presenter_.onInitDialog();
      SetTimer(view_.window(), kPollTimer, kPropertyPollMs, nullptr);
      return FALSE;  // the focus stays where the parent puts it
    case WM_TIMER:
      if (wParam == kPollTimer) presenter_.refreshProperties();
      return TRUE;
    case WM_COMMAND: {
      const HWND control = reinterpret_cast<HWND>(lParam);
      const int id = LOWORD(wParam);
      const bool list = hasClass(control, L"ComboBox") || hasClass(control, L"ListBox");
      switch (pageEvent(id, HIWORD(wParam), list)) {
        case PageEvent::kSelectionChanged: presenter_.onSelectionChanged(id); break;
        case PageEvent::kCommand: presenter_.onCommand(id); break;
        case PageEvent::kPortEditDone: presenter_.onPortEditDone(); break;
        case PageEvent::kNone: break;
      }
      return TRUE;
    }
    case WM_DESTROY:
      KillTimer(view_.window(), kPollTimer);
      return FALSE;
    case WM_NCDESTROY:
      // Destroyed with its parent: the page is made again by the next create.
      view_.attach(nullptr);
      return FALSE;
    default:
      return FALSE;
  }
}

// ---- the entry -----------------------------------------------------------------------

uint32_t showDialog(const DialogRequest* request) {
  if (request == nullptr || request->size != sizeof(DialogRequest) || request->host == nullptr) return 0;
  // Without a parent the dialog belongs to this thread's active window: the About box
  // opened from the settings page keeps the settings frame disabled while it shows.
  HWND parent = request->parent != nullptr ? static_cast<HWND>(request->parent) : GetActiveWindow();
  if (request->templateId == kAboutTemplate) {
    const platform::DialogTemplate* about = findTemplate(*request, kAboutTemplate);
    if (about == nullptr) return 0;
    AboutWindow window(*request, *about);
    return window.run(parent) == -1 ? 0 : 1;
  }
  const platform::DialogTemplate* frame = findTemplate(*request, kFrameTemplate);
  const platform::DialogTemplate* page = findTemplate(*request, kPageTemplate);
  if (frame == nullptr || page == nullptr) return 0;
  SettingsWindow window(*request, *frame, *page);
  return window.run(parent) == -1 ? 0 : 1;
}

}  // namespace dialogs::win32
