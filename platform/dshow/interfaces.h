#pragma once
// The filter-graph interfaces, as far as the system's graphs use them.
//
// A graph holds filters; a filter has pins; an output pin connects to an
// input pin with one media type and pushes samples (IMediaSample, taken from
// an allocator that the two pins agree on) into the input pin's
// IMemInputPin::Receive, on the output pin's own thread. End of stream
// travels the same way (IPin::EndOfStream). A filter at the end of a chain
// reports EC_COMPLETE to the graph when every input has ended; the graph's
// IMediaEvent::WaitForCompletion returns when every such filter has.
//
// Every method returns an HRESULT; an interface handed out carries a
// reference for the caller.

#include <cstdint>

#include "platform/com/unknown.h"
#include "platform/dshow/dshow_types.h"
#include "platform/dshow/media_type.h"

namespace dshow {

using com::IUnknown;

class IBaseFilter;
class IFilterGraph;
class IMemAllocator;

// The longest filter or pin name, with its terminating 0.
constexpr int kMaxNameUnits = 128;

class IMediaSample : public IUnknown {
 public:
  virtual HRESULT GetPointer(uint8_t** buffer) = 0;
  // Bytes the buffer holds (0 on failure).
  virtual int32_t GetSize() = 0;
  // VFW_E_SAMPLE_TIME_NOT_SET analogue: E_FAIL when no time was set.
  virtual HRESULT GetTime(REFERENCE_TIME* start, REFERENCE_TIME* stop) = 0;
  // Null start clears the time.
  virtual HRESULT SetTime(const REFERENCE_TIME* start, const REFERENCE_TIME* stop) = 0;
  virtual HRESULT GetMediaTime(int64_t* start, int64_t* stop) = 0;
  virtual HRESULT SetMediaTime(const int64_t* start, const int64_t* stop) = 0;
  virtual int32_t GetActualDataLength() = 0;
  // VFW_E_BUFFER_OVERFLOW above GetSize().
  virtual HRESULT SetActualDataLength(int32_t length) = 0;
  virtual HRESULT IsSyncPoint() = 0;
  virtual HRESULT SetSyncPoint(bool sync) = 0;

 protected:
  ~IMediaSample() = default;
};

// GetBuffer flag: answer VFW_E_TIMEOUT at once instead of waiting for a free buffer.
constexpr uint32_t AM_GBF_NOWAIT = 4;

class IMemAllocator : public IUnknown {
 public:
  // Asks for buffers; *actual receives what is granted (which may differ).
  // VFW_E_ALREADY_COMMITTED analogue while committed: VFW_E_WRONG_STATE.
  virtual HRESULT SetProperties(const ALLOCATOR_PROPERTIES* request, ALLOCATOR_PROPERTIES* actual) = 0;
  virtual HRESULT GetProperties(ALLOCATOR_PROPERTIES* props) = 0;
  virtual HRESULT Commit() = 0;
  // Wakes every waiting GetBuffer (VFW_E_NOT_COMMITTED).
  virtual HRESULT Decommit() = 0;
  // A free sample (its length 0, times cleared); waits for one unless flags
  // hold AM_GBF_NOWAIT. The sample returns to the allocator when released.
  virtual HRESULT GetBuffer(IMediaSample** sample, REFERENCE_TIME* start, REFERENCE_TIME* stop, uint32_t flags) = 0;

 protected:
  ~IMemAllocator() = default;
};

struct PIN_INFO {
  IBaseFilter* pFilter;  // carries a reference
  PinDirection dir;
  char16_t achName[kMaxNameUnits];
};

class IPin : public IUnknown {
 public:
  // Output pins: connects to receive_pin, with type when given, else with the
  // first of this pin's types (by position) that both accept.
  virtual HRESULT Connect(IPin* receive_pin, const AM_MEDIA_TYPE* type) = 0;
  // Input pins: accepts a connection from an output pin.
  virtual HRESULT ReceiveConnection(IPin* connector, const AM_MEDIA_TYPE* type) = 0;
  virtual HRESULT Disconnect() = 0;
  virtual HRESULT ConnectedTo(IPin** pin) = 0;
  virtual HRESULT ConnectionMediaType(AM_MEDIA_TYPE* type) = 0;
  virtual HRESULT QueryPinInfo(PIN_INFO* info) = 0;
  virtual HRESULT QueryDirection(PinDirection* dir) = 0;
  // S_OK when the pin would take the type, else S_FALSE.
  virtual HRESULT QueryAccept(const AM_MEDIA_TYPE* type) = 0;
  // The pin's preferred type at position: S_OK, VFW_S_NO_MORE_ITEMS past the
  // last, or an error.
  virtual HRESULT EnumMediaType(int position, AM_MEDIA_TYPE* type) = 0;
  // Input pins: no sample follows.
  virtual HRESULT EndOfStream() = 0;

 protected:
  ~IPin() = default;
};

class IEnumPins : public IUnknown {
 public:
  // Up to count pins; S_FALSE when fewer were left.
  virtual HRESULT Next(uint32_t count, IPin** pins, uint32_t* fetched) = 0;
  virtual HRESULT Reset() = 0;

