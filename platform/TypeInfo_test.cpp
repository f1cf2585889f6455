#include "platform/TypeInfo.h"

#include <gtest/gtest.h>

#include "platform/ComPtr.h"
#include "platform/LastError.h"
#include "platform/Registry.h"
#include "platform/TestSupport_test.h"

namespace simdex {
namespace {

using testing::ExecutablePath;
using testing::TempRegistry;

constexpr std::string_view kServiceLike = R"(# comment line
library SIMDEXDLLLib {BDA6897C-0D43-4783-BC2C-303D07A75AD6} 1.0 409 "SimdexDLL 1.0 Type Library"
interface ISimdex {2DCF5FED-596E-4449-A271-9C616F846E03} dual : IDispatch "ISimdex Interface"
  1 Create(string directory, double max_distance, GUID MTobject_guid)
  5 Insert(unsigned oid, IMTobject* obj)
  7 getObject([retval] IMTobject** obj)
  10 setMaxDistance(double d)
  12 setApproximationMethod(int method)
  13 setApproximationThresholds(doubles thresholds, int num)
  14 generateStatistics()
  15 getObjectDistance([retval] double* dist)
end
coclass Simdex {9932A647-D6D8-4362-AB01-068B00A27928} "Simdex Class"
  default ISimdex
end
)";

TEST(TypeInfoTest, DescriptionKeepsVtableOrderDispidsAndParameterKinds) {
  TypeLibDescription lib;
  ASSERT_TRUE(ParseTypeLib(kServiceLike, &lib).ok());
  EXPECT_EQ(lib.name, "SIMDEXDLLLib");
  EXPECT_EQ(lib.doc, "SimdexDLL 1.0 Type Library");
  EXPECT_EQ(lib.major, 1);
  EXPECT_EQ(lib.minor, 0);
  EXPECT_EQ(lib.lcid, 0x409u);
  ASSERT_EQ(lib.interfaces.size(), 1u);
  const auto& itf = lib.interfaces[0];
  EXPECT_TRUE(itf.dual);
  ASSERT_EQ(itf.methods.size(), 8u);
  EXPECT_EQ(itf.methods[4].name, "setApproximationMethod");
  EXPECT_EQ(itf.methods[4].id, 12);
  EXPECT_EQ(itf.methods[4].vtableIndex, 7u + 4u);
  const auto& create = itf.methods[0].params;
  ASSERT_EQ(create.size(), 3u);
  EXPECT_EQ(create[0].kind, ParamKind::kString);
  EXPECT_EQ(create[1].kind, ParamKind::kDouble);
  EXPECT_EQ(create[2].kind, ParamKind::kGuid);
  EXPECT_EQ(itf.methods[1].params[0].kind, ParamKind::kUInt32);
  EXPECT_EQ(itf.methods[1].params[1].interfaceName, "IMTobject");
  EXPECT_TRUE(itf.methods[2].params[0].retval);
  EXPECT_EQ(itf.methods[2].params[0].kind, ParamKind::kObject);
  EXPECT_EQ(itf.methods[5].params[0].kind, ParamKind::kDoubles);
  EXPECT_TRUE(itf.methods[6].params.empty());
  ASSERT_EQ(lib.coclasses.size(), 1u);
  EXPECT_EQ(lib.coclasses[0].defaultInterface, "ISimdex");

  ComPtr<ITypeLib> tl;
  ASSERT_EQ(CreateTypeLib(std::make_shared<TypeLibDescription>(std::move(lib)), tl.Put()), S_OK);
  ComPtr<ITypeInfo> info;
  ASSERT_EQ(
      tl->GetTypeInfoOfGuid(GuidLiteral("{2DCF5FED-596E-4449-A271-9C616F846E03}"), info.Put()),
      S_OK);
  const char* names[] = {"SETAPPROXIMATIONTHRESHOLDS", "num", "bogus"};
  DISPID ids[3];
  EXPECT_EQ(info->GetIDsOfNames(names, 3, ids), DISP_E_UNKNOWNNAME);
  EXPECT_EQ(ids[0], 13);
  EXPECT_EQ(ids[1], 1);
  EXPECT_EQ(ids[2], DISPID_UNKNOWN);
  EXPECT_EQ(tl->GetTypeInfoOfGuid(IID_IMTobject, info.Put()), TYPE_E_ELEMENTNOTFOUND);
}

TEST(TypeInfoTest, MalformedDescriptionsAreRefused) {
  const std::string lib = "library L {C4AE5A17-F407-483C-BD60-1F3C10D5249B} 1.0 409 \"d\"\n";
  const std::string itf = "interface I {173A2A9D-2E0A-43DB-9654-CDC23EE751F7} dual : IDispatch\n";
  const std::string bodies[] = {
      "  1 f([retval] int* a, int b)\nend\n",
      "  1 f()\n  1 g()\nend\n",
      "  1 f()\n  2 F()\nend\n",
      "  1 f(IMTobject o)\nend\n",
      "  1 f([retval] GUID* g)\nend\n",
      "  1 f([retval] int a)\nend\n",
      "  1 f(int a, double a)\nend\n",
      "  -1 f()\nend\n",
      "  1 f(int a\nend\n",
      "  1 f()\n",
  };
  for (const auto& body : bodies) {
    TypeLibDescription out;
    EXPECT_TRUE(ParseTypeLib(lib + itf + body, &out).IsInvalidArgument()) << body;
  }
  const std::string whole[] = {
      itf + "end\n",
      lib + lib,
      lib + "interface I {173A2A9D} : IDispatch\nend\n",
      lib + "interface I {173A2A9D-2E0A-43DB-9654-CDC23EE751F7} dual : IUnknown\nend\n",
      lib + "coclass C {173A2A9D-2E0A-43DB-9654-CDC23EE751F7}\n  default Missing\nend\n",
      "library L {C4AE5A17-F407-483C-BD60-1F3C10D5249B} one 409 \"d\"\n",
  };
  for (const auto& text : whole) {
    TypeLibDescription out;
    EXPECT_TRUE(ParseTypeLib(text, &out).IsInvalidArgument()) << text;
  }
}

TEST(TypeInfoTest, UnregistrationLeavesAnotherModulesRegistration) {
  TypeLibDescription lib;
  ASSERT_TRUE(ParseTypeLib(kServiceLike, &lib).ok());
  RegistryKey root;
  ASSERT_TRUE(RegisterTypeLib(lib, "/a/VectorA.so", root).ok());
  ASSERT_TRUE(RegisterTypeLib(lib, "/b/VectorB.so", root).ok());
  const std::string key = "TypeLib\\{BDA6897C-0D43-4783-BC2C-303D07A75AD6}\\1.0";
  EXPECT_EQ(*root.Find(key)->DefaultValue(), "SimdexDLL 1.0 Type Library");
  EXPECT_EQ(*root.Find(key + "\\HELPDIR")->DefaultValue(), "/b");

  ASSERT_TRUE(UnRegisterTypeLib(lib, "/a/VectorA.so", root).ok());
  EXPECT_EQ(*root.Find(key + "\\409\\linux64")->DefaultValue(), "/b/VectorB.so");
  ASSERT_TRUE(UnRegisterTypeLib(lib, "/b/VectorB.so", root).ok());
  EXPECT_EQ(root.Find("TypeLib\\{BDA6897C-0D43-4783-BC2C-303D07A75AD6}"), nullptr);
}

TEST(TypeInfoTest, LoadRegTypeLibReadsTheRegisteredModule) {
  TempRegistry temp;
  ComPtr<ITypeLib> lib;
  EXPECT_EQ(LoadRegTypeLib(testing::LIBID_UnregisteredLib, 1, 0, 0x409, lib.Put()),
            TYPE_E_LIBNOTREGISTERED);
  EXPECT_NE(LastErrorText().find(temp.path()), std::string::npos) << LastErrorText();

  TypeLibDescription desc;
  desc.libid = testing::LIBID_UnregisteredLib;
  desc.major = 1;
  Registry registry(temp.path());
  ASSERT_TRUE(registry
                  .Update([&](RegistryKey& root) {
                    return RegisterTypeLib(desc, temp.dir() + "/gone.so", root);
                  })
                  .ok());
  EXPECT_EQ(LoadRegTypeLib(testing::LIBID_UnregisteredLib, 1, 0, 0x409, lib.Put()),
            TYPE_E_CANTLOADLIBRARY);
  EXPECT_NE(LastErrorText().find("gone.so"), std::string::npos) << LastErrorText();

  // Registered under locale 0 and held by this executable: found by fallback.
  desc.libid = testing::LIBID_TestCalcLib;
  desc.lcid = 0;
  ASSERT_TRUE(
      registry
          .Update([&](RegistryKey& root) { return RegisterTypeLib(desc, ExecutablePath(), root); })
          .ok());
  ASSERT_EQ(LoadRegTypeLib(testing::LIBID_TestCalcLib, 1, 0, 0x409, lib.Put()), S_OK);
  BSTR name = nullptr;
  lib->GetDocumentation(&name, nullptr);
  EXPECT_STREQ(name, "TestCalcLib");
  SysFreeString(name);
  EXPECT_EQ(LoadRegTypeLib(testing::LIBID_TestCalcLib, 2, 0, 0x409, lib.Put()),
            TYPE_E_LIBNOTREGISTERED);
}

}  // namespace
}  // namespace simdex
