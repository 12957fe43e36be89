// The codecdmo module's classes: the factory table, registration in the class
// table and in the media-object categories, and the display orientation.
#include <atomic>
#include <iterator>

#include "filters/codecdmo/codecdmo.h"
#include "platform/dshow/dmo_registration.h"
#include "platform/dshow/filter_registration.h"
#include "platform/dshow/media_type.h"

namespace codecdmo {
namespace {

using dshow::DMO_PARTIAL_MEDIATYPE;

template <HRESULT (*Create)(const GUID&, void**)>
com::IUnknown* NewObject(com::IUnknown*, HRESULT* hr) {
  com::IUnknown* object = nullptr;
  *hr = Create(com::IID_IUnknown, reinterpret_cast<void**>(&object));
  return object;
}

constexpr dshow::CFactoryTemplate kTemplates[] = {
    {u"H263 Encoder DMO Class", &CLSID_CH263EncDmo, NewObject<CreateH263EncDmo>, nullptr, nullptr},
    {u" MP4 Encoder DMO", &CLSID_CMpeg4EncDmo, NewObject<CreateMpeg4EncDmo>, nullptr, nullptr},
    {u"AAC-LLC Encoder DMO Class", &CLSID_CAacEncDmo, NewObject<CreateAacEncDmo>, nullptr, nullptr},
    {u"AMR_NB Encoder DMO Class", &CLSID_CAmrNbEncDmo, NewObject<CreateAmrNbEncDmo>, nullptr, nullptr},
};

constexpr DMO_PARTIAL_MEDIATYPE kVideoInputs[] = {
    {dshow::MEDIATYPE_PrivateVideo, MEDIASUBTYPE_YV12},   {dshow::MEDIATYPE_PrivateVideo, dshow::MEDIASUBTYPE_RGB565},
    {dshow::MEDIATYPE_PrivateVideo, MEDIASUBTYPE_IYUV},   {dshow::MEDIATYPE_PrivateVideo, MEDIASUBTYPE_YVYU},
    {dshow::MEDIATYPE_PrivateVideo, MEDIASUBTYPE_UYVY},
};
constexpr DMO_PARTIAL_MEDIATYPE kH263Outputs[] = {{dshow::MEDIATYPE_Video, MEDIASUBTYPE_H263Stream}};
constexpr DMO_PARTIAL_MEDIATYPE kMpeg4Outputs[] = {{dshow::MEDIATYPE_Video, MEDIASUBTYPE_M4S2}};
constexpr DMO_PARTIAL_MEDIATYPE kAudioInputs[] = {{dshow::MEDIATYPE_PrivateAudio, dshow::MEDIASUBTYPE_PCM}};
constexpr DMO_PARTIAL_MEDIATYPE kAacOutputs[] = {{dshow::MEDIATYPE_Audio, MEDIASUBTYPE_AacRaw}};
constexpr DMO_PARTIAL_MEDIATYPE kAmrOutputs[] = {{dshow::MEDIATYPE_Audio, MEDIASUBTYPE_AmrNb}};

struct DmoEntry {
  const char16_t* name;
  const GUID* clsid;
  const GUID* category;
  std::span<const DMO_PARTIAL_MEDIATYPE> inputs;
  std::span<const DMO_PARTIAL_MEDIATYPE> outputs;
};

const DmoEntry kDmos[] = {
    {u"Pelmor H263 Video Encoder-DMO", &CLSID_CH263EncDmo, &dshow::DMOCATEGORY_VIDEO_ENCODER, kVideoInputs,
     kH263Outputs},
    {u"Pelmor MPEG-4 SP Encoder-DMO", &CLSID_CMpeg4EncDmo, &dshow::DMOCATEGORY_VIDEO_ENCODER, kVideoInputs,
     kMpeg4Outputs},
    {u"Pelmor AAC_LC Encoder-DMO", &CLSID_CAacEncDmo, &dshow::DMOCATEGORY_AUDIO_ENCODER, kAudioInputs, kAacOutputs},
    {u"Pelmor GSM AMR-NB Encoder-DMO", &CLSID_CAmrNbEncDmo, &dshow::DMOCATEGORY_AUDIO_ENCODER, kAudioInputs,
     kAmrOutputs},
};

std::atomic<int> g_orientation{0};

}  // namespace

HRESULT RegisterServer(const void* module_address) {
  HRESULT hr = dshow::AMovieDllRegisterServer2(true, kTemplates, module_address);
  if (com::Failed(hr)) return hr;
  for (const DmoEntry& d : kDmos) {
    hr = dshow::DMORegister(d.name, *d.clsid, *d.category, 0, d.inputs, d.outputs);
    if (com::Failed(hr)) return hr;
  }
  return com::S_OK;
}

HRESULT UnregisterServer() {
  HRESULT result = dshow::AMovieDllRegisterServer2(false, kTemplates, nullptr);
  for (const DmoEntry& d : kDmos) {
    const HRESULT hr = dshow::DMOUnregister(*d.clsid, *d.category);
    if (com::Failed(hr) && com::Succeeded(result)) result = hr;
  }
  return result;
}

HRESULT GetClassObject(const GUID& clsid, const GUID& iid, void** object) {
  return dshow::AMovieDllGetClassObject(kTemplates, clsid, iid, object);
}

HRESULT CanUnloadNow() { return dshow::AMovieDllCanUnloadNow(); }

int QueryDisplayOrientation() { return g_orientation.load(std::memory_order_relaxed); }

void SetDisplayOrientationForTest(int orientation) { g_orientation.store(orientation, std::memory_order_relaxed); }

}  // namespace codecdmo
