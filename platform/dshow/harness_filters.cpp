#include "platform/dshow/harness_filters.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <new>

#include "platform/com/class_table.h"
#include "platform/com/property_bag.h"
#include "platform/dshow/media_object.h"
#include "platform/os/thread.h"

namespace dshow {
namespace {

using com::S_OK;

constexpr uint32_t kDefaultOutputBytes = 65536;

// Its one property, "Label" (VT_UI4, any value), stands for an encoder's
// settings: the wrapper filter hands out the object's property bag.
constexpr com::PropertyDef kPassThroughProperties[] = {{u"Label", com::VT_UI4, 0, 0xFFFFFFFF}};

class PassThroughDmo final : public IMediaObjectImpl<PassThroughDmo>, public com::IPropertyBag {
 public:
  HRESULT QueryInterface(const GUID& iid, void** object) override {
    if (object && iid == com::IID_IPropertyBag) {
      *object = static_cast<com::IPropertyBag*>(this);
      AddRef();
      return S_OK;
    }
    return com::QuerySingleInterface<IMediaObject>(this, IID_IMediaObject, iid, object);
  }
  HRESULT Read(const char16_t* name, com::VARIANT* value, com::IErrorLog*) override {
    const com::PropertyDef* def = nullptr;
    const HRESULT hr = com::PropertyTable(kPassThroughProperties).CheckRead(name, value, &def);
    if (hr == S_OK) com::PropertyTable::FillRead(*def, label_, value);
    return hr;
  }
  HRESULT Write(const char16_t* name, com::VARIANT* value) override {
    const com::PropertyDef* def = nullptr;
    int64_t number = 0;
    const HRESULT hr = com::PropertyTable(kPassThroughProperties).CheckWrite(name, value, &def, &number);
    if (hr == S_OK) label_ = number;
    return hr;
  }
  uint32_t AddRef() override { return refs_.Increment(); }
  uint32_t Release() override {
    const uint32_t left = refs_.Decrement();
    if (left == 0) delete this;
    return left;
  }

  HRESULT InternalGetInputStreamInfo(uint32_t* flags) {
    *flags = 0;
    return S_OK;
  }
  HRESULT InternalGetOutputStreamInfo(uint32_t* flags) {
    *flags = 0;
    return S_OK;
  }
  HRESULT InternalGetInputType(uint32_t, DMO_MEDIA_TYPE*) { return DMO_E_NO_MORE_ITEMS; }
  HRESULT InternalGetOutputType(uint32_t position, DMO_MEDIA_TYPE* type) {
    if (!InputType()) return DMO_E_TYPE_NOT_SET;
    if (position > 0) return DMO_E_NO_MORE_ITEMS;
    return type ? MoCopyMediaType(type, InputType()) : S_OK;
  }
  HRESULT InternalCheckInputType(const DMO_MEDIA_TYPE* type) {
    return type->majortype == com::GUID_NULL ? DMO_E_TYPE_NOT_ACCEPTED : S_OK;
  }
  HRESULT InternalCheckOutputType(const DMO_MEDIA_TYPE* type) {
    const DMO_MEDIA_TYPE* in = InputType();
    if (!in) return DMO_E_TYPE_NOT_SET;
    return in->majortype == type->majortype && in->subtype == type->subtype ? S_OK : DMO_E_TYPE_NOT_ACCEPTED;
  }
  HRESULT InternalGetInputSizeInfo(uint32_t* size, uint32_t* lookahead, uint32_t* alignment) {
    *size = 0;
    *lookahead = 0;
    *alignment = 1;
    return S_OK;
  }
  HRESULT InternalGetOutputSizeInfo(uint32_t* size, uint32_t* alignment) {
    const DMO_MEDIA_TYPE* in = InputType();
    VideoInfoHeader v;
    *size = kDefaultOutputBytes;
    if (VideoInfoOf(*in, &v) && v.bmiHeader.biSizeImage > 0) {
      *size = v.bmiHeader.biSizeImage;
    } else if (in->lSampleSize > 0) {
      *size = in->lSampleSize;
    }
    *alignment = 1;
    return S_OK;
  }
  HRESULT InternalFlush() {
    Drop();
    return S_OK;
  }
  HRESULT InternalDiscontinuity() { return S_OK; }
  HRESULT InternalAllocateStreamingResources() { return S_OK; }
  HRESULT InternalFreeStreamingResources() { return S_OK; }
  HRESULT InternalAcceptingInput() { return held_ ? com::S_FALSE : S_OK; }
  HRESULT InternalProcessInput(IMediaBuffer* buffer, uint32_t flags, REFERENCE_TIME time, REFERENCE_TIME length) {
    uint32_t bytes = 0;
    buffer->GetBufferAndLength(nullptr, &bytes);
    if (bytes == 0) return com::S_FALSE;
    held_ = buffer;
    held_->AddRef();
    offset_ = 0;
    flags_ = flags;
    time_ = time;
    length_ = length;
    return S_OK;
  }
  HRESULT InternalProcessOutput(uint32_t, DMO_OUTPUT_DATA_BUFFER* out, uint32_t*) {
    if (!held_) return com::S_FALSE;
    if (!out->pBuffer) return com::E_POINTER;
    uint8_t* src = nullptr;
    uint32_t src_bytes = 0;
    held_->GetBufferAndLength(&src, &src_bytes);
    uint8_t* dst = nullptr;
    uint32_t dst_bytes = 0, dst_max = 0;
    out->pBuffer->GetBufferAndLength(&dst, &dst_bytes);
    out->pBuffer->GetMaxLength(&dst_max);
    const uint32_t n = std::min(src_bytes - offset_, dst_max - std::min(dst_max, dst_bytes));
    std::memcpy(dst + dst_bytes, src + offset_, n);
    out->pBuffer->SetLength(dst_bytes + n);
    if (offset_ == 0) {
      out->dwStatus |= flags_ & (DMO_OUTPUT_DATA_BUFFERF_SYNCPOINT | DMO_OUTPUT_DATA_BUFFERF_TIME |
                                 DMO_OUTPUT_DATA_BUFFERF_TIMELENGTH);
      out->rtTimestamp = time_;
      out->rtTimelength = length_;
    }
    offset_ += n;
    if (offset_ < src_bytes) {
      out->dwStatus |= DMO_OUTPUT_DATA_BUFFERF_INCOMPLETE;
    } else {
      Drop();
    }
    return S_OK;
  }

