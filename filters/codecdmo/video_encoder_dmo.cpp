#include "filters/codecdmo/video_encoder_dmo.h"

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <iterator>

#include "filters/codecdmo/codecdmo_properties.h"
#include "filters/codecdmo/studio_rgb_to_yuv.h"
#include "imageproc/imageproc.h"

namespace codecdmo {
namespace {

using com::E_FAIL;
using com::E_INVALIDARG;
using com::E_OUTOFMEMORY;
using com::E_POINTER;
using com::S_FALSE;
using com::S_OK;
using dshow::DMO_E_NO_MORE_ITEMS;
using dshow::DMO_E_NOTACCEPTING;
using dshow::DMO_E_TYPE_NOT_ACCEPTED;
using dshow::DMO_E_TYPE_NOT_SET;

constexpr uint16_t kMaximumSize = 720;
constexpr double kMaximumRate = 30.0;
// Offsets of the bitmap header inside the two video format blocks.
constexpr uint32_t kVideoInfoBitmapOffset = 48;
constexpr uint32_t kVideoInfo2BitmapOffset = 72;
constexpr uint32_t kAvgTimePerFrameOffset = 40;
// Bit 15 of the input's compression word asks for frames turned to the display.
constexpr uint32_t kRotateToDisplayBit = 0x8000;

uint32_t Le32(const uint8_t* p) { return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<uint32_t>(p[3]) << 24); }

struct SubtypeCode {
  GUID subtype;
  uint32_t code;
  bool converts;
};

constexpr SubtypeCode kSubtypes[] = {
    {dshow::MEDIASUBTYPE_RGB565, kColourRgb565, true}, {MEDIASUBTYPE_UYVY, kColourUyvy, true},
    {MEDIASUBTYPE_YUY2, kColourYuy2, true},           {MEDIASUBTYPE_YV12, kColourYv12, false},
    {MEDIASUBTYPE_IYUV, kColourI420, false},          {MEDIASUBTYPE_I420, kColourI420, false},
    {MEDIASUBTYPE_YV16, kColourYv16, true},
};

YuvFrame AsYuvFrame(const VideoFrameBuffer& f) { return YuvFrame{f.y, f.u, f.v, f.width, f.height}; }

// The properties both video objects keep in the object's own state; the
// write table is indexed by these ids (kMaxFrameSize is read only).
enum SharedProperty : int {
  kDiscardBuffering,
  kKeyFrame,
  kEncoderLevel,
  kCyclicIntraRefresh,
  kVopRate,
  kMaxFrameSize,
};

constexpr com::PropertyDef kSharedWrites[] = {
    {u"SetDiscardBuffering", com::VT_BOOL, 0, 0},
    {u"KeyFrameIndicator", com::VT_BOOL, 0, 0},
    {u"SetEncoderLevel", com::VT_INT, INT32_MIN, INT32_MAX},
    {u"SetCyclicIntraRefresh", com::VT_BOOL, 0, 0},
    {u"VOPRate", com::VT_UI4, 0, static_cast<int64_t>(kMaximumRate)},
};
static_assert(std::size(kSharedWrites) == kMaxFrameSize, "one write entry per writable shared property");

constexpr PropertyRead kSharedReads[] = {
    {u"SetDiscardBuffering", com::VT_BOOL, kDiscardBuffering},
    {u"SetCyclicIntraRefresh", com::VT_BOOL, kCyclicIntraRefresh},
    {u"GetMaxFrameSize", com::VT_UINT, kMaxFrameSize},
    {u"SetEncoderLevel", com::VT_INT, kEncoderLevel},
};

}  // namespace

VideoEncoderDmo::VideoEncoderDmo() { com::ModuleAddRef(); }

VideoEncoderDmo::~VideoEncoderDmo() {
  ReleaseInput();
  if (encoder_) encoder_->DestroyEncoder(encoder_);
  FreeVideoFrameBuffer(&frame_);
  FreeVideoFrameBuffer(&rotated_);
  com::ModuleRelease();
}

HRESULT VideoEncoderDmo::QueryInterface(const GUID& iid, void** object) {
  return QueryEncoderObject(this, this, SettingsInterface(iid), iid, object);
}

uint32_t VideoEncoderDmo::Release() {
  const uint32_t left = refs_.Decrement();
  if (left == 0) delete this;
  return left;
}

