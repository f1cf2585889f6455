#pragma once
// The class-factory interface and the factory of a ComObject<T> class.
#include <atomic>
#include <new>

#include "platform/ComObject.h"
#include "platform/ComPtr.h"
#include "platform/Module.h"
#include "platform/Unknown.h"

inline constexpr IID IID_IClassFactory =
    simdex::GuidLiteral("{00000001-0000-0000-C000-000000000046}");

struct IClassFactory : IUnknown {
  // Creates a new object of the class and stores its interface `iid` in
  // *ppv; with an outer object only IID_IUnknown may be asked for
  // (CLASS_E_NOAGGREGATION). E_POINTER for a null ppv.
  virtual HRESULT CreateInstance(IUnknown* outer, REFIID iid, void** ppv) = 0;
  // Non-zero raises the module's lock count, zero lowers it again.
  virtual HRESULT LockServer(int lock) = 0;

 protected:
  ~IClassFactory() = default;
};

namespace simdex {

// The factory a module caches for its class T. It is made with one
// reference, the module's own; every further reference a client holds
// counts as a lock on the module.
template <class T>
class ClassFactory final : public IClassFactory {
 public:
  // A new factory holding its one (the module's) reference; null when
  // memory runs out.
  static ComPtr<IClassFactory> Create() {
    return ComPtr<IClassFactory>::Adopt(new (std::nothrow) ClassFactory());
  }

  HRESULT QueryInterface(REFIID iid, void** ppv) override {
    if (!ppv) return E_POINTER;
    if (iid == IID_IUnknown || iid == IID_IClassFactory) {
      *ppv = static_cast<IClassFactory*>(this);
      AddRef();
      return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
  }
  ULONG AddRef() override {
    ULONG n = refs_.fetch_add(1, std::memory_order_relaxed) + 1;
    if (n > 1) ModuleLock();
    return n;
  }
  ULONG Release() override {
    ULONG n = refs_.fetch_sub(1, std::memory_order_acq_rel) - 1;
    if (n >= 1) ModuleUnlock();
    if (n == 0) delete this;
    return n;
  }

  HRESULT CreateInstance(IUnknown* outer, REFIID iid, void** ppv) override {
    return ComObject<T>::Create(outer, iid, ppv);
  }
  HRESULT LockServer(int lock) override { return ModuleLockServer(lock != 0); }

 private:
  ClassFactory() = default;
  ~ClassFactory() = default;
  std::atomic<ULONG> refs_{1};
};

}  // namespace simdex
