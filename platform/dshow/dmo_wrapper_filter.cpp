#include "platform/dshow/dmo_wrapper_filter.h"

#include <memory>
#include <mutex>
#include <new>

#include "platform/com/class_table.h"
#include "platform/dshow/base_filter.h"
#include "platform/dshow/media_buffer.h"
#include "platform/dshow/media_object.h"

namespace dshow {
namespace {

using com::ComPtr;
using com::S_OK;

class DmoWrapperFilter;

class WrapperInputPin final : public BaseInputPin {
 public:
  WrapperInputPin(DmoWrapperFilter* filter);
  HRESULT CheckMediaType(const AM_MEDIA_TYPE* type) override;
  HRESULT SetMediaType(const AM_MEDIA_TYPE* type) override;
  HRESULT BreakConnect() override;
  HRESULT Receive(IMediaSample* sample) override;
  HRESULT EndOfStream() override;

 private:
  DmoWrapperFilter* owner_;
};

class WrapperOutputPin final : public BaseOutputPin {
 public:
  WrapperOutputPin(DmoWrapperFilter* filter);
  HRESULT GetMediaType(int position, AM_MEDIA_TYPE* type) override;
  HRESULT CheckMediaType(const AM_MEDIA_TYPE* type) override;
  HRESULT SetMediaType(const AM_MEDIA_TYPE* type) override;
  HRESULT BreakConnect() override;
  HRESULT DecideBufferSize(IMemAllocator* allocator, ALLOCATOR_PROPERTIES* request) override;

 private:
  DmoWrapperFilter* owner_;
};

class DmoWrapperFilter final : public BaseFilter, public IDMOWrapperFilter {
 public:
  DmoWrapperFilter() : BaseFilter(u"DMO Wrapper Filter", CLSID_DMOWrapperFilter) {}

  HRESULT QueryInterface(const GUID& iid, void** object) override {
    if (!object) return com::E_POINTER;
    if (iid == IID_IDMOWrapperFilter) {
      *object = static_cast<IDMOWrapperFilter*>(this);
      AddRef();
      return S_OK;
    }
    const HRESULT hr = BaseFilter::QueryInterface(iid, object);
    if (hr != com::E_NOINTERFACE || !object_) return hr;
    // The object's own interfaces (property bag, settings).
    return object_->QueryInterface(iid, object);
  }
  uint32_t AddRef() override { return BaseFilter::AddRef(); }
  uint32_t Release() override { return BaseFilter::Release(); }

  HRESULT Init(const GUID& clsid, const GUID& category) override {
    std::lock_guard<std::recursive_mutex> hold(lock_);
    if (object_) return com::E_UNEXPECTED;
    category_ = category;
    HRESULT hr = com::CoCreateInstance(clsid, nullptr, com::CLSCTX_INPROC_SERVER, IID_IMediaObject, object_.ReceiveVoid());
    if (com::Failed(hr)) return hr;
    input_ = std::make_unique<WrapperInputPin>(this);
    output_ = std::make_unique<WrapperOutputPin>(this);
    return S_OK;
  }

  int GetPinCount() override { return input_ ? 2 : 0; }
  BasePin* GetPin(int n) override {
    if (!input_) return nullptr;
    return n == 0 ? static_cast<BasePin*>(input_.get()) : n == 1 ? static_cast<BasePin*>(output_.get()) : nullptr;
  }

  HRESULT Stop() override {
    const HRESULT hr = BaseFilter::Stop();
    std::lock_guard<std::mutex> hold(stream_lock_);
    if (object_) {
      object_->Flush();
      object_->FreeStreamingResources();
    }
    return hr;
  }

  IMediaObject* Object() const { return object_.Get(); }