HRESULT VideoEncoderDmo::InternalGetInputStreamInfo(uint32_t* flags) {
  *flags = dshow::DMO_INPUT_STREAMF_SINGLE_SAMPLE_PER_BUFFER | dshow::DMO_INPUT_STREAMF_FIXED_SAMPLE_SIZE;
  return S_OK;
}

HRESULT VideoEncoderDmo::InternalGetOutputStreamInfo(uint32_t* flags) {
  *flags = 0;
  return S_OK;
}

HRESULT VideoEncoderDmo::InternalGetInputType(uint32_t, DMO_MEDIA_TYPE*) { return DMO_E_NO_MORE_ITEMS; }

HRESULT VideoEncoderDmo::InternalGetOutputType(uint32_t position, DMO_MEDIA_TYPE* type) {
  if (!InputTypeSet()) return DMO_E_TYPE_NOT_SET;
  if (position > 0) return DMO_E_NO_MORE_ITEMS;
  if (!type) return S_OK;
  return FillOutputType(type);
}

HRESULT VideoEncoderDmo::InternalCheckInputType(const DMO_MEDIA_TYPE* type) {
  if (const DMO_MEDIA_TYPE* current = InputType()) {
    return dshow::MediaTypesEqual(*current, *type) && current->lSampleSize == type->lSampleSize
               ? S_OK
               : DMO_E_TYPE_NOT_ACCEPTED;
  }
  if (!(type->majortype == (major_type_switch_ ? dshow::MEDIATYPE_Video : dshow::MEDIATYPE_PrivateVideo))) {
    return DMO_E_TYPE_NOT_ACCEPTED;
  }
  const SubtypeCode* layout = nullptr;
  for (const SubtypeCode& s : kSubtypes) {
    if (s.subtype == type->subtype) layout = &s;
  }
  if (!layout) return DMO_E_TYPE_NOT_ACCEPTED;
  uint32_t bitmap = 0;
  if (type->formattype == dshow::FORMAT_VideoInfo) {
    bitmap = kVideoInfoBitmapOffset;
  } else if (type->formattype == dshow::FORMAT_VideoInfo2) {
    bitmap = kVideoInfo2BitmapOffset;
  } else {
    return DMO_E_TYPE_NOT_ACCEPTED;
  }
  if (!type->pbFormat || type->cbFormat == 0) return E_INVALIDARG;
  if (type->cbFormat < bitmap + dshow::kBitmapInfoHeaderSize) return DMO_E_TYPE_NOT_ACCEPTED;
  const uint8_t* header = type->pbFormat + bitmap;
  const auto width = static_cast<uint16_t>(Le32(header + 4));
  const int32_t raw_height = static_cast<int32_t>(Le32(header + 8));
  const auto height = static_cast<uint16_t>(raw_height < 0 ? -static_cast<int64_t>(raw_height) : raw_height);
  const uint16_t least = MinimumSize();
  if (width < least || width > kMaximumSize || height < least || height > kMaximumSize || (width & 3) ||
      (height & 3)) {
    return DMO_E_TYPE_NOT_ACCEPTED;
  }
  if (bitmap == kVideoInfoBitmapOffset) rotate_to_display_ = (Le32(header + 16) & kRotateToDisplayBit) != 0;
  colour_code_ = layout->code;
  needs_conversion_ = layout->converts;
  if (width != input_.width || height != input_.height) {
    input_.width = width;
    input_.height = height;
    OnInputSize(width, height);
  }
  if (RateFromEveryType() || input_.frameRate == 0.0) {
    int64_t per_frame = 0;
    std::memcpy(&per_frame, type->pbFormat + kAvgTimePerFrameOffset, sizeof per_frame);  // little-endian host
    // Two decimals, cut: 666666 gives 15.00.
    input_.frameRate = per_frame > 0 ? std::trunc(10000000.0 / static_cast<double>(per_frame) * 100.0) * 0.01 : 15.0;
  }
  if (input_.frameRate > kMaximumRate) return E_INVALIDARG;
  input_.valid = 1;
  TakeInputFormat();
  const HRESULT hr = CreateVideoEncoder();
  return com::Failed(hr) ? DMO_E_TYPE_NOT_ACCEPTED : hr;
}

