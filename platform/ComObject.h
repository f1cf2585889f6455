#pragma once
// Reference counting and aggregation for a component class.
//
// A class T implements its interfaces' methods and a public
//   IUnknown* FindInterface(REFIID iid);
// that answers the interface pointer for every identifier it serves other
// than IUnknown (or null). ComObject<T> adds the rest:
// - QueryInterface/AddRef/Release of all of T's interfaces delegate to the
//   controlling unknown: the outer object when T is created inside an
//   aggregate, else T's own inner unknown;
// - the inner unknown owns the reference count and destroys the object at
//   the last Release; its QueryInterface(IID_IUnknown) is the object's
//   identity;
// - every live object holds one lock on its module (DllCanUnloadNow).
#include <atomic>
#include <new>

#include "platform/Module.h"
#include "platform/Unknown.h"

namespace simdex {

template <class T>
class ComObject final : public T {
 public:
  // Creates an object and stores its interface `iid` in *ppv. With an outer
  // object only IID_IUnknown may be asked for (CLASS_E_NOAGGREGATION), and
  // the answer is the inner unknown the outer object keeps. E_POINTER for a
  // null ppv, E_OUTOFMEMORY when allocation fails; a refused interface
  // destroys the new object again.
  static HRESULT Create(IUnknown* outer, REFIID iid, void** ppv) {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    if (outer && iid != IID_IUnknown) return CLASS_E_NOAGGREGATION;
    ComObject* object = nullptr;
    try {
      object = new ComObject(outer);
    } catch (const std::bad_alloc&) {
      return E_OUTOFMEMORY;
    } catch (...) {
      return E_FAIL;
    }
    // Hold the object while asking, so that a refusal destroys it.
    object->inner_.AddRef();
    HRESULT hr = object->inner_.QueryInterface(iid, ppv);
    object->inner_.Release();
    return hr;
  }

  HRESULT QueryInterface(REFIID iid, void** ppv) override {
    return controlling_->QueryInterface(iid, ppv);
  }
  ULONG AddRef() override { return controlling_->AddRef(); }
  ULONG Release() override { return controlling_->Release(); }

 private:
  class Inner final : public IUnknown {
   public:
    explicit Inner(ComObject* owner) : owner_(owner) {}
    HRESULT QueryInterface(REFIID iid, void** ppv) override {
      if (!ppv) return E_POINTER;
      if (iid == IID_IUnknown) {
        *ppv = static_cast<IUnknown*>(this);
        AddRef();
        return S_OK;
      }
      IUnknown* p = static_cast<T*>(owner_)->FindInterface(iid);
      *ppv = p;
      if (!p) return E_NOINTERFACE;
      p->AddRef();  // counts on the controlling unknown
      return S_OK;
    }
    ULONG AddRef() override { return refs_.fetch_add(1, std::memory_order_relaxed) + 1; }
    ULONG Release() override {
      ULONG n = refs_.fetch_sub(1, std::memory_order_acq_rel) - 1;
      if (n == 0) delete owner_;
      return n;
    }

   private:
    ComObject* owner_;
    std::atomic<ULONG> refs_{0};
  };

  explicit ComObject(IUnknown* outer) : inner_(this), controlling_(outer ? outer : &inner_) {
    ModuleLock();
  }
  ~ComObject() { ModuleUnlock(); }

  Inner inner_;
  IUnknown* controlling_;
};

}  // namespace simdex
