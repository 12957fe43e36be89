// CMpeg4EncDmo: the MPEG-4 Simple Profile encoder object over mpeg4enc. Its
// output type carries the stream header (VOS, VO, VOL) after the bitmap
// header; the samples carry the coded frames alone.
#include <cstring>
#include <new>
#include <vector>

#include "encoders/mpeg4enc/mpeg4enc.h"
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

constexpr uint16_t kMinimumSize = 40;
constexpr uint32_t kSettingsSize = 128;
constexpr uint32_t kMaximumRate = 30;
constexpr uint32_t kMaximumBitRate = 6000000;
constexpr uint32_t kMaximumGop = 90;

// The properties kept in the settings record (VideoEncoderDmo handles the
// rest).
enum PropertyId {
  kBitRate,
  kRcMode,
  kGopLength,
  kPacketSize,
  kVideoTelephony,
  kComplexity,
  kIntraRefreshMbs,
  kBandwidthAdaptation,
  kPreprocessing,
  kSearchRange,
  kDataPartitioning,
  kPropertyCount,
};

constexpr int64_t kIntMin = INT32_MIN;
constexpr int64_t kIntMax = INT32_MAX;

constexpr com::PropertyDef kWrites[] = {
    {u"BitRate", com::VT_UI4, 24000, kMaximumBitRate},
    {u"SetRCMode", com::VT_BOOL, 0, 0},
    {u"GOPLength", com::VT_INT, kIntMin, kIntMax},
    {u"PacketSize", com::VT_INT, kIntMin, kIntMax},
    {u"VideoTelephony", com::VT_INT, kIntMin, kIntMax},
    {u"EncodingComplexity", com::VT_INT, 0, 3},
    {u"IntraRefreshMBs", com::VT_INT, -1, kIntMax},
    {u"SetBandwidthAdaptation", com::VT_BOOL, 0, 0},
    {u"PreprocessingLevel", com::VT_INT, 0, 2},
    {u"SearchRange", com::VT_INT, 1, 63},
    {u"SetDataPartitioning", com::VT_BOOL, 0, 0},
};
static_assert(std::size(kWrites) == kPropertyCount, "one write entry per property");

constexpr PropertyRead kReads[] = {
    {u"SetRCMode", com::VT_BOOL, kRcMode},
    {u"SetBandwidthAdaptation", com::VT_BOOL, kBandwidthAdaptation},
    {u"SetDataPartitioning", com::VT_BOOL, kDataPartitioning},
    {u"BitRate", com::VT_UI4, kBitRate},
    {u"GOPLength", com::VT_UI4, kGopLength},
    {u"PacketSize", com::VT_UI4, kPacketSize},
    {u"VideoTelephony", com::VT_INT, kVideoTelephony},
    {u"EncodingComplexity", com::VT_INT, kComplexity},
    {u"IntraRefreshMBs", com::VT_INT, kIntraRefreshMbs},
    {u"PreprocessingLevel", com::VT_INT, kPreprocessing},
    {u"SearchRange", com::VT_INT, kSearchRange},
};

Mpeg4EncSettings DefaultSettings() {
  Mpeg4EncSettings s{};
  s.size = kSettingsSize;
  s.bitRate = 115000;
  s.frameRate = 15;
  s.gopLength = 45;
  s.reserved24[2] = 1;
  s.reserved24[3] = 1;
  s.packetSize = 1024;
  s.complexity = 1;
  s.searchRange = 15;
  return s;
}

class Mpeg4EncDmo final : public VideoEncoderDmo, public IMpeg4EncSettings {
 public:
  Mpeg4EncDmo() : settings_(DefaultSettings()) {}

  HRESULT QueryInterface(const GUID& iid, void** object) override {
    return VideoEncoderDmo::QueryInterface(iid, object);
  }
  uint32_t AddRef() override { return VideoEncoderDmo::AddRef(); }
  uint32_t Release() override { return VideoEncoderDmo::Release(); }

  // IMpeg4EncSettings.
  HRESULT Reserved1() override { return S_OK; }
  HRESULT Reserved2() override { return S_OK; }
  HRESULT Reserved3() override { return S_OK; }
  HRESULT SetSettings(const Mpeg4EncSettings* settings) override {
    if (!settings) return E_POINTER;
    if (OutputTypeSet()) return E_FAIL;
    if (settings->frameRate > kMaximumRate || settings->bitRate > kMaximumBitRate ||
        settings->gopLength > kMaximumGop) {
      return E_INVALIDARG;
    }
    const Mpeg4EncSettings old = settings_;
    settings_ = *settings;
    settings_.size = kSettingsSize;
    if (encoder_ && com::Failed(CreateVideoEncoder())) {
      settings_ = old;
      CreateVideoEncoder();
      return E_INVALIDARG;
    }
    return S_OK;
  }
  HRESULT GetSettings(Mpeg4EncSettings* settings) override {
    if (!settings) return E_POINTER;
    if (settings->size != kSettingsSize) {
      settings->size = kSettingsSize;
      return E_INVALIDARG;
    }
    *settings = settings_;
    return S_OK;
  }
  HRESULT GetInputFormat(DmoInputFormat* format) override { return CopyInputFormat(format); }
  HRESULT Reserved7() override { return S_OK; }
  HRESULT IsOutputTypeSet(uint8_t* set) override { return ReportOutputTypeSet(set); }

