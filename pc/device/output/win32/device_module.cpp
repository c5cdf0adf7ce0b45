// device.ax as an in-process COM server: the class factories of the capture filter and of
// its property page, and their registration (the filter as a video input device through
// the filter mapper).

#include <windows.h>
#include <dshow.h>
#include <olectl.h>

#include <new>
#include <string>

#include "capture_filter.h"
#include "media_type_com.h"
#include "property_page.h"

namespace {

using namespace output;
using namespace output::win32;

HMODULE gModule = nullptr;

std::wstring widen(const char* text) {
  std::wstring out;
  for (const char* p = text; *p != 0; ++p) out.push_back(static_cast<wchar_t>(*p));
  return out;
}

std::wstring guidText(const GUID& guid) {
  wchar_t text[64];
  if (StringFromGUID2(guid, text, 64) == 0) return {};
  return text;
}

// The factory of one class, made with `new Object()`.
template <typename Object>
class Factory final : public IClassFactory {
 public:
  STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
    if (ppv == nullptr) return E_POINTER;
    if (riid == IID_IUnknown || riid == IID_IClassFactory) {
      *ppv = static_cast<IClassFactory*>(this);
      AddRef();
      return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
  }
  // The factory is a static object: its references only keep the module loaded.
  STDMETHODIMP_(ULONG) AddRef() override { return static_cast<ULONG>(++gLockCount); }
  STDMETHODIMP_(ULONG) Release() override { return static_cast<ULONG>(--gLockCount); }

  STDMETHODIMP CreateInstance(IUnknown* outer, REFIID riid, void** ppv) override {
    if (ppv == nullptr) return E_POINTER;
    *ppv = nullptr;
    if (outer != nullptr) return CLASS_E_NOAGGREGATION;
    Object* object = nullptr;
    try {
      object = new Object();
    } catch (...) {
      return E_OUTOFMEMORY;
    }
    const HRESULT hr = object->QueryInterface(riid, ppv);
    object->Release();
    return hr;
  }
  STDMETHODIMP LockServer(BOOL lock) override {
    if (lock) {
      ++gLockCount;
    } else {
      --gLockCount;
    }
    return S_OK;
  }
};

Factory<CaptureFilter> gFilterFactory;
Factory<PropertyPage> gPageFactory;

HRESULT setStringValue(HKEY key, const wchar_t* name, const std::wstring& value) {
  const LSTATUS status = RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                                        static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
  return HRESULT_FROM_WIN32(status);
}

// HKEY_CLASSES_ROOT\CLSID\{class}: the name, the module path and the threading model.
HRESULT registerClassKey(const GUID& clsid, const std::wstring& name) {
  wchar_t path[MAX_PATH];
  const DWORD length = GetModuleFileNameW(gModule, path, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return E_FAIL;
  const std::wstring keyPath = L"CLSID\\" + guidText(clsid);
  HKEY key = nullptr;
  LSTATUS status = RegCreateKeyExW(HKEY_CLASSES_ROOT, keyPath.c_str(), 0, nullptr, 0, KEY_WRITE,
                                   nullptr, &key, nullptr);
  if (status != ERROR_SUCCESS) return HRESULT_FROM_WIN32(status);
  HRESULT hr = setStringValue(key, nullptr, name);
  HKEY server = nullptr;
  if (SUCCEEDED(hr)) {
    status = RegCreateKeyExW(key, L"InprocServer32", 0, nullptr, 0, KEY_WRITE, nullptr, &server, nullptr);
    hr = HRESULT_FROM_WIN32(status);
  }
  if (SUCCEEDED(hr)) hr = setStringValue(server, nullptr, path);
  if (SUCCEEDED(hr)) hr = setStringValue(server, L"ThreadingModel", widen(kThreadingModel));
  if (server != nullptr) RegCloseKey(server);
  RegCloseKey(key);
  return hr;
}

HRESULT unregisterClassKey(const GUID& clsid) {
  const std::wstring keyPath = L"CLSID\\" + guidText(clsid);
  const LSTATUS status = RegDeleteTreeW(HKEY_CLASSES_ROOT, keyPath.c_str());
  if (status == ERROR_FILE_NOT_FOUND) return S_OK;
  return HRESULT_FROM_WIN32(status);
}

// COM for the registration calls (regsvr32 may or may not have it ready on this thread).
struct ComScope {
  HRESULT hr = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  ~ComScope() {
    if (SUCCEEDED(hr)) CoUninitialize();
  }
};

HRESULT withFilterMapper(HRESULT (*action)(IFilterMapper2*)) {
  ComScope com;
  IFilterMapper2* mapper = nullptr;
  HRESULT hr = CoCreateInstance(CLSID_FilterMapper2, nullptr, CLSCTX_INPROC_SERVER, IID_IFilterMapper2,
                                reinterpret_cast<void**>(&mapper));
  if (FAILED(hr)) return hr;
  hr = action(mapper);
  mapper->Release();
  return hr;
}

HRESULT registerInCategory(IFilterMapper2* mapper) {
  const GUID major = toGuid(kRegisteredPinMajorType);
  const GUID minor = toGuid(kRegisteredPinMinorType);
  const GUID pinCategory = toGuid(kPinCategoryCapture);
  REGPINTYPES type{&major, &minor};
  REGFILTERPINS2 pin{};
  pin.dwFlags = REG_PINFLAG_B_OUTPUT;
  pin.cInstances = 1;
  pin.nMediaTypes = 1;
  pin.lpMediaType = &type;
  pin.nMediums = 0;
  pin.lpMedium = nullptr;
  pin.clsPinCategory = &pinCategory;
  REGFILTER2 filter{};
  filter.dwVersion = 2;
  filter.dwMerit = kFilterMerit;
  filter.cPins2 = 1;
  filter.rgPins2 = &pin;
  const GUID category = toGuid(kVideoInputDeviceCategory);
  const std::wstring name = widen(kFilterName);
  return mapper->RegisterFilter(toGuid(kFilterClassId), name.c_str(), nullptr, &category, name.c_str(),
                                &filter);
}

HRESULT unregisterFromCategory(IFilterMapper2* mapper) {
  const GUID category = toGuid(kVideoInputDeviceCategory);
  const std::wstring name = widen(kFilterName);
  const HRESULT hr = mapper->UnregisterFilter(&category, name.c_str(), toGuid(kFilterClassId));
  // Not registered is what was asked for.
  return hr == HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND) ? S_OK : hr;
}

}  // namespace

