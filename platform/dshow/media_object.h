#pragma once
// Media objects (DMOs): IMediaObject, IMediaBuffer, and IMediaObjectImpl,
// the frame of an object with one input and one output stream.
//
// A media object takes buffers on its input stream (ProcessInput) and fills
// buffers on its output stream (ProcessOutput) once both streams have a
// type. IMediaObjectImpl checks every call (stream index, pointers, types
// set, flags), holds the object's lock around it and calls the derived
// class's Internal* steps; the derived class decides the types it accepts,
// its buffer sizes and the processing. It allocates the streaming resources
// on the first ProcessInput or ProcessOutput when the caller has not.
//
// Thread: any thread; the object's lock serialises the calls.

#include <cstdint>
#include <mutex>

#include "platform/com/unknown.h"
#include "platform/dshow/dshow_types.h"
#include "platform/dshow/media_type.h"

namespace dshow {

// SetInputType / SetOutputType flags.
enum : uint32_t {
  DMO_SET_TYPEF_TEST_ONLY = 1,
  DMO_SET_TYPEF_CLEAR = 2,
};
// Stream information flags.
enum : uint32_t {
  DMO_INPUT_STREAMF_WHOLE_SAMPLES = 1,
  DMO_INPUT_STREAMF_SINGLE_SAMPLE_PER_BUFFER = 2,
  DMO_INPUT_STREAMF_FIXED_SAMPLE_SIZE = 4,
  DMO_OUTPUT_STREAMF_WHOLE_SAMPLES = 1,
};
// Buffer flags of ProcessInput and of DMO_OUTPUT_DATA_BUFFER::dwStatus.
enum : uint32_t {
  DMO_INPUT_DATA_BUFFERF_SYNCPOINT = 1,
  DMO_INPUT_DATA_BUFFERF_TIME = 2,
  DMO_INPUT_DATA_BUFFERF_TIMELENGTH = 4,
  DMO_OUTPUT_DATA_BUFFERF_SYNCPOINT = 1,
  DMO_OUTPUT_DATA_BUFFERF_TIME = 2,
  DMO_OUTPUT_DATA_BUFFERF_TIMELENGTH = 4,
  DMO_OUTPUT_DATA_BUFFERF_INCOMPLETE = 0x01000000,
};
enum : uint32_t {
  DMO_INPUT_STATUSF_ACCEPT_DATA = 1,
  DMO_PROCESS_OUTPUT_DISCARD_WHEN_NO_BUFFER = 1,
};

class IMediaBuffer : public com::IUnknown {
 public:
  // E_INVALIDARG above the maximum length.
  virtual HRESULT SetLength(uint32_t length) = 0;
  virtual HRESULT GetMaxLength(uint32_t* max_length) = 0;
  // Either output may be null.
  virtual HRESULT GetBufferAndLength(uint8_t** buffer, uint32_t* length) = 0;

 protected:
  ~IMediaBuffer() = default;
};

struct DMO_OUTPUT_DATA_BUFFER {
  IMediaBuffer* pBuffer;
  uint32_t dwStatus;
  REFERENCE_TIME rtTimestamp;
  REFERENCE_TIME rtTimelength;
};

class IMediaObject : public com::IUnknown {
 public:
  virtual HRESULT GetStreamCount(uint32_t* inputs, uint32_t* outputs) = 0;
  virtual HRESULT GetInputStreamInfo(uint32_t stream, uint32_t* flags) = 0;
  virtual HRESULT GetOutputStreamInfo(uint32_t stream, uint32_t* flags) = 0;
  // type may be null (asks whether the position exists).
  virtual HRESULT GetInputType(uint32_t stream, uint32_t position, DMO_MEDIA_TYPE* type) = 0;
  virtual HRESULT GetOutputType(uint32_t stream, uint32_t position, DMO_MEDIA_TYPE* type) = 0;
  virtual HRESULT SetInputType(uint32_t stream, const DMO_MEDIA_TYPE* type, uint32_t flags) = 0;
  virtual HRESULT SetOutputType(uint32_t stream, const DMO_MEDIA_TYPE* type, uint32_t flags) = 0;
  virtual HRESULT GetInputCurrentType(uint32_t stream, DMO_MEDIA_TYPE* type) = 0;
  virtual HRESULT GetOutputCurrentType(uint32_t stream, DMO_MEDIA_TYPE* type) = 0;
  virtual HRESULT GetInputSizeInfo(uint32_t stream, uint32_t* size, uint32_t* lookahead, uint32_t* alignment) = 0;
  virtual HRESULT GetOutputSizeInfo(uint32_t stream, uint32_t* size, uint32_t* alignment) = 0;
  virtual HRESULT GetInputMaxLatency(uint32_t stream, REFERENCE_TIME* latency) = 0;
  virtual HRESULT SetInputMaxLatency(uint32_t stream, REFERENCE_TIME latency) = 0;
  virtual HRESULT Flush() = 0;
  virtual HRESULT Discontinuity(uint32_t stream) = 0;
  virtual HRESULT AllocateStreamingResources() = 0;
  virtual HRESULT FreeStreamingResources() = 0;
  virtual HRESULT GetInputStatus(uint32_t stream, uint32_t* flags) = 0;
  virtual HRESULT ProcessInput(uint32_t stream, IMediaBuffer* buffer, uint32_t flags, REFERENCE_TIME time,
                               REFERENCE_TIME length) = 0;
  virtual HRESULT ProcessOutput(uint32_t flags, uint32_t count, DMO_OUTPUT_DATA_BUFFER* buffers,
                                uint32_t* status) = 0;
  // Takes (lock non-zero) or releases the object's lock.
  virtual HRESULT Lock(int32_t lock) = 0;

