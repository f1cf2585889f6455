#include "platform/Registry.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>

#include "platform/TestSupport_test.h"

namespace simdex {
namespace {

using testing::ReadFileBytes;
using testing::TempRegistry;
using testing::WriteFileBytes;

Status AddKey(Registry& r, const std::string& path, const std::string& value) {
  return r.Update([&](RegistryKey& root) {
    RegistryKey* key = nullptr;
    SIMDEX_RETURN_IF_ERROR(root.Create(path, &key));
    key->SetDefaultValue(value);
    return Status::OK();
  });
}

TEST(RegistryTest, MissingOrEmptyFileIsAnEmptyRegistry) {
  TempRegistry temp;
  Registry missing(temp.dir() + "/no/such/registry.txt");
  RegistryKey root;
  ASSERT_TRUE(missing.Read(&root).ok());
  EXPECT_TRUE(root.IsEmpty());

  WriteFileBytes(temp.path(), "");
  Registry empty(temp.path());
  ASSERT_TRUE(empty.Read(&root).ok());
  EXPECT_TRUE(root.IsEmpty());
}

TEST(RegistryTest, UpdatePersistsAndCreatesTheDirectory) {
  TempRegistry temp;
  Registry r(temp.dir() + "/sub/dir/registry.txt");
  ASSERT_TRUE(AddKey(r, "CLSID\\{X}\\InprocServer32", "/m.so").ok());
  ASSERT_TRUE(AddKey(r, "VectorA.VectorAObject", "VectorAObject Class").ok());
  RegistryKey root;
  ASSERT_TRUE(Registry(r.path()).Read(&root).ok());
  EXPECT_EQ(*root.Find("CLSID\\{X}\\InprocServer32")->DefaultValue(), "/m.so");
  EXPECT_EQ(*root.Find("VectorA.VectorAObject")->DefaultValue(), "VectorAObject Class");
  EXPECT_FALSE(std::filesystem::exists(r.path() + ".tmp"));
}

TEST(RegistryTest, FailedChangeWritesNothing) {
  TempRegistry temp;
  Registry r(temp.path());
  ASSERT_TRUE(AddKey(r, "Kept", "1").ok());
  std::string before = ReadFileBytes(temp.path());
  Status s = r.Update([](RegistryKey& root) {
    root.Remove("Kept");
    return Status::InvalidArgument("refused");
  });
  EXPECT_TRUE(s.IsInvalidArgument());
  EXPECT_EQ(ReadFileBytes(temp.path()), before);
}

TEST(RegistryTest, CorruptFileIsReportedByNameAndNeverOverwritten) {
  TempRegistry temp;
  const std::string garbage = "SIMDEX REGISTRY 1\n[CLSID\\{X}\ngarbage\n";
  WriteFileBytes(temp.path(), garbage);
  Registry r(temp.path());
  RegistryKey root;
  Status s = r.Read(&root);
  ASSERT_TRUE(s.IsCorruption());
  EXPECT_NE(s.message().find(temp.path()), std::string::npos);
  EXPECT_TRUE(AddKey(r, "New", "x").IsCorruption());
  EXPECT_EQ(ReadFileBytes(temp.path()), garbage);
}

TEST(RegistryTest, ConcurrentUpdatesFromTwoProcessesLoseNoKey) {
  TempRegistry temp;
  constexpr int kPerProcess = 40;
  pid_t children[2];
  for (int c = 0; c < 2; ++c) {
    children[c] = ::fork();
    ASSERT_GE(children[c], 0);
    if (children[c] == 0) {
      Registry r(temp.path());
      for (int i = 0; i < kPerProcess; ++i)
        if (!AddKey(r, "P" + std::to_string(c) + "\\K" + std::to_string(i), "v").ok()) _exit(1);
      _exit(0);
    }
  }
  for (pid_t child : children) {
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  }
  RegistryKey root;
  ASSERT_TRUE(Registry(temp.path()).Read(&root).ok());
  for (int c = 0; c < 2; ++c)
    for (int i = 0; i < kPerProcess; ++i)
      EXPECT_NE(root.Find("P" + std::to_string(c) + "\\K" + std::to_string(i)), nullptr)
          << c << " " << i;
}

TEST(RegistryTest, DefaultPathFollowsTheEnvironment) {
  struct Case {
    const char* registry;
    const char* xdg;
    const char* home;
    const char* expected;  // null: no location
  };
  const Case cases[] = {
      {"/r/reg.txt", "/xdg", "/home/u", "/r/reg.txt"},
      {"", "/xdg", "/home/u", "/xdg/simdex/registry.txt"},
      {nullptr, nullptr, "/home/u", "/home/u/.local/share/simdex/registry.txt"},
      {nullptr, "", "", nullptr},
  };
  const char* names[] = {"SIMDEX_REGISTRY", "XDG_DATA_HOME", "HOME"};
  std::string saved[3];
  bool had[3];
  for (int i = 0; i < 3; ++i) {
    const char* v = std::getenv(names[i]);
    had[i] = v != nullptr;
    saved[i] = v ? v : "";
  }
  for (const auto& c : cases) {
    const char* values[] = {c.registry, c.xdg, c.home};
    for (int i = 0; i < 3; ++i) {
      if (values[i])
        ::setenv(names[i], values[i], 1);
      else
        ::unsetenv(names[i]);
    }
    std::string path;
    Status s = Registry::DefaultPath(&path);
    if (c.expected) {
      EXPECT_TRUE(s.ok());
      EXPECT_EQ(path, c.expected);
    } else {
      EXPECT_TRUE(s.IsInvalidArgument());
    }
  }
  for (int i = 0; i < 3; ++i) {
    if (had[i])
      ::setenv(names[i], saved[i].c_str(), 1);
    else
      ::unsetenv(names[i]);
  }
}

}  // namespace
}  // namespace simdex
