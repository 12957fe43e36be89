#include "platform/dshow/filter_registration.h"

#include <new>

#include "platform/com/class_table.h"
#include "platform/os/library.h"
#include "platform/os/registry.h"

namespace dshow {
namespace {

constexpr auto kRoot = ov::RegistryRoot::kClassesRoot;

ov::String FilterKey(const GUID& clsid) { return u"Filter\\" + com::GuidToString(clsid); }

HRESULT RegisterFilter(const AMOVIESETUP_FILTER& f) {
  const ov::String key = FilterKey(*f.clsID);
  bool ok = ov::RegistrySetString(kRoot, key, u"", f.strName ? f.strName : u"") &&
            ov::RegistrySetDword(kRoot, key, u"Merit", f.dwMerit);
  for (uint32_t p = 0; ok && p < f.nPins; ++p) {
    const AMOVIESETUP_PIN& pin = f.lpPin[p];
    const ov::String pin_key = key + u"\\Pins\\" + (pin.strName ? pin.strName : u"");
    ok = ov::RegistrySetDword(kRoot, pin_key, u"Output", pin.bOutput) &&
         ov::RegistrySetDword(kRoot, pin_key, u"Rendered", pin.bRendered) &&
         ov::RegistrySetDword(kRoot, pin_key, u"ZeroAllowed", pin.bZero) &&
         ov::RegistrySetDword(kRoot, pin_key, u"Many", pin.bMany);
    for (uint32_t t = 0; ok && t < pin.nMediaTypes; ++t) {
      const AMOVIESETUP_MEDIATYPE& mt = pin.lpMediaType[t];
      const ov::String value = com::GuidToString(mt.clsMajorType ? *mt.clsMajorType : com::GUID_NULL) + u" " +
                               com::GuidToString(mt.clsMinorType ? *mt.clsMinorType : com::GUID_NULL);
      ok = ov::RegistrySetString(kRoot, pin_key, ov::String::Format(u"Type%d", static_cast<int>(t)), value);
    }
  }
  return ok ? com::S_OK : com::E_FAIL;
}

struct TemplateFactory final : public com::IClassFactory {
  explicit TemplateFactory(const CFactoryTemplate& t) : templ(t) { com::ModuleAddRef(); }
  HRESULT QueryInterface(const GUID& iid, void** object) override {
    return com::QuerySingleInterface<com::IClassFactory>(this, com::IID_IClassFactory, iid, object);
  }
  uint32_t AddRef() override { return refs.Increment(); }
  uint32_t Release() override {
    const uint32_t left = refs.Decrement();
    if (left == 0) delete this;
    return left;
  }
  HRESULT CreateInstance(com::IUnknown* outer, const GUID& iid, void** object) override {
    if (!object) return com::E_POINTER;
    *object = nullptr;
    if (outer) return com::CLASS_E_NOAGGREGATION;
    HRESULT hr = com::S_OK;
    com::IUnknown* made = templ.m_lpfnNew(nullptr, &hr);
    if (!made) return com::Failed(hr) ? hr : com::E_OUTOFMEMORY;
    if (com::Failed(hr)) {
      made->Release();
      return hr;
    }
    hr = made->QueryInterface(iid, object);
    made->Release();
    return hr;
  }
  HRESULT LockServer(bool lock) override {
    if (lock) {
      com::ModuleAddRef();
    } else {
      com::ModuleRelease();
    }
    return com::S_OK;
  }
  ~TemplateFactory() { com::ModuleRelease(); }

  com::RefCount refs;
  const CFactoryTemplate& templ;
};

}  // namespace

HRESULT AMovieDllRegisterServer2(bool do_register, std::span<const CFactoryTemplate> templates,
                                 const void* module_address) {
  const ov::String path = ov::ModulePathOf(module_address);
  if (do_register && path.IsEmpty()) return com::E_FAIL;
  for (const CFactoryTemplate& t : templates) {
    if (!t.m_ClsID) continue;
    HRESULT hr = do_register ? com::RegisterInprocServer(*t.m_ClsID, t.m_Name ? t.m_Name : u"", path, u"Both")
                             : com::UnregisterInprocServer(*t.m_ClsID);
    if (com::Failed(hr)) return hr;
    if (t.m_pAMovieSetup_Filter) {
      const ov::String key = FilterKey(*t.m_pAMovieSetup_Filter->clsID);
      if (do_register) {
        if (ov::RegistryKeyExists(kRoot, key)) ov::RegistryDeleteKey(kRoot, key);
        hr = RegisterFilter(*t.m_pAMovieSetup_Filter);
      } else if (ov::RegistryKeyExists(kRoot, key) && !ov::RegistryDeleteKey(kRoot, key)) {
        hr = com::E_FAIL;
      }
      if (com::Failed(hr)) return hr;
    }
  }
  return com::S_OK;
}

HRESULT AMovieDllGetClassObject(std::span<const CFactoryTemplate> templates, const GUID& clsid, const GUID& iid,
                                void** object) {
  if (!object) return com::E_POINTER;
  *object = nullptr;
  if (!(iid == com::IID_IUnknown || iid == com::IID_IClassFactory)) return com::E_NOINTERFACE;
  for (const CFactoryTemplate& t : templates) {
    if (t.m_ClsID && *t.m_ClsID == clsid && t.m_lpfnNew) {
      auto* factory = new (std::nothrow) TemplateFactory(t);
      if (!factory) return com::E_OUTOFMEMORY;
      *object = static_cast<com::IClassFactory*>(factory);
      return com::S_OK;
    }
  }
  return com::CLASS_E_CLASSNOTAVAILABLE;
}

HRESULT AMovieDllCanUnloadNow() { return com::ModuleLockCount() == 0 ? com::S_OK : com::S_FALSE; }

}  // namespace dshow
