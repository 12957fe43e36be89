#include "platform/dshow/base_filter.h"

#include <algorithm>
#include <new>

#include "platform/dshow/allocator.h"

namespace dshow {
namespace {

class PinEnumerator final : public IEnumPins {
 public:
  explicit PinEnumerator(BaseFilter* filter) : filter_(filter) { filter_->AddRef(); }

  HRESULT QueryInterface(const GUID& iid, void** object) override {
    return com::QuerySingleInterface<IEnumPins>(this, IID_IEnumPins, iid, object);
  }
  uint32_t AddRef() override { return refs_.Increment(); }
  uint32_t Release() override {
    const uint32_t left = refs_.Decrement();
    if (left == 0) delete this;
    return left;
  }
  HRESULT Next(uint32_t count, IPin** pins, uint32_t* fetched) override {
    if (!pins) return com::E_POINTER;
    uint32_t n = 0;
    while (n < count && next_ < filter_->GetPinCount()) {
      BasePin* pin = filter_->GetPin(next_++);
      if (!pin) continue;
      pin->AddRef();
      pins[n++] = pin;
    }
    if (fetched) *fetched = n;
    return n == count ? com::S_OK : com::S_FALSE;
  }
  HRESULT Reset() override {
    next_ = 0;
    return com::S_OK;
  }