HRESULT VideoEncoderDmo::InternalCheckOutputType(const DMO_MEDIA_TYPE* type) {
  if (const DMO_MEDIA_TYPE* current = OutputType()) {
    return dshow::MediaTypesEqual(*current, *type) ? S_OK : DMO_E_TYPE_NOT_ACCEPTED;
  }
  if (!InputTypeSet()) return DMO_E_TYPE_NOT_ACCEPTED;
  if (!type->pbFormat || type->cbFormat == 0) return E_INVALIDARG;
  if (type->cbFormat < kVideoInfoBitmapOffset + dshow::kBitmapInfoHeaderSize) return DMO_E_TYPE_NOT_ACCEPTED;
  const uint8_t* header = type->pbFormat + kVideoInfoBitmapOffset;
  const auto width = static_cast<uint16_t>(Le32(header + 4));
  const auto height = static_cast<uint16_t>(Le32(header + 8));
  if (height == static_cast<uint16_t>(params_.height) && width == static_cast<uint16_t>(params_.width)) return S_OK;
  TakeOutputSize(width, height);
  return CreateVideoEncoder();
}

HRESULT VideoEncoderDmo::InternalGetInputSizeInfo(uint32_t* size, uint32_t* lookahead, uint32_t* alignment) {
  *size = InputType()->lSampleSize;
  *lookahead = 0;
  *alignment = 1;
  return S_OK;
}

HRESULT VideoEncoderDmo::InternalGetOutputSizeInfo(uint32_t* size, uint32_t* alignment) {
  *alignment = 1;
  if (!encoder_) return E_FAIL;
  uint32_t bytes = 0;
  const venc::VideoEncoderResult result =
      encoder_->GetEncoderParam(encoder_, venc::VENC_PARAM_MAX_FRAME_BYTES, &bytes);
  const HRESULT hr = OutputSize(result, bytes, size);
  if (hr == S_OK) frame_size_limit_ = bytes;
  return hr;
}

HRESULT VideoEncoderDmo::InternalFlush() {
  ReleaseInput();
  return S_OK;
}

HRESULT VideoEncoderDmo::InternalDiscontinuity() {
  if (held_) return DMO_E_NOTACCEPTING;
  discontinuity_ = true;
  return S_OK;
}

HRESULT VideoEncoderDmo::InternalAllocateStreamingResources() {
  if (!encoder_) return E_FAIL;
  FreeVideoFrameBuffer(&frame_);
  FreeVideoFrameBuffer(&rotated_);
  if (needs_conversion_ && AllocateVideoFrameBuffer(&frame_, input_.width, input_.height, 2) != 0) {
    return E_OUTOFMEMORY;
  }
  if ((orientation_ == 1 || orientation_ == 4) &&
      AllocateVideoFrameBuffer(&rotated_, static_cast<uint16_t>(params_.width), static_cast<uint16_t>(params_.height),
                               2) != 0) {
    FreeVideoFrameBuffer(&frame_);
    return E_OUTOFMEMORY;
  }
  const float rate = params_.frameRate != 0.0f ? params_.frameRate : static_cast<float>(input_.frameRate);
  output_duration_ = rate > 0.0f ? static_cast<REFERENCE_TIME>(10000000.0f / rate) : 0;
  discontinuity_ = true;
  if (VideoTelephony()) first_frame_ = false;
  const auto whole_rate = static_cast<uint32_t>(params_.frameRate);
  frame_period_ = whole_rate ? kTimeResolution / whole_rate : 0;
  return S_OK;
}

HRESULT VideoEncoderDmo::InternalFreeStreamingResources() {
  if (encoder_) encoder_->ResetEncoder(encoder_);
  // A reset encoder writes its stream header in front of the next first
  // frame again: that one is stripped like the very first.
  first_frame_ = !VideoTelephony();
  output_time_ = 0;
  output_duration_ = 0;
  discontinuity_ = true;
  FreeVideoFrameBuffer(&frame_);
  FreeVideoFrameBuffer(&rotated_);
  ReleaseInput();
  return S_OK;
}

HRESULT VideoEncoderDmo::InternalAcceptingInput() { return held_ ? S_FALSE : S_OK; }

