#pragma once
// Which module files `simdex register` and `simdex unregister` use when the
// user names none: the engine and the two vector plug-ins,
//   1. in $SIMDEX_MODULE_DIR when that is set and not empty (only there);
//   2. else in the installed layout beside the command (the module directory
//      relative to the directory of the running executable), when the engine
//      module is there;
//   3. else where this build tree made them.
#include <string>
#include <vector>

namespace simdex::cli {

class ModuleLocator {
 public:
  // File names of the three modules in a module directory.
  static constexpr const char* kModuleNames[] = {"SimdexDLL.so", "VectorA.so", "VectorB.so"};

  // The three module paths (which need not exist) and, in *origin, where
  // they come from, for the user.
  static std::vector<std::string> DefaultModules(std::string* origin);
};

}  // namespace simdex::cli
