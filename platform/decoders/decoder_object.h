#pragma once
// DecoderObject: what the WMA, WMV and MP3 decoder objects share over the
// one-input, one-output media object frame: the reference count, the one
// interface they answer, no input types proposed, whole output samples, and
// no latency steps (Discontinuity, streaming resources) unless the object
// replaces them.

#include "platform/dshow/media_object.h"

namespace decoders {

template <typename Derived>
class DecoderObject : public dshow::IMediaObjectImpl<Derived> {
 public:
  com::HRESULT QueryInterface(const com::GUID& iid, void** object) override {
    return com::QuerySingleInterface<dshow::IMediaObject>(this, dshow::IID_IMediaObject, iid, object);
  }
  uint32_t AddRef() override { return refs_.Increment(); }
  uint32_t Release() override {
    const uint32_t left = refs_.Decrement();
    if (left == 0) delete static_cast<Derived*>(this);
    return left;
  }

  com::HRESULT InternalGetOutputStreamInfo(uint32_t* flags) {
    *flags = dshow::DMO_OUTPUT_STREAMF_WHOLE_SAMPLES;
    return com::S_OK;
  }
  // The caller sets the input type from the stream it has.
  com::HRESULT InternalGetInputType(uint32_t, dshow::DMO_MEDIA_TYPE*) { return dshow::DMO_E_NO_MORE_ITEMS; }
  com::HRESULT InternalDiscontinuity() { return com::S_OK; }

 protected:
  DecoderObject() = default;
  ~DecoderObject() = default;

 private:
  com::RefCount refs_;
};

}  // namespace decoders