HRESULT VideoEncoderDmo::InternalProcessInput(IMediaBuffer* buffer, uint32_t flags, REFERENCE_TIME time,
                                              REFERENCE_TIME) {
  held_ = buffer;
  held_->AddRef();
  if (flags & dshow::DMO_INPUT_DATA_BUFFERF_TIME) output_time_ = time;
  if (discontinuity_) {
    discontinuity_ = false;
    force_intra_ = true;
    force_intra_next_ = true;
  }
  return S_OK;
}

uint32_t VideoEncoderDmo::InputFrameBytes() const {
  const uint32_t pixels = static_cast<uint32_t>(input_.width) * input_.height;
  switch (colour_code_) {
    case kColourUyvy:
    case kColourRgb565:
    case kColourYuy2:
    case kColourYv16:
      return 2 * pixels;
    default:
      return pixels + pixels / 2;
  }
}

HRESULT VideoEncoderDmo::InternalProcessOutput(uint32_t, DMO_OUTPUT_DATA_BUFFER* out, uint32_t*) {
  if (!out->pBuffer) return E_POINTER;
  uint8_t* output = nullptr;
  uint32_t ignored = 0, capacity = 0;
  if (com::Failed(out->pBuffer->GetBufferAndLength(&output, &ignored)) ||
      com::Failed(out->pBuffer->GetMaxLength(&capacity))) {
    return E_FAIL;
  }
  if (capacity < frame_size_limit_) return E_FAIL;
  if (!held_) {
    out->dwStatus = dshow::DMO_OUTPUT_DATA_BUFFERF_SYNCPOINT;
    return S_OK;
  }
  uint8_t* input = nullptr;
  uint32_t length = 0;
  held_->GetBufferAndLength(&input, &length);
  if (length == 0 || !input) return E_FAIL;
  // A buffer shorter than one frame of its type would be read past its end
  // by the conversion or the encoder: it is dropped.
  if (length < InputFrameBytes()) {
    ReleaseInput();
    return S_FALSE;
  }
  const uint32_t w = input_.width, h = input_.height;
  const uint8_t* encode_input = input;
  uint32_t encode_length = length;
  if (needs_conversion_) {
    YuvFrame dst = AsYuvFrame(frame_);
    switch (colour_code_) {
      case kColourRgb565:
        // BT.601 studio range, as players read these streams.
        StudioRgb565ToYuv420(reinterpret_cast<const uint16_t*>(input), &dst, w, h);
        break;
      case kColourUyvy:
        gUY1VY2ToYUV420(input, &dst, w, h);
        break;
      case kColourYuy2:
        gOvYUY2toYUV420(input, frame_.y, static_cast<int>(w), static_cast<int>(h));
        break;
      case kColourYv16: {
        const YuvFrame src{input, input + w * h, input + w * h + (w * h) / 2, static_cast<uint16_t>(w),
                           static_cast<uint16_t>(h)};
        gYUV422toYUV420Ex(&src, &dst);
        break;
      }
      default:
        break;
    }
    encode_input = frame_.y;
    encode_length = frame_.size;
  } else {
    frame_.y = input;
    frame_.u = input + w * h;
    frame_.v = frame_.u + (w * h) / 4;
    frame_.width = static_cast<uint16_t>(w);
    frame_.height = static_cast<uint16_t>(h);
    frame_.owned = false;
  }
  if (orientation_ == 1 || orientation_ == 4) {
    // The turned picture must fit the rotation buffer, which has the coded
    // size: an output type of another size leaves nothing to turn into.
    if (rotated_.size < w * h + (w * h) / 2) {
      ReleaseInput();
      return S_FALSE;
    }
    const YuvFrame src = AsYuvFrame(frame_);
    YuvFrame dst = AsYuvFrame(rotated_);
    gRotateFrame(&src, &dst, orientation_ == 1 ? 1 : 3);
    encode_input = rotated_.y;
  }
  // The encoder is given the whole buffer: it needs room for its largest
  // frame, and on the first frame writes the stream header in front of it,
  // which the output type carries and the sample drops.
  uint32_t header_length = 0;
  if (first_frame_) encoder_->GetEncoderParam(encoder_, venc::VENC_PARAM_HEADER_LENGTH, &header_length);
  int32_t time_ms = static_cast<int32_t>(output_time_ / 10000);
  if (frame_period_ > 0) time_ms -= time_ms % static_cast<int32_t>(frame_period_);
  uint32_t bytes = capacity;
  int32_t frame_type = 1;
  const venc::VideoEncoderResult result = encoder_->EncodeFrame(encoder_, encode_input, encode_length, time_ms,
                                                                force_intra_ ? 1 : 0, output, &bytes, &frame_type);
  force_intra_ = force_intra_next_;
  force_intra_next_ = false;
  if (result != venc::VENC_OK) {
    // A frame the encoder fails on is an error, not a dropped frame: the
    // stream would go on without its picture.
    ReleaseInput();
    return E_FAIL;
  }
  uint32_t strip = 0;
  if (first_frame_ && bytes > 0) {
    // Only a header the encoder really wrote is stripped.
    first_frame_ = false;
    if (header_length > 0 && bytes >= header_length) {
      uint8_t* header = static_cast<uint8_t*>(std::malloc(header_length));
      if (header && encoder_->GetEncoderParam(encoder_, venc::VENC_PARAM_HEADER,
                                              reinterpret_cast<uint32_t*>(header)) == venc::VENC_OK &&
          std::memcmp(header, output, header_length) == 0) {
        strip = header_length;
      }
      std::free(header);
    }
  }
  if (strip > 0) std::memmove(output, output + strip, bytes - strip);
  if (bytes > 0 && frame_type == 0) out->dwStatus |= dshow::DMO_OUTPUT_DATA_BUFFERF_SYNCPOINT;
  out->rtTimestamp = output_time_;
  out->rtTimelength = output_duration_;
  output_time_ += output_duration_;
  out->dwStatus |= dshow::DMO_OUTPUT_DATA_BUFFERF_TIME | dshow::DMO_OUTPUT_DATA_BUFFERF_TIMELENGTH;
  out->pBuffer->SetLength(bytes - strip);
  ReleaseInput();
  return S_OK;
}

