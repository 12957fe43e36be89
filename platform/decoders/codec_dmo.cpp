#include "platform/decoders/codec_dmo.h"

#include <mutex>

#include "platform/com/class_table.h"

namespace decoders {

HRESULT CreateCodecDMO(CodecLibrary library, dshow::IMediaObject** object) {
  if (!object) return com::E_POINTER;
  *object = nullptr;
  static std::once_flag registered;
  std::call_once(registered, [] {
    com::RegisterClassObject(CLSID_WmaDecoderObject, CreateWmaDecoderObject);
    com::RegisterClassObject(CLSID_WmvDecoderObject, CreateWmvDecoderObject);
  });
  const GUID& clsid = library == CodecLibrary::kWma ? CLSID_WmaDecoderObject : CLSID_WmvDecoderObject;
  return com::CoCreateInstance(clsid, nullptr, com::CLSCTX_INPROC_SERVER, dshow::IID_IMediaObject,
                               reinterpret_cast<void**>(object));
}

}  // namespace decoders
