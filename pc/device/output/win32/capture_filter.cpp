#include "capture_filter.h"

#include <cstring>
#include <new>
#include <utility>

#include "media_type_com.h"
#include "platform/module.h"

namespace output::win32 {

std::atomic<long> gObjectCount{0};
std::atomic<long> gLockCount{0};

namespace {

constexpr wchar_t kPinNameW[] = L"Capture";

std::mutex gLinkLock;
std::weak_ptr<EngineLink> gLink;

// True when the proposed type names a major type and subtype that we could agree to; a
// GUID_NULL field leaves that part open.
bool partialMatch(const AM_MEDIA_TYPE& proposed, const MediaType& ours) {
  if (proposed.majortype != GUID_NULL && fromGuid(proposed.majortype) != ours.majorType) return false;
  if (proposed.subtype != GUID_NULL && fromGuid(proposed.subtype) != ours.subtype) return false;
  if (proposed.formattype != GUID_NULL && fromGuid(proposed.formattype) != ours.formatType) return false;
  return true;
}

bool fullySpecified(const AM_MEDIA_TYPE& am) {
  return am.majortype != GUID_NULL && am.subtype != GUID_NULL && am.formattype != GUID_NULL &&
         am.pbFormat != nullptr;
}

// The filter's enumerators: each lists one item (the one pin, the one media type).
// `Item` hands out a new reference or copy of what it holds through give().
template <class Interface, const IID& kInterfaceId, class Element, class Item>
class OneItemEnumerator final : public Interface {
 public:
  OneItemEnumerator(Item item, ULONG position) : item_(std::move(item)), position_(position) {
    ++gObjectCount;
  }
  ~OneItemEnumerator() { --gObjectCount; }
  STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
    if (ppv == nullptr) return E_POINTER;
    if (riid == IID_IUnknown || riid == kInterfaceId) {
      *ppv = static_cast<Interface*>(this);
      AddRef();
      return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return ++refs_; }
  STDMETHODIMP_(ULONG) Release() override {
    const ULONG r = --refs_;
    if (r == 0) delete this;
    return r;
  }
  STDMETHODIMP Next(ULONG count, Element* elements, ULONG* fetched) override {
    if (elements == nullptr || (count > 1 && fetched == nullptr)) return E_POINTER;
    ULONG n = 0;
    if (count > 0 && position_ == 0) {
      const HRESULT hr = item_.give(&elements[0]);
      if (FAILED(hr)) return hr;
      position_ = 1;
      n = 1;
    }
    if (fetched != nullptr) *fetched = n;
    return n == count ? S_OK : S_FALSE;
  }
  STDMETHODIMP Skip(ULONG count) override {
    if (count == 0) return S_OK;
    const bool ok = position_ == 0 && count == 1;
    position_ = 1;
    return ok ? S_OK : S_FALSE;
  }
  STDMETHODIMP Reset() override {
    position_ = 0;
    return S_OK;
  }
  STDMETHODIMP Clone(Interface** out) override {
    if (out == nullptr) return E_POINTER;
    *out = new (std::nothrow) OneItemEnumerator(item_, position_);
    return *out != nullptr ? S_OK : E_OUTOFMEMORY;
  }

 private:
  std::atomic<ULONG> refs_{1};
  Item item_;
  ULONG position_;
};

// The pin, held by a reference of its own.
class PinItem {
 public:
  explicit PinItem(IPin* pin) : pin_(pin) { pin_->AddRef(); }
  PinItem(const PinItem& other) : pin_(other.pin_) { pin_->AddRef(); }
  PinItem& operator=(const PinItem&) = delete;
  ~PinItem() { pin_->Release(); }
  HRESULT give(IPin** out) const {
    *out = pin_;
    pin_->AddRef();
    return S_OK;
  }

