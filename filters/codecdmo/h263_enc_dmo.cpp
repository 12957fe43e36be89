// CH263EncDmo: the H.263 encoder object over h263enc.
#include <cstring>
#include <new>

#include "encoders/h263enc/h263enc.h"
#include "filters/codecdmo/codecdmo_properties.h"
#include "filters/codecdmo/codecdmo_tables.h"
#include "filters/codecdmo/video_encoder_dmo.h"

namespace codecdmo {
namespace {

using com::E_FAIL;
using com::E_INVALIDARG;
using com::E_POINTER;
using com::S_OK;
using com::VARIANT;

constexpr uint16_t kMinimumSize = 96;
constexpr int32_t kMaximumBitRate = 2048000;
constexpr int32_t kMaximumGop = 90;
constexpr uint32_t kMarker = 0x55AA;
// The output format block: the 88-byte video info, then level, profile and marker.
constexpr uint32_t kOutputFormatBytes = 100;
constexpr uint32_t kOutputBitmapSize = 52;

// The properties kept in the creation record (VideoEncoderDmo handles the
// rest).
enum PropertyId {
  kBitRate,
  kRcMode,
  kGopLength,
  kPacketSize,
  kVideoTelephony,
  kComplexity,
  kGobHeaders,
  kIntraRefreshMbs,
  kBandwidthAdaptation,
  kPreprocessing,
  kSearchRange,
  kModQuant,
  kDeblocking,
  kPropertyCount,
};

constexpr int64_t kIntMin = INT32_MIN;
constexpr int64_t kIntMax = INT32_MAX;

// Writes: type and range.
constexpr com::PropertyDef kWrites[] = {
    {u"BitRate", com::VT_UI4, 24000, kMaximumBitRate},
    {u"SetRCMode", com::VT_BOOL, 0, 0},
    {u"GOPLength", com::VT_INT, kIntMin, kIntMax},
    {u"PacketSize", com::VT_INT, kIntMin, kIntMax},
    {u"VideoTelephony", com::VT_INT, kIntMin, kIntMax},
    {u"EncodingComplexity", com::VT_INT, 0, 3},
    {u"NoOfGOBHeaders", com::VT_INT, kIntMin, kIntMax},
    {u"IntraRefreshMBs", com::VT_INT, -1, kIntMax},
    {u"SetBandwidthAdaptation", com::VT_BOOL, 0, 0},
    {u"PreprocessingLevel", com::VT_INT, 0, 2},
    {u"SearchRange", com::VT_INT, 1, 15},
    {u"SetModQuant", com::VT_BOOL, 0, 0},
    {u"SetDeblocking", com::VT_BOOL, 0, 0},
};
static_assert(std::size(kWrites) == kPropertyCount, "one write entry per property");

// Reads: the type each readable property answers with.
constexpr PropertyRead kReads[] = {
    {u"SetRCMode", com::VT_BOOL, kRcMode},
    {u"SetBandwidthAdaptation", com::VT_BOOL, kBandwidthAdaptation},
    {u"SetModQuant", com::VT_BOOL, kModQuant},
    {u"SetDeblocking", com::VT_BOOL, kDeblocking},
    {u"BitRate", com::VT_INT, kBitRate},
    {u"GOPLength", com::VT_INT, kGopLength},
    {u"PacketSize", com::VT_INT, kPacketSize},
    {u"EncodingComplexity", com::VT_INT, kComplexity},
    {u"IntraRefreshMBs", com::VT_INT, kIntraRefreshMbs},
    {u"PreprocessingLevel", com::VT_INT, kPreprocessing},
    {u"SearchRange", com::VT_INT, kSearchRange},
    {u"NoOfGOBHeaders", com::VT_INT, kGobHeaders},
    {u"VideoTelephony", com::VT_UINT, kVideoTelephony},
};

class H263EncDmo final : public VideoEncoderDmo, public IH263EncSettings {
 public:
  H263EncDmo() {
    params_.bitRate = 115000;
    params_.gopLength = 45;
    params_.sceneChangeDetection = 1;
    params_.encodingComplexity = 2;
    params_.searchRange = 15;
  }

  HRESULT QueryInterface(const GUID& iid, void** object) override {
    return VideoEncoderDmo::QueryInterface(iid, object);
  }
  uint32_t AddRef() override { return VideoEncoderDmo::AddRef(); }
  uint32_t Release() override { return VideoEncoderDmo::Release(); }

