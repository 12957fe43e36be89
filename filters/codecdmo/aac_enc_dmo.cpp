// CAacEncDmo: the AAC-LC encoder object over aacenc. Mono or stereo 16-bit
// PCM at the twelve MPEG-4 rates, 1024 samples per channel and frame. Output
// format 0 gives raw frames, the AudioSpecificConfig in the output type's
// format block; output format 2 gives ADTS frames.
#include <algorithm>
#include <vector>

#include "filters/codecdmo/audio_encoder_dmo.h"
#include "filters/codecdmo/codecdmo_properties.h"
#include "platform/encoders/aac_encoder.h"

namespace codecdmo {
namespace {

using com::E_FAIL;
using com::E_INVALIDARG;
using com::E_POINTER;
using com::S_OK;
using com::VARIANT;
using dshow::DMO_E_TYPE_NOT_ACCEPTED;

constexpr uint32_t kOutputBytes = 15360;
constexpr uint32_t kBlockAlign = 1536;
// The generated header's room.
constexpr uint32_t kHeaderRoom = 17;
// ISO/IEC 14496-3 4.5.2.1: at most 6144 bits per channel and frame, plus the ADTS header.
constexpr uint32_t kMaxFrameBytesPerChannel = 768;
constexpr uint32_t kAdtsHeaderBytes = 7;

bool BitRateFits(uint32_t bit_rate, uint32_t channels) {
  return bit_rate >= (channels == 1 ? 16000u : 32000u) && bit_rate <= 288000;
}

bool RateSupported(uint32_t rate) {
  for (uint32_t r : {8000, 11025, 12000, 16000, 22050, 24000, 32000, 44100, 48000, 64000, 88200, 96000}) {
    if (r == rate) return true;
  }
  return false;
}

enum PropertyId { kDiscardBuffering, kPns, kTns, kBitRate, kOutputFormat, kMute };

constexpr com::PropertyDef kWrites[] = {
    {u"SetDiscardBuffering", com::VT_BOOL, 0, 0},
    {u"SetPns", com::VT_BOOL, 0, 0},
    {u"SetTns", com::VT_BOOL, 0, 0},
    {u"BitRate", com::VT_I4, INT32_MIN, INT32_MAX},
    {u"OutputFormat", com::VT_INT, 0, 2},
    {u"SetMuteSamples", com::VT_BOOL, 0, 0},
};

class AacEncDmo final : public AudioEncoderDmo, public IAacEncSettings {
 public:
  AacEncDmo() = default;

  HRESULT QueryInterface(const GUID& iid, void** object) override {
    return AudioEncoderDmo::QueryInterface(iid, object);
  }
  uint32_t AddRef() override { return AudioEncoderDmo::AddRef(); }
  uint32_t Release() override { return AudioEncoderDmo::Release(); }

  // IAacEncSettings.
  HRESULT GetBitRate(uint32_t* bit_rate) override {
    if (!bit_rate) return E_POINTER;
    *bit_rate = bit_rate_;
    return S_OK;
  }
  HRESULT SetBitRate(uint32_t bit_rate) override {
    if (bit_rate == 0) {
      bit_rate_set_ = false;
      return S_OK;
    }
    if (!BitRateFits(bit_rate, channels_)) return E_INVALIDARG;
    bit_rate_ = bit_rate;
    bit_rate_set_ = true;
    return S_OK;
  }
  HRESULT GetSampleRate(uint32_t* rate) override {
    if (!rate) return E_POINTER;
    *rate = rate_;
    return S_OK;
  }
  HRESULT SetSampleRate(uint32_t rate) override {
    rate_ = rate;
    return S_OK;
  }
  HRESULT GetOutputFormat(uint32_t* format) override {
    if (!format) return E_POINTER;
    *format = output_format_;
    return S_OK;
  }
  HRESULT SetOutputFormat(uint32_t format) override {
    output_format_ = format;
    return S_OK;
  }

