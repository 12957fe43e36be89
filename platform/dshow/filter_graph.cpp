#include "platform/dshow/filter_graph.h"

#include <algorithm>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <new>
#include <vector>

#include "platform/com/class_table.h"
#include "platform/dshow/dmo_wrapper_filter.h"
#include "platform/os/ov_string.h"

namespace dshow {
namespace {

using com::ComPtr;
using com::S_OK;

struct GraphEvent {
  int32_t code;
  intptr_t param1;
  intptr_t param2;
};

// Each pin of filter, with a reference.
std::vector<ComPtr<IPin>> PinsOf(IBaseFilter* filter) {
  std::vector<ComPtr<IPin>> pins;
  ComPtr<IEnumPins> e;
  if (!filter || com::Failed(filter->EnumPins(e.Receive()))) return pins;
  IPin* pin = nullptr;
  uint32_t got = 0;
  while (e->Next(1, &pin, &got) == S_OK && got == 1) pins.push_back(ComPtr<IPin>::Adopt(pin));
  return pins;
}

PinDirection DirectionOf(IPin* pin) {
  PinDirection dir = PinDirection::kInput;
  pin->QueryDirection(&dir);
  return dir;
}

bool IsPinConnected(IPin* pin) {
  ComPtr<IPin> other;
  return pin->ConnectedTo(other.Receive()) == S_OK;
}

// The first pin of filter in direction dir that is not connected.
ComPtr<IPin> FreePin(IBaseFilter* filter, PinDirection dir) {
  for (ComPtr<IPin>& pin : PinsOf(filter)) {
    if (DirectionOf(pin.Get()) == dir && !IsPinConnected(pin.Get())) return pin;
  }
  return nullptr;
}

// Whether one of pin's types has the major type.
bool PinOffers(IPin* pin, const GUID& major) {
  for (int position = 0; position < 16; ++position) {
    MediaType type;
    if (pin->EnumMediaType(position, type.get()) != S_OK) break;
    if (type->majortype == major) return true;
  }
  return false;
}

class FilterGraph final : public IGraphBuilder, public IMediaControl, public IMediaEvent, public IMediaEventSink {
 public:
  FilterGraph() { com::ModuleAddRef(); }

  HRESULT QueryInterface(const GUID& iid, void** object) override {
    if (!object) return com::E_POINTER;
    if (iid == com::IID_IUnknown || iid == IID_IGraphBuilder || iid == IID_IFilterGraph) {
      *object = static_cast<IGraphBuilder*>(this);
    } else if (iid == IID_IMediaControl) {
      *object = static_cast<IMediaControl*>(this);
    } else if (iid == IID_IMediaEvent) {
      *object = static_cast<IMediaEvent*>(this);
    } else if (iid == IID_IMediaEventSink) {
      *object = static_cast<IMediaEventSink*>(this);
    } else {
      *object = nullptr;
      return com::E_NOINTERFACE;
    }
    AddRef();
    return S_OK;
  }
  uint32_t AddRef() override { return refs_.Increment(); }
  uint32_t Release() override {
    const uint32_t left = refs_.Decrement();
    if (left == 0) delete this;
    return left;
  }

  // ---- IFilterGraph / IGraphBuilder
  HRESULT AddFilter(IBaseFilter* filter, const char16_t* name) override {
    if (!filter) return com::E_POINTER;
    std::lock_guard<std::recursive_mutex> hold(lock_);
    ov::String base = name ? ov::String(name) : ov::String(u"Filter");
    ov::String unique = base;
    for (int n = 2; FindLocked(unique); ++n) unique = base + ov::String::Format(u" %d", n);
    HRESULT hr = filter->JoinFilterGraph(static_cast<IGraphBuilder*>(this), unique.c_str());
    if (com::Failed(hr)) return hr;
    filters_.push_back(Entry{ComPtr<IBaseFilter>::Share(filter), unique});
    return unique.Compare(base.View()) == 0 ? S_OK : VFW_S_DUPLICATE_NAME;
  }

  HRESULT RemoveFilter(IBaseFilter* filter) override {
    std::lock_guard<std::recursive_mutex> hold(lock_);
    for (auto it = filters_.begin(); it != filters_.end(); ++it) {
      if (it->filter.Get() != filter) continue;
      filter->Stop();
      for (ComPtr<IPin>& pin : PinsOf(filter)) {
        ComPtr<IPin> other;
        if (pin->ConnectedTo(other.Receive()) == S_OK) {
          other->Disconnect();
          pin->Disconnect();
        }
      }
      filter->JoinFilterGraph(nullptr, nullptr);
      filters_.erase(it);
      return S_OK;
    }
    return VFW_E_NOT_FOUND;
  }

