// CAmrNbEncDmo: the AMR-NB encoder object over amrnbenc. 8000 Hz mono 16-bit
// PCM in 20 ms frames (160 samples) to storage-format speech frames.
#include "filters/codecdmo/audio_encoder_dmo.h"
#include "filters/codecdmo/codecdmo_properties.h"
#include "filters/codecdmo/codecdmo_tables.h"
#include "platform/encoders/amrnb_encoder.h"

namespace codecdmo {
namespace {

using com::E_FAIL;
using com::E_INVALIDARG;
using com::E_POINTER;
using com::S_OK;
using com::VARIANT;
using dshow::DMO_E_TYPE_NOT_ACCEPTED;

constexpr uint32_t kFrameBytes = 320;
constexpr uint32_t kOutputBytes = 640;
constexpr dshow::REFERENCE_TIME kFrameDuration = 200000;
constexpr uint32_t kMaxCodedBytes = 32;
constexpr uint32_t kHighestMode = 7;
constexpr uint32_t kRate = 8000;
// A storage-format frame header of type 15 (no data): what a muted frame is.
constexpr uint8_t kNoDataFrame = 0x7C;

enum PropertyId { kDiscardBuffering, kDtx, kBitRate, kMediaType, kMute };

constexpr com::PropertyDef kProperties[] = {
    {u"SetDiscardBuffering", com::VT_BOOL, 0, 0},
    {u"DTXMode", com::VT_INT, INT32_MIN, INT32_MAX},
    {u"BitRate", com::VT_I4, INT32_MIN, INT32_MAX},
    {u"MediaType", com::VT_INT, 0, 1},
    {u"SetMuteSamples", com::VT_BOOL, 0, 0},
};

class AmrNbEncDmo final : public AudioEncoderDmo, public IAmrNbEncSettings {
 public:
  AmrNbEncDmo() = default;

  // Creates the speech encoder: E_FAIL when it cannot be made.
  HRESULT Init() {
    AMRNBENC_DeleteEncoder(handle_);
    handle_ = nullptr;
    return AMRNBENC_CreateEncoder(&handle_) == AMRNBENC_OK && handle_ ? S_OK : E_FAIL;
  }

  HRESULT QueryInterface(const GUID& iid, void** object) override {
    return AudioEncoderDmo::QueryInterface(iid, object);
  }
  uint32_t AddRef() override { return AudioEncoderDmo::AddRef(); }
  uint32_t Release() override { return AudioEncoderDmo::Release(); }

  // IAmrNbEncSettings.
  HRESULT GetBitRate(uint32_t* bit_rate) override {
    if (!bit_rate) return E_POINTER;
    *bit_rate = mode_ <= kHighestMode ? kAmrModes[mode_].bit_rate : 0;
    return S_OK;
  }
  HRESULT SetBitRate(uint32_t bit_rate) override {
    if (OutputTypeSet()) return E_FAIL;
    if (bit_rate == 0) {
      mode_fixed_ = false;
      return S_OK;
    }
    for (uint32_t m = 0; m <= kHighestMode; ++m) {
      if (kAmrModes[m].bit_rate != bit_rate) continue;
      if (m == mode_) {
        mode_fixed_ = true;
      } else {
        mode_ = m;
      }
      return S_OK;
    }
    return E_INVALIDARG;
  }
  HRESULT GetSampleRate(uint32_t* rate) override {
    if (!rate) return E_POINTER;
    *rate = rate_;
    return S_OK;
  }
  HRESULT SetDtx(uint32_t dtx) override {
    if (OutputTypeSet()) return E_FAIL;
    dtx_ = dtx != 0 ? 1 : 0;
    return S_OK;
  }
  HRESULT GetDtx(uint32_t* dtx) override {
    if (!dtx) return E_POINTER;
    *dtx = dtx_;
    return S_OK;
  }
  HRESULT IsOutputTypeSet(uint8_t* set) override {
    if (!set) return E_POINTER;
    *set = OutputTypeSet() ? 1 : 0;
    return S_OK;
  }

  // IPropertyBag.
  HRESULT Read(const char16_t* name, VARIANT* value, com::IErrorLog*) override {
    const com::PropertyDef* def = nullptr;
    const HRESULT hr = com::PropertyTable(kProperties).CheckRead(name, value, &def);
    if (hr != S_OK) return hr;
    int64_t number = 0;
    switch (static_cast<PropertyId>(def - kProperties)) {
      case kDiscardBuffering: number = major_type_switch_; break;
      case kDtx: number = dtx_; break;
      case kBitRate: {
        uint32_t bit_rate = 0;
        GetBitRate(&bit_rate);
        number = bit_rate;
        break;
      }
      case kMediaType: number = media_type_; break;
      case kMute: number = mute_; break;
    }
    com::PropertyTable::FillRead(*def, number, value);
    return S_OK;
  }
  HRESULT Write(const char16_t* name, VARIANT* value) override {
    const com::PropertyDef* def = nullptr;
    int64_t number = 0;
    const HRESULT hr = com::PropertyTable(kProperties).CheckWrite(name, value, &def, &number);
    if (hr != S_OK) return hr;
    switch (static_cast<PropertyId>(def - kProperties)) {
      case kDiscardBuffering: major_type_switch_ = number != 0; return S_OK;
      case kDtx: return SetDtx(static_cast<uint32_t>(number));
      case kBitRate: return number < 0 ? E_INVALIDARG : SetBitRate(static_cast<uint32_t>(number));
      case kMediaType: media_type_ = static_cast<uint32_t>(number); return S_OK;
      case kMute: mute_ = number != 0; return S_OK;
    }
    return E_INVALIDARG;
  }

