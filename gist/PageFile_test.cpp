#include "gist/PageFile.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "platform/Coding.h"
#include "platform/CostCounters.h"
#include "platform/FaultyFile.h"
#include "platform/MemoryFile.h"
#include "platform/PosixFile.h"

namespace simdex {
namespace {

constexpr std::size_t kPage = PageFile::kPageSize;
const char kMagic[] = "GiST data file";

std::vector<std::byte> Bytes(const std::string& s) {
  std::vector<std::byte> bytes(s.size());
  if (!s.empty()) std::memcpy(bytes.data(), s.data(), s.size());
  return bytes;
}

std::int32_t Int32At(const std::vector<std::byte>& bytes, std::size_t offset) {
  return DecodeInt32(reinterpret_cast<const unsigned char*>(bytes.data()) + offset);
}

// Runs each test on the real file system (true) and in memory (false), with
// fresh active counters.
class PageFileTest : public ::testing::TestWithParam<bool> {
 protected:
  void SetUp() override {
    if (GetParam()) {
      char pattern[] = "/tmp/simdex-pagefile-XXXXXX";
      ASSERT_NE(::mkdtemp(pattern), nullptr);
      dir_ = pattern;
      opener_ = PosixFile::Opener();
    } else {
      opener_ = MemoryFile::Opener(std::make_shared<MemoryFile::Directory>());
    }
    SetActiveCounters(&counters_);
  }
  void TearDown() override {
    SetActiveCounters(nullptr);
    if (!dir_.empty()) std::filesystem::remove_all(dir_);
  }

  std::string Name() const { return dir_.empty() ? "index" : dir_ + "/index"; }

  // The whole file as it is on disk, read around the page file.
  std::vector<std::byte> FileBytes() const {
    std::unique_ptr<File> file;
    EXPECT_TRUE(opener_(Name(), FileMode::kReadWrite, &file).ok());
    std::uint64_t size = 0;
    EXPECT_TRUE(file->Size(&size).ok());
    std::vector<std::byte> bytes(size);
    std::size_t got = 0;
    EXPECT_TRUE(file->ReadAt(0, bytes, &got).ok());
    return bytes;
  }
  void MakeFile(const std::vector<std::byte>& bytes) const {
    std::unique_ptr<File> file;
    ASSERT_TRUE(opener_(Name(), FileMode::kCreateExclusive, &file).ok());
    ASSERT_TRUE(file->WriteAt(0, bytes).ok());
  }
  void ExpectCounts(std::int32_t reads, std::int32_t writes) {
    EXPECT_EQ(counters_.pageReads, reads);
    EXPECT_EQ(counters_.pageWrites, writes);
    counters_ = CostCounters();
  }

