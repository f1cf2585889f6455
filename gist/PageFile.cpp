#include "gist/PageFile.h"

#include <cstring>
#include <string>
#include <vector>

#include "platform/Coding.h"
#include "platform/CostCounters.h"
#include "platform/PosixFile.h"

namespace simdex {
namespace {

constexpr char kMagic[PageFile::kMagicLength + 1] = "GiST data file";
static_assert(sizeof(kMagic) == PageFile::kMagicLength + 1 && kMagic[14] == '\0');

std::uint64_t PageOffset(std::int32_t page) {
  return static_cast<std::uint64_t>(page) * PageFile::kPageSize;
}

std::int32_t ReadFreeListHead(const std::vector<std::byte>& header) {
  return DecodeInt32(reinterpret_cast<const unsigned char*>(header.data()) +
                     PageFile::kFreeListHeadOffset);
}

void WriteFreeListHead(std::vector<std::byte>& header, std::int32_t head) {
  EncodeInt32(reinterpret_cast<unsigned char*>(header.data()) + PageFile::kFreeListHeadOffset,
              head);
}

std::string PageName(std::int32_t page) { return "page " + std::to_string(page); }

}  // namespace

PageFile::PageFile() : PageFile(PosixFile::Opener()) {}

PageFile::PageFile(FileOpener opener) : opener_(std::move(opener)) {}

PageFile::~PageFile() { CloseFile(); }

Status PageFile::CreateNew(const std::string& name) {
  if (IsFileOpen()) return Status::FailedPrecondition("page file is already open");
  std::unique_ptr<File> file;
  // An existing file is never overwritten. The exclusive create below would
  // refuse it too; asking first keeps the answer the same for files we could
  // open but not create over.
  if (opener_(name, FileMode::kReadWrite, &file).ok()) {
    return Status::AlreadyExists("page file exists: " + name);
  }
  SIMDEX_RETURN_IF_ERROR(opener_(name, FileMode::kCreateExclusive, &file));
  std::vector<std::byte> header(kPageSize);
  std::memcpy(header.data(), kMagic, kMagicLength);
  Status s = file->WriteAt(0, header);
  if (!s.ok()) return Status::IOError("cannot write the header of " + name + ": " + s.message());
  file_ = std::move(file);
  SetOpen(true);
  return Status::OK();
}

Status PageFile::OpenExisting(const std::string& name) {
  if (IsFileOpen()) return Status::FailedPrecondition("page file is already open");
  std::unique_ptr<File> file;
  SIMDEX_RETURN_IF_ERROR(opener_(name, FileMode::kReadWrite, &file));
  std::vector<std::byte> header(kPageSize);
  std::size_t got = 0;
  SIMDEX_RETURN_IF_ERROR(file->ReadAt(0, header, &got));
  if (got < static_cast<std::size_t>(kMagicLength) ||
      std::memcmp(header.data(), kMagic, kMagicLength) != 0) {
    return Status::Corruption("not a page file (bad magic): " + name);
  }
  file_ = std::move(file);
  SetOpen(true);
  return Status::OK();
}

void PageFile::CloseFile() {
  if (!IsFileOpen()) return;
  file_.reset();
  SetOpen(false);
}

Status PageFile::ReadPage(std::int32_t page, std::span<std::byte> buffer) {
  if (!IsFileOpen()) return Status::FailedPrecondition("page file is not open");
  if (CostCounters* counters = ActiveCounters()) ++counters->pageReads;
  if (page < 0 || page > kMaxPage) return Status::InvalidArgument("no such " + PageName(page));
  if (buffer.size() != static_cast<std::size_t>(kPageSize)) {
    return Status::InvalidArgument("page buffer is not one page long");
  }
  std::size_t got = 0;
  Status s = file_->ReadAt(PageOffset(page), buffer, &got);
  if (!s.ok()) return Status::IOError(PageName(page) + ": " + s.message());
  if (got != buffer.size()) {
    return Status::Corruption(PageName(page) + ": short read of " + std::to_string(got) +
                              " bytes (truncated file)");
  }
  return Status::OK();
}

Status PageFile::WritePage(std::int32_t page, std::span<const std::byte> buffer) {
  if (!IsFileOpen()) return Status::FailedPrecondition("page file is not open");
  if (CostCounters* counters = ActiveCounters()) ++counters->pageWrites;
  if (page < 0 || page > kMaxPage) return Status::InvalidArgument("no such " + PageName(page));
  if (buffer.size() != static_cast<std::size_t>(kPageSize)) {
    return Status::InvalidArgument("page buffer is not one page long");
  }
  Status s = file_->WriteAt(PageOffset(page), buffer);
  if (!s.ok()) return Status::IOError(PageName(page) + ": " + s.message());
  return Status::OK();
}

Status PageFile::AllocatePage(std::int32_t* page) {
  *page = 0;
  if (!IsFileOpen()) return Status::FailedPrecondition("page file is not open");
  std::vector<std::byte> scratch(kPageSize);
  SIMDEX_RETURN_IF_ERROR(ReadPage(0, scratch));
  std::int32_t head = ReadFreeListHead(scratch);
  if (head != 0) {
    // The head comes from disk: a page number outside the file is damage.
    if (head < 1 || head > kMaxPage) {
      return Status::Corruption("free list names " + PageName(head));
    }
    // The freed page holds the header as it should read once head is taken.
    SIMDEX_RETURN_IF_ERROR(ReadPage(head, scratch));
    SIMDEX_RETURN_IF_ERROR(WritePage(0, scratch));
    *page = head;
    return Status::OK();
  }
  std::uint64_t length = 0;
  SIMDEX_RETURN_IF_ERROR(file_->Size(&length));
  if (length % kPageSize != 0) {
    return Status::Corruption("page file length " + std::to_string(length) +
                              " is not a whole number of pages");
  }
  std::uint64_t next = length / kPageSize;
  if (next > static_cast<std::uint64_t>(kMaxPage)) {
    return Status::IOError("page file is full (" + std::to_string(kMaxPage + 1) + " pages)");
  }
  std::vector<std::byte> zero(kPageSize);
  Status s = file_->WriteAt(length, zero);
  if (!s.ok()) return Status::IOError("cannot append a page: " + s.message());
  *page = static_cast<std::int32_t>(next);
  return Status::OK();
}

Status PageFile::FreePage(std::int32_t page) {
  if (!IsFileOpen()) return Status::FailedPrecondition("page file is not open");
  std::uint64_t length = 0;
  SIMDEX_RETURN_IF_ERROR(file_->Size(&length));
  // Freeing the header, or a page the file does not hold, would damage the
  // list; refuse before touching anything.
  if (page < 1 || page > kMaxPage || PageOffset(page) + kPageSize > length) {
    return Status::InvalidArgument("cannot free " + PageName(page));
  }
  std::vector<std::byte> scratch(kPageSize);
  SIMDEX_RETURN_IF_ERROR(ReadPage(0, scratch));
  std::int32_t oldHead = ReadFreeListHead(scratch);
  WriteFreeListHead(scratch, page);
  SIMDEX_RETURN_IF_ERROR(WritePage(0, scratch));
  WriteFreeListHead(scratch, oldHead);
  return WritePage(page, scratch);
}

}  // namespace simdex