 private:
  ~PassThroughDmo() { Drop(); }
  void Drop() {
    if (held_) held_->Release();
    held_ = nullptr;
  }

  com::RefCount refs_;
  int64_t label_ = 0;
  IMediaBuffer* held_ = nullptr;
  uint32_t offset_ = 0;
  uint32_t flags_ = 0;
  REFERENCE_TIME time_ = 0;
  REFERENCE_TIME length_ = 0;
};

HRESULT CreateSampleSink(const GUID& iid, void** object) {
  if (!object) return com::E_POINTER;
  SampleSinkFilter* sink = SampleSinkFilter::Create(2);
  if (!sink) return com::E_OUTOFMEMORY;
  const HRESULT hr = sink->QueryInterface(iid, object);
  sink->Release();
  return hr;
}

}  // namespace

HRESULT CreatePassThroughDmo(const GUID& iid, void** object) {
  return com::CreateObjectAs<PassThroughDmo>(iid, object);
}

void RegisterHarnessClasses() {
  com::RegisterClassObject(CLSID_PassThroughDmo, CreatePassThroughDmo);
  com::RegisterClassObject(CLSID_SampleSink, CreateSampleSink);
}

class SampleSinkFilter::SinkPin final : public BaseInputPin {
 public:
  SinkPin(SampleSinkFilter* filter, int index, const ov::String& name)
      : BaseInputPin(filter, name.c_str()), owner_(filter), index_(index) {}

  HRESULT CheckMediaType(const AM_MEDIA_TYPE* type) override {
    if (!type) return com::E_POINTER;
    return type->majortype == com::GUID_NULL ? com::S_FALSE : S_OK;
  }
  HRESULT Receive(IMediaSample* sample) override {
    const HRESULT hr = BaseInputPin::Receive(sample);
    if (hr != S_OK) return hr;
    if (delay_ms > 0) ov::Sleep(delay_ms);
    if (received.fetch_add(1) >= refuse_from) return refusal;
    owner_->OnSample(index_, sample);
    return S_OK;
  }
  HRESULT EndOfStream() override {
    if (AtEndOfStream()) return S_OK;
    BaseInputPin::EndOfStream();
    owner_->OnEnd();
    return S_OK;
  }

  uint32_t delay_ms = 0;
  std::atomic<uint64_t> received{0};
  uint64_t refuse_from = UINT64_MAX;
  HRESULT refusal = S_OK;
  std::vector<SinkSample> samples;
  uint64_t count = 0;
  uint64_t bytes = 0;

