#include "platform/ModuleResources.h"

#include <gtest/gtest.h>

#include <vector>

#include "platform/Coding.h"
#include "platform/TestSupport_test.h"

namespace simdex {
namespace {

using testing::ExecutablePath;
using testing::ReadFileBytes;
using testing::TempRegistry;
using testing::TestResourceTable;
using testing::WriteFileBytes;

TEST(ModuleResourcesTest, TableIsReadFromTheFileWithoutLoadingIt) {
  ModuleResources fromFile, fromMemory;
  ASSERT_TRUE(ModuleResources::ReadFromFile(ExecutablePath(), &fromFile).ok());
  ASSERT_TRUE(ModuleResources::Parse(TestResourceTable(), "memory", &fromMemory).ok());
  ASSERT_EQ(fromFile.entries().size(), 4u);
  const Resource* script = fromFile.Find(kRegistryResource, kRegistryScriptId);
  ASSERT_NE(script, nullptr);
  EXPECT_EQ(script->data, "key Test = 'it''s'\n");
  EXPECT_EQ(fromFile.Find(kStringResource, kModuleNameStringId)->data, "platform_test");
  EXPECT_EQ(fromFile.FindAll(kTypeLibResource).size(), 2u);
  EXPECT_EQ(fromFile.Find("TYPELIB", 3), nullptr);
  for (std::size_t i = 0; i < fromFile.entries().size(); ++i)
    EXPECT_EQ(fromFile.entries()[i].data, fromMemory.entries()[i].data);
}

TEST(ModuleResourcesTest, EveryCutOrInflatedTableIsRefused) {
  auto table = TestResourceTable();
  ModuleResources out;
  for (std::size_t n = 0; n < table.size(); ++n)
    EXPECT_TRUE(ModuleResources::Parse(table.first(n), "m", &out).IsCorruption()) << n;

  std::vector<unsigned char> copy(table.begin(), table.end());
  copy.push_back(0);
  EXPECT_TRUE(ModuleResources::Parse(copy, "m", &out).IsCorruption());
  copy.pop_back();
  EncodeFixed32(copy.data() + kResourceMagic.size(), 0xFFFFFFFFu);
  EXPECT_TRUE(ModuleResources::Parse(copy, "m", &out).IsCorruption());
  copy.assign(table.begin(), table.end());
  EncodeFixed32(copy.data() + kResourceMagic.size() + 4, 0x7FFFFFF0u);  // first type length
  EXPECT_TRUE(ModuleResources::Parse(copy, "m", &out).IsCorruption());
}

TEST(ModuleResourcesTest, DamagedModuleFilesGiveErrorsNamingTheFile) {
  TempRegistry temp;  // for its directory
  const std::string exe = ReadFileBytes(ExecutablePath());
  auto table = TestResourceTable();
  const std::size_t at =
      exe.find(std::string(reinterpret_cast<const char*>(table.data()), table.size()));
  ASSERT_NE(at, std::string::npos);

  auto patched = [&](std::size_t offset, std::uint64_t value, int bytes) {
    std::string s = exe;
    for (int i = 0; i < bytes; ++i) s[offset + i] = static_cast<char>(value >> (8 * i));
    return s;
  };
  struct Case {
    const char* name;
    std::string bytes;
  };
  const Case cases[] = {
      {"not ELF", "#!/bin/sh\necho hello\n" + std::string(100, ' ')},
      {"header only", exe.substr(0, 40)},
      {"cut inside the table", exe.substr(0, at + table.size() / 2)},
      {"cut before the section headers", exe.substr(0, exe.size() - 100)},
      {"section table past the end", patched(0x28, exe.size() + 1, 8)},
      {"huge section count", patched(0x3C, 0xFFFF, 2)},
      {"small section entries", patched(0x3A, 16, 2)},
      {"string table index out of range", patched(0x3E, 0xFFF0, 2)},
      {"resource count inflated", patched(at + kResourceMagic.size(), 0x01000000, 4)},
  };
  for (const auto& c : cases) {
    std::string path = temp.dir() + "/module.so";
    WriteFileBytes(path, c.bytes);
    ModuleResources out;
    Status s = ModuleResources::ReadFromFile(path, &out);
    EXPECT_FALSE(s.ok()) << c.name;
    EXPECT_NE(s.message().find(path), std::string::npos) << c.name << ": " << s.message();
  }
  ModuleResources out;
  EXPECT_TRUE(ModuleResources::ReadFromFile(temp.dir() + "/absent.so", &out).IsNotFound());
}

}  // namespace
}  // namespace simdex
