#include "platform/Registrar.h"

#include <gtest/gtest.h>

namespace simdex {
namespace {

// The shape every module's script has: ProgID keys, a never-removed CLSID
// root, a class key rewritten from scratch.
std::string ClassScript(const std::string& name, const std::string& clsid) {
  return "# " + name +
         "\n"
         "key '" +
         name + ".Object.1' = '" + name +
         " Class' {\n"
         "  key CLSID = '" +
         clsid +
         "'\n"
         "}\n"
         "key '" +
         name + ".Object' = '" + name +
         " Class' {\n"
         "  key CLSID = '" +
         clsid +
         "'\n"
         "  key CurVer = '" +
         name +
         ".Object.1'\n"
         "}\n"
         "keep key CLSID {\n"
         "  replace key '" +
         clsid + "' = '" + name +
         " Class' {\n"
         "    replace key Programmable\n"
         "    key InprocServer32 = '%MODULE%' { value ThreadingModel = 'Apartment' }\n"
         "  }\n"
         "}\n";
}

TEST(RegistrarTest, RegisterWritesKeysWithTheModulePathQuoted) {
  Registrar registrar;
  registrar.AddReplacement("MODULE", "/opt/it's here/%A%.so");
  RegistryKey root;
  ASSERT_TRUE(registrar.Register(ClassScript("VectorA", "{A}") + "key Pct = '100%%'\n", root).ok());
  const RegistryKey* server = root.Find("CLSID\\{A}\\InprocServer32");
  ASSERT_NE(server, nullptr);
  EXPECT_EQ(*server->DefaultValue(), "/opt/it's here/%A%.so");
  EXPECT_EQ(*server->Value("ThreadingModel"), "Apartment");
  EXPECT_TRUE(root.Find("CLSID\\{A}\\Programmable")->IsEmpty());
  EXPECT_EQ(*root.Find("VectorA.Object\\CurVer")->DefaultValue(), "VectorA.Object.1");
  EXPECT_EQ(*root.Find("VectorA.Object.1\\CLSID")->DefaultValue(), "{A}");
  EXPECT_EQ(*root.Find("Pct")->DefaultValue(), "100%");
}

TEST(RegistrarTest, ReplacedKeysStartCleanWhilePlainKeysKeepOtherEntries) {
  Registrar registrar;
  registrar.AddReplacement("MODULE", "/new.so");
  RegistryKey root;
  RegistryKey* key = nullptr;
  ASSERT_TRUE(root.Create("CLSID\\{A}\\Stale", &key).ok());
  ASSERT_TRUE(root.Create("CLSID\\{A}\\Programmable\\Stale", &key).ok());
  ASSERT_TRUE(root.Create("VectorA.Object\\Foreign", &key).ok());
  ASSERT_TRUE(registrar.Register(ClassScript("VectorA", "{A}"), root).ok());
  EXPECT_EQ(root.Find("CLSID\\{A}\\Stale"), nullptr);
  EXPECT_TRUE(root.Find("CLSID\\{A}\\Programmable")->IsEmpty());
  EXPECT_NE(root.Find("VectorA.Object\\Foreign"), nullptr);
}

TEST(RegistrarTest, UnregisterRemovesOwnEntriesButNeverTheKeptRoot) {
  Registrar registrar;
  registrar.AddReplacement("MODULE", "/m.so");
  RegistryKey root;
  ASSERT_TRUE(registrar.Register(ClassScript("VectorA", "{A}"), root).ok());
  ASSERT_TRUE(registrar.Register(ClassScript("VectorB", "{B}"), root).ok());
  RegistryKey* foreign = nullptr;
  ASSERT_TRUE(root.Create("VectorA.Object\\Foreign", &foreign).ok());

  ASSERT_TRUE(registrar.Unregister(ClassScript("VectorA", "{A}"), root).ok());
  EXPECT_EQ(root.Find("CLSID\\{A}"), nullptr);
  EXPECT_EQ(root.Find("VectorA.Object.1"), nullptr);
  // A plain key that still holds another module's entry stays, without ours.
  ASSERT_NE(root.Find("VectorA.Object"), nullptr);
  EXPECT_EQ(root.Find("VectorA.Object\\CurVer"), nullptr);
  EXPECT_EQ(root.Find("VectorA.Object")->DefaultValue(), nullptr);
  EXPECT_NE(root.Find("CLSID\\{B}\\InprocServer32"), nullptr);

  ASSERT_TRUE(registrar.Unregister(ClassScript("VectorB", "{B}"), root).ok());
  ASSERT_NE(root.Find("CLSID"), nullptr);
  EXPECT_TRUE(root.Find("CLSID")->IsEmpty());
  EXPECT_EQ(root.Find("VectorB.Object"), nullptr);
}

TEST(RegistrarTest, BadScriptsAreRefusedAndChangeNothing) {
  const char* scripts[] = {
      "key A = 'unterminated\n",
      "key A {\n  key B\n",
      "key A }\n",
      "value V = 'x'\n",
      "keep A\n",
      "key A = B\n",
      "key A = 'x' { value V 'y' }\n",
      "key 'a\\b'\n",
      "key A = '%NOPE%'\n",
      "key A = '%MODULE'\n",
      "key A ; B\n",
  };
  Registrar registrar;
  registrar.AddReplacement("MODULE", "/m.so");
  for (const char* script : scripts) {
    RegistryKey root;
    Status s = registrar.Register(std::string("key First\n") + script, root);
    EXPECT_TRUE(s.IsInvalidArgument()) << script;
    EXPECT_TRUE(root.IsEmpty()) << script;
  }
  RegistryKey root;
  Status s = registrar.Register("key A\n\nkey B {\n  value = 'x'\n}\n", root);
  EXPECT_NE(s.message().find("line 4"), std::string::npos) << s.message();
}

}  // namespace
}  // namespace simdex
