// simdex-register: installs component modules into the registry.
//
//   simdex-register [--registry FILE] [register] MODULE...
//   simdex-register [--registry FILE] unregister MODULE...
//   simdex-register list MODULE...
//
// register/unregister load each module and call its DllRegisterServer or
// DllUnregisterServer; list prints the resources embedded in each module
// (registration script, type libraries, version, name) without loading it.
// The registry is $SIMDEX_REGISTRY, or FILE when --registry is given, else
// the per-user default.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "platform/Module.h"
#include "platform/ModuleResources.h"
#include "platform/Registry.h"
#include "platform/SharedLibrary.h"

namespace {

int Usage() {
  std::fprintf(stderr,
               "usage: simdex-register [--registry FILE] [register|unregister|list] MODULE...\n");
  return 2;
}

bool Call(const std::string& path, bool registering) {
  const char* entry = registering ? "DllRegisterServer" : "DllUnregisterServer";
  simdex::SharedLibrary module;
  simdex::Status s = simdex::SharedLibrary::Open(path, &module);
  if (!s.ok()) {
    std::fprintf(stderr, "simdex-register: %s\n", s.message().c_str());
    return false;
  }
  auto fn = reinterpret_cast<simdex::DllRegisterServerFn>(module.Symbol(entry));
  if (!fn) {
    std::fprintf(stderr, "simdex-register: '%s' has no %s: it is not a component module\n",
                 path.c_str(), entry);
    return false;
  }
  HRESULT hr = fn();
  if (FAILED(hr)) {
    // The module has printed the cause.
    std::fprintf(stderr, "simdex-register: %s of '%s' failed with status 0x%08X\n", entry,
                 path.c_str(), static_cast<unsigned>(hr));
    return false;
  }
  std::string registry;
  (void)simdex::Registry::DefaultPath(&registry);
  std::printf("%s '%s' %s '%s'\n", registering ? "registered" : "unregistered", path.c_str(),
              registering ? "in" : "from", registry.c_str());
  return true;
}

bool List(const std::string& path) {
  simdex::ModuleResources resources;
  simdex::Status s = simdex::ModuleResources::ReadFromFile(path, &resources);
  if (!s.ok()) {
    std::fprintf(stderr, "simdex-register: %s\n", s.ToString().c_str());
    return false;
  }
  std::printf("%s\n", path.c_str());
  if (resources.entries().empty()) std::printf("  (no resources)\n");
  for (const auto& r : resources.entries()) {
    std::printf("  %s %u:\n", r.type.c_str(), r.id);
    std::size_t start = 0;
    while (start < r.data.size()) {
      auto end = r.data.find('\n', start);
      if (end == std::string::npos) end = r.data.size();
      std::printf("    %.*s\n", static_cast<int>(end - start), r.data.data() + start);
      start = end + 1;
    }
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  int i = 1;
  if (i + 1 < argc && std::strcmp(argv[i], "--registry") == 0) {
    ::setenv("SIMDEX_REGISTRY", argv[i + 1], 1);
    i += 2;
  }
  std::string action = "register";
  if (i < argc && (std::strcmp(argv[i], "register") == 0 ||
                   std::strcmp(argv[i], "unregister") == 0 || std::strcmp(argv[i], "list") == 0))
    action = argv[i++];
  if (i >= argc) return Usage();
  bool ok = true;
  for (; i < argc; ++i) {
    std::string path = argv[i];
    if (action == "list")
      ok = List(path) && ok;
    else
      ok = Call(path, action == "register") && ok;
  }
  return ok ? 0 : 1;
}