void VideoEncoderDmo::ReleaseInput() {
  if (held_) held_->Release();
  held_ = nullptr;
}

void VideoEncoderDmo::DestroyEncoderAndBuffer() {
  if (encoder_) encoder_->DestroyEncoder(encoder_);
  encoder_ = nullptr;
  FreeVideoFrameBuffer(&frame_);
}

void VideoEncoderDmo::TurnSizeToDisplay() {
  if (!rotate_to_display_) {
    orientation_ = 0;
    return;
  }
  orientation_ = QueryDisplayOrientation();
  // Turn the input's size once: a size already turned stays.
  if ((orientation_ == 1 || orientation_ == 4) && params_.width == input_.width && params_.height == input_.height) {
    std::swap(params_.width, params_.height);
  }
}

HRESULT VideoEncoderDmo::ConfigureNewEncoder(bool set_cyclic) {
  if (colour_code_ == kColourYv12) {
    if (encoder_->SetEncoderParam(encoder_, venc::VENC_PARAM_CHROMA_ORDER, 1) == venc::VENC_ERR_REJECTED) {
      return E_FAIL;
    }
  }
  if (set_cyclic && encoder_->SetEncoderParam(encoder_, venc::VENC_PARAM_CYCLIC_INTRA_REFRESH,
                                              cyclic_intra_refresh_ ? 1 : 0) == venc::VENC_ERR_REJECTED) {
    return E_FAIL;
  }
  pixels_ = static_cast<uint32_t>(input_.width) * input_.height;
  return S_OK;
}

void VideoEncoderDmo::MarkNewEncoder() {
  first_frame_ = true;
  uint32_t bytes = 0;
  if (encoder_ && encoder_->GetEncoderParam(encoder_, venc::VENC_PARAM_MAX_FRAME_BYTES, &bytes) == venc::VENC_OK) {
    frame_size_limit_ = bytes;
  }
}

