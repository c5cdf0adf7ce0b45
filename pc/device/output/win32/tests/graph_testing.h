#pragma once

// Helpers of the tests that run device.ax's filter in a graph: a COM reference holder, the
// first pin of a direction, and a graph of a camera filter, the system's sample grabber
// (RGB24) and its null renderer, keeping what the grabber sees. The COM interface methods
// keep the system's spelling.

#include <windows.h>
#include <dshow.h>
#include <qedit.h>

#include <cstdint>
#include <mutex>
#include <vector>

// The header declares the interfaces but not these classes; the import library has them.
extern "C" const CLSID CLSID_SampleGrabber;
extern "C" const CLSID CLSID_NullRenderer;

namespace graph_testing {

template <typename T>
struct Com {
  T* p = nullptr;
  Com() = default;
  Com(const Com&) = delete;
  Com& operator=(const Com&) = delete;
  ~Com() { reset(); }
  void reset() {
    if (p != nullptr) p->Release();
    p = nullptr;
  }
  T** out() {
    reset();
    return &p;
  }
  void** outVoid() { return reinterpret_cast<void**>(out()); }
  T* operator->() const { return p; }
  explicit operator bool() const { return p != nullptr; }
};

inline IPin* firstPin(IBaseFilter* filter, PIN_DIRECTION wanted) {
  Com<IEnumPins> pins;
  if (FAILED(filter->EnumPins(pins.out()))) return nullptr;
  for (;;) {
    IPin* pin = nullptr;
    if (pins->Next(1, &pin, nullptr) != S_OK) return nullptr;
    PIN_DIRECTION dir;
    if (SUCCEEDED(pin->QueryDirection(&dir)) && dir == wanted) return pin;
    pin->Release();
  }
}

// Keeps what the grabber sees: the count, the samples not of the expected size, and the
// last picture.
class Grabbed final : public ISampleGrabberCB {
 public:
  explicit Grabbed(size_t expectedSize) : expectedSize_(expectedSize) {}
  STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
    if (riid == IID_IUnknown || riid == IID_ISampleGrabberCB) {
      *ppv = static_cast<ISampleGrabberCB*>(this);
      return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return 2; }
  STDMETHODIMP_(ULONG) Release() override { return 1; }
  STDMETHODIMP SampleCB(double, IMediaSample*) override { return S_OK; }
  STDMETHODIMP BufferCB(double, BYTE* data, long size) override {
    std::lock_guard lock(mutex);
    ++count;
    if (size != static_cast<long>(expectedSize_)) ++wrongSizes;
    last.assign(data, data + size);
    return S_OK;
  }
  std::mutex mutex;
  int count = 0;
  int wrongSizes = 0;
  std::vector<uint8_t> last;

 private:
  size_t expectedSize_;
};

// camera -> sample grabber (RGB24, calling `grabbed` with a copy of each buffer) -> null
// renderer, connected directly. S_OK, or the first failure.
struct GrabberGraph {
  Com<IGraphBuilder> graph;
  Com<IBaseFilter> grabberFilter, renderer;
  Com<IPin> cameraOut, grabberIn, grabberOut, rendererIn;
  Com<IMediaControl> control;

  HRESULT build(IBaseFilter* camera, Grabbed& grabbed) {
    HRESULT hr = CoCreateInstance(CLSID_SampleGrabber, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter,
                                  grabberFilter.outVoid());
    if (SUCCEEDED(hr)) {
      hr = CoCreateInstance(CLSID_NullRenderer, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter,
                            renderer.outVoid());
    }
    if (SUCCEEDED(hr)) {
      hr = CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IID_IGraphBuilder, graph.outVoid());
    }
    if (SUCCEEDED(hr)) hr = graph->AddFilter(camera, L"Vistrel");
    if (SUCCEEDED(hr)) hr = graph->AddFilter(grabberFilter.p, L"Grabber");
    if (SUCCEEDED(hr)) hr = graph->AddFilter(renderer.p, L"Null");
    Com<ISampleGrabber> grabber;
    if (SUCCEEDED(hr)) hr = grabberFilter->QueryInterface(IID_ISampleGrabber, grabber.outVoid());
    if (FAILED(hr)) return hr;
    AM_MEDIA_TYPE wanted{};
    wanted.majortype = MEDIATYPE_Video;
    wanted.subtype = MEDIASUBTYPE_RGB24;
    hr = grabber->SetMediaType(&wanted);
    if (SUCCEEDED(hr)) hr = grabber->SetCallback(&grabbed, 1);
    if (FAILED(hr)) return hr;
    cameraOut.p = firstPin(camera, PINDIR_OUTPUT);
    grabberIn.p = firstPin(grabberFilter.p, PINDIR_INPUT);
    grabberOut.p = firstPin(grabberFilter.p, PINDIR_OUTPUT);
    rendererIn.p = firstPin(renderer.p, PINDIR_INPUT);
    if (!cameraOut || !grabberIn || !grabberOut || !rendererIn) return E_FAIL;
    hr = graph->ConnectDirect(cameraOut.p, grabberIn.p, nullptr);
    if (SUCCEEDED(hr)) hr = graph->ConnectDirect(grabberOut.p, rendererIn.p, nullptr);
    if (SUCCEEDED(hr)) hr = graph->QueryInterface(IID_IMediaControl, control.outVoid());
    return hr;
  }
};

}  // namespace graph_testing
