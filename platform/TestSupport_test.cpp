#include "platform/TestSupport_test.h"

#include <limits.h>
#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "platform/ModuleResources.h"

namespace simdex::testing {
namespace {

constexpr std::string_view kTestCalcLib = R"(# The test library of the dispatch tests.
library TestCalcLib {5E0F3B0A-9C55-4C1E-8E2B-1A7C0D2E4F61} 1.0 409 "TestCalc 1.0 Type Library"
interface ITestCalc {5E0F3B0A-9C55-4C1E-8E2B-1A7C0D2E4F70} dual : IDispatch "ITestCalc Interface"
  1 Create(string directory, double maxDistance, GUID objectClass)
  2 Insert(unsigned oid, IMTobject* obj)
  3 next([retval] int* b)
  4 getObject([retval] IMTobject** obj)
  5 getObjectId([retval] unsigned* oid)
  6 setThresholds(doubles thresholds, int num)
  7 getDistance([retval] double* d)
  8 fill(bytes buff, [retval] int* size)
  9 fail()
  12 setMethod(int method)
end
)";

// Describes ITestCalc with a Create the code can't serve.
constexpr std::string_view kMismatchLib = R"(
library MismatchLib {5E0F3B0A-9C55-4C1E-8E2B-1A7C0D2E4F62} 1.0 409 "Mismatch"
interface ITestCalc {5E0F3B0A-9C55-4C1E-8E2B-1A7C0D2E4F70} dual : IDispatch
  1 Create(int directory)
end
)";

SIMDEX_RESOURCE_TABLE(kTestResources, {"REGISTRY", 101, "key Test = 'it''s'\n"},
                      {"TYPELIB", 1, kTestCalcLib}, {"TYPELIB", 2, kMismatchLib},
                      {"STRING", 100, "platform", "_test"});

}  // namespace

TempRegistry::TempRegistry() {
  char tmpl[] = "/tmp/simdex-test-XXXXXX";
  const char* made = ::mkdtemp(tmpl);
  EXPECT_NE(made, nullptr);
  dir_ = made ? made : "/tmp";
  path_ = dir_ + "/registry.txt";
  if (const char* old = std::getenv("SIMDEX_REGISTRY")) {
    saved_ = old;
    hadSaved_ = true;
  }
  ::setenv("SIMDEX_REGISTRY", path_.c_str(), 1);
}

TempRegistry::~TempRegistry() {
  if (hadSaved_)
    ::setenv("SIMDEX_REGISTRY", saved_.c_str(), 1);
  else
    ::unsetenv("SIMDEX_REGISTRY");
  std::error_code ec;
  std::filesystem::remove_all(dir_, ec);
}

std::string ReadFileBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

void WriteFileBytes(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << bytes;
}

std::string ExecutablePath() {
  char buf[PATH_MAX];
  ssize_t n = ::readlink("/proc/self/exe", buf, sizeof buf - 1);
  if (n <= 0) return "";
  return std::string(buf, static_cast<std::size_t>(n));
}

std::span<const unsigned char> TestResourceTable() { return kTestResources; }

}  // namespace simdex::testing
