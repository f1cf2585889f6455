#include "platform/Activation.h"

#include <map>
#include <mutex>
#include <string>
#include <unordered_map>

#include "platform/ClassFactory.h"
#include "platform/ComPtr.h"
#include "platform/LastError.h"
#include "platform/Module.h"
#include "platform/Registry.h"
#include "platform/SharedLibrary.h"

namespace simdex {
namespace {

// Factories and modules loaded by this copy of the platform. Entries are
// never removed before exit, so a factory pointer read under the lock stays
// valid after it is released.
class ActivationCache {
 public:
  IClassFactory* Find(const CLSID& clsid) {
    std::lock_guard<std::mutex> lock(mu_);
    auto it = factories_.find(clsid);
    return it == factories_.end() ? nullptr : it->second.get();
  }

  HRESULT Load(const CLSID& clsid, IClassFactory** factory) {
    // Loads are serialized; recursive because a module's DllGetClassObject
    // may itself create objects of other classes.
    std::lock_guard<std::recursive_mutex> loading(loadMu_);
    if ((*factory = Find(clsid))) return S_OK;
    std::string name = FormatGuid(clsid);
    Registry registry;
    RegistryKey root;
    Status s = Registry::OpenDefault(&registry);
    if (s.ok()) s = registry.Read(&root);
    if (!s.ok()) return FailWith(REGDB_E_READREGDB, s.ToString());
    const RegistryKey* server = root.Find("CLSID\\" + name + "\\InprocServer32");
    if (!server || !server->DefaultValue() || server->DefaultValue()->empty())
      return FailWith(REGDB_E_CLASSNOTREG,
                      "class " + name + " is not registered in '" + registry.path() + "'");
    const std::string path = *server->DefaultValue();

    SharedLibrary* module = nullptr;
    {
      std::lock_guard<std::mutex> lock(mu_);
      if (auto it = modules_.find(path); it != modules_.end()) module = &it->second;
    }
    if (!module) {
      SharedLibrary lib;
      s = SharedLibrary::Open(path, &lib);
      if (!s.ok())
        return FailWith(s.IsNotFound() ? CO_E_DLLNOTFOUND : CO_E_ERRORINDLL,
                        "class " + name + ": " + s.message());
      std::lock_guard<std::mutex> lock(mu_);
      module = &modules_.emplace(path, std::move(lib)).first->second;
    }
    auto get = reinterpret_cast<DllGetClassObjectFn>(module->Symbol("DllGetClassObject"));
    if (!get)
      return FailWith(CO_E_ERRORINDLL,
                      "class " + name + ": module '" + path + "' has no DllGetClassObject");
    ComPtr<IClassFactory> made;
    HRESULT hr = get(clsid, IID_IClassFactory, made.PutVoid());
    if (FAILED(hr) || !made)
      return FailWith(FAILED(hr) ? hr : E_UNEXPECTED,
                      "class " + name + ": module '" + path + "' gave no class factory");
    std::lock_guard<std::mutex> lock(mu_);
    *factory = made.get();
    factories_.emplace(clsid, std::move(made));
    return S_OK;
  }

 private:
  std::mutex mu_;
  std::recursive_mutex loadMu_;
  // Declared first so that the factories are released before their modules'
  // handles are closed (which never unmaps them anyway).
  std::map<std::string, SharedLibrary> modules_;
  std::unordered_map<CLSID, ComPtr<IClassFactory>> factories_;
};

ActivationCache& Cache() {
  static ActivationCache cache;
  return cache;
}

// The last class this thread created, so that a run of creations of one
// class (the engine's pattern) skips the cache's lock and lookup. Valid for
// as long as the cache, which never drops an entry.
struct LastHit {
  CLSID clsid;
  IClassFactory* factory;
};
thread_local LastHit last_hit{};

HRESULT FactoryFor(REFCLSID clsid, DWORD clsctx, IClassFactory** factory) {
  if (!(clsctx & CLSCTX_INPROC_SERVER))
    return FailWith(REGDB_E_CLASSNOTREG, "class " + FormatGuid(clsid) +
                                             " is not registered for the class context asked " +
                                             "for (only in-process servers exist)");
  if (last_hit.factory && last_hit.clsid == clsid) {
    *factory = last_hit.factory;
    return S_OK;
  }
  ActivationCache& cache = Cache();
  *factory = cache.Find(clsid);
  HRESULT hr = *factory ? S_OK : cache.Load(clsid, factory);
  if (SUCCEEDED(hr)) last_hit = {clsid, *factory};
  return hr;
}

}  // namespace
}  // namespace simdex

HRESULT CoGetClassObject(REFCLSID clsid, DWORD clsctx, void*, REFIID iid, void** ppv) {
  if (!ppv) return E_POINTER;
  *ppv = nullptr;
  return simdex::GuardHResult([&] {
    simdex::ClearLastErrorText();
    IClassFactory* factory = nullptr;
    HRESULT hr = simdex::FactoryFor(clsid, clsctx, &factory);
    if (FAILED(hr)) return hr;
    return factory->QueryInterface(iid, ppv);
  });
}

HRESULT CoCreateInstance(REFCLSID clsid, IUnknown* outer, DWORD clsctx, REFIID iid, void** ppv) {
  if (!ppv) return E_POINTER;
  *ppv = nullptr;
  return simdex::GuardHResult([&] {
    simdex::ClearLastErrorText();
    IClassFactory* factory = nullptr;
    HRESULT hr = simdex::FactoryFor(clsid, clsctx, &factory);
    if (FAILED(hr)) return hr;
    hr = factory->CreateInstance(outer, iid, ppv);
    if (FAILED(hr))
      simdex::SetLastErrorText("class " + simdex::FormatGuid(clsid) +
                               ": the class factory refused to create the object");
    return hr;
  });
}

namespace simdex {
namespace {

HRESULT LookUpProgID(const char* progid, CLSID* clsid) {
  *clsid = CLSID{};
  Registry registry;
  RegistryKey root;
  Status s = Registry::OpenDefault(&registry);
  if (s.ok()) s = registry.Read(&root);
  if (!s.ok()) return FailWith(REGDB_E_READREGDB, s.ToString());
  std::string name = progid;
  auto unknown = [&] {
    return FailWith(CO_E_CLASSSTRING,
                    "ProgID '" + name + "' is not registered in '" + registry.path() + "'");
  };
  // A ProgID is one key name: a '\' would walk into other keys.
  if (!RegistryKey::IsValidName(name)) return unknown();
  const RegistryKey* key = root.Find(name);
  if (!key) return unknown();
  const RegistryKey* id = key->Find("CLSID");
  if (!id) {
    // A version-independent ProgID without its own CLSID: follow CurVer.
    const RegistryKey* cur = key->Find("CurVer");
    if (cur && cur->DefaultValue() && RegistryKey::IsValidName(*cur->DefaultValue()))
      if (const RegistryKey* current = root.Find(*cur->DefaultValue())) id = current->Find("CLSID");
  }
  if (!id || !id->DefaultValue()) return unknown();
  auto parsed = ParseGuid(*id->DefaultValue());
  if (!parsed)
    return FailWith(
        REGDB_E_INVALIDVALUE,
        "ProgID '" + name + "' names a malformed class identifier '" + *id->DefaultValue() + "'");
  *clsid = *parsed;
  return S_OK;
}

}  // namespace
}  // namespace simdex

HRESULT CLSIDFromProgID(const char* progid, CLSID* clsid) {
  simdex::ClearLastErrorText();
  if (!progid || !clsid) return E_POINTER;
  return simdex::GuardHResult([&] { return simdex::LookUpProgID(progid, clsid); });
}
