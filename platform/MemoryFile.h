#pragma once
// File held in memory. Several MemoryFile objects may share one contents
// buffer, which is how a set of named in-memory files behaves like a disk:
// closing and reopening a name sees what was written before.
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/File.h"

namespace simdex {

class MemoryFile final : public File {
 public:
  using Bytes = std::vector<std::byte>;
  // Named contents; the opener below creates and finds files in it.
  using Directory = std::map<std::string, std::shared_ptr<Bytes>>;

  explicit MemoryFile(std::shared_ptr<Bytes> contents) : contents_(std::move(contents)) {}

  // An opener over a shared directory of in-memory files. kCreateExclusive
  // adds an empty file (AlreadyExists when the name is taken); kReadWrite
  // finds one (NotFound when missing).
  static FileOpener Opener(std::shared_ptr<Directory> directory);

  [[nodiscard]] Status ReadAt(std::uint64_t offset, std::span<std::byte> out,
                              std::size_t* bytesRead) override;
  [[nodiscard]] Status WriteAt(std::uint64_t offset, std::span<const std::byte> data) override;
  [[nodiscard]] Status Size(std::uint64_t* size) override;
  [[nodiscard]] Status Sync() override { return Status::OK(); }

 private:
  std::shared_ptr<Bytes> contents_;
};

}  // namespace simdex
