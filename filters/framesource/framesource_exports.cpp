// Exports of the framesource plug-in: the only names it makes visible.
#include <span>

#include "filters/framesource/frame_filter.h"
#include "filters/framesource/framesource.h"

#define FRAMESOURCE_EXPORT extern "C" __attribute__((visibility("default")))

FRAMESOURCE_EXPORT int Initialize(FrameCallback callback, FrameFilterConfig config);
FRAMESOURCE_EXPORT com::HRESULT DllRegisterServer();
FRAMESOURCE_EXPORT com::HRESULT DllUnregisterServer();
FRAMESOURCE_EXPORT com::HRESULT DllGetClassObject(const com::GUID& clsid, const com::GUID& iid, void** object);
FRAMESOURCE_EXPORT com::HRESULT DllCanUnloadNow();
FRAMESOURCE_EXPORT int GetDeliveredTime();

FRAMESOURCE_EXPORT const com::GUID CLSID_FrameFilter = framesource::CLSID_FrameFilter;

FRAMESOURCE_EXPORT int Initialize(FrameCallback callback, FrameFilterConfig config) {
  return framesource::InitializeModule(callback, config);
}

FRAMESOURCE_EXPORT com::HRESULT DllRegisterServer() {
  return dshow::AMovieDllRegisterServer2(true, framesource::kFactoryTemplates,
                                         reinterpret_cast<const void*>(&DllRegisterServer));
}

FRAMESOURCE_EXPORT com::HRESULT DllUnregisterServer() {
  return dshow::AMovieDllRegisterServer2(false, framesource::kFactoryTemplates,
                                         reinterpret_cast<const void*>(&DllRegisterServer));
}

FRAMESOURCE_EXPORT com::HRESULT DllGetClassObject(const com::GUID& clsid, const com::GUID& iid, void** object) {
  return dshow::AMovieDllGetClassObject(framesource::kFactoryTemplates, clsid, iid, object);
}

FRAMESOURCE_EXPORT com::HRESULT DllCanUnloadNow() { return dshow::AMovieDllCanUnloadNow(); }

FRAMESOURCE_EXPORT int GetDeliveredTime() { return framesource::DeliveredTimeMs(); }