  HRESULT Process(IMediaSample* sample) {
    std::lock_guard<std::mutex> hold(stream_lock_);
    if (State() == FilterState::kStopped) return VFW_E_WRONG_STATE;
    ComPtr<IMediaBuffer> in = ComPtr<IMediaBuffer>::Adopt(SampleBuffer::Create(sample));
    if (!in) return com::E_OUTOFMEMORY;
    uint32_t flags = sample->IsSyncPoint() == S_OK ? DMO_INPUT_DATA_BUFFERF_SYNCPOINT : 0u;
    REFERENCE_TIME start = 0, stop = 0;
    if (sample->GetTime(&start, &stop) == S_OK) flags |= DMO_INPUT_DATA_BUFFERF_TIME | DMO_INPUT_DATA_BUFFERF_TIMELENGTH;
    HRESULT hr = object_->ProcessInput(0, in.Get(), flags, start, stop - start);
    if (hr == DMO_E_NOTACCEPTING) {
      hr = DrainOutput();
      if (com::Failed(hr)) return hr;
      hr = object_->ProcessInput(0, in.Get(), flags, start, stop - start);
    }
    if (com::Failed(hr)) return hr;
    if (hr == com::S_FALSE) return S_OK;  // nothing to process in this buffer
    return DrainOutput();
  }

  HRESULT EndStream() {
    HRESULT hr = S_OK;
    {
      std::lock_guard<std::mutex> hold(stream_lock_);
      if (State() != FilterState::kStopped) {
        hr = object_->Discontinuity(0);
        if (hr == DMO_E_NOTACCEPTING) {
          // Output still held: take it, then mark the end.
          hr = DrainOutput();
          if (com::Succeeded(hr)) hr = object_->Discontinuity(0);
        }
        if (com::Succeeded(hr)) hr = DrainOutput();
      }
    }
    // An object that fails on the last of its input ends the graph with the
    // abort: an end of stream would complete a file without that sound.
    if (com::Failed(hr)) {
      Abort(hr);
      return hr;
    }
    return output_->DeliverEndOfStream();
  }

  // The object or what follows it failed on a sample while running: the
  // graph ends with EC_ERRORABORT, so that the render fails rather than
  // waiting for an end of stream that will not come.
  void Abort(HRESULT hr) {
    if (State() != FilterState::kStopped) NotifyEvent(EC_ERRORABORT, hr, 0);
  }

 private:
  ~DmoWrapperFilter() override {
    input_.reset();
    output_.reset();
  }

  // ProcessOutput into fresh samples while the object has something.
  HRESULT DrainOutput() {
    if (!output_->IsConnected()) return S_OK;
    for (;;) {
      IMediaSample* raw = nullptr;
      HRESULT hr = output_->GetDeliveryBuffer(&raw, 0);
      if (com::Failed(hr)) return hr;
      ComPtr<IMediaSample> sample = ComPtr<IMediaSample>::Adopt(raw);
      ComPtr<IMediaBuffer> buffer = ComPtr<IMediaBuffer>::Adopt(SampleBuffer::Create(raw));
      if (!buffer) return com::E_OUTOFMEMORY;
      DMO_OUTPUT_DATA_BUFFER out{buffer.Get(), 0, 0, 0};
      uint32_t status = 0;
      hr = object_->ProcessOutput(0, 1, &out, &status);
      if (com::Failed(hr)) return hr;
      if (hr == S_OK && sample->GetActualDataLength() > 0) {
        if (out.dwStatus & DMO_OUTPUT_DATA_BUFFERF_TIME) {
          REFERENCE_TIME start = out.rtTimestamp;
          REFERENCE_TIME stop = out.rtTimestamp + out.rtTimelength;
          sample->SetTime(&start, (out.dwStatus & DMO_OUTPUT_DATA_BUFFERF_TIMELENGTH) ? &stop : nullptr);
        }
        sample->SetSyncPoint((out.dwStatus & DMO_OUTPUT_DATA_BUFFERF_SYNCPOINT) != 0);
        hr = output_->Deliver(sample.Get());
        if (hr != S_OK) return hr;
      } else if (!(out.dwStatus & DMO_OUTPUT_DATA_BUFFERF_INCOMPLETE)) {
        return S_OK;
      }
      if (!(out.dwStatus & DMO_OUTPUT_DATA_BUFFERF_INCOMPLETE)) return S_OK;
    }
  }