 private:
  ~PinEnumerator() { filter_->Release(); }
  com::RefCount refs_;
  BaseFilter* filter_;
  int next_ = 0;
};

}  // namespace

void CopyName(const ov::String& text, char16_t (&field)[kMaxNameUnits]) {
  const int n = std::min(text.Length(), kMaxNameUnits - 1);
  for (int i = 0; i < n; ++i) field[i] = text[i];
  field[n] = 0;
}

// ---- BasePin

BasePin::BasePin(BaseFilter* filter, const char16_t* name, PinDirection dir)
    : filter_(filter), name_(name), dir_(dir) {}

BasePin::~BasePin() {
  if (connected_) connected_->Release();
}

HRESULT BasePin::QueryInterface(const GUID& iid, void** object) {
  if (!object) return com::E_POINTER;
  if (iid == com::IID_IUnknown || iid == IID_IPin) {
    *object = static_cast<IPin*>(this);
    AddRef();
    return com::S_OK;
  }
  *object = nullptr;
  return com::E_NOINTERFACE;
}

uint32_t BasePin::AddRef() { return filter_->AddRef(); }
uint32_t BasePin::Release() { return filter_->Release(); }

HRESULT BasePin::Disconnect() {
  if (filter_->State() != FilterState::kStopped) return VFW_E_NOT_STOPPED;
  if (!connected_) return com::S_FALSE;
  BreakConnect();
  connected_->Release();
  connected_ = nullptr;
  mt_ = MediaType();
  return com::S_OK;
}

HRESULT BasePin::ConnectedTo(IPin** pin) {
  if (!pin) return com::E_POINTER;
  *pin = connected_;
  if (!connected_) return VFW_E_NOT_CONNECTED;
  connected_->AddRef();
  return com::S_OK;
}

HRESULT BasePin::ConnectionMediaType(AM_MEDIA_TYPE* type) {
  if (!type) return com::E_POINTER;
  if (!connected_) {
    MoInitMediaType(type, 0);
    return VFW_E_NOT_CONNECTED;
  }
  return MoCopyMediaType(type, mt_.get());
}

HRESULT BasePin::QueryPinInfo(PIN_INFO* info) {
  if (!info) return com::E_POINTER;
  info->pFilter = filter_;
  filter_->AddRef();
  info->dir = dir_;
  CopyName(name_, info->achName);
  return com::S_OK;
}

HRESULT BasePin::QueryDirection(PinDirection* dir) {
  if (!dir) return com::E_POINTER;
  *dir = dir_;
  return com::S_OK;
}

HRESULT BasePin::QueryAccept(const AM_MEDIA_TYPE* type) {
  return CheckMediaType(type) == com::S_OK ? com::S_OK : com::S_FALSE;
}

HRESULT BasePin::EnumMediaType(int position, AM_MEDIA_TYPE* type) {
  if (!type) return com::E_POINTER;
  MoInitMediaType(type, 0);
  return GetMediaType(position, type);
}

HRESULT BasePin::GetMediaType(int, AM_MEDIA_TYPE*) { return VFW_S_NO_MORE_ITEMS; }

HRESULT BasePin::SetMediaType(const AM_MEDIA_TYPE* type) {
  if (!type) return com::E_POINTER;
  mt_ = *type;
  return com::S_OK;
}

// ---- BaseOutputPin

BaseOutputPin::BaseOutputPin(BaseFilter* filter, const char16_t* name) : BasePin(filter, name, PinDirection::kOutput) {}

BaseOutputPin::~BaseOutputPin() { ReleaseConnection(); }

void BaseOutputPin::ReleaseConnection() {
  if (allocator_) {
    allocator_->Decommit();
    allocator_->Release();
    allocator_ = nullptr;
  }
  if (input_) {
    input_->Release();
    input_ = nullptr;
  }
}

HRESULT BaseOutputPin::Connect(IPin* receive_pin, const AM_MEDIA_TYPE* type) {
  if (!receive_pin) return com::E_POINTER;
  std::lock_guard<std::recursive_mutex> hold(filter_->lock_);
  if (connected_) return VFW_E_ALREADY_CONNECTED;
  if (filter_->State() != FilterState::kStopped) return VFW_E_NOT_STOPPED;
  PinDirection dir{};
  receive_pin->QueryDirection(&dir);
  if (dir != PinDirection::kInput) return VFW_E_INVALID_DIRECTION;
  if (type && !(type->majortype == com::GUID_NULL)) {
    return com::Succeeded(TryConnect(receive_pin, type)) ? com::S_OK : VFW_E_NO_ACCEPTABLE_TYPES;
  }
  // This pin's types first, then the receiving pin's.
  for (int side = 0; side < 2; ++side) {
    for (int position = 0;; ++position) {
      MediaType candidate;
      const HRESULT hr = side == 0 ? GetMediaType(position, candidate.get())
                                   : receive_pin->EnumMediaType(position, candidate.get());
      if (hr != com::S_OK) break;
      if (com::Succeeded(TryConnect(receive_pin, candidate.get()))) return com::S_OK;
    }
  }
  return VFW_E_NO_ACCEPTABLE_TYPES;
}

HRESULT BaseOutputPin::TryConnect(IPin* receive_pin, const AM_MEDIA_TYPE* type) {
  if (CheckMediaType(type) != com::S_OK) return VFW_E_TYPE_NOT_ACCEPTED;
  connected_ = receive_pin;
  connected_->AddRef();
  HRESULT hr = SetMediaType(type);
  if (com::Succeeded(hr)) hr = receive_pin->ReceiveConnection(this, type);
  if (com::Succeeded(hr)) {
    hr = DecideAllocator();
    if (com::Failed(hr)) receive_pin->Disconnect();
  }
  if (com::Failed(hr)) {
    BreakConnect();
    ReleaseConnection();
    connected_->Release();
    connected_ = nullptr;
    mt_ = MediaType();
  }
  return hr;
}

HRESULT BaseOutputPin::DecideAllocator() {
  HRESULT hr = connected_->QueryInterface(IID_IMemInputPin, reinterpret_cast<void**>(&input_));
  if (com::Failed(hr)) return VFW_E_NO_ALLOCATOR;
  ALLOCATOR_PROPERTIES request{};
  if (com::Failed(input_->GetAllocatorRequirements(&request))) request = ALLOCATOR_PROPERTIES{};
  IMemAllocator* allocator = nullptr;
  if (com::Failed(input_->GetAllocator(&allocator)) || !allocator) {
    allocator = MemAllocator::Create();
    if (!allocator) return com::E_OUTOFMEMORY;
  }
  hr = DecideBufferSize(allocator, &request);
  if (com::Succeeded(hr)) hr = input_->NotifyAllocator(allocator, false);
  if (com::Failed(hr)) {
    allocator->Release();
    return hr;
  }
  allocator_ = allocator;
  return com::S_OK;
}

HRESULT BaseOutputPin::Disconnect() {
  std::lock_guard<std::recursive_mutex> hold(filter_->lock_);
  const HRESULT hr = BasePin::Disconnect();
  if (hr == com::S_OK) ReleaseConnection();
  return hr;
}

HRESULT BaseOutputPin::Active() { return allocator_ ? allocator_->Commit() : VFW_E_NO_ALLOCATOR; }

HRESULT BaseOutputPin::Inactive() { return allocator_ ? allocator_->Decommit() : com::S_OK; }

HRESULT BaseOutputPin::GetDeliveryBuffer(IMediaSample** sample, uint32_t flags) {
  if (!allocator_) return VFW_E_NO_ALLOCATOR;
  return allocator_->GetBuffer(sample, nullptr, nullptr, flags);
}

HRESULT BaseOutputPin::Deliver(IMediaSample* sample) {
  if (!input_) return VFW_E_NOT_CONNECTED;
  return input_->Receive(sample);
}

HRESULT BaseOutputPin::DeliverEndOfStream() {
  if (!connected_) return VFW_E_NOT_CONNECTED;
  return connected_->EndOfStream();
}

// ---- BaseInputPin

BaseInputPin::BaseInputPin(BaseFilter* filter, const char16_t* name) : BasePin(filter, name, PinDirection::kInput) {}

BaseInputPin::~BaseInputPin() {
  if (allocator_) allocator_->Release();
}

HRESULT BaseInputPin::QueryInterface(const GUID& iid, void** object) {
  if (!object) return com::E_POINTER;
  if (iid == IID_IMemInputPin) {
    *object = static_cast<IMemInputPin*>(this);
    AddRef();
    return com::S_OK;
  }
  return BasePin::QueryInterface(iid, object);
}

HRESULT BaseInputPin::ReceiveConnection(IPin* connector, const AM_MEDIA_TYPE* type) {
  if (!connector || !type) return com::E_POINTER;
  std::lock_guard<std::recursive_mutex> hold(filter_->lock_);
  if (connected_) return VFW_E_ALREADY_CONNECTED;
  if (filter_->State() != FilterState::kStopped) return VFW_E_NOT_STOPPED;
  if (CheckMediaType(type) != com::S_OK) return VFW_E_TYPE_NOT_ACCEPTED;
  const HRESULT hr = SetMediaType(type);
  if (com::Failed(hr)) return hr;
  connected_ = connector;
  connected_->AddRef();
  return com::S_OK;
}

HRESULT BaseInputPin::Disconnect() {
  std::lock_guard<std::recursive_mutex> hold(filter_->lock_);
  const HRESULT hr = BasePin::Disconnect();
  if (hr == com::S_OK && allocator_) {
    allocator_->Release();
    allocator_ = nullptr;
  }
  return hr;
}

HRESULT BaseInputPin::EndOfStream() {
  end_of_stream_.store(true, std::memory_order_release);
  return com::S_OK;
}

HRESULT BaseInputPin::Active() {
  end_of_stream_.store(false, std::memory_order_release);
  return com::S_OK;
}

HRESULT BaseInputPin::GetAllocator(IMemAllocator** allocator) {
  if (!allocator) return com::E_POINTER;
  if (!allocator_) {
    allocator_ = MemAllocator::Create();
    if (!allocator_) return com::E_OUTOFMEMORY;
  }
  allocator_->AddRef();
  *allocator = allocator_;
  return com::S_OK;
}

HRESULT BaseInputPin::NotifyAllocator(IMemAllocator* allocator, bool) {
  if (!allocator) return com::E_POINTER;
  allocator->AddRef();
  if (allocator_) allocator_->Release();
  allocator_ = allocator;
  return com::S_OK;
}

HRESULT BaseInputPin::Receive(IMediaSample* sample) {
  if (!sample) return com::E_POINTER;
  if (filter_->State() == FilterState::kStopped) return VFW_E_WRONG_STATE;
  if (AtEndOfStream()) return VFW_E_SAMPLE_REJECTED_EOS;
  return com::S_OK;
}

// ---- BaseFilter

BaseFilter::BaseFilter(const char16_t*, const GUID& clsid) : clsid_(clsid) { com::ModuleAddRef(); }

BaseFilter::~BaseFilter() { com::ModuleRelease(); }

HRESULT BaseFilter::QueryInterface(const GUID& iid, void** object) {
  if (!object) return com::E_POINTER;
  if (iid == com::IID_IUnknown || iid == IID_IBaseFilter) {
    *object = static_cast<IBaseFilter*>(this);
    AddRef();
    return com::S_OK;
  }
  *object = nullptr;
  return com::E_NOINTERFACE;
}

uint32_t BaseFilter::Release() {
  const uint32_t left = refs_.Decrement();
  if (left == 0) delete this;
  return left;
}

HRESULT BaseFilter::GetClassID(GUID* clsid) {
  if (!clsid) return com::E_POINTER;
  *clsid = clsid_;
  return com::S_OK;
}

HRESULT BaseFilter::Stop() {
  std::lock_guard<std::recursive_mutex> hold(lock_);
  HRESULT result = com::S_OK;
  if (State() != FilterState::kStopped) {
    for (int i = 0; i < GetPinCount(); ++i) {
      BasePin* pin = GetPin(i);
      if (pin && pin->IsConnected()) {
        const HRESULT hr = pin->Inactive();
        if (com::Failed(hr) && com::Succeeded(result)) result = hr;
      }
    }
  }
  state_.store(FilterState::kStopped, std::memory_order_release);
  return result;
}

HRESULT BaseFilter::Pause() {
  std::lock_guard<std::recursive_mutex> hold(lock_);
  if (State() == FilterState::kStopped) {
    // The state changes first: a pin's thread may deliver at once.
    state_.store(FilterState::kPaused, std::memory_order_release);
    for (int i = 0; i < GetPinCount(); ++i) {
      BasePin* pin = GetPin(i);
      if (pin && pin->IsConnected()) {
        const HRESULT hr = pin->Active();
        if (com::Failed(hr)) {
          Stop();
          return hr;
        }
      }
    }
  }
  state_.store(FilterState::kPaused, std::memory_order_release);
  return com::S_OK;
}

HRESULT BaseFilter::Run(REFERENCE_TIME) {
  std::lock_guard<std::recursive_mutex> hold(lock_);
  if (State() == FilterState::kStopped) {
    const HRESULT hr = Pause();
    if (com::Failed(hr)) return hr;
  }
  state_.store(FilterState::kRunning, std::memory_order_release);
  return com::S_OK;
}

HRESULT BaseFilter::GetState(uint32_t, FilterState* state) {
  if (!state) return com::E_POINTER;
  *state = State();
  return com::S_OK;
}

HRESULT BaseFilter::EnumPins(IEnumPins** pins) {
  if (!pins) return com::E_POINTER;
  *pins = new (std::nothrow) PinEnumerator(this);
  return *pins ? com::S_OK : com::E_OUTOFMEMORY;
}

HRESULT BaseFilter::FindPin(const char16_t* id, IPin** pin) {
  if (!id || !pin) return com::E_POINTER;
  *pin = nullptr;
  for (int i = 0; i < GetPinCount(); ++i) {
    BasePin* p = GetPin(i);
    if (p && p->Name().Compare(id) == 0) {
      p->AddRef();
      *pin = p;
      return com::S_OK;
    }
  }
  return VFW_E_NOT_FOUND;
}

HRESULT BaseFilter::QueryFilterInfo(FILTER_INFO* info) {
  if (!info) return com::E_POINTER;
  CopyName(name_, info->achName);
  info->pGraph = graph_;
  if (graph_) graph_->AddRef();
  return com::S_OK;
}

HRESULT BaseFilter::JoinFilterGraph(IFilterGraph* graph, const char16_t* name) {
  std::lock_guard<std::recursive_mutex> hold(lock_);
  graph_ = graph;
  sink_ = nullptr;
  name_ = name ? ov::String(name) : ov::String();
  if (graph) {
    IMediaEventSink* sink = nullptr;
    if (com::Succeeded(graph->QueryInterface(IID_IMediaEventSink, reinterpret_cast<void**>(&sink)))) {
      // The graph outlives its filters' membership: no reference is kept.
      sink_ = sink;
      sink->Release();
    }
  }
  return com::S_OK;
}

HRESULT BaseFilter::NotifyEvent(int32_t code, intptr_t param1, intptr_t param2) {
  IMediaEventSink* sink = sink_;
  return sink ? sink->Notify(code, param1, param2) : com::E_NOTIMPL;
}

}  // namespace dshow
