#pragma once
// VideoEncoderDmo: what the H.263 and MPEG-4 objects share. It takes
// uncompressed frames (I420, IYUV, YV12 as they are; RGB565, UYVY, YUY2 and
// YV16 converted to I420 with imageproc), turns them to the display's
// orientation when the input type asks for it, and codes one frame per input
// buffer with the video encoder library, stamped with the input's time and
// marked as a sync point when intra coded. The first two frames after a start
// or a discontinuity are coded intra. A frame the encoder fails on fails
// ProcessOutput with E_FAIL.
//
// The derived classes add the encoder's creation, their output type and the
// properties kept in their own settings record. The properties kept in the
// object's own state are handled here: "SetDiscardBuffering",
// "KeyFrameIndicator", "SetEncoderLevel", "SetCyclicIntraRefresh", "VOPRate"
// and the read of "GetMaxFrameSize".
//
// Thread: IMediaObject calls and property writes run under the object's lock;
// property reads and the settings interfaces take none.

#include <cstdint>
#include <span>

#include "encoders/common/video_encoder.h"
#include "filters/codecdmo/codecdmo.h"
#include "filters/codecdmo/codecdmo_properties.h"
#include "filters/codecdmo/video_frame_buffer.h"
#include "platform/com/property_bag.h"
#include "platform/dshow/media_object.h"

namespace codecdmo {

using dshow::DMO_MEDIA_TYPE;
using dshow::DMO_OUTPUT_DATA_BUFFER;
using dshow::IMediaBuffer;
using dshow::REFERENCE_TIME;

// Input layouts.
enum ColourCode : uint32_t {
  kColourI420 = 0,
  kColourUyvy = 2,
  kColourRgb565 = 3,
  kColourYv12 = 4,
  kColourYuy2 = 5,
  kColourYv16 = 6,
};

// Ticks per second of the encoders' time stamps: the frame times are
// milliseconds.
constexpr uint32_t kTimeResolution = 1000;

class VideoEncoderDmo : public dshow::IMediaObjectImpl<VideoEncoderDmo>, public com::IPropertyBag {
 public:
  HRESULT QueryInterface(const GUID& iid, void** object) override;
  uint32_t AddRef() override { return refs_.Increment(); }
  uint32_t Release() override;

  HRESULT InternalGetInputStreamInfo(uint32_t* flags);
  HRESULT InternalGetOutputStreamInfo(uint32_t* flags);
  HRESULT InternalGetInputType(uint32_t position, DMO_MEDIA_TYPE* type);
  HRESULT InternalGetOutputType(uint32_t position, DMO_MEDIA_TYPE* type);
  HRESULT InternalCheckInputType(const DMO_MEDIA_TYPE* type);
  HRESULT InternalCheckOutputType(const DMO_MEDIA_TYPE* type);
  HRESULT InternalGetInputSizeInfo(uint32_t* size, uint32_t* lookahead, uint32_t* alignment);
  HRESULT InternalGetOutputSizeInfo(uint32_t* size, uint32_t* alignment);
  HRESULT InternalFlush();
  HRESULT InternalDiscontinuity();
  HRESULT InternalAllocateStreamingResources();
  HRESULT InternalFreeStreamingResources();
  HRESULT InternalAcceptingInput();
  HRESULT InternalProcessInput(IMediaBuffer* buffer, uint32_t flags, REFERENCE_TIME time, REFERENCE_TIME length);
  HRESULT InternalProcessOutput(uint32_t flags, DMO_OUTPUT_DATA_BUFFER* buffer, uint32_t* status);

  // IPropertyBag: the shared properties here, the rest through ReadValue and
  // WriteOwnProperty. E_INVALIDARG for a null or unknown name, a null value,
  // a write of another type or out of range, or a value the encoder refuses.
  HRESULT Read(const char16_t* name, com::VARIANT* value, com::IErrorLog* log) override;
  HRESULT Write(const char16_t* name, com::VARIANT* value) override;

 protected:
  VideoEncoderDmo();
  virtual ~VideoEncoderDmo();

