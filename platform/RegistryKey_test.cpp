#include "platform/RegistryKey.h"

#include <gtest/gtest.h>

namespace simdex {
namespace {

TEST(RegistryKeyTest, TextFormRoundTripsKeysValuesAndAwkwardBytes) {
  RegistryKey root;
  RegistryKey* key = nullptr;
  ASSERT_TRUE(
      root.Create("CLSID\\{EA421A0D-DE21-4151-8AB6-64682A72994E}\\InprocServer32", &key).ok());
  key->SetDefaultValue("/opt/it's \"here\"\\VectorA.so");
  key->SetValue("ThreadingModel", "Apartment");
  ASSERT_TRUE(root.Create("Empty\\Programmable", &key).ok());
  ASSERT_TRUE(root.Create("Odd]Name [x]", &key).ok());
  key->SetValue("tabs\tand\nlines", std::string("nul\0bell\x07\x7f\xc3\xa9", 12));
  key->SetDefaultValue("");
  root.SetValue("rootValue", "r");

  std::string text = root.Serialize();
  RegistryKey back;
  ASSERT_TRUE(RegistryKey::Parse(text, "f", &back).ok());
  EXPECT_EQ(back.Serialize(), text);
  EXPECT_NE(back.Find("Empty\\Programmable"), nullptr);
  EXPECT_EQ(*back.Find("Odd]Name [x]")->Value("tabs\tand\nlines"),
            std::string("nul\0bell\x07\x7f\xc3\xa9", 12));
  EXPECT_EQ(*back.Find("Odd]Name [x]")->DefaultValue(), "");
  EXPECT_EQ(*back.Value("rootValue"), "r");
}

TEST(RegistryKeyTest, NamesMatchWhateverTheirCase) {
  RegistryKey root;
  RegistryKey* key = nullptr;
  ASSERT_TRUE(root.Create("CLSID\\{ea421a0d-de21}", &key).ok());
  key->SetValue("ThreadingModel", "Apartment");
  RegistryKey* same = nullptr;
  ASSERT_TRUE(root.Create("clsid\\{EA421A0D-DE21}", &same).ok());
  EXPECT_EQ(same, key);
  EXPECT_EQ(*root.Find("Clsid\\{EA421A0D-de21}")->Value("threadingmodel"), "Apartment");
  EXPECT_EQ(root.subkeys().begin()->first, "CLSID");  // spelling as first written
  EXPECT_TRUE(root.Remove("CLSID\\{EA421A0D-DE21}"));
  EXPECT_FALSE(root.Remove("CLSID\\{EA421A0D-DE21}"));
  EXPECT_NE(root.Find("CLSID"), nullptr);
}

TEST(RegistryKeyTest, MalformedPathsAreRefusedAndCreateNothing) {
  for (const char* path : {"", "a\\", "\\a", "a\\\\b", "a\\b\x01", "a\\b\nc"}) {
    RegistryKey root;
    RegistryKey* key = nullptr;
    EXPECT_TRUE(root.Create(path, &key).IsInvalidArgument()) << path;
    EXPECT_TRUE(root.IsEmpty()) << path;
  }
  EXPECT_FALSE(RegistryKey::IsValidName(std::string(256, 'k')));
  EXPECT_TRUE(RegistryKey::IsValidName(std::string(255, 'k')));
}

TEST(RegistryKeyTest, CorruptTextIsRefusedNamingFileAndLine) {
  struct Case {
    const char* text;
    const char* line;
  };
  const Case cases[] = {
      {"not a registry\n", "line 1"},
      {"SIMDEX REGISTRY 1\n[CLSID\n", "line 2"},
      {"SIMDEX REGISTRY 1\n[a\\\\b]\n", "line 2"},
      {"SIMDEX REGISTRY 1\n[a]\n@=\"x\n", "line 3"},
      {"SIMDEX REGISTRY 1\n[a]\n\"n\"\"v\"\n", "line 3"},
      {"SIMDEX REGISTRY 1\n[a]\n\"n\"=\"\\q\"\n", "line 3"},
      {"SIMDEX REGISTRY 1\n[a]\n\"n\"=\"\\x4\"\n", "line 3"},
      {"SIMDEX REGISTRY 1\n[a]\n@=\"x\" trailing\n", "line 3"},
      {"SIMDEX REGISTRY 1\nstray\n", "line 2"},
      {"SIMDEX REGISTRY 1\n[a]", "line 2"},  // cut short
  };
  for (const auto& c : cases) {
    RegistryKey root;
    Status s = RegistryKey::Parse(c.text, "/x/registry.txt", &root);
    ASSERT_TRUE(s.IsCorruption()) << c.text;
    EXPECT_NE(s.message().find("'/x/registry.txt'"), std::string::npos) << s.message();
    EXPECT_NE(s.message().find(c.line), std::string::npos) << s.message();
  }
}

}  // namespace
}  // namespace simdex