 protected:
  com::IUnknown* SettingsInterface(const GUID& iid) override {
    return iid == IID_IMpeg4EncSettings ? static_cast<IMpeg4EncSettings*>(this) : nullptr;
  }
  uint16_t MinimumSize() const override { return kMinimumSize; }
  void OnInputSize(uint16_t width, uint16_t height) override {
    if (settings_.bitRate == 0) {
      settings_.bitRate = static_cast<uint32_t>(DefaultBitRate(kMpeg4BitRates, width, height));
    }
  }
  bool RateFromEveryType() const override { return true; }
  void TakeInputFormat() override {
    if (input_.frameRate != 0.0) settings_.frameRate = static_cast<uint32_t>(input_.frameRate);
    settings_.height = input_.height;
    settings_.width = input_.width;
  }
  void TakeOutputSize(uint16_t width, uint16_t height) override {
    settings_.width = width;
    settings_.height = height;
  }
  HRESULT CreateVideoEncoder() override;
  HRESULT FillOutputType(DMO_MEDIA_TYPE* type) override {
    uint32_t header_length = 0;
    if (!encoder_ ||
        encoder_->GetEncoderParam(encoder_, venc::VENC_PARAM_HEADER_LENGTH, &header_length) != venc::VENC_OK) {
      return E_FAIL;
    }
    const HRESULT hr = InitOutputType(type, MEDIASUBTYPE_M4S2, dshow::kVideoInfoHeaderSize + header_length,
                                      dshow::kBitmapInfoHeaderSize + header_length);
    if (com::Failed(hr)) return hr;
    if (header_length > 0) {
      // The header is copied out in whole words.
      std::vector<uint32_t> words((header_length + 3) / 4);
      encoder_->GetEncoderParam(encoder_, venc::VENC_PARAM_HEADER, words.data());
      std::memcpy(type->pbFormat + dshow::kVideoInfoHeaderSize, words.data(), header_length);
    }
    return S_OK;
  }
  bool VideoTelephony() const override { return settings_.videoTelephony != 0; }
  HRESULT OutputSize(venc::VideoEncoderResult result, uint32_t bytes, uint32_t* size) override {
    *size = bytes;
    return result == venc::VENC_OK ? S_OK : static_cast<HRESULT>(result);
  }

 private:
  ~Mpeg4EncDmo() override = default;
  HRESULT ApplyStored(const Mpeg4EncSettings& copy) { return SetSettings(&copy); }
  HRESULT ReapplySettings() override {
    const Mpeg4EncSettings copy = settings_;
    return ApplyStored(copy);
  }
  void TakeFrameRate(uint32_t rate) override { settings_.frameRate = rate; }
  std::span<const PropertyRead> OwnReads() const override { return kReads; }
  int64_t ReadValue(int id) const override;
  HRESULT WriteOwnProperty(const char16_t* name, VARIANT* value) override;

  Mpeg4EncSettings settings_;
};

HRESULT Mpeg4EncDmo::CreateVideoEncoder() {
  venc::EncoderCreateParams p{};
  p.height = settings_.height;
  p.width = settings_.width;
  p.frameRate = static_cast<float>(settings_.frameRate);
  p.bitRate = static_cast<int32_t>(settings_.bitRate);
  p.gopLength = static_cast<int32_t>(settings_.gopLength);
  p.intraRefreshMbs = settings_.intraRefreshMbs;
  p.gobHeaderInterval = 0;
  p.sceneChangeDetection = 1;
  p.bandwidthAdaptation = static_cast<int32_t>(settings_.bandwidthAdaptation);
  p.preprocessingLevel = static_cast<int32_t>(settings_.preprocessingLevel);
  p.rcMode = settings_.rateControl ? 1 : 0;
  p.encodingComplexity = static_cast<int32_t>(settings_.complexity);
  p.searchRange = static_cast<int32_t>(settings_.searchRange);
  p.resyncMarkers = settings_.videoTelephony;
  p.packetSize = settings_.packetSize;
  if (settings_.dataPartitioningMode == 2) {
    p.reversibleVlc = p.dataPartitioning = p.adaptivePacketSize = 1;
  } else if (settings_.dataPartitioningMode > 2) {
    p.adaptivePacketSize = static_cast<int32_t>(settings_.adaptivePacketSize);
  }
  p.level = level_override_ ? level_override_
                            : ChooseMpeg4Level(settings_.height, settings_.width, p.frameRate, settings_.bitRate,
                                               settings_.packetSize);
  level_ = static_cast<uint32_t>(p.level);
  p.streamMode = 0;
  p.timeResolution = kTimeResolution;
  DestroyEncoderAndBuffer();
  params_ = p;
  TurnSizeToDisplay();
  venc::VideoEncoder* made = nullptr;
  if (gCreateMPEG4VideoEncoder(&made, &params_) != venc::VENC_OK || !made) return E_FAIL;
  encoder_ = made;
  const HRESULT hr = ConfigureNewEncoder(colour_code_ == kColourYv12);
  MarkNewEncoder();
  return hr;
}

