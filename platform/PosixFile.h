#pragma once
// File on a POSIX descriptor, read and written with pread/pwrite.
#include <memory>
#include <string>
#include <utility>

#include "platform/File.h"

namespace simdex {

class PosixFile final : public File {
 public:
  // Opens name as mode says (new files get read and write permission for
  // everyone, less the umask). See FileOpener for the errors.
  [[nodiscard]] static Status Open(const std::string& name, FileMode mode,
                                   std::unique_ptr<File>* file);
  // An opener for PageFile and friends that goes to the real file system.
  static FileOpener Opener();

  // Takes ownership of an open descriptor; name is used in messages.
  PosixFile(int fd, std::string name) : fd_(fd), name_(std::move(name)) {}
  ~PosixFile() override;  // closes the descriptor

  [[nodiscard]] Status ReadAt(std::uint64_t offset, std::span<std::byte> out,
                              std::size_t* bytesRead) override;
  [[nodiscard]] Status WriteAt(std::uint64_t offset, std::span<const std::byte> data) override;
  [[nodiscard]] Status Size(std::uint64_t* size) override;
  [[nodiscard]] Status Sync() override;

 private:
  int fd_;
  std::string name_;
};

}  // namespace simdex