  // The settings interface of the class, or null for another id.
  virtual com::IUnknown* SettingsInterface(const GUID& iid) = 0;
  // Smallest accepted width and height.
  virtual uint16_t MinimumSize() const = 0;
  // A new input size: the class's default bit rate applies when it has none.
  virtual void OnInputSize(uint16_t width, uint16_t height) = 0;
  // True when every input type sets the input rate (else only the first).
  virtual bool RateFromEveryType() const = 0;
  // The accepted input format goes into the class's creation settings.
  virtual void TakeInputFormat() = 0;
  // An output type asks for another picture size.
  virtual void TakeOutputSize(uint16_t width, uint16_t height) = 0;
  // (Re)creates the encoder from the settings into encoder_ and params_.
  virtual HRESULT CreateVideoEncoder() = 0;
  // The output type's format block.
  virtual HRESULT FillOutputType(DMO_MEDIA_TYPE* type) = 0;
  // The video-telephony switch of the settings.
  virtual bool VideoTelephony() const = 0;
  // The output size given the encoder's maximum frame bytes (or the failure).
  virtual HRESULT OutputSize(venc::VideoEncoderResult result, uint32_t bytes, uint32_t* size) = 0;

  // Shared steps of CreateVideoEncoder: destroys the encoder and frees the
  // conversion buffer; turns params_'s size for a display on its side.
  void DestroyEncoderAndBuffer();
  void TurnSizeToDisplay();
  // After a successful creation: the YV12 chroma order and the cyclic
  // refresh switch (E_FAIL when the encoder refuses), the frame bytes.
  HRESULT ConfigureNewEncoder(bool set_cyclic);
  // The first-frame flag and the bytes limit of a new encoder.
  void MarkNewEncoder();

  // Fills the 88-byte video info part of an output type: time per frame,
  // the bitmap header (size bitmap_size, the creation size or else the
  // input's, compression "M4S2").
  HRESULT InitOutputType(DMO_MEDIA_TYPE* type, const GUID& subtype, uint32_t format_bytes, uint32_t bitmap_size);

  // Sends id to an existing encoder; false when it refuses. Without an
  // encoder there is nothing to send (true).
  bool SendLive(uint32_t id, uint32_t value);

  // The class's own readable properties and the value of one of them.
  virtual std::span<const PropertyRead> OwnReads() const = 0;
  virtual int64_t ReadValue(int id) const = 0;
  // A write of one of the class's own properties, under the object's lock.
  virtual HRESULT WriteOwnProperty(const char16_t* name, com::VARIANT* value) = 0;
  // Applies the class's settings record again, as its settings interface
  // would (E_FAIL once the output type is set).
  virtual HRESULT ReapplySettings() = 0;
  // "VOPRate" went to the encoder: the settings record keeps it.
  virtual void TakeFrameRate(uint32_t rate) = 0;
  // "IntraRefreshMBs" fits the picture: fewer than its macroblocks once an
  // encoder exists.
  bool IntraRefreshFits(int32_t macroblocks) const;
  // The settings interfaces' GetInputFormat and IsOutputTypeSet.
  HRESULT CopyInputFormat(DmoInputFormat* format) const;
  HRESULT ReportOutputTypeSet(uint8_t* set) const;

  com::RefCount refs_;
  venc::VideoEncoder* encoder_ = nullptr;
  venc::EncoderCreateParams params_{};
  DmoInputFormat input_{};
  VideoFrameBuffer frame_;
  VideoFrameBuffer rotated_;
  uint32_t level_ = 0;
  uint32_t profile_ = 0;
  uint32_t pixels_ = 0;
  uint32_t frame_size_limit_ = 0;
  int orientation_ = 0;
  uint32_t frame_period_ = 0;
  uint32_t colour_code_ = kColourI420;
  REFERENCE_TIME output_time_ = 0;
  REFERENCE_TIME output_duration_ = 0;
  bool needs_conversion_ = false;
  bool rotate_to_display_ = false;
  bool first_frame_ = false;
  bool force_intra_ = false;
  bool force_intra_next_ = false;
  bool discontinuity_ = false;
  bool major_type_switch_ = false;
  bool cyclic_intra_refresh_ = false;
  int32_t level_override_ = 0;
  IMediaBuffer* held_ = nullptr;

 private:
  void ReleaseInput();
  // Bytes of one input frame of the current layout.
  uint32_t InputFrameBytes() const;
};

}  // namespace codecdmo
