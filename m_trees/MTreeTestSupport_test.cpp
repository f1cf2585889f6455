// Registers the two vector modules of the build into a registry of the test
// program's own before the first test, and removes it after the last.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <string>

#include "platform/Module.h"
#include "platform/SharedLibrary.h"

namespace simdex::mtree_testing {
namespace {

class VectorRegistry : public ::testing::Environment {
 public:
  void SetUp() override {
    std::string pattern = ::testing::TempDir() + "simdex-mtrees-XXXXXX";
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    dir_ = pattern;
    ::setenv("SIMDEX_REGISTRY", (dir_ + "/registry.txt").c_str(), 1);
    for (const char* module : {SIMDEX_VECTORA_MODULE, SIMDEX_VECTORB_MODULE}) {
      SharedLibrary library;
      Status s = SharedLibrary::Open(module, &library);
      ASSERT_TRUE(s.ok()) << s.ToString();
      auto entry = reinterpret_cast<DllRegisterServerFn>(library.Symbol("DllRegisterServer"));
      ASSERT_NE(entry, nullptr) << module;
      ASSERT_EQ(entry(), S_OK) << module;
    }
  }
  void TearDown() override {
    std::error_code ec;
    std::filesystem::remove_all(dir_, ec);
  }

 private:
  std::string dir_;
};

[[maybe_unused]] ::testing::Environment* const kVectorRegistry =
    ::testing::AddGlobalTestEnvironment(new VectorRegistry);

}  // namespace
}  // namespace simdex::mtree_testing