  std::string dir_;
  FileOpener opener_;
  CostCounters counters_;
};

TEST_P(PageFileTest, CreateWritesOneHeaderPageUncounted) {
  PageFile file(opener_);
  ASSERT_TRUE(file.CreateNew(Name()).ok());
  EXPECT_TRUE(file.IsFileOpen());
  ExpectCounts(0, 0);
  file.CloseFile();
  EXPECT_FALSE(file.IsFileOpen());

  std::vector<std::byte> expected(kPage);
  std::memcpy(expected.data(), kMagic, sizeof kMagic);  // with its zero byte
  EXPECT_EQ(FileBytes(), expected);
}

TEST_P(PageFileTest, CreateLeavesAnExistingFileUntouched) {
  MakeFile(Bytes("precious"));
  PageFile file(opener_);
  EXPECT_EQ(file.CreateNew(Name()).code(), Status::Code::kAlreadyExists);
  EXPECT_FALSE(file.IsFileOpen());
  EXPECT_EQ(FileBytes(), Bytes("precious"));
}

TEST_P(PageFileTest, OpenChecksOnlyTheMagic) {
  struct Case {
    const char* what;
    bool exists;
    std::string content;
    Status::Code code;
  };
  const std::string magic(kMagic, sizeof kMagic);
  const Case cases[] = {
      {"missing", false, "", Status::Code::kNotFound},
      {"empty", true, "", Status::Code::kCorruption},
      {"short", true, magic.substr(0, 14), Status::Code::kCorruption},
      {"wrong magic", true, "GiST data filE" + std::string(1, '\0'), Status::Code::kCorruption},
      {"no zero byte", true, "GiST data file!", Status::Code::kCorruption},
      {"magic alone", true, magic, Status::Code::kOk},
      {"magic and anything", true, magic + "whatever follows", Status::Code::kOk},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TearDown();
    SetUp();
    if (c.exists) MakeFile(Bytes(c.content));
    PageFile file(opener_);
    EXPECT_EQ(file.OpenExisting(Name()).code(), c.code);
    EXPECT_EQ(file.IsFileOpen() != 0, c.code == Status::Code::kOk);
    ExpectCounts(0, 0);
  }
}

TEST_P(PageFileTest, AllocationAppendsThenReusesFreedPagesLastInFirstOut) {
  PageFile file(opener_);
  ASSERT_TRUE(file.CreateNew(Name()).ok());
  std::int32_t page = 0;
  for (std::int32_t expected : {1, 2, 3}) {
    ASSERT_TRUE(file.AllocatePage(&page).ok());
    EXPECT_EQ(page, expected);
    ExpectCounts(1, 0);  // the header read; the appended zero page is not counted
  }
  EXPECT_EQ(FileBytes().size(), 4 * kPage);

  ASSERT_TRUE(file.FreePage(2).ok());
  ExpectCounts(1, 2);
  ASSERT_TRUE(file.FreePage(3).ok());
  ExpectCounts(1, 2);
  std::vector<std::byte> bytes = FileBytes();
  EXPECT_EQ(Int32At(bytes, 15), 3);  // the header names the last page freed
  for (std::size_t freed : {2, 3}) {
    EXPECT_EQ(std::memcmp(bytes.data() + freed * kPage, kMagic, sizeof kMagic), 0);
  }
  EXPECT_EQ(Int32At(bytes, 3 * kPage + 15), 2);  // which names the one freed before
  EXPECT_EQ(Int32At(bytes, 2 * kPage + 15), 0);  // which ends the list

  for (std::int32_t expected : {3, 2}) {
    ASSERT_TRUE(file.AllocatePage(&page).ok());
    EXPECT_EQ(page, expected);
    ExpectCounts(2, 1);
  }
  ASSERT_TRUE(file.AllocatePage(&page).ok());
  EXPECT_EQ(page, 4);
  ExpectCounts(1, 0);
}

TEST_P(PageFileTest, ShortReadIsCountedAndReportedAsTruncation) {
  std::vector<std::byte> content(kPage + kPage / 2, std::byte{7});
  std::memcpy(content.data(), kMagic, sizeof kMagic);
  MakeFile(content);
  PageFile file(opener_);
  ASSERT_TRUE(file.OpenExisting(Name()).ok());

  std::vector<std::byte> buffer(kPage, std::byte{0xAB});
  EXPECT_TRUE(file.ReadPage(1, buffer).IsCorruption());
  ExpectCounts(1, 0);
  EXPECT_EQ(buffer[kPage / 2 - 1], std::byte{7});
  EXPECT_EQ(buffer[kPage / 2], std::byte{0xAB});  // the rest is left as it was

  std::fill(buffer.begin(), buffer.end(), std::byte{0xAB});
  EXPECT_TRUE(file.ReadPage(9, buffer).IsCorruption());
  ExpectCounts(1, 0);
  EXPECT_EQ(buffer, std::vector<std::byte>(kPage, std::byte{0xAB}));

  // A length that is not a whole number of pages cannot be appended to.
  std::int32_t page = -1;
  EXPECT_TRUE(file.AllocatePage(&page).IsCorruption());
  EXPECT_EQ(page, 0);
}

TEST_P(PageFileTest, BadArgumentsAreRefused) {
  PageFile file(opener_);
  ASSERT_TRUE(file.CreateNew(Name()).ok());
  std::vector<std::byte> buffer(kPage);
  // Reads and writes count every call made while open, refused or not.
  EXPECT_TRUE(file.ReadPage(-1, buffer).IsInvalidArgument());
  EXPECT_TRUE(file.WritePage(PageFile::kMaxPage + 1, buffer).IsInvalidArgument());
  EXPECT_TRUE(file.ReadPage(0, std::span(buffer).first(100)).IsInvalidArgument());
  ExpectCounts(2, 1);
  // Frees are checked before any transfer.
  EXPECT_TRUE(file.FreePage(0).IsInvalidArgument());
  EXPECT_TRUE(file.FreePage(1).IsInvalidArgument());  // beyond the end
  ExpectCounts(0, 0);
  EXPECT_EQ(FileBytes().size(), kPage);
}

TEST_P(PageFileTest, ClosedFileDoesNothing) {
  PageFile file(opener_);
  for (int round = 0; round < 2; ++round) {
    std::vector<std::byte> buffer(kPage);
    std::int32_t page = -1;
    EXPECT_EQ(file.ReadPage(0, buffer).code(), Status::Code::kFailedPrecondition);
    EXPECT_EQ(file.WritePage(0, buffer).code(), Status::Code::kFailedPrecondition);
    EXPECT_EQ(file.AllocatePage(&page).code(), Status::Code::kFailedPrecondition);
    EXPECT_EQ(page, 0);
    EXPECT_EQ(file.FreePage(1).code(), Status::Code::kFailedPrecondition);
    ExpectCounts(0, 0);
    // Second round: closed again after having been open.
    if (round == 0) {
      ASSERT_TRUE(file.CreateNew(Name()).ok());
    }
    file.CloseFile();
  }
  EXPECT_EQ(FileBytes().size(), kPage);
}

TEST_P(PageFileTest, NoActiveCountersCountNothing) {
  SetActiveCounters(nullptr);
  PageFile file(opener_);
  ASSERT_TRUE(file.CreateNew(Name()).ok());
  std::int32_t page = 0;
  ASSERT_TRUE(file.AllocatePage(&page).ok());
  std::vector<std::byte> buffer(kPage, std::byte{5});
  ASSERT_TRUE(file.WritePage(page, buffer).ok());
  std::vector<std::byte> back(kPage);
  ASSERT_TRUE(file.ReadPage(page, back).ok());
  EXPECT_EQ(back, buffer);
  ExpectCounts(0, 0);
}

INSTANTIATE_TEST_SUITE_P(Files, PageFileTest, ::testing::Values(true, false),
                         [](const ::testing::TestParamInfo<bool>& p) {
                           return p.param ? "Posix" : "Memory";
                         });

// Damaged I/O and damaged files, in memory.
class PageFileFaultTest : public ::testing::Test {
 protected:
  void SetUp() override { SetActiveCounters(&counters_); }
  void TearDown() override { SetActiveCounters(nullptr); }

