#include "platform/com/class_table.h"

#include <cstring>
#include <map>
#include <mutex>
#include <vector>

#include "platform/os/library.h"
#include "platform/os/registry.h"

namespace com {
namespace {

thread_local int t_init_count = 0;

ov::String ClassKey(const GUID& clsid) { return u"CLSID\\" + GuidToString(clsid); }

struct GuidLess {
  bool operator()(const GUID& a, const GUID& b) const {
    return std::memcmp(&a, &b, sizeof(GUID)) < 0;
  }
};

struct ProcessClasses {
  std::mutex lock;
  std::map<GUID, CreateInstanceFunction, GuidLess> local;
  // Libraries loaded for creation stay loaded: objects from them may live
  // until the process ends.
  std::map<std::u16string, ov::Library*> libraries;
};

ProcessClasses& Classes() {
  static ProcessClasses* classes = new ProcessClasses;
  return *classes;
}

}  // namespace

HRESULT CoInitializeEx(void*, uint32_t) { return t_init_count++ == 0 ? S_OK : S_FALSE; }

void CoUninitialize() {
  if (t_init_count > 0) --t_init_count;
}

HRESULT RegisterInprocServer(const GUID& clsid, const ov::String& description, const ov::String& library_path,
                             const ov::String& threading_model) {
  const ov::String key = ClassKey(clsid);
  const ov::String server = key + u"\\InprocServer32";
  const auto root = ov::RegistryRoot::kClassesRoot;
  if (!ov::RegistrySetString(root, key, u"", description) || !ov::RegistrySetString(root, server, u"", library_path) ||
      !ov::RegistrySetString(root, server, u"ThreadingModel", threading_model)) {
    return SELFREG_E_CLASS;
  }
  return S_OK;
}

HRESULT UnregisterInprocServer(const GUID& clsid) {
  const ov::String key = ClassKey(clsid);
  if (ov::RegistryKeyExists(ov::RegistryRoot::kClassesRoot, key) &&
      !ov::RegistryDeleteKey(ov::RegistryRoot::kClassesRoot, key)) {
    return SELFREG_E_CLASS;
  }
  return S_OK;
}

bool FindInprocServer(const GUID& clsid, ov::String* library_path, ov::String* threading_model) {
  const ov::String server = ClassKey(clsid) + u"\\InprocServer32";
  ov::String path;
  if (!ov::RegistryQueryString(ov::RegistryRoot::kClassesRoot, server, u"", &path) || path.IsEmpty()) return false;
  if (library_path) *library_path = path;
  if (threading_model) {
    threading_model->Empty();
    ov::RegistryQueryString(ov::RegistryRoot::kClassesRoot, server, u"ThreadingModel", threading_model);
  }
  return true;
}

void RegisterClassObject(const GUID& clsid, CreateInstanceFunction create) {
  ProcessClasses& c = Classes();
  std::lock_guard<std::mutex> hold(c.lock);
  c.local[clsid] = create;
}

void RevokeClassObject(const GUID& clsid) {
  ProcessClasses& c = Classes();
  std::lock_guard<std::mutex> hold(c.lock);
  c.local.erase(clsid);
}

HRESULT CoGetClassObject(const GUID& clsid, uint32_t, const GUID& iid, void** object) {
  if (!object) return E_POINTER;
  *object = nullptr;
  ProcessClasses& c = Classes();
  {
    std::lock_guard<std::mutex> hold(c.lock);
    auto it = c.local.find(clsid);
    if (it != c.local.end()) {
      auto* factory = new ClassFactory(it->second);
      const HRESULT hr = factory->QueryInterface(iid, object);
      factory->Release();
      return hr;
    }
  }
  ov::String path;
  if (!FindInprocServer(clsid, &path)) return REGDB_E_CLASSNOTREG;
  DllGetClassObjectFunction get = nullptr;
  {
    std::lock_guard<std::mutex> hold(c.lock);
    ov::Library*& lib = c.libraries[std::u16string(path.View())];
    if (!lib) {
      auto* loaded = new ov::Library;
      if (!loaded->Load(path)) {
        delete loaded;
        c.libraries.erase(std::u16string(path.View()));
        return CO_E_DLLNOTFOUND;
      }
      lib = loaded;
    }
    get = lib->Function<DllGetClassObjectFunction>("DllGetClassObject");
  }
  if (!get) return CO_E_ERRORINDLL;
  return get(clsid, iid, object);
}

HRESULT CoCreateInstance(const GUID& clsid, IUnknown* outer, uint32_t context, const GUID& iid, void** object) {
  if (!object) return E_POINTER;
  *object = nullptr;
  ComPtr<IClassFactory> factory;
  HRESULT hr = CoGetClassObject(clsid, context, IID_IClassFactory, factory.ReceiveVoid());
  if (Failed(hr)) return hr;
  return factory->CreateInstance(outer, iid, object);
}

}  // namespace com
