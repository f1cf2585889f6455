#pragma once
// The small file interface under the page store. Everything that touches an
// index file goes through it, so tests can swap the disk for memory or for a
// file that fails on demand.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>

#include "platform/Status.h"

namespace simdex {

class File {
 public:
  virtual ~File() = default;
  File() = default;
  File(const File&) = delete;
  File& operator=(const File&) = delete;

  // Reads up to out.size() bytes starting at offset into the front of out.
  // *bytesRead receives the number of bytes read; fewer than requested means
  // the end of the file came first (not an error). Bytes of out beyond
  // *bytesRead are left as they were. An error status means the read itself
  // failed; *bytesRead then holds what arrived before the failure.
  [[nodiscard]] virtual Status ReadAt(std::uint64_t offset, std::span<std::byte> out,
                                      std::size_t* bytesRead) = 0;

  // Writes all of data at offset, growing the file when it ends earlier.
  // Anything short of the whole span is an error.
  [[nodiscard]] virtual Status WriteAt(std::uint64_t offset, std::span<const std::byte> data) = 0;

  // Current length of the file in bytes.
  [[nodiscard]] virtual Status Size(std::uint64_t* size) = 0;

  // Pushes written data to stable storage.
  [[nodiscard]] virtual Status Sync() = 0;
};

// How a file is to be opened.
enum class FileMode {
  kReadWrite,        // an existing file, for reading and writing
  kCreateExclusive,  // a new file for reading and writing; fails when the name exists
};

// Opens a named file. On success *file receives the open file (the caller owns
// it and closing is destroying it). Errors: NotFound when the file is missing
// (kReadWrite), AlreadyExists when it exists (kCreateExclusive), IOError for
// anything else.
using FileOpener =
    std::function<Status(const std::string& name, FileMode mode, std::unique_ptr<File>* file)>;

}  // namespace simdex
