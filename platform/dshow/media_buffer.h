#pragma once
// IMediaBuffer objects: MediaBuffer over memory it owns, and SampleBuffer
// over a media sample (its length is the sample's actual data length).
//
// Thread: one user at a time; the reference count from any thread.

#include "platform/dshow/interfaces.h"
#include "platform/dshow/media_object.h"

namespace dshow {

class MediaBuffer final : public IMediaBuffer {
 public:
  // A zero-length buffer of max_length bytes, one reference; null when
  // memory is short.
  static MediaBuffer* Create(uint32_t max_length);

  HRESULT QueryInterface(const GUID& iid, void** object) override;
  uint32_t AddRef() override { return refs_.Increment(); }
  uint32_t Release() override;
  HRESULT SetLength(uint32_t length) override;
  HRESULT GetMaxLength(uint32_t* max_length) override;
  HRESULT GetBufferAndLength(uint8_t** buffer, uint32_t* length) override;

 private:
  MediaBuffer(uint8_t* data, uint32_t max_length) : data_(data), max_(max_length) {}
  ~MediaBuffer();
  com::RefCount refs_;
  uint8_t* data_;
  uint32_t max_;
  uint32_t length_ = 0;
};

class SampleBuffer final : public IMediaBuffer {
 public:
  // Holds a reference on sample; one reference on the new buffer.
  static SampleBuffer* Create(IMediaSample* sample);

  HRESULT QueryInterface(const GUID& iid, void** object) override;
  uint32_t AddRef() override { return refs_.Increment(); }
  uint32_t Release() override;
  HRESULT SetLength(uint32_t length) override;
  HRESULT GetMaxLength(uint32_t* max_length) override;
  HRESULT GetBufferAndLength(uint8_t** buffer, uint32_t* length) override;

 private:
  explicit SampleBuffer(IMediaSample* sample) : sample_(sample) { sample_->AddRef(); }
  ~SampleBuffer() { sample_->Release(); }
  com::RefCount refs_;
  IMediaSample* sample_;
};

}  // namespace dshow
