#pragma once
// The four exported entry points of a component module with one class; see
// Module.h for how a module uses SIMDEX_MODULE.
#include <mutex>

#include "platform/ClassFactory.h"
#include "platform/ComPtr.h"
#include "platform/LastError.h"
#include "platform/Module.h"

namespace simdex {

// DllGetClassObject of a module serving class T as `own`: the module's one
// factory, made on the first request under a lock and kept until the module
// is unloaded.
template <class T>
HRESULT ModuleGetClassObject(REFCLSID own, REFCLSID requested, REFIID iid, void** ppv) {
  if (!ppv) return E_POINTER;
  *ppv = nullptr;
  if (requested != own) return CLASS_E_CLASSNOTAVAILABLE;
  static std::mutex mu;
  static ComPtr<IClassFactory> factory;  // the module's own reference
  IClassFactory* f = nullptr;
  {
    std::lock_guard<std::mutex> lock(mu);
    if (!factory) {
      factory = ClassFactory<T>::Create();
      if (!factory) return E_OUTOFMEMORY;
    }
    f = factory.get();
  }
  return f->QueryInterface(iid, ppv);
}

}  // namespace simdex

#define SIMDEX_EXPORT __attribute__((visibility("default")))

#define SIMDEX_MODULE(ClassType, clsid, resourceTable)                                           \
  extern "C" SIMDEX_EXPORT HRESULT DllGetClassObject(REFCLSID rclsid, REFIID riid, void** ppv) { \
    return ::simdex::GuardHResult(                                                               \
        [&] { return ::simdex::ModuleGetClassObject<ClassType>(clsid, rclsid, riid, ppv); });    \
  }                                                                                              \
  extern "C" SIMDEX_EXPORT HRESULT DllCanUnloadNow() {                                           \
    return ::simdex::ModuleLockCount() == 0 ? S_OK : S_FALSE;                                    \
  }                                                                                              \
  extern "C" SIMDEX_EXPORT HRESULT DllRegisterServer() {                                         \
    return ::simdex::ModuleRegisterServer(resourceTable);                                        \
  }                                                                                              \
  extern "C" SIMDEX_EXPORT HRESULT DllUnregisterServer() {                                       \
    return ::simdex::ModuleUnregisterServer(resourceTable);                                      \
  }
