#pragma once
// The page store seen by the tree: whole pages addressed by number, page
// allocation, and an open flag. PageFile is the store of this system; tests
// may supply others.
//
// Every operation except IsFileOpen and GetPageSize needs an open store and
// answers FailedPrecondition, doing nothing, on a closed one (AllocatePage then
// yields page 0, which is never a node page).
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

#include "platform/Status.h"

namespace simdex {

class PageStore {
 public:
  virtual ~PageStore() = default;
  PageStore() = default;
  PageStore(const PageStore&) = delete;
  PageStore& operator=(const PageStore&) = delete;

  // Makes a new store file called name and opens it. An existing file is left
  // untouched (AlreadyExists). Does nothing on an open store.
  [[nodiscard]] virtual Status CreateNew(const std::string& name) = 0;
  // Opens an existing store file after checking its header. Does nothing on an
  // open store.
  [[nodiscard]] virtual Status OpenExisting(const std::string& name) = 0;
  // Closes the store if it is open.
  virtual void CloseFile() = 0;
  // Reads page into buffer (GetPageSize bytes, owned by the caller). A page
  // that the file does not hold in full is an error (Corruption): the bytes
  // that did arrive are at the front of buffer, the rest is left as it was.
  [[nodiscard]] virtual Status ReadPage(std::int32_t page, std::span<std::byte> buffer) = 0;
  // Writes buffer (GetPageSize bytes) to page.
  [[nodiscard]] virtual Status WritePage(std::int32_t page, std::span<const std::byte> buffer) = 0;
  // Finds a page the caller may now use and stores its number in *page
  // (0 on failure).
  [[nodiscard]] virtual Status AllocatePage(std::int32_t* page) = 0;
  // Gives a page back for later allocation.
  [[nodiscard]] virtual Status FreePage(std::int32_t page) = 0;

  // Nonzero while the store is open.
  virtual int IsFileOpen() const { return isOpen_; }
  virtual std::int32_t GetPageSize() const = 0;

 protected:
  void SetOpen(bool open) { isOpen_ = open ? 1 : 0; }

 private:
  int isOpen_ = 0;
};

}  // namespace simdex