 protected:
  ~IMediaObject() = default;
};

// The one-input, one-output frame. Derived must provide:
//   HRESULT InternalGetInputStreamInfo(uint32_t* flags);
//   HRESULT InternalGetOutputStreamInfo(uint32_t* flags);
//   HRESULT InternalGetInputType(uint32_t position, DMO_MEDIA_TYPE* type);   // type may be null
//   HRESULT InternalGetOutputType(uint32_t position, DMO_MEDIA_TYPE* type);  // type may be null
//   HRESULT InternalCheckInputType(const DMO_MEDIA_TYPE* type);
//   HRESULT InternalCheckOutputType(const DMO_MEDIA_TYPE* type);
//   HRESULT InternalGetInputSizeInfo(uint32_t* size, uint32_t* lookahead, uint32_t* alignment);
//   HRESULT InternalGetOutputSizeInfo(uint32_t* size, uint32_t* alignment);
//   HRESULT InternalFlush();
//   HRESULT InternalDiscontinuity();
//   HRESULT InternalAllocateStreamingResources();
//   HRESULT InternalFreeStreamingResources();
//   HRESULT InternalAcceptingInput();  // S_OK while it takes a buffer
//   HRESULT InternalProcessInput(IMediaBuffer* buffer, uint32_t flags, REFERENCE_TIME time, REFERENCE_TIME length);
//   HRESULT InternalProcessOutput(uint32_t flags, DMO_OUTPUT_DATA_BUFFER* buffer, uint32_t* status);
// Every Internal* call runs under the object's lock.
template <typename Derived>
class IMediaObjectImpl : public IMediaObject {
 public:
  HRESULT GetStreamCount(uint32_t* inputs, uint32_t* outputs) override {
    if (!inputs || !outputs) return com::E_POINTER;
    *inputs = 1;
    *outputs = 1;
    return com::S_OK;
  }
  HRESULT GetInputStreamInfo(uint32_t stream, uint32_t* flags) override {
    if (stream != 0) return DMO_E_INVALIDSTREAMINDEX;
    if (!flags) return com::E_POINTER;
    Hold hold(this);
    return D()->InternalGetInputStreamInfo(flags);
  }
  HRESULT GetOutputStreamInfo(uint32_t stream, uint32_t* flags) override {
    if (stream != 0) return DMO_E_INVALIDSTREAMINDEX;
    if (!flags) return com::E_POINTER;
    Hold hold(this);
    return D()->InternalGetOutputStreamInfo(flags);
  }
  HRESULT GetInputType(uint32_t stream, uint32_t position, DMO_MEDIA_TYPE* type) override {
    if (stream != 0) return DMO_E_INVALIDSTREAMINDEX;
    Hold hold(this);
    return D()->InternalGetInputType(position, type);
  }
  HRESULT GetOutputType(uint32_t stream, uint32_t position, DMO_MEDIA_TYPE* type) override {
    if (stream != 0) return DMO_E_INVALIDSTREAMINDEX;
    Hold hold(this);
    return D()->InternalGetOutputType(position, type);
  }
  HRESULT SetInputType(uint32_t stream, const DMO_MEDIA_TYPE* type, uint32_t flags) override {
    return SetType(stream, type, flags, true);
  }
  HRESULT SetOutputType(uint32_t stream, const DMO_MEDIA_TYPE* type, uint32_t flags) override {
    return SetType(stream, type, flags, false);
  }
  HRESULT GetInputCurrentType(uint32_t stream, DMO_MEDIA_TYPE* type) override {
    return CurrentType(stream, type, true);
  }
  HRESULT GetOutputCurrentType(uint32_t stream, DMO_MEDIA_TYPE* type) override {
    return CurrentType(stream, type, false);
  }
  HRESULT GetInputSizeInfo(uint32_t stream, uint32_t* size, uint32_t* lookahead, uint32_t* alignment) override {
    if (stream != 0) return DMO_E_INVALIDSTREAMINDEX;
    if (!size || !lookahead || !alignment) return com::E_POINTER;
    Hold hold(this);
    if (!types_set_) return DMO_E_TYPE_NOT_SET;
    return D()->InternalGetInputSizeInfo(size, lookahead, alignment);
  }
  HRESULT GetOutputSizeInfo(uint32_t stream, uint32_t* size, uint32_t* alignment) override {
    if (stream != 0) return DMO_E_INVALIDSTREAMINDEX;
    if (!size || !alignment) return com::E_POINTER;
    Hold hold(this);
    if (!types_set_) return DMO_E_TYPE_NOT_SET;
    return D()->InternalGetOutputSizeInfo(size, alignment);
  }
  HRESULT GetInputMaxLatency(uint32_t, REFERENCE_TIME*) override { return com::E_NOTIMPL; }
  HRESULT SetInputMaxLatency(uint32_t, REFERENCE_TIME) override { return com::E_NOTIMPL; }
  HRESULT Flush() override {
    Hold hold(this);
    if (!types_set_) return DMO_E_TYPE_NOT_SET;
    if (flushed_) return com::S_OK;
    const HRESULT hr = D()->InternalFlush();
    flushed_ = true;
    return hr;
  }
  HRESULT Discontinuity(uint32_t stream) override {
    if (stream != 0) return DMO_E_INVALIDSTREAMINDEX;
    Hold hold(this);
    if (!types_set_) return DMO_E_TYPE_NOT_SET;
    return D()->InternalDiscontinuity();
  }
  HRESULT AllocateStreamingResources() override {
    Hold hold(this);
    return AllocateLocked();
  }
  HRESULT FreeStreamingResources() override {
    Hold hold(this);
    return FreeLocked();
  }
  HRESULT GetInputStatus(uint32_t stream, uint32_t* flags) override {
    if (stream != 0) return DMO_E_INVALIDSTREAMINDEX;
    if (!flags) return com::E_POINTER;
    Hold hold(this);
    if (!types_set_) return DMO_E_TYPE_NOT_SET;
    *flags = D()->InternalAcceptingInput() == com::S_OK ? DMO_INPUT_STATUSF_ACCEPT_DATA : 0u;
    return com::S_OK;
  }
  HRESULT ProcessInput(uint32_t stream, IMediaBuffer* buffer, uint32_t flags, REFERENCE_TIME time,
                       REFERENCE_TIME length) override {
    if (stream != 0) return DMO_E_INVALIDSTREAMINDEX;
    if (!buffer) return com::E_POINTER;
    Hold hold(this);
    if (!types_set_) return DMO_E_TYPE_NOT_SET;
    HRESULT hr = AllocateLocked();
    if (com::Failed(hr)) return hr;
    if (D()->InternalAcceptingInput() != com::S_OK) return DMO_E_NOTACCEPTING;
    flushed_ = false;
    return D()->InternalProcessInput(buffer, flags, time, length);
  }
  HRESULT ProcessOutput(uint32_t flags, uint32_t count, DMO_OUTPUT_DATA_BUFFER* buffers, uint32_t* status) override {
    if (count != 1 || flags > DMO_PROCESS_OUTPUT_DISCARD_WHEN_NO_BUFFER) return com::E_INVALIDARG;
    if (!buffers || !status) return com::E_POINTER;
    Hold hold(this);
    if (!types_set_) return DMO_E_TYPE_NOT_SET;
    HRESULT hr = AllocateLocked();
    if (com::Failed(hr)) return hr;
    *status = 0;
    buffers[0].dwStatus = 0;
    hr = D()->InternalProcessOutput(flags, &buffers[0], status);
    output_incomplete_ = (buffers[0].dwStatus & DMO_OUTPUT_DATA_BUFFERF_INCOMPLETE) != 0;
    return hr;
  }
  HRESULT Lock(int32_t lock) override {
    if (lock) {
      lock_.lock();
    } else {
      lock_.unlock();
    }
    return com::S_OK;
  }