  std::shared_ptr<MemoryFile::Directory> dir_ = std::make_shared<MemoryFile::Directory>();
  std::shared_ptr<FaultyFile::Plan> plan_ = std::make_shared<FaultyFile::Plan>();
  PageFile file_{FaultyFile::Wrap(MemoryFile::Opener(dir_), plan_)};
  CostCounters counters_;
};

TEST_F(PageFileFaultTest, FailedHeaderWriteLeavesTheFileClosed) {
  plan_->write = {0, FaultyFile::Effect::kShorten, 100};
  EXPECT_TRUE(file_.CreateNew("index").IsIOError());
  EXPECT_FALSE(file_.IsFileOpen());
}

TEST_F(PageFileFaultTest, WriteFailuresAreReportedAndStillCounted) {
  ASSERT_TRUE(file_.CreateNew("index").ok());
  std::int32_t page = 0;
  ASSERT_TRUE(file_.AllocatePage(&page).ok());
  plan_->write = {0, FaultyFile::Effect::kFail, 0};  // the disk is full from now on
  std::vector<std::byte> buffer(kPage);
  EXPECT_TRUE(file_.WritePage(page, buffer).IsIOError());
  EXPECT_EQ(counters_.pageWrites, 1);
  EXPECT_TRUE(file_.AllocatePage(&page).IsIOError());
  EXPECT_EQ(page, 0);
  EXPECT_TRUE(file_.FreePage(1).IsIOError());
}

TEST_F(PageFileFaultTest, ReadFailuresAreReported) {
  ASSERT_TRUE(file_.CreateNew("index").ok());
  std::vector<std::byte> buffer(kPage);
  plan_->read = {0, FaultyFile::Effect::kFail, 0};
  EXPECT_TRUE(file_.ReadPage(0, buffer).IsIOError());
  plan_->read = {0, FaultyFile::Effect::kShorten, 10};
  EXPECT_TRUE(file_.ReadPage(0, buffer).IsCorruption());
  std::int32_t page = -1;
  EXPECT_TRUE(file_.AllocatePage(&page).IsCorruption());
  EXPECT_EQ(page, 0);
  EXPECT_EQ(counters_.pageReads, 3);
}

TEST_F(PageFileFaultTest, DamagedFreeListHeadIsCorruption) {
  ASSERT_TRUE(file_.CreateNew("index").ok());
  for (std::int32_t head : {-5, PageFile::kMaxPage + 1, 7}) {
    SCOPED_TRACE(head);
    EncodeInt32(reinterpret_cast<unsigned char*>(dir_->at("index")->data()) + 15, head);
    std::int32_t page = -1;
    EXPECT_TRUE(file_.AllocatePage(&page).IsCorruption());  // 7: beyond the end
    EXPECT_EQ(page, 0);
  }
  EXPECT_EQ(counters_.pageWrites, 0);
}

}  // namespace
}  // namespace simdex
