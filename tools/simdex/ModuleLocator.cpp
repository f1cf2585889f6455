#include "tools/simdex/ModuleLocator.h"

#include <cstdlib>
#include <filesystem>
#include <system_error>

namespace simdex::cli {
namespace {

std::vector<std::string> In(const std::filesystem::path& dir) {
  std::vector<std::string> paths;
  for (const char* name : ModuleLocator::kModuleNames) paths.push_back((dir / name).string());
  return paths;
}

}  // namespace

std::vector<std::string> ModuleLocator::DefaultModules(std::string* origin) {
  const char* env = std::getenv("SIMDEX_MODULE_DIR");
  if (env != nullptr && *env != '\0') {
    *origin = std::string("$SIMDEX_MODULE_DIR (") + env + ")";
    return In(env);
  }
  std::error_code ec;
  const std::filesystem::path exe = std::filesystem::read_symlink("/proc/self/exe", ec);
  if (!ec) {
    const std::filesystem::path installed =
        (exe.parent_path() / SIMDEX_MODULE_DIR_FROM_BIN).lexically_normal();
    if (std::filesystem::is_regular_file(installed / kModuleNames[0], ec)) {
      *origin = installed.string();
      return In(installed);
    }
  }
  *origin = "the build tree";
  return {SIMDEX_BUILD_SIMDEXDLL_MODULE, SIMDEX_BUILD_VECTORA_MODULE, SIMDEX_BUILD_VECTORB_MODULE};
}

}  // namespace simdex::cli