 protected:
  ~IEnumPins() = default;
};

class IMemInputPin : public IUnknown {
 public:
  virtual HRESULT GetAllocator(IMemAllocator** allocator) = 0;
  virtual HRESULT NotifyAllocator(IMemAllocator* allocator, bool read_only) = 0;
  // E_NOTIMPL when the pin has no requirements.
  virtual HRESULT GetAllocatorRequirements(ALLOCATOR_PROPERTIES* props) = 0;
  // Takes one sample; called on the upstream pin's thread.
  virtual HRESULT Receive(IMediaSample* sample) = 0;

 protected:
  ~IMemInputPin() = default;
};

struct FILTER_INFO {
  char16_t achName[kMaxNameUnits];
  IFilterGraph* pGraph;  // carries a reference when not null
};

class IBaseFilter : public IUnknown {
 public:
  virtual HRESULT GetClassID(GUID* clsid) = 0;
  virtual HRESULT Stop() = 0;
  virtual HRESULT Pause() = 0;
  virtual HRESULT Run(REFERENCE_TIME start) = 0;
  virtual HRESULT GetState(uint32_t timeout_ms, FilterState* state) = 0;
  virtual HRESULT EnumPins(IEnumPins** pins) = 0;
  virtual HRESULT FindPin(const char16_t* id, IPin** pin) = 0;
  virtual HRESULT QueryFilterInfo(FILTER_INFO* info) = 0;
  // The graph calls it when the filter joins (graph, name) or leaves
  // (null, null). The filter keeps no reference on the graph.
  virtual HRESULT JoinFilterGraph(IFilterGraph* graph, const char16_t* name) = 0;

 protected:
  ~IBaseFilter() = default;
};

class IMediaEventSink : public IUnknown {
 public:
  virtual HRESULT Notify(int32_t code, intptr_t param1, intptr_t param2) = 0;

 protected:
  ~IMediaEventSink() = default;
};

class IFilterGraph : public IUnknown {
 public:
  // name may be null (the graph makes one); a second filter of the same name
  // gets a numbered one.
  virtual HRESULT AddFilter(IBaseFilter* filter, const char16_t* name) = 0;
  virtual HRESULT RemoveFilter(IBaseFilter* filter) = 0;
  virtual HRESULT FindFilterByName(const char16_t* name, IBaseFilter** filter) = 0;
  virtual HRESULT ConnectDirect(IPin* out, IPin* in, const AM_MEDIA_TYPE* type) = 0;
  virtual HRESULT Disconnect(IPin* pin) = 0;

 protected:
  ~IFilterGraph() = default;
};

class IGraphBuilder : public IFilterGraph {
 public:
  // Connects out to in (directly; no filters are inserted).
  virtual HRESULT Connect(IPin* out, IPin* in) = 0;

 protected:
  ~IGraphBuilder() = default;
};

class IMediaControl : public IUnknown {
 public:
  virtual HRESULT Run() = 0;
  virtual HRESULT Pause() = 0;
  // Stops every filter, sources first; their threads are joined.
  virtual HRESULT Stop() = 0;
  virtual HRESULT GetState(int32_t timeout_ms, FilterState* state) = 0;

 protected:
  ~IMediaControl() = default;
};

// The infinite time-out of WaitForCompletion.
constexpr int32_t kInfiniteTimeout = -1;

class IMediaEvent : public IUnknown {
 public:
  // Waits until the graph completes (EC_COMPLETE), aborts (EC_ERRORABORT,
  // EC_USERABORT) or timeout_ms passes: S_OK with the code, or E_ABORT with
  // code 0 on time-out.
  virtual HRESULT WaitForCompletion(int32_t timeout_ms, int32_t* code) = 0;
  // The next queued event, waiting up to timeout_ms: E_ABORT when none.
  virtual HRESULT GetEvent(int32_t* code, intptr_t* param1, intptr_t* param2, int32_t timeout_ms) = 0;

 protected:
  ~IMediaEvent() = default;
};

class IFileSinkFilter : public IUnknown {
 public:
  virtual HRESULT SetFileName(const char16_t* file, const AM_MEDIA_TYPE* type) = 0;
  // *file is a copy the caller frees with delete[] (null when none is set).
  virtual HRESULT GetCurFile(char16_t** file, AM_MEDIA_TYPE* type) = 0;

 protected:
  ~IFileSinkFilter() = default;
};

class ICaptureGraphBuilder2 : public IUnknown {
 public:
  virtual HRESULT SetFiltergraph(IGraphBuilder* graph) = 0;
  virtual HRESULT GetFiltergraph(IGraphBuilder** graph) = 0;
  // Creates the multiplexer of class *type, adds it to the graph and gives it
  // the file name; returns the filter and its file-sink interface.
  virtual HRESULT SetOutputFileName(const GUID* type, const char16_t* file, IBaseFilter** mux,
                                    IFileSinkFilter** sink) = 0;
  // Connects an unconnected output pin of source (a filter or a pin) whose
  // types include the major type *media_type (any, when null) through
  // intermediate (may be null) to sink's first free input pin.
  virtual HRESULT RenderStream(const GUID* category, const GUID* media_type, IUnknown* source,
                               IBaseFilter* intermediate, IBaseFilter* sink) = 0;

 protected:
  ~ICaptureGraphBuilder2() = default;
};

class IDMOWrapperFilter : public IUnknown {
 public:
  // Creates the media object of clsid (category noted) and makes the pins.
  virtual HRESULT Init(const GUID& clsid, const GUID& category) = 0;

 protected:
  ~IDMOWrapperFilter() = default;
};

}  // namespace dshow
