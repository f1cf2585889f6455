// simdex register / unregister: the modules' own DllRegisterServer and
// DllUnregisterServer, run inside this process.
#include <CLI/CLI.hpp>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "platform/Module.h"
#include "platform/Registry.h"
#include "platform/SharedLibrary.h"
#include "tools/simdex/CommandContext.h"
#include "tools/simdex/ModuleLocator.h"

namespace simdex::cli {
namespace {

// Loads the module and calls its entry point; the module itself prints the
// cause of a failed registration.
Status CallEntry(const std::string& path, bool registering) {
  const char* entry = registering ? "DllRegisterServer" : "DllUnregisterServer";
  SharedLibrary module;
  Status s = SharedLibrary::Open(path, &module);
  if (!s.ok()) return Status(s);
  auto fn = reinterpret_cast<DllRegisterServerFn>(module.Symbol(entry));
  if (fn == nullptr) {
    return Status::InvalidArgument("'" + path + "' has no " + entry +
                                   ": it is not a component module");
  }
  const HRESULT hr = fn();
  if (FAILED(hr)) {
    char code[16];
    std::snprintf(code, sizeof code, "0x%08X", static_cast<unsigned>(hr));
    return Status::IOError(std::string(entry) + " of '" + path + "' failed with status " + code);
  }
  return Status::OK();
}

Status Run(const char* command, bool registering, std::vector<std::string> modules) {
  std::string registry;
  SIMDEX_RETURN_IF_ERROR(Registry::DefaultPath(&registry));
  if (modules.empty()) {
    std::string origin;
    modules = ModuleLocator::DefaultModules(&origin);
    std::printf("modules from %s\n", origin.c_str());
  }
  int failed = 0;
  for (const std::string& path : modules) {
    Status s = CallEntry(path, registering);
    if (s.ok()) {
      std::printf("%s '%s' %s '%s'\n", registering ? "registered" : "unregistered", path.c_str(),
                  registering ? "in" : "from", registry.c_str());
    } else {
      std::fprintf(stderr, "simdex %s: %s\n", command, s.message().c_str());
      ++failed;
    }
  }
  std::fflush(stdout);
  if (failed > 0) {
    return Status::IOError(std::to_string(failed) + " of " + std::to_string(modules.size()) +
                           " modules failed");
  }
  return Status::OK();
}

void AddOne(CLI::App& app, CommandContext& ctx, bool registering) {
  const char* name = registering ? "register" : "unregister";
  CLI::App* cmd = app.add_subcommand(
      name, registering ? "Register the engine and plug-in modules in the registry"
                        : "Remove the engine and plug-in modules from the registry");
  auto modules = std::make_shared<std::vector<std::string>>();
  cmd->add_option("MODULE", *modules,
                  "Module files (default: SimdexDLL.so, VectorA.so and VectorB.so from "
                  "$SIMDEX_MODULE_DIR, else beside the installed command, else from the build "
                  "tree)");
  cmd->footer(registering ? "Examples:\n"
                            "  simdex register\n"
                            "  simdex --registry reg.txt register\n"
                            "  simdex register /opt/simdex/lib/simdex/VectorA.so"
                          : "Examples:\n"
                            "  simdex unregister\n"
                            "  simdex unregister --registry reg.txt ./VectorB.so");
  cmd->callback(
      [&ctx, modules, registering, name] { ctx.Finish(name, Run(name, registering, *modules)); });
}

}  // namespace

void AddRegisterCommands(CLI::App& app, CommandContext& ctx) {
  AddOne(app, ctx, true);
  AddOne(app, ctx, false);
}

}  // namespace simdex::cli
