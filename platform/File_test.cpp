#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "platform/FaultyFile.h"
#include "platform/MemoryFile.h"
#include "platform/PosixFile.h"

namespace simdex {
namespace {

std::vector<std::byte> Text(const char* s) {
  std::vector<std::byte> bytes(std::strlen(s));
  std::memcpy(bytes.data(), s, bytes.size());
  return bytes;
}

// One kind of file system: a real temporary directory or a memory directory.
class FileKindTest : public ::testing::TestWithParam<bool> {
 protected:
  void SetUp() override {
    if (GetParam()) {
      char pattern[] = "/tmp/simdex-file-XXXXXX";
      ASSERT_NE(::mkdtemp(pattern), nullptr);
      dir_ = pattern;
      opener_ = PosixFile::Opener();
    } else {
      opener_ = MemoryFile::Opener(std::make_shared<MemoryFile::Directory>());
    }
  }
  void TearDown() override {
    if (!dir_.empty()) std::filesystem::remove_all(dir_);
  }
  std::string Name(const char* base) const { return dir_.empty() ? base : dir_ + "/" + base; }

  std::string dir_;
  FileOpener opener_;
};

TEST_P(FileKindTest, WritesReadsBackAndStopsAtEnd) {
  std::unique_ptr<File> file;
  ASSERT_TRUE(opener_(Name("f"), FileMode::kCreateExclusive, &file).ok());
  ASSERT_TRUE(file->WriteAt(3, Text("abcdef")).ok());
  std::uint64_t size = 0;
  ASSERT_TRUE(file->Size(&size).ok());
  EXPECT_EQ(size, 9u);

  // A read across the end returns what there is and leaves the rest alone.
  std::vector<std::byte> out(8, std::byte{'x'});
  std::size_t got = 0;
  ASSERT_TRUE(file->ReadAt(5, out, &got).ok());
  EXPECT_EQ(got, 4u);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(out.data()), out.size()), "cdefxxxx");
  ASSERT_TRUE(file->ReadAt(100, out, &got).ok());
  EXPECT_EQ(got, 0u);
  // The gap before the first write reads as zeros.
  ASSERT_TRUE(file->ReadAt(0, std::span(out).first(3), &got).ok());
  EXPECT_EQ(out[0], std::byte{0});
  EXPECT_TRUE(file->Sync().ok());
}

TEST_P(FileKindTest, OpenModesRespectExistence) {
  std::unique_ptr<File> file;
  EXPECT_TRUE(opener_(Name("f"), FileMode::kReadWrite, &file).IsNotFound());
  EXPECT_EQ(file, nullptr);
  ASSERT_TRUE(opener_(Name("f"), FileMode::kCreateExclusive, &file).ok());
  ASSERT_TRUE(file->WriteAt(0, Text("keep")).ok());
  file.reset();
  EXPECT_EQ(opener_(Name("f"), FileMode::kCreateExclusive, &file).code(),
            Status::Code::kAlreadyExists);
  ASSERT_TRUE(opener_(Name("f"), FileMode::kReadWrite, &file).ok());
  std::uint64_t size = 0;
  ASSERT_TRUE(file->Size(&size).ok());
  EXPECT_EQ(size, 4u);
}

INSTANTIATE_TEST_SUITE_P(Kinds, FileKindTest, ::testing::Values(true, false),
                         [](const ::testing::TestParamInfo<bool>& p) {
                           return p.param ? "Posix" : "Memory";
                         });

TEST(FaultyFileTest, FaultsStrikeAfterTheAllowedCallsAndStay) {
  auto dir = std::make_shared<MemoryFile::Directory>();
  auto plan = std::make_shared<FaultyFile::Plan>();
  FileOpener opener = FaultyFile::Wrap(MemoryFile::Opener(dir), plan);
  std::unique_ptr<File> file;
  ASSERT_TRUE(opener("f", FileMode::kCreateExclusive, &file).ok());

  plan->write = {1, FaultyFile::Effect::kShorten, 2};
  EXPECT_TRUE(file->WriteAt(0, Text("abcd")).ok());
  EXPECT_TRUE(file->WriteAt(4, Text("efgh")).IsIOError());  // stores "ef", then fails
  EXPECT_TRUE(file->WriteAt(8, Text("ijkl")).IsIOError());  // "ij"
  EXPECT_EQ(dir->at("f")->size(), 10u);

  std::vector<std::byte> out(6);
  std::size_t got = 0;
  plan->read = {0, FaultyFile::Effect::kShorten, 3};
  ASSERT_TRUE(file->ReadAt(0, out, &got).ok());
  EXPECT_EQ(got, 3u);
  plan->read = {0, FaultyFile::Effect::kFail, 0};
  EXPECT_TRUE(file->ReadAt(0, out, &got).IsIOError());
  EXPECT_EQ(got, 0u);
  plan->read.okCalls = -1;
  ASSERT_TRUE(file->ReadAt(0, out, &got).ok());
  EXPECT_EQ(got, 6u);
}

}  // namespace
}  // namespace simdex
