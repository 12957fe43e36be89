#include "platform/dshow/allocator.h"

#include <algorithm>
#include <new>

namespace dshow {

MediaSample::MediaSample(MemAllocator* owner, uint8_t* buffer, int32_t size)
    : owner_(owner), buffer_(buffer), size_(size) {}

HRESULT MediaSample::QueryInterface(const GUID& iid, void** object) {
  return com::QuerySingleInterface<IMediaSample>(this, IID_IMediaSample, iid, object);
}

uint32_t MediaSample::AddRef() { return refs_.fetch_add(1, std::memory_order_relaxed) + 1; }

uint32_t MediaSample::Release() {
  const uint32_t left = refs_.fetch_sub(1, std::memory_order_acq_rel) - 1;
  if (left == 0) owner_->ReturnSample(this);
  return left;
}

HRESULT MediaSample::GetPointer(uint8_t** buffer) {
  if (!buffer) return com::E_POINTER;
  *buffer = buffer_;
  return com::S_OK;
}

HRESULT MediaSample::GetTime(REFERENCE_TIME* start, REFERENCE_TIME* stop) {
  if (!start || !stop) return com::E_POINTER;
  if (!has_time_) return com::E_FAIL;
  *start = start_;
  *stop = has_stop_ ? stop_ : start_ + 1;
  return com::S_OK;
}

HRESULT MediaSample::SetTime(const REFERENCE_TIME* start, const REFERENCE_TIME* stop) {
  has_time_ = start != nullptr;
  has_stop_ = start && stop;
  start_ = start ? *start : 0;
  stop_ = stop ? *stop : 0;
  return com::S_OK;
}

HRESULT MediaSample::GetMediaTime(int64_t* start, int64_t* stop) {
  if (!start || !stop) return com::E_POINTER;
  if (!has_media_time_) return com::E_FAIL;
  *start = media_start_;
  *stop = media_stop_;
  return com::S_OK;
}

HRESULT MediaSample::SetMediaTime(const int64_t* start, const int64_t* stop) {
  has_media_time_ = start && stop;
  media_start_ = start ? *start : 0;
  media_stop_ = stop ? *stop : 0;
  return com::S_OK;
}

HRESULT MediaSample::SetActualDataLength(int32_t length) {
  if (length < 0 || length > size_) return VFW_E_BUFFER_OVERFLOW;
  length_ = length;
  return com::S_OK;
}

void MediaSample::Clear() {
  length_ = 0;
  has_time_ = has_stop_ = has_media_time_ = sync_ = false;
}

MemAllocator* MemAllocator::Create() { return new (std::nothrow) MemAllocator; }

MemAllocator::~MemAllocator() = default;

HRESULT MemAllocator::QueryInterface(const GUID& iid, void** object) {
  return com::QuerySingleInterface<IMemAllocator>(this, IID_IMemAllocator, iid, object);
}

uint32_t MemAllocator::Release() {
  const uint32_t left = refs_.Decrement();
  if (left == 0) delete this;
  return left;
}

HRESULT MemAllocator::SetProperties(const ALLOCATOR_PROPERTIES* request, ALLOCATOR_PROPERTIES* actual) {
  if (!request || !actual) return com::E_POINTER;
  std::lock_guard<std::mutex> hold(lock_);
  if (committed_ || outstanding_ > 0) return VFW_E_WRONG_STATE;
  if (request->cbAlign > 1 && (request->cbAlign & (request->cbAlign - 1)) != 0) return com::E_INVALIDARG;
  props_.cBuffers = std::max(1, request->cBuffers);
  props_.cbBuffer = std::max(1, request->cbBuffer);
  props_.cbAlign = std::max(1, request->cbAlign);
  props_.cbPrefix = std::max(0, request->cbPrefix);
  props_set_ = true;
  *actual = props_;
  return com::S_OK;
}

HRESULT MemAllocator::GetProperties(ALLOCATOR_PROPERTIES* props) {
  if (!props) return com::E_POINTER;
  std::lock_guard<std::mutex> hold(lock_);
  *props = props_;
  return com::S_OK;
}

HRESULT MemAllocator::Commit() {
  std::lock_guard<std::mutex> hold(lock_);
  if (!props_set_) return VFW_E_SIZENOTSET;
  if (committed_) return com::S_OK;
  const bool same = !samples_.empty() && static_cast<int32_t>(samples_.size()) == props_.cBuffers &&
                    samples_.front()->GetSize() == props_.cbBuffer;
  if (!same && outstanding_ == 0) {
    free_.clear();
    samples_.clear();
    memory_.clear();
    for (int32_t i = 0; i < props_.cBuffers; ++i) {
      std::unique_ptr<uint8_t[]> block(new (std::nothrow) uint8_t[static_cast<size_t>(props_.cbBuffer)]);
      if (!block) return com::E_OUTOFMEMORY;
      samples_.push_back(std::make_unique<MediaSample>(this, block.get(), props_.cbBuffer));
      free_.push_back(samples_.back().get());
      memory_.push_back(std::move(block));
    }
  }
  committed_ = true;
  return com::S_OK;
}

HRESULT MemAllocator::Decommit() {
  {
    std::lock_guard<std::mutex> hold(lock_);
    committed_ = false;
  }
  freed_.notify_all();
  return com::S_OK;
}

HRESULT MemAllocator::GetBuffer(IMediaSample** sample, REFERENCE_TIME*, REFERENCE_TIME*, uint32_t flags) {
  if (!sample) return com::E_POINTER;
  *sample = nullptr;
  std::unique_lock<std::mutex> hold(lock_);
  for (;;) {
    if (!committed_) return VFW_E_NOT_COMMITTED;
    if (!free_.empty()) break;
    if (flags & AM_GBF_NOWAIT) return VFW_E_TIMEOUT;
    freed_.wait(hold);
  }
  MediaSample* s = free_.back();
  free_.pop_back();
  ++outstanding_;
  // An allocator lives while a sample of it is out.
  refs_.Increment();
  s->Clear();
  s->AddRef();
  *sample = s;
  return com::S_OK;
}

void MemAllocator::ReturnSample(MediaSample* sample) {
  {
    std::lock_guard<std::mutex> hold(lock_);
    free_.push_back(sample);
    --outstanding_;
  }
  freed_.notify_all();
  Release();
}

}  // namespace dshow