  HRESULT FindFilterByName(const char16_t* name, IBaseFilter** filter) override {
    if (!name || !filter) return com::E_POINTER;
    std::lock_guard<std::recursive_mutex> hold(lock_);
    *filter = FindLocked(name);
    if (!*filter) return VFW_E_NOT_FOUND;
    (*filter)->AddRef();
    return S_OK;
  }

  HRESULT ConnectDirect(IPin* out, IPin* in, const AM_MEDIA_TYPE* type) override {
    if (!out || !in) return com::E_POINTER;
    std::lock_guard<std::recursive_mutex> hold(lock_);
    if (state_ != FilterState::kStopped) return VFW_E_NOT_STOPPED;
    return out->Connect(in, type);
  }

  HRESULT Disconnect(IPin* pin) override {
    if (!pin) return com::E_POINTER;
    return pin->Disconnect();
  }

  HRESULT Connect(IPin* out, IPin* in) override {
    const HRESULT hr = ConnectDirect(out, in, nullptr);
    return com::Succeeded(hr) ? S_OK : VFW_E_CANNOT_CONNECT;
  }

  // ---- IMediaControl
  HRESULT Run() override {
    std::lock_guard<std::recursive_mutex> hold(lock_);
    if (state_ == FilterState::kRunning) return S_OK;
    if (state_ == FilterState::kStopped) {
      std::lock_guard<std::mutex> events(event_lock_);
      renderers_ = CountRenderers();
      completed_ = 0;
      complete_code_ = 0;
      events_.clear();
    }
    std::vector<IBaseFilter*> order = Order();
    // Downstream first: a source's thread finds its receivers running.
    for (auto it = order.rbegin(); it != order.rend(); ++it) {
      const HRESULT hr = (*it)->Run(0);
      if (com::Failed(hr)) {
        StopLocked();
        return hr;
      }
    }
    state_ = FilterState::kRunning;
    return S_OK;
  }

  HRESULT Pause() override {
    std::lock_guard<std::recursive_mutex> hold(lock_);
    std::vector<IBaseFilter*> order = Order();
    for (auto it = order.rbegin(); it != order.rend(); ++it) {
      const HRESULT hr = (*it)->Pause();
      if (com::Failed(hr)) {
        StopLocked();
        return hr;
      }
    }
    state_ = FilterState::kPaused;
    return S_OK;
  }

  HRESULT Stop() override {
    std::lock_guard<std::recursive_mutex> hold(lock_);
    return StopLocked();
  }

  HRESULT GetState(int32_t, FilterState* state) override {
    if (!state) return com::E_POINTER;
    std::lock_guard<std::recursive_mutex> hold(lock_);
    *state = state_;
    return S_OK;
  }

  // ---- IMediaEvent
  HRESULT WaitForCompletion(int32_t timeout_ms, int32_t* code) override {
    if (!code) return com::E_POINTER;
    std::unique_lock<std::mutex> hold(event_lock_);
    auto done = [this] { return complete_code_ != 0; };
    if (timeout_ms < 0) {
      changed_.wait(hold, done);
    } else if (!changed_.wait_for(hold, std::chrono::milliseconds(timeout_ms), done)) {
      *code = 0;
      return com::E_ABORT;
    }
    *code = complete_code_;
    return S_OK;
  }

  HRESULT GetEvent(int32_t* code, intptr_t* param1, intptr_t* param2, int32_t timeout_ms) override {
    if (!code || !param1 || !param2) return com::E_POINTER;
    std::unique_lock<std::mutex> hold(event_lock_);
    auto ready = [this] { return !events_.empty(); };
    if (timeout_ms < 0) {
      changed_.wait(hold, ready);
    } else if (!changed_.wait_for(hold, std::chrono::milliseconds(timeout_ms), ready)) {
      return com::E_ABORT;
    }
    const GraphEvent e = events_.front();
    events_.pop_front();
    *code = e.code;
    *param1 = e.param1;
    *param2 = e.param2;
    return S_OK;
  }