 protected:
  com::IUnknown* SettingsInterface(const GUID& iid) override {
    return iid == IID_IAmrNbEncSettings ? static_cast<IAmrNbEncSettings*>(this) : nullptr;
  }
  HRESULT CheckInput(const dshow::DMO_MEDIA_TYPE* type) override {
    dshow::WaveFormatEx wave;
    if (!(type->majortype == (major_type_switch_ ? dshow::MEDIATYPE_Audio : dshow::MEDIATYPE_PrivateAudio)) ||
        !(type->subtype == dshow::MEDIASUBTYPE_PCM) || !WaveFormatOfType(*type, &wave) || wave.nChannels != 1 ||
        wave.nSamplesPerSec != kRate || wave.wBitsPerSample != 16) {
      return DMO_E_TYPE_NOT_ACCEPTED;
    }
    bits_ = wave.wBitsPerSample;
    rate_ = wave.nSamplesPerSec;
    return S_OK;
  }
  HRESULT OutputTypeAt(uint32_t position, dshow::DMO_MEDIA_TYPE* type) override {
    if (position > 6) return dshow::DMO_E_NO_MORE_ITEMS;
    if (!type) return S_OK;
    const uint32_t mode = mode_fixed_ ? mode_ : kHighestMode - position / 2;
    if (mode > kHighestMode) return E_FAIL;
    if (com::Failed(dshow::MoInitMediaType(type, dshow::kWaveFormatExSize))) return com::E_OUTOFMEMORY;
    type->majortype = dshow::MEDIATYPE_Audio;
    type->subtype = MEDIASUBTYPE_AmrNb;
    type->formattype = dshow::FORMAT_WaveFormatEx;
    type->bTemporalCompression = false;
    dshow::WaveFormatEx wave;
    wave.wFormatTag = kWaveFormatAmrNb;
    wave.nChannels = 1;
    wave.nSamplesPerSec = rate_;
    wave.nAvgBytesPerSec = kAmrModes[mode].output_bit_rate / 8;
    wave.nBlockAlign = static_cast<uint16_t>(kAmrModes[mode].frame_bytes);
    wave.wBitsPerSample = 0;
    wave.cbSize = 0;
    dshow::WriteWaveFormatEx(wave, type->pbFormat);
    return S_OK;
  }
  HRESULT CheckOutput(const dshow::DMO_MEDIA_TYPE* type) override {
    dshow::WaveFormatEx wave;
    if (!(type->majortype == dshow::MEDIATYPE_Audio) || !WaveFormatOfType(*type, &wave)) {
      return DMO_E_TYPE_NOT_ACCEPTED;
    }
    for (uint32_t m = 0; m <= kHighestMode; ++m) {
      if (kAmrModes[m].output_bit_rate / 8 != wave.nAvgBytesPerSec) continue;
      avg_bytes_ = wave.nAvgBytesPerSec;
      // The frames follow the type's rate unless a bit rate was fixed.
      if (!mode_fixed_) mode_ = m;
      return S_OK;
    }
    return DMO_E_TYPE_NOT_ACCEPTED;
  }
  uint32_t FrameBytes() const override { return kFrameBytes; }
  uint32_t OutputBytes() const override { return kOutputBytes; }
  uint32_t MaxCodedBytes() const override { return kMaxCodedBytes; }
  dshow::REFERENCE_TIME FrameDuration() const override { return kFrameDuration; }
  uint32_t InputBytesPerSecond() const override { return kRate * 2; }
  HRESULT ResetForStreaming() override {
    const AmrNbEncConfig config{static_cast<int16_t>(mode_), static_cast<int16_t>(dtx_),
                                static_cast<int16_t>(media_type_)};
    return AMRNBENC_ResetEncoder(handle_, &config) == AMRNBENC_OK ? S_OK : E_FAIL;
  }
  int32_t EncodeOne(const uint8_t* pcm, uint8_t* out, uint32_t room, uint32_t* written) override {
    if (mute_) {
      if (room < 1) return AMRNBENC_ERR_OUTPUT_SPACE;
      out[0] = kNoDataFrame;
      *written = 1;
      return 0;
    }
    *written = room;
    return AMRNBENC_EncodeFrame(handle_, pcm, kFrameBytes, out, written);
  }

 private:
  ~AmrNbEncDmo() override { AMRNBENC_DeleteEncoder(handle_); }

  AmrNbEncoder* handle_ = nullptr;
  uint32_t bits_ = 16;
  uint32_t rate_ = kRate;
  uint32_t mode_ = kHighestMode;
  uint32_t dtx_ = 1;
  bool mode_fixed_ = false;
  uint32_t avg_bytes_ = 0;
  uint32_t media_type_ = 0;
};

}  // namespace

HRESULT CreateAmrNbEncDmo(const GUID& iid, void** object) {
  if (!object) return E_POINTER;
  *object = nullptr;
  auto* made = new (std::nothrow) AmrNbEncDmo;
  if (!made) return com::E_OUTOFMEMORY;
  HRESULT hr = made->Init();
  if (com::Succeeded(hr)) hr = made->QueryInterface(iid, object);
  made->Release();
  return hr;
}

}  // namespace codecdmo
