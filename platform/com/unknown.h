#pragma once
// IUnknown, IClassFactory and the helpers every object of the component
// layer uses: the reference count, the owning pointer and the module's count
// of live objects and locks (which DllCanUnloadNow answers).
//
// Objects are reference counted: AddRef and Release may be called from any
// thread; the object deletes itself when the count reaches 0. QueryInterface
// answers E_NOINTERFACE (and a null pointer) for an interface it lacks, and
// adds a reference for one it hands out.

#include <atomic>
#include <cstdint>
#include <new>
#include <utility>

#include "platform/com/guid.h"
#include "platform/com/hresult.h"

namespace com {

constexpr GUID IID_IUnknown{0x00000000, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
constexpr GUID IID_IClassFactory{0x00000001, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};

class IUnknown {
 public:
  virtual HRESULT QueryInterface(const GUID& iid, void** object) = 0;
  virtual uint32_t AddRef() = 0;
  virtual uint32_t Release() = 0;

 protected:
  ~IUnknown() = default;
};

class IClassFactory : public IUnknown {
 public:
  // Creates an object and returns its interface iid. Aggregation (a non-null
  // outer) is refused with CLASS_E_NOAGGREGATION.
  virtual HRESULT CreateInstance(IUnknown* outer, const GUID& iid, void** object) = 0;
  virtual HRESULT LockServer(bool lock) = 0;

 protected:
  ~IClassFactory() = default;
};

// A reference count that starts at 1 (the creator's reference).
class RefCount {
 public:
  uint32_t Increment() { return count_.fetch_add(1, std::memory_order_relaxed) + 1; }
  // The count after the decrement; 0 means the caller deletes the object.
  uint32_t Decrement() { return count_.fetch_sub(1, std::memory_order_acq_rel) - 1; }
  uint32_t Value() const { return count_.load(std::memory_order_relaxed); }

 private:
  std::atomic<uint32_t> count_{1};
};

// Live objects and server locks of the module this code is linked into (each
// plug-in has its own copy); DllCanUnloadNow answers S_OK only at 0.
void ModuleAddRef();
void ModuleRelease();
uint32_t ModuleLockCount();

// An owning interface pointer: releases what it holds.
template <typename T>
class ComPtr {
 public:
  ComPtr() = default;
  ComPtr(std::nullptr_t) {}
  // Takes over a reference the caller already holds.
  static ComPtr Adopt(T* p) {
    ComPtr c;
    c.p_ = p;
    return c;
  }
  // Adds a reference of its own.
  static ComPtr Share(T* p) {
    if (p) p->AddRef();
    return Adopt(p);
  }
  ComPtr(const ComPtr& o) : p_(o.p_) {
    if (p_) p_->AddRef();
  }
  ComPtr(ComPtr&& o) noexcept : p_(std::exchange(o.p_, nullptr)) {}
  ComPtr& operator=(ComPtr o) noexcept {
    std::swap(p_, o.p_);
    return *this;
  }
  ~ComPtr() { Reset(); }

  void Reset() {
    if (p_) std::exchange(p_, nullptr)->Release();
  }
  T* Get() const { return p_; }
  T* operator->() const { return p_; }
  explicit operator bool() const { return p_ != nullptr; }
  // The address to receive a new reference (what it held is released).
  T** Receive() {
    Reset();
    return &p_;
  }
  void** ReceiveVoid() { return reinterpret_cast<void**>(Receive()); }
  T* Detach() { return std::exchange(p_, nullptr); }

  // QueryInterface into another owning pointer.
  template <typename U>
  HRESULT As(const GUID& iid, ComPtr<U>* out) const {
    if (!p_) return E_POINTER;
    return p_->QueryInterface(iid, out->ReceiveVoid());
  }

 private:
  T* p_ = nullptr;
};

// QueryInterface of an object with one interface besides IUnknown: self is
// the object as that interface, own_iid its id.
template <typename I>
HRESULT QuerySingleInterface(I* self, const GUID& own_iid, const GUID& iid, void** object) {
  if (!object) return E_POINTER;
  if (iid == IID_IUnknown || iid == own_iid) {
    *object = self;
    self->AddRef();
    return S_OK;
  }
  *object = nullptr;
  return E_NOINTERFACE;
}

// Makes a T from args and hands out its interface iid; the creator's own
// reference is dropped, so an object without that interface goes at once.
template <typename T, typename... Args>
HRESULT CreateObjectAs(const GUID& iid, void** object, Args&&... args) {
  if (!object) return E_POINTER;
  *object = nullptr;
  T* made = new (std::nothrow) T(std::forward<Args>(args)...);
  if (!made) return E_OUTOFMEMORY;
  const HRESULT hr = made->QueryInterface(iid, object);
  made->Release();
  return hr;
}

// Creates one kind of object: a new object answering iid in *object.
using CreateInstanceFunction = HRESULT (*)(const GUID& iid, void** object);

// A class factory over a creation function; counts as a live object of the
// module while it exists.
class ClassFactory final : public IClassFactory {
 public:
  explicit ClassFactory(CreateInstanceFunction create);
  HRESULT QueryInterface(const GUID& iid, void** object) override;
  uint32_t AddRef() override { return refs_.Increment(); }
  uint32_t Release() override;
  HRESULT CreateInstance(IUnknown* outer, const GUID& iid, void** object) override;
  HRESULT LockServer(bool lock) override;

 private:
  ~ClassFactory();
  RefCount refs_;
  CreateInstanceFunction create_;
};

}  // namespace com