  // ---- IMediaEventSink
  HRESULT Notify(int32_t code, intptr_t param1, intptr_t param2) override {
    {
      std::lock_guard<std::mutex> hold(event_lock_);
      if (code == EC_COMPLETE) {
        // One per filter at the end of a chain; the graph completes with the last.
        if (++completed_ >= renderers_ && complete_code_ == 0) {
          complete_code_ = EC_COMPLETE;
          events_.push_back(GraphEvent{EC_COMPLETE, S_OK, 0});
        }
      } else {
        events_.push_back(GraphEvent{code, param1, param2});
        if ((code == EC_ERRORABORT || code == EC_USERABORT) && complete_code_ == 0) complete_code_ = code;
      }
    }
    changed_.notify_all();
    return S_OK;
  }

 private:
  struct Entry {
    ComPtr<IBaseFilter> filter;
    ov::String name;
  };

  ~FilterGraph() {
    std::lock_guard<std::recursive_mutex> hold(lock_);
    StopLocked();
    for (Entry& e : filters_) {
      for (ComPtr<IPin>& pin : PinsOf(e.filter.Get())) pin->Disconnect();
    }
    for (Entry& e : filters_) e.filter->JoinFilterGraph(nullptr, nullptr);
    filters_.clear();
    com::ModuleRelease();
  }

  IBaseFilter* FindLocked(const ov::String& name) {
    for (Entry& e : filters_) {
      if (e.name.Compare(name.View()) == 0) return e.filter.Get();
    }
    return nullptr;
  }

  // Filters from sources to sinks (each after every filter that feeds it).
  std::vector<IBaseFilter*> Order() {
    std::vector<IBaseFilter*> order;
    std::vector<IBaseFilter*> left;
    for (Entry& e : filters_) left.push_back(e.filter.Get());
    while (!left.empty()) {
      bool moved = false;
      for (auto it = left.begin(); it != left.end();) {
        if (!FedByAny(*it, left)) {
          order.push_back(*it);
          it = left.erase(it);
          moved = true;
        } else {
          ++it;
        }
      }
      if (!moved) {  // a cycle cannot be built with direct connections; keep going
        order.insert(order.end(), left.begin(), left.end());
        break;
      }
    }
    return order;
  }

  // Whether a connected input pin of filter is fed by one of candidates.
  static bool FedByAny(IBaseFilter* filter, const std::vector<IBaseFilter*>& candidates) {
    for (ComPtr<IPin>& pin : PinsOf(filter)) {
      if (DirectionOf(pin.Get()) != PinDirection::kInput) continue;
      ComPtr<IPin> other;
      if (pin->ConnectedTo(other.Receive()) != S_OK) continue;
      PIN_INFO info{};
      if (com::Failed(other->QueryPinInfo(&info))) continue;
      ComPtr<IBaseFilter> upstream = ComPtr<IBaseFilter>::Adopt(info.pFilter);
      if (upstream.Get() != filter &&
          std::find(candidates.begin(), candidates.end(), upstream.Get()) != candidates.end()) {
        return true;
      }
    }
    return false;
  }

  // Filters with a connected input and no connected output.
  int CountRenderers() {
    int count = 0;
    for (Entry& e : filters_) {
      bool input = false, output = false;
      for (ComPtr<IPin>& pin : PinsOf(e.filter.Get())) {
        if (!IsPinConnected(pin.Get())) continue;
        (DirectionOf(pin.Get()) == PinDirection::kInput ? input : output) = true;
      }
      if (input && !output) ++count;
    }
    return count;
  }

  HRESULT StopLocked() {
    HRESULT result = S_OK;
    for (IBaseFilter* f : Order()) {
      const HRESULT hr = f->Stop();
      if (com::Failed(hr) && com::Succeeded(result)) result = hr;
    }
    state_ = FilterState::kStopped;
    return result;
  }

  com::RefCount refs_;
  std::recursive_mutex lock_;  // filters, connections, state
  std::vector<Entry> filters_;
  FilterState state_ = FilterState::kStopped;

  std::mutex event_lock_;  // the events alone: filters notify while the graph stops them
  std::condition_variable changed_;
  std::deque<GraphEvent> events_;
  int renderers_ = 0;
  int completed_ = 0;
  int32_t complete_code_ = 0;
};

class CaptureGraphBuilder final : public ICaptureGraphBuilder2 {
 public:
  CaptureGraphBuilder() { com::ModuleAddRef(); }

