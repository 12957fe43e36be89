#pragma once
// Base classes of filters and pins.
//
// BaseFilter keeps the state (stopped, paused, running), the name and the
// graph; its pins are counted with the filter (a pin's AddRef and Release
// are the filter's). Pause activates every connected pin, Stop deactivates
// them. BasePin keeps the connection and its media type; BaseOutputPin
// connects by trying its own types by position (GetMediaType), then the
// receiving pin's, each through CheckMediaType, SetMediaType and the
// receiving pin's ReceiveConnection, and then agrees on the allocator
// (DecideBufferSize; the granted properties are the pin's to check).
// BaseInputPin accepts a connection through CheckMediaType and SetMediaType
// and offers an allocator of its own.
//
// Thread: connection and state calls on the graph's thread; Receive,
// EndOfStream and the output pin's Deliver calls on the streaming thread.

#include <atomic>
#include <mutex>
#include <vector>

#include "platform/com/unknown.h"
#include "platform/dshow/interfaces.h"
#include "platform/os/ov_string.h"

namespace dshow {

class BaseFilter;

class BasePin : public IPin {
 public:
  BasePin(BaseFilter* filter, const char16_t* name, PinDirection dir);
  virtual ~BasePin();
  BasePin(const BasePin&) = delete;
  BasePin& operator=(const BasePin&) = delete;

  HRESULT QueryInterface(const GUID& iid, void** object) override;
  uint32_t AddRef() override;
  uint32_t Release() override;

  HRESULT Disconnect() override;
  HRESULT ConnectedTo(IPin** pin) override;
  HRESULT ConnectionMediaType(AM_MEDIA_TYPE* type) override;
  HRESULT QueryPinInfo(PIN_INFO* info) override;
  HRESULT QueryDirection(PinDirection* dir) override;
  HRESULT QueryAccept(const AM_MEDIA_TYPE* type) override;
  HRESULT EnumMediaType(int position, AM_MEDIA_TYPE* type) override;

  // S_OK when the pin takes the type; S_FALSE or an error otherwise.
  virtual HRESULT CheckMediaType(const AM_MEDIA_TYPE* type) = 0;
  // The pin's type at position (S_OK; VFW_S_NO_MORE_ITEMS past the last).
  virtual HRESULT GetMediaType(int position, AM_MEDIA_TYPE* type);
  // Records the connection type.
  virtual HRESULT SetMediaType(const AM_MEDIA_TYPE* type);
  // Called when a connection breaks.
  virtual HRESULT BreakConnect() { return com::S_OK; }
  // Streaming starts (the filter leaves the stopped state) and stops.
  virtual HRESULT Active() { return com::S_OK; }
  virtual HRESULT Inactive() { return com::S_OK; }

  bool IsConnected() const { return connected_ != nullptr; }
  IPin* GetConnected() const { return connected_; }
  const ov::String& Name() const { return name_; }
  const AM_MEDIA_TYPE& ConnectionType() const { return *mt_.get(); }
  BaseFilter* Filter() const { return filter_; }

 protected:
  BaseFilter* filter_;
  ov::String name_;
  PinDirection dir_;
  IPin* connected_ = nullptr;  // holds a reference
  MediaType mt_;
};

class BaseOutputPin : public BasePin {
 public:
  BaseOutputPin(BaseFilter* filter, const char16_t* name);
  ~BaseOutputPin() override;

  HRESULT Connect(IPin* receive_pin, const AM_MEDIA_TYPE* type) override;
  HRESULT ReceiveConnection(IPin*, const AM_MEDIA_TYPE*) override { return com::E_UNEXPECTED; }
  HRESULT EndOfStream() override { return com::E_UNEXPECTED; }
  HRESULT Disconnect() override;
  HRESULT Active() override;
  HRESULT Inactive() override;

  // Sets the buffer properties on allocator (request holds the downstream
  // pin's wishes, zero when it has none) and checks what was granted.
  virtual HRESULT DecideBufferSize(IMemAllocator* allocator, ALLOCATOR_PROPERTIES* request) = 0;