  ComPtr<IMediaObject> object_;
  GUID category_{};
  std::unique_ptr<WrapperInputPin> input_;
  std::unique_ptr<WrapperOutputPin> output_;
  std::mutex stream_lock_;  // the object's streaming calls
};

WrapperInputPin::WrapperInputPin(DmoWrapperFilter* filter) : BaseInputPin(filter, u"in0"), owner_(filter) {}

HRESULT WrapperInputPin::CheckMediaType(const AM_MEDIA_TYPE* type) {
  if (!type) return com::E_POINTER;
  return owner_->Object()->SetInputType(0, type, DMO_SET_TYPEF_TEST_ONLY) == S_OK ? S_OK : com::S_FALSE;
}

HRESULT WrapperInputPin::SetMediaType(const AM_MEDIA_TYPE* type) {
  const HRESULT hr = owner_->Object()->SetInputType(0, type, 0);
  if (com::Failed(hr)) return hr;
  return BaseInputPin::SetMediaType(type);
}

HRESULT WrapperInputPin::BreakConnect() { return owner_->Object()->SetInputType(0, nullptr, DMO_SET_TYPEF_CLEAR); }

HRESULT WrapperInputPin::Receive(IMediaSample* sample) {
  HRESULT hr = BaseInputPin::Receive(sample);
  if (hr != S_OK) return hr;
  hr = owner_->Process(sample);
  if (com::Failed(hr)) owner_->Abort(hr);
  return hr;
}

HRESULT WrapperInputPin::EndOfStream() {
  BaseInputPin::EndOfStream();
  return owner_->EndStream();
}

WrapperOutputPin::WrapperOutputPin(DmoWrapperFilter* filter) : BaseOutputPin(filter, u"out0"), owner_(filter) {}

HRESULT WrapperOutputPin::GetMediaType(int position, AM_MEDIA_TYPE* type) {
  if (position < 0) return com::E_INVALIDARG;
  const HRESULT hr = owner_->Object()->GetOutputType(0, static_cast<uint32_t>(position), type);
  if (hr == DMO_E_NO_MORE_ITEMS) return VFW_S_NO_MORE_ITEMS;
  if (hr == DMO_E_TYPE_NOT_SET) return VFW_E_NOT_CONNECTED;
  return hr;
}

HRESULT WrapperOutputPin::CheckMediaType(const AM_MEDIA_TYPE* type) {
  if (!type) return com::E_POINTER;
  return owner_->Object()->SetOutputType(0, type, DMO_SET_TYPEF_TEST_ONLY) == S_OK ? S_OK : com::S_FALSE;
}

HRESULT WrapperOutputPin::SetMediaType(const AM_MEDIA_TYPE* type) {
  const HRESULT hr = owner_->Object()->SetOutputType(0, type, 0);
  if (com::Failed(hr)) return hr;
  return BaseOutputPin::SetMediaType(type);
}

HRESULT WrapperOutputPin::BreakConnect() { return owner_->Object()->SetOutputType(0, nullptr, DMO_SET_TYPEF_CLEAR); }

HRESULT WrapperOutputPin::DecideBufferSize(IMemAllocator* allocator, ALLOCATOR_PROPERTIES* request) {
  uint32_t size = 0, alignment = 0;
  HRESULT hr = owner_->Object()->GetOutputSizeInfo(0, &size, &alignment);
  if (com::Failed(hr)) return hr;
  if (size == 0 || size > 0x7FFFFFFFu) return com::E_FAIL;
  ALLOCATOR_PROPERTIES want = *request;
  if (want.cBuffers < 1) want.cBuffers = 1;
  if (want.cbBuffer < static_cast<int32_t>(size)) want.cbBuffer = static_cast<int32_t>(size);
  if (alignment > 1) want.cbAlign = static_cast<int32_t>(alignment);
  ALLOCATOR_PROPERTIES granted{};
  hr = allocator->SetProperties(&want, &granted);
  if (com::Failed(hr)) return hr;
  return granted.cbBuffer < static_cast<int32_t>(size) ? com::E_FAIL : S_OK;
}

}  // namespace

HRESULT CreateDmoWrapperFilter(const GUID& iid, void** object) {
  return com::CreateObjectAs<DmoWrapperFilter>(iid, object);
}

}  // namespace dshow