  HRESULT QueryInterface(const GUID& iid, void** object) override {
    return com::QuerySingleInterface<ICaptureGraphBuilder2>(this, IID_ICaptureGraphBuilder2, iid, object);
  }
  uint32_t AddRef() override { return refs_.Increment(); }
  uint32_t Release() override {
    const uint32_t left = refs_.Decrement();
    if (left == 0) delete this;
    return left;
  }

  HRESULT SetFiltergraph(IGraphBuilder* graph) override {
    if (!graph) return com::E_POINTER;
    if (graph_) return com::E_UNEXPECTED;
    graph_ = ComPtr<IGraphBuilder>::Share(graph);
    return S_OK;
  }

  HRESULT GetFiltergraph(IGraphBuilder** graph) override {
    if (!graph) return com::E_POINTER;
    *graph = graph_.Get();
    if (!*graph) return com::E_UNEXPECTED;
    (*graph)->AddRef();
    return S_OK;
  }

  HRESULT SetOutputFileName(const GUID* type, const char16_t* file, IBaseFilter** mux,
                            IFileSinkFilter** sink) override {
    if (!type || !file) return com::E_POINTER;
    if (!graph_) return com::E_UNEXPECTED;
    ComPtr<IBaseFilter> filter;
    HRESULT hr = com::CoCreateInstance(*type, nullptr, com::CLSCTX_INPROC_SERVER, IID_IBaseFilter, filter.ReceiveVoid());
    if (com::Failed(hr)) return hr;
    hr = graph_->AddFilter(filter.Get(), u"Mux");
    if (com::Failed(hr)) return hr;
    ComPtr<IFileSinkFilter> file_sink;
    hr = filter.As(IID_IFileSinkFilter, &file_sink);
    if (com::Succeeded(hr)) hr = file_sink->SetFileName(file, nullptr);
    if (com::Failed(hr)) {
      graph_->RemoveFilter(filter.Get());
      return hr;
    }
    if (mux) *mux = filter.Detach();
    if (sink) *sink = file_sink.Detach();
    return S_OK;
  }

  HRESULT RenderStream(const GUID*, const GUID* media_type, IUnknown* source, IBaseFilter* intermediate,
                       IBaseFilter* sink) override {
    if (!source) return com::E_POINTER;
    if (!graph_) return com::E_UNEXPECTED;
    ComPtr<IPin> out;
    ComPtr<IBaseFilter> source_filter;
    if (com::Succeeded(source->QueryInterface(IID_IBaseFilter, source_filter.ReceiveVoid()))) {
      for (ComPtr<IPin>& pin : PinsOf(source_filter.Get())) {
        if (DirectionOf(pin.Get()) != PinDirection::kOutput || IsPinConnected(pin.Get())) continue;
        if (media_type && !PinOffers(pin.Get(), *media_type)) continue;
        out = pin;
        break;
      }
    } else {
      source->QueryInterface(IID_IPin, out.ReceiveVoid());
    }
    if (!out) return com::E_INVALIDARG;
    if (intermediate) {
      ComPtr<IPin> in = FreePin(intermediate, PinDirection::kInput);
      if (!in || com::Failed(graph_->Connect(out.Get(), in.Get()))) return VFW_E_CANNOT_CONNECT;
      if (!sink) return S_OK;
      out = FreePin(intermediate, PinDirection::kOutput);
      if (!out) return VFW_E_CANNOT_CONNECT;
    }
    if (!sink) return VFW_E_CANNOT_RENDER;
    ComPtr<IPin> in = FreePin(sink, PinDirection::kInput);
    if (!in || com::Failed(graph_->Connect(out.Get(), in.Get()))) return VFW_E_CANNOT_CONNECT;
    return S_OK;
  }

 private:
  ~CaptureGraphBuilder() { com::ModuleRelease(); }
  com::RefCount refs_;
  ComPtr<IGraphBuilder> graph_;
};

}  // namespace

HRESULT CreateFilterGraph(const GUID& iid, void** object) { return com::CreateObjectAs<FilterGraph>(iid, object); }

HRESULT CreateCaptureGraphBuilder(const GUID& iid, void** object) {
  return com::CreateObjectAs<CaptureGraphBuilder>(iid, object);
}

void RegisterGraphClasses() {
  com::RegisterClassObject(CLSID_FilterGraph, CreateFilterGraph);
  com::RegisterClassObject(CLSID_CaptureGraphBuilder2, CreateCaptureGraphBuilder);
  com::RegisterClassObject(CLSID_DMOWrapperFilter, CreateDmoWrapperFilter);
}

}  // namespace dshow
