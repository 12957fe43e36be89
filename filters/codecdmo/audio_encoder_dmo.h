#pragma once
// AudioEncoderDmo: what the AAC-LC and AMR-NB objects share. Input PCM is cut
// into codec frames (a frame begun by one buffer is completed from the next);
// each output buffer holds coded frames back to back, then their count (32
// bits) and a table of their sizes (16 bits each), little-endian. The
// buffer's length covers the frames only. An output buffer takes frames while
// the largest frame and its table entry still fit; the rest of the input stays
// held and the buffer is marked incomplete. A Discontinuity with no input
// held marks the end: the next ProcessOutput codes the kept part of a frame
// (filled with silence) and drains the encoder. A frame the encoder fails on
// (coding or draining) fails ProcessOutput with E_FAIL and drops the input
// held.
//
// The derived classes add the types, the encoder and their properties.
//
// Thread: IMediaObject calls run under the object's lock; the property bag
// and the settings interface take none.

#include <atomic>
#include <cstdint>
#include <vector>

#include "filters/codecdmo/codecdmo.h"
#include "platform/com/property_bag.h"
#include "platform/dshow/media_object.h"

namespace codecdmo {

class AudioEncoderDmo : public dshow::IMediaObjectImpl<AudioEncoderDmo>, public com::IPropertyBag {
 public:
  HRESULT QueryInterface(const GUID& iid, void** object) override;
  uint32_t AddRef() override { return refs_.Increment(); }
  uint32_t Release() override;

  HRESULT InternalGetInputStreamInfo(uint32_t* flags);
  HRESULT InternalGetOutputStreamInfo(uint32_t* flags);
  HRESULT InternalGetInputType(uint32_t position, dshow::DMO_MEDIA_TYPE* type);
  HRESULT InternalGetOutputType(uint32_t position, dshow::DMO_MEDIA_TYPE* type);
  HRESULT InternalCheckInputType(const dshow::DMO_MEDIA_TYPE* type);
  HRESULT InternalCheckOutputType(const dshow::DMO_MEDIA_TYPE* type);
  HRESULT InternalGetInputSizeInfo(uint32_t* size, uint32_t* lookahead, uint32_t* alignment);
  HRESULT InternalGetOutputSizeInfo(uint32_t* size, uint32_t* alignment);
  HRESULT InternalFlush();
  HRESULT InternalDiscontinuity();
  HRESULT InternalAllocateStreamingResources();
  HRESULT InternalFreeStreamingResources();
  HRESULT InternalAcceptingInput();
  HRESULT InternalProcessInput(dshow::IMediaBuffer* buffer, uint32_t flags, dshow::REFERENCE_TIME time,
                               dshow::REFERENCE_TIME length);
  HRESULT InternalProcessOutput(uint32_t flags, dshow::DMO_OUTPUT_DATA_BUFFER* buffer, uint32_t* status);

 protected:
  AudioEncoderDmo();
  virtual ~AudioEncoderDmo();

  virtual com::IUnknown* SettingsInterface(const GUID& iid) = 0;
  // The class's type checks and offers (the common frame has checked the
  // stream, the pointers and the flags).
  virtual HRESULT CheckInput(const dshow::DMO_MEDIA_TYPE* type) = 0;
  virtual HRESULT CheckOutput(const dshow::DMO_MEDIA_TYPE* type) = 0;
  virtual HRESULT OutputTypeAt(uint32_t position, dshow::DMO_MEDIA_TYPE* type) = 0;
  // Bytes of one PCM frame, of the output buffers, and of the largest coded frame.
  virtual uint32_t FrameBytes() const = 0;
  virtual uint32_t OutputBytes() const = 0;
  virtual uint32_t MaxCodedBytes() const = 0;
  // 100-ns units of one frame; input PCM bytes per second.
  virtual dshow::REFERENCE_TIME FrameDuration() const = 0;
  virtual uint32_t InputBytesPerSecond() const = 0;
  // Resets the encoder for a streaming run.
  virtual HRESULT ResetForStreaming() = 0;
  // Codes one frame of pcm into out (room bytes free); *written the bytes.
  // 0 on success.
  virtual int32_t EncodeOne(const uint8_t* pcm, uint8_t* out, uint32_t room, uint32_t* written) = 0;
  // At the end of the input: writes the next frame the encoder still holds
  // into out (room bytes free); *written 0 once none is left. 0 on success.
  virtual int32_t DrainOne(uint8_t*, uint32_t, uint32_t* written) {
    *written = 0;
    return 0;
  }

  // WAVEFORMATEX of a FORMAT_WaveFormatEx type with at least 18 bytes; false otherwise.
  static bool WaveFormatOfType(const dshow::DMO_MEDIA_TYPE& type, dshow::WaveFormatEx* wave);

  com::RefCount refs_;
  bool major_type_switch_ = false;
  // Written by the property bag without the lock, read by the coding.
  std::atomic<bool> mute_{false};

 private:
  void ReleaseInput();
  // Keeps what is left of the held input (less than a frame) for the next
  // buffer.
  void KeepRemainder();

  dshow::IMediaBuffer* held_ = nullptr;
  uint32_t read_position_ = 0;
  uint32_t remaining_ = 0;
  std::vector<uint8_t> leftover_;
  uint32_t leftover_bytes_ = 0;
  dshow::REFERENCE_TIME base_time_ = 0;
  bool first_input_pending_ = true;
  bool sync_point_pending_ = false;
  // The input ended (Discontinuity with nothing held) and is still to be
  // drained; the encoder was drained and needs a reset before new input.
  bool drain_pending_ = false;
  bool drained_ = false;
};

}  // namespace codecdmo
