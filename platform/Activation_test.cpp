#include "platform/Activation.h"

#include <dlfcn.h>
#include <gtest/gtest.h>

#include <filesystem>

#include "platform/ComPtr.h"
#include "platform/LastError.h"
#include "platform/Registry.h"
#include "platform/TestSupport_test.h"

namespace simdex {
namespace {

using testing::ReadFileBytes;
using testing::TempRegistry;
using testing::WriteFileBytes;

constexpr CLSID kClass = GuidLiteral("{6A1B2C3D-4E5F-4061-8293-A4B5C6D7E8F9}");

void RegisterServer(const std::string& registry, const CLSID& clsid, const std::string& path) {
  ASSERT_TRUE(Registry(registry)
                  .Update([&](RegistryKey& root) {
                    RegistryKey* key = nullptr;
                    SIMDEX_RETURN_IF_ERROR(
                        root.Create("CLSID\\" + FormatGuid(clsid) + "\\InprocServer32", &key));
                    key->SetDefaultValue(path);
                    return Status::OK();
                  })
                  .ok());
}

std::string LibcPath() {
  Dl_info info;
  EXPECT_NE(::dladdr(reinterpret_cast<void*>(&::dladdr), &info), 0);
  return info.dli_fname;
}

TEST(ActivationTest, FailuresGiveAStatusAndTextNamingTheCause) {
  TempRegistry temp;
  const std::string deleted = temp.dir() + "/VectorA.so";
  WriteFileBytes(deleted, ReadFileBytes(LibcPath()));
  const std::string garbage = temp.dir() + "/garbage.so";
  WriteFileBytes(garbage, "this is not a module");
  struct Case {
    const char* name;
    std::string server;  // empty: no registration
    HRESULT expected;
    std::string mentions;
  };
  const Case cases[] = {
      {"class not registered", "", REGDB_E_CLASSNOTREG, temp.path()},
      {"module deleted after registration", deleted, CO_E_DLLNOTFOUND, deleted},
      {"file that is not a module", garbage, CO_E_ERRORINDLL, garbage},
      {"library without entry points", LibcPath(), CO_E_ERRORINDLL, "DllGetClassObject"},
  };
  std::filesystem::remove(deleted);
  int n = 0;
  for (const auto& c : cases) {
    // A new class each time: successes and failures are not mixed up by caching.
    CLSID clsid = kClass;
    clsid.Data1 += static_cast<std::uint32_t>(++n);
    if (!c.server.empty()) RegisterServer(temp.path(), clsid, c.server);
    void* p = reinterpret_cast<void*>(1);
    EXPECT_EQ(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown, &p), c.expected)
        << c.name;
    EXPECT_EQ(p, nullptr);
    EXPECT_NE(LastErrorText().find(c.mentions), std::string::npos)
        << c.name << ": " << LastErrorText();
    EXPECT_NE(LastErrorText().find(FormatGuid(clsid)), std::string::npos) << LastErrorText();
    EXPECT_EQ(CoGetClassObject(clsid, CLSCTX_SERVER, nullptr, IID_IUnknown, &p), c.expected)
        << c.name;
  }
  void* p = nullptr;
  EXPECT_EQ(CoCreateInstance(kClass, nullptr, CLSCTX_LOCAL_SERVER, IID_IUnknown, &p),
            REGDB_E_CLASSNOTREG);
  EXPECT_EQ(CoCreateInstance(kClass, nullptr, CLSCTX_SERVER, IID_IUnknown, nullptr), E_POINTER);
}

TEST(ActivationTest, CorruptRegistryIsReportedByName) {
  TempRegistry temp;
  WriteFileBytes(temp.path(), "garbage\n");
  void* p = nullptr;
  EXPECT_EQ(CoCreateInstance(kClass, nullptr, CLSCTX_SERVER, IID_IUnknown, &p), REGDB_E_READREGDB);
  EXPECT_NE(LastErrorText().find(temp.path()), std::string::npos) << LastErrorText();
  CLSID clsid;
  EXPECT_EQ(CLSIDFromProgID("VectorA.VectorAObject", &clsid), REGDB_E_READREGDB);
}

TEST(ActivationTest, ProgIdLeadsToTheClassDirectlyOrThroughCurVer) {
  TempRegistry temp;
  ASSERT_TRUE(Registry(temp.path())
                  .Update([](RegistryKey& root) {
                    RegistryKey* key = nullptr;
                    SIMDEX_RETURN_IF_ERROR(root.Create("Lib.Thing.1\\CLSID", &key));
                    key->SetDefaultValue(FormatGuid(kClass));
                    SIMDEX_RETURN_IF_ERROR(root.Create("Lib.Thing\\CurVer", &key));
                    key->SetDefaultValue("Lib.Thing.1");
                    SIMDEX_RETURN_IF_ERROR(root.Create("Lib.Broken\\CLSID", &key));
                    key->SetDefaultValue("{nonsense}");
                    return Status::OK();
                  })
                  .ok());
  CLSID clsid{};
  ASSERT_EQ(CLSIDFromProgID("Lib.Thing.1", &clsid), S_OK);
  EXPECT_EQ(clsid, kClass);
  clsid = CLSID{};
  ASSERT_EQ(CLSIDFromProgID("LIB.THING", &clsid), S_OK);
  EXPECT_EQ(clsid, kClass);
  EXPECT_EQ(CLSIDFromProgID("Lib.Missing", &clsid), CO_E_CLASSSTRING);
  EXPECT_NE(LastErrorText().find("Lib.Missing"), std::string::npos);
  EXPECT_EQ(CLSIDFromProgID("Lib.Thing.1\\CLSID", &clsid), CO_E_CLASSSTRING);
  EXPECT_EQ(CLSIDFromProgID("Lib.Broken", &clsid), REGDB_E_INVALIDVALUE);
  EXPECT_EQ(CLSIDFromProgID(nullptr, &clsid), E_POINTER);
}

}  // namespace
}  // namespace simdex
