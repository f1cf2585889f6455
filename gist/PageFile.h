#pragma once
// The page store of an index: one file of 16384-byte pages. Page 0 is the
// header (the magic text and the head of the free list); every other page holds
// a tree node or lies on the free list. No cache: every ReadPage and WritePage
// is one transfer, and each call made while the file is open counts one page
// read or write in the active cost counters (when there are any), whether or
// not it succeeds. The header transfers of CreateNew and OpenExisting and the
// zero page appended by AllocatePage are not counted.
//
// File layout (little-endian):
//   header page   0..14  "GiST data file" and a zero byte
//                 15..18 freeListHead, signed 32-bit, 0 = empty (unaligned)
//                 19..   zero
//   free page     a copy of the header as it was when the page was freed, its
//                 freeListHead naming the next free page (0 ends the list)
#include <cstdint>
#include <memory>

#include "gist/PageStore.h"
#include "platform/File.h"

namespace simdex {

class PageFile : public PageStore {
 public:
  static constexpr std::int32_t kPageSize = 16384;
  // Byte offsets were once computed in signed 32-bit arithmetic, which puts
  // the last reachable page just below 2 GiB; files keep that limit.
  static constexpr std::int32_t kMaxPage = 131071;
  // "GiST data file" plus its terminating zero byte.
  static constexpr int kMagicLength = 15;
  static constexpr int kFreeListHeadOffset = 15;

  // A closed page file on the real file system.
  PageFile();
  // A closed page file whose files come from opener (memory, faulty, ...).
  explicit PageFile(FileOpener opener);
  // Closes the file if it is still open.
  ~PageFile() override;

  // Fails with AlreadyExists when name exists (the file is not touched),
  // IOError when it cannot be created or its header cannot be written (the
  // store then stays closed).
  [[nodiscard]] Status CreateNew(const std::string& name) override;
  // Fails with NotFound for a missing file and Corruption when the first 15
  // bytes are not the magic (a shorter file included); nothing else of the
  // header is examined.
  [[nodiscard]] Status OpenExisting(const std::string& name) override;
  void CloseFile() override;
  // Pages outside 0..kMaxPage and buffers of another size than a page are
  // InvalidArgument. A short read is Corruption (the file is truncated).
  [[nodiscard]] Status ReadPage(std::int32_t page, std::span<std::byte> buffer) override;
  [[nodiscard]] Status WritePage(std::int32_t page, std::span<const std::byte> buffer) override;
  // Takes the head of the free list (2 reads, 1 write; the page keeps its
  // free-page content) or appends a zero page (1 read). A file whose length is
  // not a whole number of pages is Corruption; a file of kMaxPage + 1 pages is
  // full (IOError).
  [[nodiscard]] Status AllocatePage(std::int32_t* page) override;
  // Pushes page onto the free list (1 read, 2 writes). Only pages 1 up to the
  // last page of the file can be freed (InvalidArgument otherwise).
  [[nodiscard]] Status FreePage(std::int32_t page) override;
  std::int32_t GetPageSize() const override { return kPageSize; }

 private:
  FileOpener opener_;
  std::unique_ptr<File> file_;
};

}  // namespace simdex