 protected:
  IMediaObjectImpl() = default;
  ~IMediaObjectImpl() {
    MoFreeMediaType(&input_type_);
    MoFreeMediaType(&output_type_);
  }

  bool InputTypeSet() const { return input_set_; }
  bool OutputTypeSet() const { return output_set_; }
  const DMO_MEDIA_TYPE* InputType() const { return input_set_ ? &input_type_ : nullptr; }
  const DMO_MEDIA_TYPE* OutputType() const { return output_set_ ? &output_type_ : nullptr; }
  bool OutputIncomplete() const { return output_incomplete_; }

 private:
  class Hold {
   public:
    explicit Hold(IMediaObjectImpl* o) : o_(o) { o_->lock_.lock(); }
    ~Hold() { o_->lock_.unlock(); }

   private:
    IMediaObjectImpl* o_;
  };

  Derived* D() { return static_cast<Derived*>(this); }

  HRESULT SetType(uint32_t stream, const DMO_MEDIA_TYPE* type, uint32_t flags, bool input) {
    if (stream != 0) return DMO_E_INVALIDSTREAMINDEX;
    if (flags > (DMO_SET_TYPEF_TEST_ONLY | DMO_SET_TYPEF_CLEAR)) return com::E_INVALIDARG;
    Hold hold(this);
    DMO_MEDIA_TYPE& current = input ? input_type_ : output_type_;
    bool& set = input ? input_set_ : output_set_;
    if (flags & DMO_SET_TYPEF_CLEAR) {
      MoFreeMediaType(&current);
      MoInitMediaType(&current, 0);
      set = false;
      types_set_ = false;
      FlushLocked();
      FreeLocked();
      return com::S_OK;
    }
    if (!type) return com::E_POINTER;
    const HRESULT hr = input ? D()->InternalCheckInputType(type) : D()->InternalCheckOutputType(type);
    if (hr != com::S_OK) return com::Failed(hr) ? hr : DMO_E_TYPE_NOT_ACCEPTED;
    if (flags & DMO_SET_TYPEF_TEST_ONLY) return com::S_OK;
    MoFreeMediaType(&current);
    if (com::Failed(MoCopyMediaType(&current, type))) {
      set = false;
      types_set_ = false;
      return com::E_OUTOFMEMORY;
    }
    set = true;
    types_set_ = input_set_ && output_set_;
    return com::S_OK;
  }