  // IPropertyBag.
  HRESULT Read(const char16_t* name, VARIANT* value, com::IErrorLog*) override {
    const com::PropertyDef* def = nullptr;
    const HRESULT hr = com::PropertyTable(kWrites).CheckRead(name, value, &def);
    if (hr != S_OK) return hr;
    int64_t number = 0;
    switch (static_cast<PropertyId>(def - kWrites)) {
      case kDiscardBuffering: number = major_type_switch_; break;
      case kPns: number = pns_; break;
      case kTns: number = tns_; break;
      case kBitRate: number = bit_rate_; break;
      case kOutputFormat: number = output_format_; break;
      case kMute: number = mute_; break;
    }
    com::PropertyTable::FillRead(*def, number, value);
    return S_OK;
  }
  HRESULT Write(const char16_t* name, VARIANT* value) override {
    const com::PropertyDef* def = nullptr;
    int64_t number = 0;
    const HRESULT hr = com::PropertyTable(kWrites).CheckWrite(name, value, &def, &number);
    if (hr != S_OK) return hr;
    switch (static_cast<PropertyId>(def - kWrites)) {
      case kDiscardBuffering: major_type_switch_ = number != 0; break;
      case kPns: pns_ = number != 0; break;
      case kTns: tns_ = number != 0; break;
      case kBitRate: bit_rate_ = static_cast<uint32_t>(number); break;
      case kOutputFormat:
        if (number == 1) return E_INVALIDARG;
        output_format_ = static_cast<uint32_t>(number);
        break;
      case kMute: mute_ = number != 0; break;
    }
    return S_OK;
  }

 protected:
  com::IUnknown* SettingsInterface(const GUID& iid) override {
    return iid == IID_IAacEncSettings ? static_cast<IAacEncSettings*>(this) : nullptr;
  }
  HRESULT CheckInput(const dshow::DMO_MEDIA_TYPE* type) override {
    dshow::WaveFormatEx wave;
    if (!(type->majortype == (major_type_switch_ ? dshow::MEDIATYPE_Audio : dshow::MEDIATYPE_PrivateAudio)) ||
        !(type->subtype == dshow::MEDIASUBTYPE_PCM) || !WaveFormatOfType(*type, &wave)) {
      return DMO_E_TYPE_NOT_ACCEPTED;
    }
    // The coder reads 16-bit samples: other sizes would be misread.
    if ((wave.nChannels != 1 && wave.nChannels != 2) || wave.wBitsPerSample != 16 ||
        !RateSupported(wave.nSamplesPerSec)) {
      return DMO_E_TYPE_NOT_ACCEPTED;
    }
    channels_ = wave.nChannels;
    bits_ = wave.wBitsPerSample;
    rate_ = wave.nSamplesPerSec;
    return S_OK;
  }
  HRESULT OutputTypeAt(uint32_t position, dshow::DMO_MEDIA_TYPE* type) override {
    if (position > 1) return dshow::DMO_E_NO_MORE_ITEMS;
    if (!type) return S_OK;
    const uint32_t format = position == 0 ? 0 : 2;
    AacEncConfig config = Config(format);
    config.tns = 0;
    uint8_t header[kHeaderRoom];
    uint32_t length = kHeaderRoom;
    if (Mpeg4AacEnc_GenerateHeader(&config, header, &length, work_) != AACENC_OK || length > kHeaderRoom) {
      return E_FAIL;
    }
    if (com::Failed(dshow::MoInitMediaType(type, dshow::kWaveFormatExSize + length))) return com::E_OUTOFMEMORY;
    type->majortype = dshow::MEDIATYPE_Audio;
    type->subtype = format == 0 ? MEDIASUBTYPE_AacRaw : MEDIASUBTYPE_AacAdts;
    type->formattype = dshow::FORMAT_WaveFormatEx;
    type->bTemporalCompression = false;
    dshow::WaveFormatEx wave;
    wave.wFormatTag = kWaveFormatAac;
    wave.nChannels = static_cast<uint16_t>(channels_);
    wave.nSamplesPerSec = rate_;
    wave.nAvgBytesPerSec = bit_rate_ / 8;
    wave.nBlockAlign = kBlockAlign;
    wave.wBitsPerSample = static_cast<uint16_t>(bits_);
    wave.cbSize = static_cast<uint16_t>(length);
    dshow::WriteWaveFormatEx(wave, type->pbFormat);
    std::copy(header, header + length, type->pbFormat + dshow::kWaveFormatExSize);
    return S_OK;
  }
  HRESULT CheckOutput(const dshow::DMO_MEDIA_TYPE* type) override {
    dshow::WaveFormatEx wave;
    if (!(type->majortype == dshow::MEDIATYPE_Audio) || !WaveFormatOfType(*type, &wave)) {
      return DMO_E_TYPE_NOT_ACCEPTED;
    }
    uint32_t format = 0;
    if (type->subtype == MEDIASUBTYPE_AacRaw) {
      format = 0;
    } else if (type->subtype == MEDIASUBTYPE_AacAdts) {
      format = 2;
    } else {
      return DMO_E_TYPE_NOT_ACCEPTED;
    }
    const uint64_t bit_rate = static_cast<uint64_t>(wave.nAvgBytesPerSec) * 8;
    if (bit_rate > UINT32_MAX || !BitRateFits(static_cast<uint32_t>(bit_rate), channels_)) {
      return DMO_E_TYPE_NOT_ACCEPTED;
    }
    output_format_ = format;
    bit_rate_ = static_cast<uint32_t>(bit_rate);
    avg_bytes_ = wave.nAvgBytesPerSec;
    return CreateEncoder();
  }
  uint32_t FrameBytes() const override { return channels_ * 2048; }
  uint32_t OutputBytes() const override { return kOutputBytes; }
  uint32_t MaxCodedBytes() const override { return kMaxFrameBytesPerChannel * channels_ + kAdtsHeaderBytes; }
  dshow::REFERENCE_TIME FrameDuration() const override {
    const int64_t bytes_per_second = static_cast<int64_t>(channels_) * rate_ * 2;
    return bytes_per_second ? static_cast<int64_t>(FrameBytes()) * 10000000 / bytes_per_second : 0;
  }
  uint32_t InputBytesPerSecond() const override { return channels_ * rate_ * 2; }
  HRESULT ResetForStreaming() override {
    AacEncConfig config = Config(output_format_);
    config.pns = 1;
    config.tns = 0;
    return handle_ && Mpeg4AacEnc_Reset(handle_, &config) == AACENC_OK ? S_OK : E_FAIL;
  }
  int32_t EncodeOne(const uint8_t* pcm, uint8_t* out, uint32_t room, uint32_t* written) override {
    if (mute_) {
      if (silence_.size() != FrameBytes()) silence_.assign(FrameBytes(), 0);
      pcm = silence_.data();
    }
    *written = room;
    return Mpeg4AacEnc_Encode(handle_, pcm, FrameBytes(), out, written);
  }
  int32_t DrainOne(uint8_t* out, uint32_t room, uint32_t* written) override {
    *written = room;
    return Mpeg4AacEnc_Flush(handle_, out, written);
  }

