#include "platform/com/unknown.h"

namespace com {
namespace {

std::atomic<uint32_t> g_module_locks{0};

}  // namespace

void ModuleAddRef() { g_module_locks.fetch_add(1, std::memory_order_relaxed); }
void ModuleRelease() { g_module_locks.fetch_sub(1, std::memory_order_acq_rel); }
uint32_t ModuleLockCount() { return g_module_locks.load(std::memory_order_acquire); }

ClassFactory::ClassFactory(CreateInstanceFunction create) : create_(create) { ModuleAddRef(); }

ClassFactory::~ClassFactory() { ModuleRelease(); }

HRESULT ClassFactory::QueryInterface(const GUID& iid, void** object) {
  return QuerySingleInterface<IClassFactory>(this, IID_IClassFactory, iid, object);
}

uint32_t ClassFactory::Release() {
  const uint32_t left = refs_.Decrement();
  if (left == 0) delete this;
  return left;
}

HRESULT ClassFactory::CreateInstance(IUnknown* outer, const GUID& iid, void** object) {
  if (!object) return E_POINTER;
  *object = nullptr;
  if (outer) return CLASS_E_NOAGGREGATION;
  return create_(iid, object);
}

HRESULT ClassFactory::LockServer(bool lock) {
  if (lock) {
    ModuleAddRef();
  } else {
    ModuleRelease();
  }
  return S_OK;
}

}  // namespace com
