#pragma once

// The DirectShow capture filter "Vistrel" and its one output pin "Capture", written on the
// COM interfaces directly. The pin's behaviour (media type, stream caps, pin category,
// streaming loop, fill step) is the portable CapturePin; this file is its COM dress: pin
// connection, allocator negotiation, the filter's states and the streaming thread.
// The COM interface methods keep the system's spelling.

#include <windows.h>
#include <dshow.h>

#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "output/capture_pin.h"
#include "output/engine_link.h"
#include "video_window_hook.h"

namespace output::win32 {

// Live COM objects and server locks of the module (DllCanUnloadNow).
extern std::atomic<long> gObjectCount;
extern std::atomic<long> gLockCount;

// The process's engine link: made with the first filter, shared by all filters of the
// process, and freed with the last one.
std::shared_ptr<EngineLink> processEngineLink();

class CaptureFilter;

// The filter's private engine interface (kEngineInterfaceId): one method after IUnknown's,
// which returns the filter's engine (the process's), made when there is none yet. The
// property page reaches the engine through it.
struct IEngineSource : public IUnknown {
  virtual engine::CameraEngine* STDMETHODCALLTYPE getEngine() = 0;
};

class CaptureOutputPin final : public IPin,
                               public IAMStreamConfig,
                               public IKsPropertySet,
                               public IQualityControl,
                               private SampleSink {
 public:
  CaptureOutputPin(CaptureFilter& filter, FrameLink& link);
  ~CaptureOutputPin() override;

  // IUnknown: the filter's reference count.
  STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override;
  STDMETHODIMP_(ULONG) AddRef() override;
  STDMETHODIMP_(ULONG) Release() override;

  // IPin
  STDMETHODIMP Connect(IPin* receivePin, const AM_MEDIA_TYPE* pmt) override;
  STDMETHODIMP ReceiveConnection(IPin*, const AM_MEDIA_TYPE*) override;
  STDMETHODIMP Disconnect() override;
  STDMETHODIMP ConnectedTo(IPin** pin) override;
  STDMETHODIMP ConnectionMediaType(AM_MEDIA_TYPE* pmt) override;
  STDMETHODIMP QueryPinInfo(PIN_INFO* info) override;
  STDMETHODIMP QueryDirection(PIN_DIRECTION* dir) override;
  STDMETHODIMP QueryId(LPWSTR* id) override;
  STDMETHODIMP QueryAccept(const AM_MEDIA_TYPE* pmt) override;
  STDMETHODIMP EnumMediaTypes(IEnumMediaTypes** ppEnum) override;
  STDMETHODIMP QueryInternalConnections(IPin**, ULONG*) override;
  STDMETHODIMP EndOfStream() override;
  STDMETHODIMP BeginFlush() override;
  STDMETHODIMP EndFlush() override;
  STDMETHODIMP NewSegment(REFERENCE_TIME, REFERENCE_TIME, double) override;

  // IAMStreamConfig
  STDMETHODIMP SetFormat(AM_MEDIA_TYPE* pmt) override;
  STDMETHODIMP GetFormat(AM_MEDIA_TYPE** ppmt) override;
  STDMETHODIMP GetNumberOfCapabilities(int* count, int* size) override;
  STDMETHODIMP GetStreamCaps(int index, AM_MEDIA_TYPE** ppmt, BYTE* caps) override;

  // IKsPropertySet
  STDMETHODIMP Set(REFGUID, DWORD, LPVOID, DWORD, LPVOID, DWORD) override;
  STDMETHODIMP Get(REFGUID set, DWORD id, LPVOID instance, DWORD instanceSize, LPVOID data,
                   DWORD dataSize, DWORD* returned) override;
  STDMETHODIMP QuerySupported(REFGUID set, DWORD id, DWORD* support) override;

  // IQualityControl
  STDMETHODIMP Notify(IBaseFilter*, Quality) override;
  STDMETHODIMP SetSink(IQualityControl*) override;

  // The filter's state changes. Called under the filter's lock.
  HRESULT active();    // stopped -> paused: commit the allocator, start the thread
  void inactive();     // -> stopped: decommit, stop and join the thread
  void setState(FilterState state) { pin_.setState(state); }
  bool isConnected() const { return peer_ != nullptr; }
  CapturePin& logic() { return pin_; }

 private:
  // SampleSink
  bool getEmptySample(Sample* sample) override;
  HResult deliver(Sample& sample) override;
  void release(Sample& sample) override;
  void endOfStream() override;
  void errorAbort(HResult code) override;
  ReferenceTime streamTime() override;
  bool connected() override { return peer_ != nullptr; }
  bool peerAccepts(const MediaType& type) override;
  void reconnect() override { reconnectDue_ = true; }
  void streamingStarted() override;
  void streamingEnded() override;

  HRESULT tryConnection(IPin* receivePin, const MediaType& type);
  HRESULT decideAllocator();
  void releaseConnection();
  void streamingThread();

  CaptureFilter& filter_;
  CapturePin pin_;
  IPin* peer_ = nullptr;
  IMemInputPin* peerInput_ = nullptr;
  IMemAllocator* allocator_ = nullptr;
  std::unique_ptr<CommandQueue> commands_;
  std::thread thread_;
  bool reconnectDue_ = false;
  VideoWindowHook videoWindow_;  // streaming thread only
};

class CaptureFilter final : public IBaseFilter,
                            public IAMFilterMiscFlags,
                            public IAMDroppedFrames,
                            public ISpecifyPropertyPages,
                            public IEngineSource {
 public:
  CaptureFilter();
  ~CaptureFilter();

  // IUnknown
  STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override;
  STDMETHODIMP_(ULONG) AddRef() override;
  STDMETHODIMP_(ULONG) Release() override;

  // IPersist
  STDMETHODIMP GetClassID(CLSID* clsid) override;
  // IMediaFilter
  STDMETHODIMP Stop() override;
  STDMETHODIMP Pause() override;
  STDMETHODIMP Run(REFERENCE_TIME start) override;
  STDMETHODIMP GetState(DWORD ms, FILTER_STATE* state) override;
  STDMETHODIMP SetSyncSource(IReferenceClock* clock) override;
  STDMETHODIMP GetSyncSource(IReferenceClock** clock) override;
  // IBaseFilter
  STDMETHODIMP EnumPins(IEnumPins** ppEnum) override;
  STDMETHODIMP FindPin(LPCWSTR id, IPin** pin) override;
  STDMETHODIMP QueryFilterInfo(FILTER_INFO* info) override;
  STDMETHODIMP JoinFilterGraph(IFilterGraph* graph, LPCWSTR name) override;
  STDMETHODIMP QueryVendorInfo(LPWSTR* info) override;

  // IAMFilterMiscFlags
  STDMETHODIMP_(ULONG) GetMiscFlags() override;
  // IAMDroppedFrames
  STDMETHODIMP GetNumDropped(long* count) override;
  STDMETHODIMP GetNumNotDropped(long* count) override;
  STDMETHODIMP GetDroppedInfo(long size, long* array, long* copied) override;
  STDMETHODIMP GetAverageFrameSize(long* size) override;
  // ISpecifyPropertyPages
  STDMETHODIMP GetPages(CAUUID* pages) override;
  // IEngineSource
  engine::CameraEngine* STDMETHODCALLTYPE getEngine() override;

  // For the pin.
  std::recursive_mutex& lock() { return lock_; }
  FILTER_STATE state() const { return state_; }
  IFilterGraph* graph() const { return graph_; }
  IMediaEventSink* eventSink() const { return eventSink_; }
  const std::shared_ptr<EngineLink>& engineLink() const { return link_; }
  REFERENCE_TIME streamTime();

 private:
  std::atomic<ULONG> refs_{1};
  std::recursive_mutex lock_;
  std::shared_ptr<EngineLink> link_;
  CaptureOutputPin pin_;
  FILTER_STATE state_ = State_Stopped;
  IFilterGraph* graph_ = nullptr;           // not counted: the graph owns the filter
  IMediaEventSink* eventSink_ = nullptr;    // not counted, as the graph
  std::wstring name_;
  std::mutex clockLock_;                    // the clock and the start time (streaming thread)
  IReferenceClock* clock_ = nullptr;
  REFERENCE_TIME start_ = 0;
};

}  // namespace output::win32