  // A sample of the agreed allocator (flags: AM_GBF_NOWAIT).
  HRESULT GetDeliveryBuffer(IMediaSample** sample, uint32_t flags);
  HRESULT Deliver(IMediaSample* sample);
  HRESULT DeliverEndOfStream();
  IMemAllocator* Allocator() const { return allocator_; }

 private:
  HRESULT TryConnect(IPin* receive_pin, const AM_MEDIA_TYPE* type);
  HRESULT DecideAllocator();
  void ReleaseConnection();

  IMemInputPin* input_ = nullptr;       // holds a reference
  IMemAllocator* allocator_ = nullptr;  // holds a reference
};

class BaseInputPin : public BasePin, public IMemInputPin {
 public:
  BaseInputPin(BaseFilter* filter, const char16_t* name);
  ~BaseInputPin() override;

  HRESULT QueryInterface(const GUID& iid, void** object) override;
  uint32_t AddRef() override { return BasePin::AddRef(); }
  uint32_t Release() override { return BasePin::Release(); }

  HRESULT Connect(IPin*, const AM_MEDIA_TYPE*) override { return com::E_UNEXPECTED; }
  HRESULT ReceiveConnection(IPin* connector, const AM_MEDIA_TYPE* type) override;
  HRESULT Disconnect() override;
  // Marks the end; derived pins pass it on and call this first.
  HRESULT EndOfStream() override;
  HRESULT Active() override;

  HRESULT GetAllocator(IMemAllocator** allocator) override;
  HRESULT NotifyAllocator(IMemAllocator* allocator, bool read_only) override;
  HRESULT GetAllocatorRequirements(ALLOCATOR_PROPERTIES*) override { return com::E_NOTIMPL; }
  // Checks the state (VFW_E_WRONG_STATE while stopped,
  // VFW_E_SAMPLE_REJECTED_EOS after the end); derived pins call it first.
  HRESULT Receive(IMediaSample* sample) override;

  bool AtEndOfStream() const { return end_of_stream_.load(std::memory_order_acquire); }

 protected:
  IMemAllocator* allocator_ = nullptr;  // holds a reference
  std::atomic<bool> end_of_stream_{false};
};

class BaseFilter : public IBaseFilter {
 public:
  BaseFilter(const char16_t* object_name, const GUID& clsid);
  virtual ~BaseFilter();
  BaseFilter(const BaseFilter&) = delete;
  BaseFilter& operator=(const BaseFilter&) = delete;

  HRESULT QueryInterface(const GUID& iid, void** object) override;
  uint32_t AddRef() override { return refs_.Increment(); }
  uint32_t Release() override;

  HRESULT GetClassID(GUID* clsid) override;
  HRESULT Stop() override;
  HRESULT Pause() override;
  HRESULT Run(REFERENCE_TIME start) override;
  HRESULT GetState(uint32_t timeout_ms, FilterState* state) override;
  HRESULT EnumPins(IEnumPins** pins) override;
  HRESULT FindPin(const char16_t* id, IPin** pin) override;
  HRESULT QueryFilterInfo(FILTER_INFO* info) override;
  HRESULT JoinFilterGraph(IFilterGraph* graph, const char16_t* name) override;

  virtual int GetPinCount() = 0;
  virtual BasePin* GetPin(int n) = 0;

  // Passes an event to the graph (none when outside a graph).
  HRESULT NotifyEvent(int32_t code, intptr_t param1, intptr_t param2);
  FilterState State() const { return state_.load(std::memory_order_acquire); }
  IFilterGraph* Graph() const { return graph_; }

 protected:
  friend class BaseOutputPin;
  friend class BaseInputPin;
  // Held by state changes and connections.
  std::recursive_mutex lock_;

 private:
  com::RefCount refs_;
  GUID clsid_;
  std::atomic<FilterState> state_{FilterState::kStopped};
  IFilterGraph* graph_ = nullptr;  // no reference: the graph holds the filter
  std::atomic<IMediaEventSink*> sink_{nullptr};
  ov::String name_;
};

// Copies text into a fixed name field (cut to fit, 0-terminated).
void CopyName(const ov::String& text, char16_t (&field)[kMaxNameUnits]);

}  // namespace dshow