 private:
  IPin* pin_;
};

// The media type, handed out as a new task-allocated copy.
struct MediaTypeItem {
  MediaType type;
  HRESULT give(AM_MEDIA_TYPE** out) const {
    *out = newAmMediaType(type);
    return *out != nullptr ? S_OK : E_OUTOFMEMORY;
  }
};

using PinEnumerator = OneItemEnumerator<IEnumPins, IID_IEnumPins, IPin*, PinItem>;
using MediaTypeEnumerator =
    OneItemEnumerator<IEnumMediaTypes, IID_IEnumMediaTypes, AM_MEDIA_TYPE*, MediaTypeItem>;

}  // namespace

std::shared_ptr<EngineLink> processEngineLink() {
  std::lock_guard lock(gLinkLock);
  std::shared_ptr<EngineLink> link = gLink.lock();
  if (!link) {
    // The process has one engine, shared with the library's entry table (the viewer's and
    // the service's door). It may outlive the filters, so the library stays loaded once it
    // exists, as the entries keep it; a Close through the table while a filter streams lets
    // the filter keep the engine it holds.
    auto processEngine = [] {
      static const bool kept = platform::keepModuleLoaded(reinterpret_cast<const void*>(&processEngineLink));
      (void)kept;
      return engine::CameraEngine::sharedInstance();
    };
    link = std::make_shared<EngineLink>(processEngine, [](const std::string& text) {
      OutputDebugStringA(("Vistrel: " + text + "\n").c_str());
    });
    gLink = link;
  }
  return link;
}

// ---------------------------------------------------------------------------------------
// The output pin.

CaptureOutputPin::CaptureOutputPin(CaptureFilter& filter, FrameLink& link)
    : filter_(filter), pin_(link, *this) {}

CaptureOutputPin::~CaptureOutputPin() {
  inactive();
  releaseConnection();
}

STDMETHODIMP CaptureOutputPin::QueryInterface(REFIID riid, void** ppv) {
  if (ppv == nullptr) return E_POINTER;
  if (riid == IID_IUnknown || riid == IID_IPin) {
    *ppv = static_cast<IPin*>(this);
  } else if (riid == IID_IAMStreamConfig) {
    *ppv = static_cast<IAMStreamConfig*>(this);
  } else if (riid == IID_IKsPropertySet) {
    *ppv = static_cast<IKsPropertySet*>(this);
  } else if (riid == IID_IQualityControl) {
    *ppv = static_cast<IQualityControl*>(this);
  } else {
    *ppv = nullptr;
    return E_NOINTERFACE;
  }
  AddRef();
  return S_OK;
}

STDMETHODIMP_(ULONG) CaptureOutputPin::AddRef() { return filter_.AddRef(); }
STDMETHODIMP_(ULONG) CaptureOutputPin::Release() { return filter_.Release(); }

STDMETHODIMP CaptureOutputPin::Connect(IPin* receivePin, const AM_MEDIA_TYPE* pmt) {
  if (receivePin == nullptr) return E_POINTER;
  std::lock_guard lock(filter_.lock());
  if (peer_ != nullptr) return VFW_E_ALREADY_CONNECTED;
  if (filter_.state() != State_Stopped) return VFW_E_NOT_STOPPED;
  PIN_DIRECTION dir;
  if (FAILED(receivePin->QueryDirection(&dir)) || dir != PINDIR_INPUT) return VFW_E_INVALID_DIRECTION;

  if (pmt != nullptr && fullySpecified(*pmt)) {
    const MediaType proposed = fromAmMediaType(*pmt);
    if (FAILED(pin_.checkMediaType(proposed))) return VFW_E_TYPE_NOT_ACCEPTED;
    const MediaType previous = pin_.currentType();
    if (FAILED(pin_.setMediaType(proposed))) return VFW_E_TYPE_NOT_ACCEPTED;
    const HRESULT hr = tryConnection(receivePin, pin_.currentType());
    if (FAILED(hr)) pin_.setMediaType(previous);
    return hr;
  }
  const MediaType ours = pin_.currentType();
  if (pmt != nullptr && !partialMatch(*pmt, ours)) return VFW_E_NO_ACCEPTABLE_TYPES;
  const HRESULT hr = tryConnection(receivePin, ours);
  return FAILED(hr) && hr != E_FAIL ? VFW_E_NO_ACCEPTABLE_TYPES : hr;
}

HRESULT CaptureOutputPin::tryConnection(IPin* receivePin, const MediaType& type) {
  AM_MEDIA_TYPE am;
  if (!toAmMediaType(type, &am)) return E_OUTOFMEMORY;
  HRESULT hr = receivePin->ReceiveConnection(this, &am);
  freeAmMediaTypeContents(am);
  if (hr != S_OK) return FAILED(hr) ? hr : VFW_E_TYPE_NOT_ACCEPTED;
  peer_ = receivePin;
  peer_->AddRef();
  hr = decideAllocator();
  if (FAILED(hr)) {
    receivePin->Disconnect();
    releaseConnection();
  }
  return hr;
}

HRESULT CaptureOutputPin::decideAllocator() {
  HRESULT hr = peer_->QueryInterface(IID_IMemInputPin, reinterpret_cast<void**>(&peerInput_));
  if (FAILED(hr)) return VFW_E_NO_TRANSPORT;
  ALLOCATOR_PROPERTIES wanted{};
  peerInput_->GetAllocatorRequirements(&wanted);  // optional for the input pin
  const auto info = readVideoInfo(pin_.currentType());
  const long image = info ? static_cast<long>(info->bmiHeader.biSizeImage) : 0;
  if (image <= 0) return E_FAIL;
  ALLOCATOR_PROPERTIES props{};
  props.cBuffers = 1;
  props.cbBuffer = image;
  props.cbAlign = wanted.cbAlign > 0 ? wanted.cbAlign : 1;
  props.cbPrefix = wanted.cbPrefix;

  auto attempt = [&](IMemAllocator* allocator) -> HRESULT {
    ALLOCATOR_PROPERTIES actual{};
    HRESULT r = allocator->SetProperties(&props, &actual);
    if (FAILED(r)) return r;
    if (actual.cbBuffer < image) return E_FAIL;
    return peerInput_->NotifyAllocator(allocator, FALSE);
  };
  IMemAllocator* allocator = nullptr;
  if (SUCCEEDED(peerInput_->GetAllocator(&allocator))) {
    hr = attempt(allocator);
    if (SUCCEEDED(hr)) {
      allocator_ = allocator;
      return S_OK;
    }
    allocator->Release();
    if (hr == E_FAIL) return E_FAIL;  // the buffer granted was too small
  }
  hr = CoCreateInstance(CLSID_MemoryAllocator, nullptr, CLSCTX_INPROC_SERVER, IID_IMemAllocator,
                        reinterpret_cast<void**>(&allocator));
  if (FAILED(hr)) return hr;
  hr = attempt(allocator);
  if (FAILED(hr)) {
    allocator->Release();
    return hr;
  }
  allocator_ = allocator;
  return S_OK;
}

void CaptureOutputPin::releaseConnection() {
  safeRelease(allocator_);
  safeRelease(peerInput_);
  safeRelease(peer_);
}

STDMETHODIMP CaptureOutputPin::ReceiveConnection(IPin*, const AM_MEDIA_TYPE*) {
  return E_UNEXPECTED;  // an output pin connects, it is not connected to
}

STDMETHODIMP CaptureOutputPin::Disconnect() {
  std::lock_guard lock(filter_.lock());
  if (filter_.state() != State_Stopped) return VFW_E_NOT_STOPPED;
  if (peer_ == nullptr) return S_FALSE;
  if (allocator_ != nullptr) allocator_->Decommit();
  releaseConnection();
  return S_OK;
}

STDMETHODIMP CaptureOutputPin::ConnectedTo(IPin** pin) {
  if (pin == nullptr) return E_POINTER;
  std::lock_guard lock(filter_.lock());
  *pin = peer_;
  if (peer_ == nullptr) return VFW_E_NOT_CONNECTED;
  peer_->AddRef();
  return S_OK;
}

STDMETHODIMP CaptureOutputPin::ConnectionMediaType(AM_MEDIA_TYPE* pmt) {
  if (pmt == nullptr) return E_POINTER;
  std::lock_guard lock(filter_.lock());
  if (peer_ == nullptr) {
    std::memset(pmt, 0, sizeof(*pmt));
    return VFW_E_NOT_CONNECTED;
  }
  return toAmMediaType(pin_.currentType(), pmt) ? S_OK : E_OUTOFMEMORY;
}

STDMETHODIMP CaptureOutputPin::QueryPinInfo(PIN_INFO* info) {
  if (info == nullptr) return E_POINTER;
  info->pFilter = &filter_;
  filter_.AddRef();
  info->dir = PINDIR_OUTPUT;
  wcsncpy(info->achName, kPinNameW, MAX_PIN_NAME);
  info->achName[MAX_PIN_NAME - 1] = 0;
  return S_OK;
}

STDMETHODIMP CaptureOutputPin::QueryDirection(PIN_DIRECTION* dir) {
  if (dir == nullptr) return E_POINTER;
  *dir = PINDIR_OUTPUT;
  return S_OK;
}

STDMETHODIMP CaptureOutputPin::QueryId(LPWSTR* id) {
  if (id == nullptr) return E_POINTER;
  *id = static_cast<LPWSTR>(CoTaskMemAlloc(sizeof(kPinNameW)));
  if (*id == nullptr) return E_OUTOFMEMORY;
  std::memcpy(*id, kPinNameW, sizeof(kPinNameW));
  return S_OK;
}

STDMETHODIMP CaptureOutputPin::QueryAccept(const AM_MEDIA_TYPE* pmt) {
  if (pmt == nullptr) return E_POINTER;
  return SUCCEEDED(pin_.checkMediaType(fromAmMediaType(*pmt))) ? S_OK : S_FALSE;
}

STDMETHODIMP CaptureOutputPin::EnumMediaTypes(IEnumMediaTypes** ppEnum) {
  if (ppEnum == nullptr) return E_POINTER;
  *ppEnum = new (std::nothrow) MediaTypeEnumerator(MediaTypeItem{pin_.currentType()}, 0);
  return *ppEnum != nullptr ? S_OK : E_OUTOFMEMORY;
}

STDMETHODIMP CaptureOutputPin::QueryInternalConnections(IPin**, ULONG*) { return E_NOTIMPL; }
STDMETHODIMP CaptureOutputPin::EndOfStream() { return E_UNEXPECTED; }
STDMETHODIMP CaptureOutputPin::BeginFlush() { return E_UNEXPECTED; }
STDMETHODIMP CaptureOutputPin::EndFlush() { return E_UNEXPECTED; }
STDMETHODIMP CaptureOutputPin::NewSegment(REFERENCE_TIME, REFERENCE_TIME, double) { return S_OK; }

STDMETHODIMP CaptureOutputPin::SetFormat(AM_MEDIA_TYPE* pmt) {
  if (pmt == nullptr) return E_POINTER;
  IFilterGraph* graph = nullptr;
  HRESULT hr;
  {
    std::lock_guard lock(filter_.lock());
    reconnectDue_ = false;
    hr = pin_.setFormat(fromAmMediaType(*pmt));
    if (SUCCEEDED(hr) && reconnectDue_) graph = filter_.graph();
    reconnectDue_ = false;
  }
  // The graph reconnects through our Disconnect and Connect: not under our locks.
  if (graph != nullptr) graph->Reconnect(this);
  return hr;
}

STDMETHODIMP CaptureOutputPin::GetFormat(AM_MEDIA_TYPE** ppmt) {
  if (ppmt == nullptr) return E_POINTER;
  MediaType type;
  const HRESULT hr = pin_.getFormat(&type);
  if (FAILED(hr)) return hr;
  *ppmt = newAmMediaType(type);
  return *ppmt != nullptr ? S_OK : E_OUTOFMEMORY;
}

STDMETHODIMP CaptureOutputPin::GetNumberOfCapabilities(int* count, int* size) {
  int32_t c = 0, s = 0;
  if (count == nullptr || size == nullptr) return E_POINTER;
  const HRESULT hr = pin_.getNumberOfCapabilities(&c, &s);
  *count = c;
  *size = s;
  return hr;
}

STDMETHODIMP CaptureOutputPin::GetStreamCaps(int index, AM_MEDIA_TYPE** ppmt, BYTE* caps) {
  if (index > 0) return S_FALSE;
  MediaType type;
  VideoStreamConfigCaps config;
  HRESULT hr = pin_.getStreamCaps(index, &type, &config);
  if (hr != S_OK) return hr;
  if (ppmt == nullptr || caps == nullptr) return E_POINTER;
  static_assert(sizeof(VideoStreamConfigCaps) == sizeof(VIDEO_STREAM_CONFIG_CAPS));
  *ppmt = newAmMediaType(type);
  if (*ppmt == nullptr) return E_OUTOFMEMORY;
  std::memcpy(caps, &config, sizeof(config));
  return S_OK;
}

STDMETHODIMP CaptureOutputPin::Set(REFGUID, DWORD, LPVOID, DWORD, LPVOID, DWORD) {
  return pin_.setProperty();
}

STDMETHODIMP CaptureOutputPin::Get(REFGUID set, DWORD id, LPVOID, DWORD, LPVOID data,
                                   DWORD dataSize, DWORD* returned) {
  uint32_t r = 0;
  const HRESULT hr = pin_.getProperty(fromGuid(set), id, data, dataSize, &r);
  if (returned != nullptr && (SUCCEEDED(hr) || hr == E_UNEXPECTED)) *returned = r;
  return hr;
}

STDMETHODIMP CaptureOutputPin::QuerySupported(REFGUID set, DWORD id, DWORD* support) {
  uint32_t s = 0;
  const HRESULT hr = pin_.querySupported(fromGuid(set), id, &s);
  if (support != nullptr && SUCCEEDED(hr)) *support = s;
  return hr;
}

STDMETHODIMP CaptureOutputPin::Notify(IBaseFilter*, Quality) { return pin_.notify(); }
STDMETHODIMP CaptureOutputPin::SetSink(IQualityControl*) { return S_OK; }

HRESULT CaptureOutputPin::active() {
  if (peer_ == nullptr || thread_.joinable()) return S_OK;
  const HRESULT hr = allocator_->Commit();
  if (FAILED(hr)) return hr;
  commands_ = std::make_unique<CommandQueue>();
  thread_ = std::thread([this] { streamingThread(); });
  return S_OK;
}

void CaptureOutputPin::inactive() {
  if (!thread_.joinable()) return;
  // Decommitting first makes a thread waiting for a buffer give up at once.
  if (allocator_ != nullptr) allocator_->Decommit();
  commands_->post(ThreadCommand::kStop);  // a thread that already ended takes no command
  thread_.join();
  commands_.reset();
}

void CaptureOutputPin::streamingThread() {
  const HRESULT co = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
  pin_.run(*commands_);
  if (SUCCEEDED(co)) CoUninitialize();
}

bool CaptureOutputPin::getEmptySample(Sample* sample) {
  IMemAllocator* allocator = allocator_;
  if (allocator == nullptr) return false;
  IMediaSample* media = nullptr;
  if (FAILED(allocator->GetBuffer(&media, nullptr, nullptr, 0)) || media == nullptr) return false;
  BYTE* data = nullptr;
  if (FAILED(media->GetPointer(&data)) || data == nullptr) {
    media->Release();
    return false;
  }
  sample->data = data;
  sample->size = static_cast<size_t>(media->GetSize());
  sample->cookie = media;
  return true;
}

HResult CaptureOutputPin::deliver(Sample& sample) {
  auto* media = static_cast<IMediaSample*>(sample.cookie);
  REFERENCE_TIME start = sample.start, end = sample.end;
  media->SetTime(&start, &end);
  media->SetSyncPoint(sample.syncPoint ? TRUE : FALSE);
  const auto info = readVideoInfo(pin_.currentType());
  const long image = info ? static_cast<long>(info->bmiHeader.biSizeImage) : 0;
  media->SetActualDataLength(image > 0 && image <= media->GetSize() ? image : media->GetSize());
  const HRESULT hr = peerInput_ != nullptr ? peerInput_->Receive(media) : E_UNEXPECTED;
  media->Release();
  sample.cookie = nullptr;
  return hr;
}

void CaptureOutputPin::release(Sample& sample) {
  if (sample.cookie != nullptr) static_cast<IMediaSample*>(sample.cookie)->Release();
  sample.cookie = nullptr;
}

void CaptureOutputPin::endOfStream() {
  if (peer_ != nullptr) peer_->EndOfStream();
}

void CaptureOutputPin::errorAbort(HResult code) {
  if (IMediaEventSink* sink = filter_.eventSink()) {
    sink->Notify(EC_ERRORABORT, static_cast<LONG_PTR>(code), 0);
  }
}

ReferenceTime CaptureOutputPin::streamTime() { return filter_.streamTime(); }

void CaptureOutputPin::streamingStarted() {
  videoWindow_.install([link = filter_.engineLink()](uint32_t message, uint32_t x, uint32_t y) {
    link->sendPhoneInput(message, x, y);
  });
}

void CaptureOutputPin::streamingEnded() { videoWindow_.remove(); }

bool CaptureOutputPin::peerAccepts(const MediaType& type) {
  AM_MEDIA_TYPE am;
  if (!toAmMediaType(type, &am)) return false;
  const bool ok = peer_ != nullptr && peer_->QueryAccept(&am) == S_OK;
  freeAmMediaTypeContents(am);
  return ok;
}

// ---------------------------------------------------------------------------------------
// The filter.

CaptureFilter::CaptureFilter() : link_(processEngineLink()), pin_(*this, *link_) { ++gObjectCount; }

CaptureFilter::~CaptureFilter() {
  {
    std::lock_guard lock(lock_);
    pin_.setState(FilterState::kStopped);
    pin_.inactive();
  }
  safeRelease(clock_);
  --gObjectCount;
}

STDMETHODIMP CaptureFilter::QueryInterface(REFIID riid, void** ppv) {
  if (ppv == nullptr) return E_POINTER;
  if (riid == IID_IUnknown || riid == IID_IPersist || riid == IID_IMediaFilter ||
      riid == IID_IBaseFilter) {
    *ppv = static_cast<IBaseFilter*>(this);
  } else if (riid == IID_IAMFilterMiscFlags) {
    *ppv = static_cast<IAMFilterMiscFlags*>(this);
  } else if (riid == IID_IAMDroppedFrames) {
    *ppv = static_cast<IAMDroppedFrames*>(this);
  } else if (riid == IID_ISpecifyPropertyPages) {
    *ppv = static_cast<ISpecifyPropertyPages*>(this);
  } else if (riid == toGuid(kEngineInterfaceId)) {
    *ppv = static_cast<IEngineSource*>(this);
  } else if (riid == IID_IAMStreamConfig || riid == IID_IKsPropertySet) {
    return pin_.QueryInterface(riid, ppv);  // answered on the pin's behalf
  } else {
    *ppv = nullptr;
    return E_NOINTERFACE;
  }
  AddRef();
  return S_OK;
}

STDMETHODIMP_(ULONG) CaptureFilter::AddRef() { return ++refs_; }

STDMETHODIMP_(ULONG) CaptureFilter::Release() {
  const ULONG r = --refs_;
  if (r == 0) delete this;
  return r;
}

STDMETHODIMP CaptureFilter::GetClassID(CLSID* clsid) {
  if (clsid == nullptr) return E_POINTER;
  *clsid = toGuid(kFilterClassId);
  return S_OK;
}

STDMETHODIMP CaptureFilter::Stop() {
  std::lock_guard lock(lock_);
  pin_.setState(FilterState::kStopped);
  pin_.inactive();
  state_ = State_Stopped;
  return S_OK;
}

STDMETHODIMP CaptureFilter::Pause() {
  std::lock_guard lock(lock_);
  if (state_ == State_Stopped) {
    pin_.setState(FilterState::kPaused);
    const HRESULT hr = pin_.active();
    if (FAILED(hr)) {
      pin_.setState(FilterState::kStopped);
      return hr;
    }
  }
  pin_.setState(FilterState::kPaused);
  state_ = State_Paused;
  return S_OK;
}

STDMETHODIMP CaptureFilter::Run(REFERENCE_TIME start) {
  std::lock_guard lock(lock_);
  if (state_ == State_Stopped) {
    const HRESULT hr = Pause();
    if (FAILED(hr)) return hr;
  }
  {
    std::lock_guard clock(clockLock_);
    start_ = start;
  }
  pin_.setState(FilterState::kRunning);
  state_ = State_Running;
  return S_OK;
}

STDMETHODIMP CaptureFilter::GetState(DWORD, FILTER_STATE* state) {
  if (state == nullptr) return E_POINTER;
  std::lock_guard lock(lock_);
  *state = state_;
  return pin_.logic().getState();
}

STDMETHODIMP CaptureFilter::SetSyncSource(IReferenceClock* clock) {
  std::lock_guard lock(clockLock_);
  if (clock != nullptr) clock->AddRef();
  safeRelease(clock_);
  clock_ = clock;
  return S_OK;
}

STDMETHODIMP CaptureFilter::GetSyncSource(IReferenceClock** clock) {
  if (clock == nullptr) return E_POINTER;
  std::lock_guard lock(clockLock_);
  *clock = clock_;
  if (clock_ != nullptr) clock_->AddRef();
  return S_OK;
}

REFERENCE_TIME CaptureFilter::streamTime() {
  std::lock_guard lock(clockLock_);
  if (clock_ == nullptr) return 0;
  REFERENCE_TIME now = 0;
  if (FAILED(clock_->GetTime(&now))) return 0;
  return now - start_;
}

STDMETHODIMP CaptureFilter::EnumPins(IEnumPins** ppEnum) {
  if (ppEnum == nullptr) return E_POINTER;
  *ppEnum = new (std::nothrow) PinEnumerator(PinItem(&pin_), 0);
  return *ppEnum != nullptr ? S_OK : E_OUTOFMEMORY;
}

STDMETHODIMP CaptureFilter::FindPin(LPCWSTR id, IPin** pin) {
  if (id == nullptr || pin == nullptr) return E_POINTER;
  if (wcscmp(id, kPinNameW) != 0) {
    *pin = nullptr;
    return VFW_E_NOT_FOUND;
  }
  *pin = &pin_;
  pin_.AddRef();
  return S_OK;
}

STDMETHODIMP CaptureFilter::QueryFilterInfo(FILTER_INFO* info) {
  if (info == nullptr) return E_POINTER;
  std::lock_guard lock(lock_);
  wcsncpy(info->achName, name_.c_str(), MAX_FILTER_NAME);
  info->achName[MAX_FILTER_NAME - 1] = 0;
  info->pGraph = graph_;
  if (graph_ != nullptr) graph_->AddRef();
  return S_OK;
}

STDMETHODIMP CaptureFilter::JoinFilterGraph(IFilterGraph* graph, LPCWSTR name) {
  std::lock_guard lock(lock_);
  graph_ = graph;
  eventSink_ = nullptr;
  if (graph != nullptr) {
    // Kept without a reference, as the graph holds the filter.
    if (SUCCEEDED(graph->QueryInterface(IID_IMediaEventSink, reinterpret_cast<void**>(&eventSink_)))) {
      eventSink_->Release();
    }
  }
  name_ = name != nullptr ? name : L"";
  return S_OK;
}

STDMETHODIMP CaptureFilter::QueryVendorInfo(LPWSTR*) { return E_NOTIMPL; }

STDMETHODIMP_(ULONG) CaptureFilter::GetMiscFlags() { return AM_FILTER_MISC_FLAGS_IS_SOURCE; }

STDMETHODIMP CaptureFilter::GetNumDropped(long* count) {
  int32_t c = 0;
  const HRESULT hr = pin_.logic().getNumDropped(count != nullptr ? &c : nullptr);
  if (SUCCEEDED(hr)) *count = c;
  return hr;
}

STDMETHODIMP CaptureFilter::GetNumNotDropped(long* count) {
  int32_t c = 0;
  const HRESULT hr = pin_.logic().getNumNotDropped(count != nullptr ? &c : nullptr);
  if (SUCCEEDED(hr)) *count = c;
  return hr;
}

STDMETHODIMP CaptureFilter::GetDroppedInfo(long, long*, long*) { return pin_.logic().getDroppedInfo(); }

STDMETHODIMP CaptureFilter::GetAverageFrameSize(long* size) {
  int32_t s = 0;
  const HRESULT hr = pin_.logic().getAverageFrameSize(size != nullptr ? &s : nullptr);
  if (SUCCEEDED(hr)) *size = s;
  return hr;
}

STDMETHODIMP CaptureFilter::GetPages(CAUUID* pages) {
  if (pages == nullptr) return E_POINTER;
  pages->pElems = static_cast<GUID*>(CoTaskMemAlloc(sizeof(GUID)));
  if (pages->pElems == nullptr) {
    pages->cElems = 0;
    return E_OUTOFMEMORY;
  }
  pages->cElems = 1;
  pages->pElems[0] = toGuid(kPropertyPageClassId);
  return S_OK;
}

engine::CameraEngine* STDMETHODCALLTYPE CaptureFilter::getEngine() {
  std::lock_guard lock(lock_);
  return &link_->ensuredEngine();
}

}  // namespace output::win32