  HRESULT CurrentType(uint32_t stream, DMO_MEDIA_TYPE* type, bool input) {
    if (stream != 0) return DMO_E_INVALIDSTREAMINDEX;
    if (!type) return com::E_POINTER;
    Hold hold(this);
    if (!(input ? input_set_ : output_set_)) return DMO_E_TYPE_NOT_SET;
    return MoCopyMediaType(type, input ? &input_type_ : &output_type_);
  }

  HRESULT AllocateLocked() {
    if (!types_set_) return DMO_E_TYPE_NOT_SET;
    if (resources_allocated_) return com::S_OK;
    const HRESULT hr = D()->InternalAllocateStreamingResources();
    if (com::Succeeded(hr)) resources_allocated_ = true;
    return hr;
  }

  HRESULT FreeLocked() {
    if (!resources_allocated_) return com::S_OK;
    resources_allocated_ = false;
    FlushLocked();
    return D()->InternalFreeStreamingResources();
  }

  void FlushLocked() {
    if (!flushed_) {
      D()->InternalFlush();
      flushed_ = true;
    }
  }

  std::recursive_mutex lock_;
  DMO_MEDIA_TYPE input_type_{};
  DMO_MEDIA_TYPE output_type_{};
  bool input_set_ = false;
  bool output_set_ = false;
  bool types_set_ = false;
  bool flushed_ = true;
  bool resources_allocated_ = false;
  bool output_incomplete_ = false;
};

}  // namespace dshow
