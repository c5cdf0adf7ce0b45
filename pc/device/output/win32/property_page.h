#pragma once

// The filter's property page ("Property Page"): the settings page of the library's
// dialogs as an IPropertyPage, over the engine it gets from the filter through the
// filter's private engine interface. The COM interface methods keep the system's
// spelling.

#include <windows.h>
#include <ocidl.h>
#include <olectl.h>

#include <atomic>
#include <memory>

#include "capture_filter.h"
#include "dialogs/device_dialogs.h"
#include "page_window_win32.h"

namespace output::win32 {

class PropertyPage final : public IPropertyPage {
 public:
  // The page's size as the property frame is told (pixels).
  static constexpr LONG kWidth = 340, kHeight = 150;

  PropertyPage();
  ~PropertyPage();

  // IUnknown
  STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override;
  STDMETHODIMP_(ULONG) AddRef() override;
  STDMETHODIMP_(ULONG) Release() override;

  // IPropertyPage
  STDMETHODIMP SetPageSite(IPropertyPageSite* site) override;
  STDMETHODIMP Activate(HWND parent, LPCRECT rect, BOOL modal) override;
  STDMETHODIMP Deactivate() override;
  STDMETHODIMP GetPageInfo(PROPPAGEINFO* info) override;
  STDMETHODIMP SetObjects(ULONG count, IUnknown** objects) override;
  STDMETHODIMP Show(UINT command) override;
  STDMETHODIMP Move(LPCRECT rect) override;
  STDMETHODIMP IsPageDirty() override;
  STDMETHODIMP Apply() override;
  STDMETHODIMP Help(LPCOLESTR) override;
  STDMETHODIMP TranslateAccelerator(MSG* message) override;

 private:
  void releaseObjects();

  std::atomic<ULONG> refs_{1};
  IPropertyPageSite* site_ = nullptr;
  IEngineSource* source_ = nullptr;  // the filter, held while the page shows its engine
  engine::CameraEngine* engine_ = nullptr;
  dialogs::PageResources resources_;
  std::unique_ptr<dialogs::win32::PageWindow> window_;
};

}  // namespace output::win32