extern "C" {

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
  if (reason == DLL_PROCESS_ATTACH) {
    gModule = instance;
    DisableThreadLibraryCalls(instance);
  }
  return TRUE;
}

STDAPI DllGetClassObject(REFCLSID clsid, REFIID riid, void** ppv) {
  if (ppv == nullptr) return E_POINTER;
  *ppv = nullptr;
  if (clsid == toGuid(kFilterClassId)) return gFilterFactory.QueryInterface(riid, ppv);
  if (clsid == toGuid(kPropertyPageClassId)) return gPageFactory.QueryInterface(riid, ppv);
  return CLASS_E_CLASSNOTAVAILABLE;
}

STDAPI DllCanUnloadNow() { return gObjectCount == 0 && gLockCount == 0 ? S_OK : S_FALSE; }

STDAPI DllRegisterServer() {
  HRESULT hr = registerClassKey(toGuid(kFilterClassId), widen(kFilterName));
  if (SUCCEEDED(hr)) hr = registerClassKey(toGuid(kPropertyPageClassId), widen(kPropertyPageName));
  if (FAILED(hr)) return hr;
  return withFilterMapper(registerInCategory);
}

STDAPI DllUnregisterServer() {
  // Every step is tried; the first failure is the result.
  const HRESULT results[] = {unregisterClassKey(toGuid(kFilterClassId)),
                             unregisterClassKey(toGuid(kPropertyPageClassId)),
                             withFilterMapper(unregisterFromCategory)};
  for (const HRESULT hr : results) {
    if (FAILED(hr)) return hr;
  }
  return S_OK;
}

}  // extern "C"
