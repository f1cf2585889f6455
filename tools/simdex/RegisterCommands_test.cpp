// simdex register / unregister, driven through the built command.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "tools/simdex/IndexTool_test.h"
#include "tools/simdex/ToolRunner_test.h"

namespace simdex::cli {
namespace {

bool Has(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

class RegisterCommandsTest : public ::testing::Test {
 protected:
  ToolRun Run(std::vector<std::string> args) {
    args.push_back("--registry");
    args.push_back(registry_);
    return RunTool(args);
  }
  // Whether a VectorA / VectorB index can be made: the class is registered.
  int Create(const std::string& cls) {
    return Run({"create", dir_.File("idx-" + cls + std::to_string(++made_)), "--class", cls,
                "--max-distance", "2"})
        .exitCode;
  }

  TempDir dir_;
  std::string registry_ = dir_.File("registry.txt");
  int made_ = 0;
};

TEST_F(RegisterCommandsTest, WithoutArgumentsRegistersAndUnregistersTheBuiltModules) {
  ToolRun r = Run({"register"});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  for (const char* module :
       {SIMDEX_SIMDEXDLL_MODULE, SIMDEX_VECTORA_MODULE, SIMDEX_VECTORB_MODULE}) {
    EXPECT_TRUE(Has(r.out, std::string("registered '") + module + "' in '" + registry_ + "'"))
        << r.out;
  }
  EXPECT_EQ(Create("VectorA"), 0);
  EXPECT_EQ(Create("VectorB"), 0);

  r = Run({"unregister"});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_TRUE(Has(r.out, std::string("unregistered '") + SIMDEX_VECTORB_MODULE + "'")) << r.out;
  r = Run({"create", dir_.File("after"), "--class", "VectorA", "--max-distance", "2"});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_TRUE(Has(r.err, "run `simdex register`")) << r.err;
}

TEST_F(RegisterCommandsTest, GivenPathsRegisterOnlyThoseAndABadPathFailsAlone) {
  const std::string missing = dir_.File("NoSuchModule.so");
  ToolRun r = Run({"register", SIMDEX_VECTORA_MODULE, missing});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_TRUE(Has(r.err, missing)) << r.err;
  EXPECT_TRUE(Has(r.err, "1 of 2 modules failed")) << r.err;
  EXPECT_EQ(Create("VectorA"), 0);
  EXPECT_EQ(Create("VectorB"), 1);

  // A file that is not a component module.
  r = Run({"register", registry_});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_TRUE(Has(r.err, registry_)) << r.err;

  r = Run({"unregister", SIMDEX_VECTORA_MODULE});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(Create("VectorA"), 1);
}

TEST_F(RegisterCommandsTest, ModuleDirectoryFromTheEnvironmentWins) {
  const std::filesystem::path modules = dir_.File("modules");
  std::filesystem::create_directory(modules);
  for (const char* module :
       {SIMDEX_SIMDEXDLL_MODULE, SIMDEX_VECTORA_MODULE, SIMDEX_VECTORB_MODULE}) {
    std::filesystem::copy_file(module, modules / std::filesystem::path(module).filename());
  }
  ::setenv("SIMDEX_MODULE_DIR", modules.c_str(), 1);
  ToolRun r = Run({"register"});
  ::unsetenv("SIMDEX_MODULE_DIR");
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_TRUE(Has(r.out, "registered '" + (modules / "VectorB.so").string() + "'")) << r.out;
  EXPECT_FALSE(Has(r.out, SIMDEX_VECTORB_MODULE)) << r.out;
  EXPECT_EQ(Create("VectorB"), 0);
}

}  // namespace
}  // namespace simdex::cli