  // IH263EncSettings.
  HRESULT Reserved1() override { return S_OK; }
  HRESULT Reserved2() override { return S_OK; }
  HRESULT SetCreateParams(const venc::EncoderCreateParams* params) override {
    if (!params) return E_POINTER;
    if (OutputTypeSet()) return E_FAIL;
    if (params->bitRate > kMaximumBitRate || params->gopLength > kMaximumGop) return E_INVALIDARG;
    const venc::EncoderCreateParams old = params_;
    params_ = *params;
    if (encoder_ && com::Failed(CreateVideoEncoder())) {
      params_ = old;
      CreateVideoEncoder();
      return E_INVALIDARG;
    }
    return S_OK;
  }
  HRESULT GetCreateParams(venc::EncoderCreateParams* params) override {
    if (!params) return E_POINTER;
    *params = params_;
    return S_OK;
  }
  HRESULT GetInputFormat(DmoInputFormat* format) override { return CopyInputFormat(format); }
  HRESULT IsOutputTypeSet(uint8_t* set) override { return ReportOutputTypeSet(set); }

 protected:
  com::IUnknown* SettingsInterface(const GUID& iid) override {
    return iid == IID_IH263EncSettings ? static_cast<IH263EncSettings*>(this) : nullptr;
  }
  uint16_t MinimumSize() const override { return kMinimumSize; }
  void OnInputSize(uint16_t width, uint16_t height) override {
    if (params_.bitRate == 0) params_.bitRate = DefaultBitRate(kH263BitRates, width, height);
  }
  bool RateFromEveryType() const override { return false; }
  void TakeInputFormat() override {
    if (input_.frameRate != 0.0) params_.frameRate = static_cast<float>(input_.frameRate);
    params_.height = input_.height;
    params_.width = input_.width;
  }
  void TakeOutputSize(uint16_t width, uint16_t height) override {
    params_.width = width;
    params_.height = height;
  }
  HRESULT CreateVideoEncoder() override;
  HRESULT FillOutputType(DMO_MEDIA_TYPE* type) override {
    const HRESULT hr = InitOutputType(type, MEDIASUBTYPE_H263Stream, kOutputFormatBytes, kOutputBitmapSize);
    if (com::Failed(hr)) return hr;
    uint8_t* tail = type->pbFormat + dshow::kVideoInfoHeaderSize;
    PutLe32(tail, level_);
    PutLe32(tail + 4, profile_);
    PutLe32(tail + 8, kMarker);
    return S_OK;
  }
  bool VideoTelephony() const override { return venc::GetH263Words(params_).videoTelephony != 0; }
  HRESULT OutputSize(venc::VideoEncoderResult result, uint32_t bytes, uint32_t* size) override {
    if (result != venc::VENC_OK) return E_FAIL;
    *size = bytes;
    return S_OK;
  }