 private:
  ~AacEncDmo() override { Mpeg4AacEnc_Delete(handle_); }

  AacEncConfig Config(uint32_t format) const {
    AacEncConfig c{};
    c.channels = static_cast<int32_t>(channels_);
    c.sampleRate = static_cast<int32_t>(rate_);
    c.pns = pns_ ? 1 : 0;
    c.tns = tns_ ? 1 : 0;
    c.formatA = format == 2 ? 1 : 2;
    c.formatB = format == 2 ? 2 : 0;
    c.bitRate = static_cast<int32_t>(bit_rate_);
    return c;
  }

  HRESULT CreateEncoder() {
    Mpeg4AacEnc_Delete(handle_);
    handle_ = nullptr;
    if (Mpeg4AacEnc_Create(&handle_) != AACENC_OK || !handle_) return E_FAIL;
    const AacEncConfig config = Config(output_format_);
    return Mpeg4AacEnc_Reset(handle_, &config) == AACENC_OK ? S_OK : E_FAIL;
  }

  AacEncoder* handle_ = nullptr;
  uint32_t channels_ = 0;
  uint32_t bits_ = 0;
  uint32_t rate_ = 0;
  uint32_t bit_rate_ = 64000;
  bool bit_rate_set_ = false;
  uint32_t avg_bytes_ = 0;
  uint32_t output_format_ = 0;
  bool pns_ = true;
  bool tns_ = false;
  uint8_t work_[64] = {};
  std::vector<uint8_t> silence_;
};

}  // namespace

HRESULT CreateAacEncDmo(const GUID& iid, void** object) { return com::CreateObjectAs<AacEncDmo>(iid, object); }

}  // namespace codecdmo
