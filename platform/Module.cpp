#include "platform/Module.h"

#include <dlfcn.h>
#include <limits.h>
#include <stdlib.h>

#include <atomic>
#include <cstdio>
#include <vector>

#include "platform/LastError.h"
#include "platform/ModuleResources.h"
#include "platform/Registrar.h"
#include "platform/Registry.h"
#include "platform/TypeInfo.h"

namespace simdex {
namespace {

std::atomic<long> lock_count{0};
std::atomic<long> server_locks{0};

// Everything a registration needs, read from the module's own table.
struct Registration {
  std::string path;
  std::string script;
  std::vector<TypeLibDescription> libraries;
};

HRESULT Prepare(std::span<const unsigned char> table, Registration* r, const char* action) {
  auto fail = [&](HRESULT hr, const std::string& why) {
    std::string text = std::string(action) + " of '" + r->path + "' failed: " + why;
    std::fprintf(stderr, "simdex: %s\n", text.c_str());
    return FailWith(hr, text);
  };
  Status s = ThisModulePath(&r->path);
  if (!s.ok()) return fail(SELFREG_E_CLASS, s.ToString());
  ModuleResources resources;
  s = ModuleResources::Parse(table, r->path, &resources);
  if (!s.ok()) return fail(SELFREG_E_CLASS, s.ToString());
  const Resource* script = resources.Find(kRegistryResource, kRegistryScriptId);
  if (!script) return fail(SELFREG_E_CLASS, "the module has no registration script");
  r->script = script->data;
  for (const Resource* lib : resources.FindAll(kTypeLibResource)) {
    TypeLibDescription desc;
    s = ParseTypeLib(lib->data, &desc);
    if (!s.ok()) return fail(SELFREG_E_TYPELIB, s.ToString());
    r->libraries.push_back(std::move(desc));
  }
  return S_OK;
}

HRESULT Apply(std::span<const unsigned char> table, bool registering) {
  ClearLastErrorText();
  const char* action = registering ? "registration" : "unregistration";
  Registration r;
  HRESULT hr = Prepare(table, &r, action);
  if (FAILED(hr)) return hr;
  Registrar registrar;
  registrar.AddReplacement("MODULE", r.path);
  Registry registry;
  Status s = Registry::OpenDefault(&registry);
  HRESULT failure = SELFREG_E_CLASS;
  if (s.ok()) {
    s = registry.Update([&](RegistryKey& root) -> Status {
      SIMDEX_RETURN_IF_ERROR(registering ? registrar.Register(r.script, root)
                                         : registrar.Unregister(r.script, root));
      failure = SELFREG_E_TYPELIB;
      for (const auto& lib : r.libraries)
        SIMDEX_RETURN_IF_ERROR(registering ? RegisterTypeLib(lib, r.path, root)
                                           : UnRegisterTypeLib(lib, r.path, root));
      return Status::OK();
    });
  }
  if (s.ok()) return S_OK;
  std::string text = std::string(action) + " of '" + r.path + "' failed: " + s.ToString();
  std::fprintf(stderr, "simdex: %s\n", text.c_str());
  return FailWith(failure, text);
}

}  // namespace

void ModuleLock() { lock_count.fetch_add(1, std::memory_order_relaxed); }
void ModuleUnlock() { lock_count.fetch_sub(1, std::memory_order_acq_rel); }
long ModuleLockCount() { return lock_count.load(std::memory_order_acquire); }

HRESULT ModuleLockServer(bool lock) {
  if (lock) {
    server_locks.fetch_add(1, std::memory_order_relaxed);
    ModuleLock();
    return S_OK;
  }
  long n = server_locks.load(std::memory_order_relaxed);
  do {
    if (n <= 0) return E_UNEXPECTED;
  } while (!server_locks.compare_exchange_weak(n, n - 1, std::memory_order_acq_rel));
  ModuleUnlock();
  return S_OK;
}

Status ThisModulePath(std::string* path) {
  Dl_info info;
  if (::dladdr(reinterpret_cast<void*>(&ThisModulePath), &info) == 0 || !info.dli_fname)
    return Status::NotFound("cannot find the path of this module");
  char resolved[PATH_MAX];
  if (!::realpath(info.dli_fname, resolved))
    return Status::NotFound(std::string("cannot resolve the path of module '") + info.dli_fname +
                            "'");
  *path = resolved;
  return Status::OK();
}

HRESULT ModuleRegisterServer(std::span<const unsigned char> resources) {
  return GuardHResult([&] { return Apply(resources, /*registering=*/true); });
}

HRESULT ModuleUnregisterServer(std::span<const unsigned char> resources) {
  return GuardHResult([&] { return Apply(resources, /*registering=*/false); });
}

}  // namespace simdex