 private:
  ~H263EncDmo() override = default;
  // A property kept in the creation record, applied like SetCreateParams.
  HRESULT ApplyStored(const venc::EncoderCreateParams& copy) { return SetCreateParams(&copy); }
  HRESULT ReapplySettings() override {
    const venc::EncoderCreateParams copy = params_;
    return ApplyStored(copy);
  }
  void TakeFrameRate(uint32_t rate) override { params_.frameRate = static_cast<float>(rate); }
  std::span<const PropertyRead> OwnReads() const override { return kReads; }
  int64_t ReadValue(int id) const override;
  HRESULT WriteOwnProperty(const char16_t* name, VARIANT* value) override;
};

HRESULT H263EncDmo::CreateVideoEncoder() {
  DestroyEncoderAndBuffer();
  TurnSizeToDisplay();
  venc::H263Words words = venc::GetH263Words(params_);
  const int32_t level = level_override_ ? level_override_
                                        : ChooseH263Level(static_cast<uint32_t>(params_.height),
                                                          static_cast<uint32_t>(params_.width), params_.frameRate,
                                                          static_cast<uint32_t>(params_.bitRate));
  words.level = level;
  level_ = static_cast<uint32_t>(level);
  words.timeResolution = kTimeResolution;
  const int32_t w = params_.width, h = params_.height;
  if (!(w == 128 || w == 176 || w == 352 || h == 96 || h == 144 || h == 288)) words.profile = 3;
  profile_ = static_cast<uint32_t>(words.profile);
  venc::SetH263Words(params_, words);
  venc::VideoEncoder* made = nullptr;
  if (gCreateH263VideoEncoder(&made, &params_) != venc::VENC_OK || !made) return E_FAIL;
  encoder_ = made;
  const HRESULT hr = ConfigureNewEncoder(colour_code_ == kColourYv12);
  MarkNewEncoder();
  return hr;
}

int64_t H263EncDmo::ReadValue(int id) const {
  const venc::H263Words words = venc::GetH263Words(params_);
  switch (id) {
    case kRcMode: return params_.rcMode == 1;
    case kBandwidthAdaptation: return params_.bandwidthAdaptation;
    case kModQuant: return words.modifiedQuant;
    case kDeblocking: return words.deblocking;
    case kBitRate: return params_.bitRate;
    case kGopLength: return params_.gopLength;
    case kPacketSize: return words.packetSize;
    case kComplexity: return params_.encodingComplexity;
    case kIntraRefreshMbs: return params_.intraRefreshMbs;
    case kPreprocessing: return params_.preprocessingLevel;
    case kSearchRange: return params_.searchRange;
    case kGobHeaders: return params_.gobHeaderInterval;
    case kVideoTelephony: return words.videoTelephony;
    default: return 0;
  }
}

HRESULT H263EncDmo::WriteOwnProperty(const char16_t* name, VARIANT* value) {
  const com::PropertyDef* def = nullptr;
  int64_t number = 0;
  const HRESULT checked = com::PropertyTable(kWrites).CheckWrite(name, value, &def, &number);
  if (checked != S_OK) return checked;
  const auto id = static_cast<PropertyId>(def - kWrites);
  const auto v = static_cast<int32_t>(number);
  venc::EncoderCreateParams copy = params_;
  venc::H263Words words = venc::GetH263Words(copy);
  // A live property goes to an existing encoder first; the record keeps it
  // once the encoder took it (or when there is none yet).
  auto live = [this](uint32_t param_id, int32_t value_to_send, int32_t* field) {
    const int32_t old = *field;
    *field = value_to_send;
    if (!SendLive(param_id, static_cast<uint32_t>(value_to_send))) {
      *field = old;
      return E_INVALIDARG;
    }
    return S_OK;
  };
  switch (id) {
    case kBitRate: return live(venc::VENC_PARAM_BITRATE, v, &params_.bitRate);
    case kRcMode:
      copy.rcMode = v ? 1 : 0;
      return ApplyStored(copy);
    case kGopLength: return live(venc::VENC_PARAM_GOP_LENGTH, v, &params_.gopLength);
    case kPacketSize: {
      if (!SendLive(venc::VENC_PARAM_PACKET_SIZE, static_cast<uint32_t>(v))) return E_INVALIDARG;
      words = venc::GetH263Words(params_);
      words.packetSize = static_cast<uint32_t>(v);
      venc::SetH263Words(params_, words);
      return S_OK;
    }
    case kVideoTelephony: {
      if (!SendLive(venc::VENC_PARAM_VIDEO_TELEPHONY, static_cast<uint32_t>(v))) return E_INVALIDARG;
      words = venc::GetH263Words(params_);
      words.videoTelephony = v;
      venc::SetH263Words(params_, words);
      return S_OK;
    }
    case kComplexity: return live(venc::VENC_PARAM_COMPLEXITY, v, &params_.encodingComplexity);
    case kGobHeaders:
      copy.gobHeaderInterval = v;
      return ApplyStored(copy);
    case kIntraRefreshMbs:
      if (!IntraRefreshFits(v)) return E_INVALIDARG;
      return live(venc::VENC_PARAM_INTRA_REFRESH_MBS, v, &params_.intraRefreshMbs);
    case kBandwidthAdaptation:
      copy.bandwidthAdaptation = v;
      return ApplyStored(copy);
    case kPreprocessing:
      copy.preprocessingLevel = v;
      return ApplyStored(copy);
    case kSearchRange:
      copy.searchRange = v;
      return ApplyStored(copy);
    case kModQuant:
      words.modifiedQuant = v;
      venc::SetH263Words(copy, words);
      return ApplyStored(copy);
    case kDeblocking:
      words.deblocking = v;
      venc::SetH263Words(copy, words);
      return ApplyStored(copy);
    default:
      return E_INVALIDARG;
  }
}

}  // namespace

HRESULT CreateH263EncDmo(const GUID& iid, void** object) {
  return com::CreateObjectAs<H263EncDmo>(iid, object);
}

int32_t ChooseH263Level(uint32_t height, uint32_t width, float rate, uint32_t bit_rate) {
  if (bit_rate == 0) bit_rate = static_cast<uint32_t>(static_cast<float>(width * height) * rate * 0.342f);
  if (width == 96 || width == 144) return 50;
  if (width == 120 || width == 160 || width == 240 || width == 288 || width == 320 || width == 640) return 70;
  if (bit_rate <= 64000 && width <= 176 && height <= 144 && rate <= 15.0f) return 10;
  if (bit_rate <= 128000 &&
      ((width == 352 && height == 288 && rate <= 15.0f) || (width <= 176 && height <= 144 && rate <= 30.0f))) {
    return 20;
  }
  if (bit_rate <= 384000 && width <= 352 && height <= 288 && rate <= 30.0f) return 30;
  if (bit_rate > 2048000 || width > 352 || height > 288 || rate > 30.0f) return 30;
  return 40;
}

}  // namespace codecdmo
