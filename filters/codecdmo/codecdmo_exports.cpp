// Exports of the codecdmo plug-in: the only names it makes visible.
#include "filters/codecdmo/codecdmo.h"

#define CODECDMO_EXPORT extern "C" __attribute__((visibility("default")))

CODECDMO_EXPORT com::HRESULT DllRegisterServer();
CODECDMO_EXPORT com::HRESULT DllUnregisterServer();
CODECDMO_EXPORT com::HRESULT DllGetClassObject(const com::GUID& clsid, const com::GUID& iid, void** object);
CODECDMO_EXPORT com::HRESULT DllCanUnloadNow();

CODECDMO_EXPORT com::HRESULT DllRegisterServer() {
  return codecdmo::RegisterServer(reinterpret_cast<const void*>(&DllRegisterServer));
}

CODECDMO_EXPORT com::HRESULT DllUnregisterServer() { return codecdmo::UnregisterServer(); }

CODECDMO_EXPORT com::HRESULT DllGetClassObject(const com::GUID& clsid, const com::GUID& iid, void** object) {
  return codecdmo::GetClassObject(clsid, iid, object);
}

CODECDMO_EXPORT com::HRESULT DllCanUnloadNow() { return codecdmo::CanUnloadNow(); }
