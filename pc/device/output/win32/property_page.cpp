#include "property_page.h"

#include <cstring>
#include <new>

#include "capture_filter.h"
#include "media_type_com.h"
#include "output/com_types.h"

namespace output::win32 {

PropertyPage::PropertyPage() { ++gObjectCount; }

PropertyPage::~PropertyPage() {
  window_.reset();
  resources_ = {};
  releaseObjects();
  safeRelease(site_);
  --gObjectCount;
}

STDMETHODIMP PropertyPage::QueryInterface(REFIID riid, void** ppv) {
  if (ppv == nullptr) return E_POINTER;
  if (riid == IID_IUnknown || riid == IID_IPropertyPage) {
    *ppv = static_cast<IPropertyPage*>(this);
    AddRef();
    return S_OK;
  }
  *ppv = nullptr;
  return E_NOINTERFACE;
}

STDMETHODIMP_(ULONG) PropertyPage::AddRef() { return ++refs_; }

STDMETHODIMP_(ULONG) PropertyPage::Release() {
  const ULONG left = --refs_;
  if (left == 0) delete this;
  return left;
}

STDMETHODIMP PropertyPage::SetPageSite(IPropertyPageSite* site) {
  if (site != nullptr && site_ != nullptr) return E_UNEXPECTED;
  safeRelease(site_);
  site_ = site;
  if (site_ != nullptr) site_->AddRef();
  return S_OK;
}

STDMETHODIMP PropertyPage::SetObjects(ULONG count, IUnknown** objects) {
  if (count == 0) {
    if (window_) return E_UNEXPECTED;  // the page still shows the engine
    releaseObjects();
    return S_OK;
  }
  if (objects == nullptr) return E_POINTER;
  // The first object that answers the engine interface is the page's.
  for (ULONG i = 0; i < count; ++i) {
    IEngineSource* source = nullptr;
    if (objects[i] == nullptr ||
        FAILED(objects[i]->QueryInterface(toGuid(kEngineInterfaceId), reinterpret_cast<void**>(&source)))) {
      continue;
    }
    engine::CameraEngine* engine = source->getEngine();
    if (engine == nullptr) {
      source->Release();
      return E_FAIL;
    }
    if (window_) {
      source->Release();
      return E_UNEXPECTED;
    }
    releaseObjects();
    source_ = source;
    engine_ = engine;
    return S_OK;
  }
  return E_NOINTERFACE;
}

void PropertyPage::releaseObjects() {
  engine_ = nullptr;
  safeRelease(source_);
}

STDMETHODIMP PropertyPage::GetPageInfo(PROPPAGEINFO* info) {
  if (info == nullptr) return E_POINTER;
  // The title comes from the library's texts; without an engine yet the English one.
  std::u16string title = u"Settings";
  if (engine_ != nullptr) {
    dialogs::PageResources r = dialogs::pageResources(*engine_, nullptr);
    if (!r.title.empty()) title = r.title;
  }
  const size_t bytes = (title.size() + 1) * sizeof(wchar_t);
  auto* text = static_cast<wchar_t*>(CoTaskMemAlloc(bytes));
  if (text == nullptr) return E_OUTOFMEMORY;
  std::memcpy(text, title.c_str(), bytes);
  info->cb = sizeof(PROPPAGEINFO);
  info->pszTitle = text;
  info->size.cx = kWidth;
  info->size.cy = kHeight;
  info->pszDocString = nullptr;
  info->pszHelpFile = nullptr;
  info->dwHelpContext = 0;
  return S_OK;
}

STDMETHODIMP PropertyPage::Activate(HWND parent, LPCRECT rect, BOOL) {
  if (rect == nullptr) return E_POINTER;
  if (engine_ == nullptr || window_) return E_UNEXPECTED;
  resources_ = dialogs::pageResources(*engine_, parent);
  if (resources_.pageTemplate == nullptr) return E_FAIL;
  try {
    window_ = std::make_unique<dialogs::win32::PageWindow>(*resources_.pageTemplate, *resources_.host);
  } catch (...) {
    return E_OUTOFMEMORY;
  }
  if (!window_->create(parent)) {
    window_.reset();
    return E_FAIL;
  }
  Move(rect);
  return S_OK;
}

STDMETHODIMP PropertyPage::Deactivate() {
  if (!window_) return E_UNEXPECTED;
  window_.reset();  // destroys the window
  resources_ = {};
  return S_OK;
}

STDMETHODIMP PropertyPage::Show(UINT command) {
  if (!window_) return E_UNEXPECTED;
  ShowWindow(window_->window(), static_cast<int>(command));
  return S_OK;
}

STDMETHODIMP PropertyPage::Move(LPCRECT rect) {
  if (rect == nullptr) return E_POINTER;
  if (!window_) return E_UNEXPECTED;
  MoveWindow(window_->window(), rect->left, rect->top, rect->right - rect->left, rect->bottom - rect->top, TRUE);
  return S_OK;
}

// Every change is applied and saved as it is made: nothing waits for Apply.
STDMETHODIMP PropertyPage::IsPageDirty() { return S_FALSE; }
STDMETHODIMP PropertyPage::Apply() { return S_OK; }
STDMETHODIMP PropertyPage::Help(LPCOLESTR) { return E_NOTIMPL; }

STDMETHODIMP PropertyPage::TranslateAccelerator(MSG* message) {
  if (message == nullptr) return E_POINTER;
  if (window_ && IsDialogMessageW(window_->window(), message)) return S_OK;
  return S_FALSE;
}

}  // namespace output::win32