HRESULT VideoEncoderDmo::InitOutputType(DMO_MEDIA_TYPE* type, const GUID& subtype, uint32_t format_bytes,
                                        uint32_t bitmap_size) {
  if (com::Failed(dshow::MoInitMediaType(type, format_bytes))) return E_OUTOFMEMORY;
  type->majortype = dshow::MEDIATYPE_Video;
  type->subtype = subtype;
  type->formattype = dshow::FORMAT_VideoInfo;
  type->bFixedSizeSamples = false;
  type->bTemporalCompression = true;
  dshow::VideoInfoHeader info;
  info.AvgTimePerFrame =
      params_.frameRate > 0.0f ? static_cast<REFERENCE_TIME>(10000000.0 / static_cast<double>(params_.frameRate)) : 0;
  info.dwBitRate = 0;
  info.bmiHeader.biSize = bitmap_size;
  info.bmiHeader.biWidth = params_.width ? params_.width : input_.width;
  info.bmiHeader.biHeight = params_.height ? params_.height : input_.height;
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 0;
  info.bmiHeader.biCompression = kFourccM4S2;
  dshow::WriteVideoInfoHeader(info, type->pbFormat);
  return S_OK;
}

bool VideoEncoderDmo::SendLive(uint32_t id, uint32_t value) {
  return !encoder_ || encoder_->SetEncoderParam(encoder_, id, value) == venc::VENC_OK;
}

HRESULT VideoEncoderDmo::Read(const char16_t* name, com::VARIANT* value, com::IErrorLog*) {
  int64_t number = 0;
  const PropertyRead* read = FindRead(kSharedReads, name, value);
  if (read) {
    switch (static_cast<SharedProperty>(read->id)) {
      case kDiscardBuffering: number = major_type_switch_; break;
      case kCyclicIntraRefresh: number = cyclic_intra_refresh_; break;
      case kEncoderLevel: number = level_override_ ? level_override_ : static_cast<int64_t>(level_); break;
      case kMaxFrameSize: {
        uint32_t bytes = 0;
        if (!encoder_ ||
            encoder_->GetEncoderParam(encoder_, venc::VENC_PARAM_MAX_FRAME_BYTES, &bytes) != venc::VENC_OK) {
          return E_FAIL;
        }
        number = bytes;
        break;
      }
      default: return E_INVALIDARG;
    }
  } else {
    read = FindRead(OwnReads(), name, value);
    if (!read) return E_INVALIDARG;
    number = ReadValue(read->id);
  }
  const com::PropertyDef def{read->name, read->type, 0, 0};
  com::PropertyTable::FillRead(def, number, value);
  return S_OK;
}

HRESULT VideoEncoderDmo::Write(const char16_t* name, com::VARIANT* value) {
  Lock(1);
  PropertyWriteGuard unlock(this);
  const com::PropertyTable shared(kSharedWrites);
  if (!shared.Find(name)) return WriteOwnProperty(name, value);
  const com::PropertyDef* def = nullptr;
  int64_t number = 0;
  const HRESULT checked = shared.CheckWrite(name, value, &def, &number);
  if (checked != S_OK) return checked;
  const auto v = static_cast<int32_t>(number);
  switch (static_cast<SharedProperty>(def - kSharedWrites)) {
    case kDiscardBuffering:
      major_type_switch_ = v != 0;
      return S_OK;
    case kKeyFrame:
      if (v) force_intra_ = true;
      return ReapplySettings();
    case kEncoderLevel:
      level_override_ = v;
      return ReapplySettings();
    case kCyclicIntraRefresh:
      if (!SendLive(venc::VENC_PARAM_CYCLIC_INTRA_REFRESH, static_cast<uint32_t>(v))) return E_INVALIDARG;
      cyclic_intra_refresh_ = v != 0;
      return S_OK;
    case kVopRate:
      if (!SendLive(venc::VENC_PARAM_FRAME_RATE, static_cast<uint32_t>(v))) return E_INVALIDARG;
      input_.frameRate = v;
      TakeFrameRate(static_cast<uint32_t>(v));
      return S_OK;
    default:
      return E_INVALIDARG;
  }
}

bool VideoEncoderDmo::IntraRefreshFits(int32_t macroblocks) const {
  return !encoder_ || macroblocks < static_cast<int32_t>((static_cast<uint32_t>(params_.width) * params_.height) / 256);
}

HRESULT VideoEncoderDmo::CopyInputFormat(DmoInputFormat* format) const {
  if (!format) return E_POINTER;
  if (!input_.valid) return E_FAIL;
  *format = input_;
  return S_OK;
}

HRESULT VideoEncoderDmo::ReportOutputTypeSet(uint8_t* set) const {
  if (!set) return E_POINTER;
  *set = OutputTypeSet() ? 1 : 0;
  return S_OK;
}

}  // namespace codecdmo
