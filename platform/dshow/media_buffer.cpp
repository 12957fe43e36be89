#include "platform/dshow/media_buffer.h"

#include <cstdlib>
#include <new>

namespace dshow {
namespace {

HRESULT QueryBuffer(IMediaBuffer* self, const GUID& iid, void** object) {
  return com::QuerySingleInterface(self, IID_IMediaBuffer, iid, object);
}

}  // namespace

MediaBuffer* MediaBuffer::Create(uint32_t max_length) {
  uint8_t* data = static_cast<uint8_t*>(std::malloc(max_length ? max_length : 1));
  if (!data) return nullptr;
  MediaBuffer* b = new (std::nothrow) MediaBuffer(data, max_length);
  if (!b) std::free(data);
  return b;
}

MediaBuffer::~MediaBuffer() { std::free(data_); }

HRESULT MediaBuffer::QueryInterface(const GUID& iid, void** object) { return QueryBuffer(this, iid, object); }

uint32_t MediaBuffer::Release() {
  const uint32_t left = refs_.Decrement();
  if (left == 0) delete this;
  return left;
}

HRESULT MediaBuffer::SetLength(uint32_t length) {
  if (length > max_) return com::E_INVALIDARG;
  length_ = length;
  return com::S_OK;
}

HRESULT MediaBuffer::GetMaxLength(uint32_t* max_length) {
  if (!max_length) return com::E_POINTER;
  *max_length = max_;
  return com::S_OK;
}

HRESULT MediaBuffer::GetBufferAndLength(uint8_t** buffer, uint32_t* length) {
  if (!buffer && !length) return com::E_POINTER;
  if (buffer) *buffer = data_;
  if (length) *length = length_;
  return com::S_OK;
}

SampleBuffer* SampleBuffer::Create(IMediaSample* sample) {
  return sample ? new (std::nothrow) SampleBuffer(sample) : nullptr;
}

HRESULT SampleBuffer::QueryInterface(const GUID& iid, void** object) { return QueryBuffer(this, iid, object); }

uint32_t SampleBuffer::Release() {
  const uint32_t left = refs_.Decrement();
  if (left == 0) delete this;
  return left;
}

HRESULT SampleBuffer::SetLength(uint32_t length) {
  if (length > static_cast<uint32_t>(sample_->GetSize())) return com::E_INVALIDARG;
  return sample_->SetActualDataLength(static_cast<int32_t>(length));
}

HRESULT SampleBuffer::GetMaxLength(uint32_t* max_length) {
  if (!max_length) return com::E_POINTER;
  *max_length = static_cast<uint32_t>(sample_->GetSize());
  return com::S_OK;
}

HRESULT SampleBuffer::GetBufferAndLength(uint8_t** buffer, uint32_t* length) {
  if (!buffer && !length) return com::E_POINTER;
  if (buffer) sample_->GetPointer(buffer);
  if (length) *length = static_cast<uint32_t>(sample_->GetActualDataLength());
  return com::S_OK;
}

}  // namespace dshow