int64_t Mpeg4EncDmo::ReadValue(int id) const {
  switch (id) {
    case kRcMode: return settings_.rateControl == 1;
    case kBandwidthAdaptation: return settings_.bandwidthAdaptation;
    case kDataPartitioning: return settings_.dataPartitioning;
    case kBitRate: return settings_.bitRate;
    case kGopLength: return settings_.gopLength;
    case kPacketSize: return settings_.packetSize;
    case kVideoTelephony: return settings_.videoTelephony;
    case kComplexity: return settings_.complexity;
    case kIntraRefreshMbs: return settings_.intraRefreshMbs;
    case kPreprocessing: return settings_.preprocessingLevel;
    case kSearchRange: return settings_.searchRange;
    default: return 0;
  }
}

HRESULT Mpeg4EncDmo::WriteOwnProperty(const char16_t* name, VARIANT* value) {
  const com::PropertyDef* def = nullptr;
  int64_t number = 0;
  const HRESULT checked = com::PropertyTable(kWrites).CheckWrite(name, value, &def, &number);
  if (checked != S_OK) return checked;
  const auto id = static_cast<PropertyId>(def - kWrites);
  const auto v = static_cast<int32_t>(number);
  const auto u = static_cast<uint32_t>(number);
  Mpeg4EncSettings copy = settings_;
  // A live property goes to an existing encoder first; the settings keep it
  // once the encoder took it (or when there is none yet).
  auto live = [this](uint32_t param_id, uint32_t value_to_send, uint32_t* field) {
    if (!SendLive(param_id, value_to_send)) return E_INVALIDARG;
    *field = value_to_send;
    return S_OK;
  };
  switch (id) {
    case kBitRate: {
      const uint32_t old = settings_.bitRate;
      settings_.bitRate = u;
      if (!SendLive(venc::VENC_PARAM_BITRATE, u)) {
        settings_.bitRate = old;
        return E_INVALIDARG;
      }
      return S_OK;
    }
    case kRcMode:
      copy.rateControl = v ? 1 : 0;
      return ApplyStored(copy);
    case kGopLength: return live(venc::VENC_PARAM_GOP_LENGTH, u, &settings_.gopLength);
    case kPacketSize: return live(venc::VENC_PARAM_PACKET_SIZE, u, &settings_.packetSize);
    case kVideoTelephony:
      if (!SendLive(venc::VENC_PARAM_VIDEO_TELEPHONY, u)) return E_INVALIDARG;
      settings_.videoTelephony = v != 0;
      return S_OK;
    case kComplexity: return live(venc::VENC_PARAM_COMPLEXITY, u, &settings_.complexity);
    case kIntraRefreshMbs:
      if (!IntraRefreshFits(v)) return E_INVALIDARG;
      if (!SendLive(venc::VENC_PARAM_INTRA_REFRESH_MBS, u)) return E_INVALIDARG;
      settings_.intraRefreshMbs = v;
      return S_OK;
    case kBandwidthAdaptation:
      copy.bandwidthAdaptation = u;
      return ApplyStored(copy);
    case kPreprocessing:
      copy.preprocessingLevel = u;
      return ApplyStored(copy);
    case kSearchRange:
      copy.searchRange = u;
      return ApplyStored(copy);
    case kDataPartitioning:
      copy.dataPartitioning = u;
      return ApplyStored(copy);
    default:
      return E_INVALIDARG;
  }
}

}  // namespace

HRESULT CreateMpeg4EncDmo(const GUID& iid, void** object) {
  return com::CreateObjectAs<Mpeg4EncDmo>(iid, object);
}

int32_t ChooseMpeg4Level(uint32_t height, uint32_t width, float rate, uint32_t bit_rate, uint32_t packet_size) {
  if (bit_rate == 0) bit_rate = static_cast<uint32_t>(static_cast<float>(width * height) * rate * 0.342f);
  const uint32_t macroblocks = (width * height) >> 8;
  const bool qcif = width <= 176 && height <= 144;
  if (qcif && rate <= 15.0f && bit_rate <= 64000 && packet_size <= 2048) return 0;
  if (qcif && rate <= 15.0f && bit_rate <= 128000 && packet_size <= 2048) return 10;
  if (macroblocks <= 99 && rate <= 15.0f && bit_rate <= 64000 && packet_size <= 2048) return 1;
  if (macroblocks <= 396 && rate <= 15.0f && bit_rate <= 128000 && packet_size <= 4096) return 2;
  if (macroblocks <= 396 && rate <= 30.0f && bit_rate <= 384000 && packet_size <= 8192) return 3;
  if (macroblocks <= 1200 && rate <= 30.0f && bit_rate <= 4000000 && packet_size <= 16134) return 4;
  if (macroblocks <= 1620 && rate <= 25.0f && packet_size <= 16134 && bit_rate <= 8000000) return 5;
  return 0;
}

}  // namespace codecdmo