 private:
  SampleSinkFilter* owner_;
  int index_;
};

SampleSinkFilter* SampleSinkFilter::Create(int pin_count) {
  return new (std::nothrow) SampleSinkFilter(pin_count);
}

SampleSinkFilter::SampleSinkFilter(int pin_count) : BaseFilter(u"Sample Sink", CLSID_SampleSink) {
  for (int i = 0; i < pin_count; ++i) pins_.push_back(new SinkPin(this, i, ov::String::Format(u"Input %d", i)));
}

SampleSinkFilter::~SampleSinkFilter() {
  for (SinkPin* p : pins_) delete p;
}

HRESULT SampleSinkFilter::QueryInterface(const GUID& iid, void** object) {
  if (!object) return com::E_POINTER;
  if (iid == IID_IFileSinkFilter) {
    *object = static_cast<IFileSinkFilter*>(this);
  } else if (iid == IID_SampleSinkFilter) {
    *object = this;
  } else {
    return BaseFilter::QueryInterface(iid, object);
  }
  AddRef();
  return S_OK;
}

HRESULT SampleSinkFilter::SetFileName(const char16_t* file, const AM_MEDIA_TYPE*) {
  if (!file) return com::E_POINTER;
  file_ = file;
  return S_OK;
}

HRESULT SampleSinkFilter::GetCurFile(char16_t** file, AM_MEDIA_TYPE* type) {
  if (!file) return com::E_POINTER;
  *file = nullptr;
  if (type) MoInitMediaType(type, 0);
  if (file_.IsEmpty()) return com::E_FAIL;
  *file = new char16_t[static_cast<size_t>(file_.Length()) + 1];
  std::memcpy(*file, file_.c_str(), (static_cast<size_t>(file_.Length()) + 1) * sizeof(char16_t));
  return S_OK;
}

BasePin* SampleSinkFilter::GetPin(int n) {
  return n >= 0 && n < static_cast<int>(pins_.size()) ? pins_[static_cast<size_t>(n)] : nullptr;
}

void SampleSinkFilter::SetReceiveDelay(int pin, uint32_t ms) {
  if (pin >= 0 && pin < static_cast<int>(pins_.size())) pins_[static_cast<size_t>(pin)]->delay_ms = ms;
}

void SampleSinkFilter::RefuseFrom(int pin, uint64_t sample, HRESULT result) {
  if (pin < 0 || pin >= static_cast<int>(pins_.size())) return;
  pins_[static_cast<size_t>(pin)]->refuse_from = sample;
  pins_[static_cast<size_t>(pin)]->refusal = result;
}

void SampleSinkFilter::OnSample(int pin, IMediaSample* sample) {
  SinkSample s;
  s.length = sample->GetActualDataLength();
  s.has_time = sample->GetTime(&s.start, &s.stop) == S_OK;
  std::lock_guard<std::mutex> hold(lock_samples_);
  SinkPin* p = pins_[static_cast<size_t>(pin)];
  ++p->count;
  p->bytes += static_cast<uint64_t>(s.length);
  if (!keep_data_) return;
  uint8_t* data = nullptr;
  sample->GetPointer(&data);
  s.data.assign(data, data + s.length);
  const int32_t size = sample->GetSize();
  if (keep_tail_ && size > s.length) s.tail.assign(data + s.length, data + size);
  p->samples.push_back(std::move(s));
}

void SampleSinkFilter::OnEnd() {
  for (SinkPin* p : pins_) {
    if (p->IsConnected() && !p->AtEndOfStream()) return;
  }
  {
    std::lock_guard<std::mutex> hold(lock_samples_);
    ++complete_count_;
  }
  NotifyEvent(EC_COMPLETE, S_OK, 0);
}

std::vector<SinkSample> SampleSinkFilter::Samples(int pin) const {
  std::lock_guard<std::mutex> hold(lock_samples_);
  return pins_[static_cast<size_t>(pin)]->samples;
}

uint64_t SampleSinkFilter::SampleCount(int pin) const {
  std::lock_guard<std::mutex> hold(lock_samples_);
  return pins_[static_cast<size_t>(pin)]->count;
}

uint64_t SampleSinkFilter::ByteCount(int pin) const {
  std::lock_guard<std::mutex> hold(lock_samples_);
  return pins_[static_cast<size_t>(pin)]->bytes;
}

bool SampleSinkFilter::Ended(int pin) const { return pins_[static_cast<size_t>(pin)]->AtEndOfStream(); }

MediaType SampleSinkFilter::ConnectionTypeOf(int pin) const {
  return MediaType(pins_[static_cast<size_t>(pin)]->ConnectionType());
}

int SampleSinkFilter::CompleteCount() const {
  std::lock_guard<std::mutex> hold(lock_samples_);
  return complete_count_;
}

}  // namespace dshow
