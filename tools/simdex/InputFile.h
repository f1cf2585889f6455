#pragma once
// A data file read front to back through stdio's buffer, for the vector
// readers: its size up front and short reads only at the end of the file.
#include <cstdint>
#include <cstdio>
#include <memory>
#include <span>
#include <string>

#include "platform/Status.h"

namespace simdex::cli {

class InputFile {
 public:
  // Opens the regular file path for reading. NotFound when it is missing,
  // IOError when it cannot be opened or is not a regular file.
  static Status Open(const std::string& path, std::unique_ptr<InputFile>* file);

  // Reads up to out.size() bytes from the current position; *got receives
  // how many arrived (fewer only at the end of the file).
  Status Read(std::span<unsigned char> out, std::size_t* got);
  // Moves the position to offset (at most size()).
  Status Seek(std::uint64_t offset);

  std::uint64_t size() const { return size_; }
  // Bytes from the start of the file to the current position.
  std::uint64_t position() const { return position_; }
  std::uint64_t remaining() const { return size_ - position_; }
  const std::string& path() const { return path_; }

 private:
  struct Closer {
    void operator()(std::FILE* f) const { std::fclose(f); }
  };
  InputFile(std::unique_ptr<std::FILE, Closer> f, std::string path, std::uint64_t size)
      : file_(std::move(f)), path_(std::move(path)), size_(size) {}

  std::unique_ptr<std::FILE, Closer> file_;
  std::string path_;
  std::uint64_t size_;
  std::uint64_t position_ = 0;
};

}  // namespace simdex::cli
