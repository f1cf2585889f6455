#include "platform/MemoryFile.h"

#include <algorithm>
#include <cstring>

namespace simdex {

// Beyond this a memory file is surely a runaway offset, not a real index.
static constexpr std::uint64_t kMaxMemoryFileSize = std::uint64_t{1} << 32;

FileOpener MemoryFile::Opener(std::shared_ptr<Directory> directory) {
  return [directory](const std::string& name, FileMode mode, std::unique_ptr<File>* file) {
    file->reset();
    auto it = directory->find(name);
    if (mode == FileMode::kCreateExclusive) {
      if (it != directory->end()) return Status::AlreadyExists("file exists: " + name);
      it = directory->emplace(name, std::make_shared<Bytes>()).first;
    } else if (it == directory->end()) {
      return Status::NotFound("no such file: " + name);
    }
    *file = std::make_unique<MemoryFile>(it->second);
    return Status::OK();
  };
}

Status MemoryFile::ReadAt(std::uint64_t offset, std::span<std::byte> out, std::size_t* bytesRead) {
  *bytesRead = 0;
  const Bytes& bytes = *contents_;
  if (offset >= bytes.size()) return Status::OK();
  std::size_t n = std::min<std::uint64_t>(out.size(), bytes.size() - offset);
  if (n > 0) std::memcpy(out.data(), bytes.data() + offset, n);
  *bytesRead = n;
  return Status::OK();
}

Status MemoryFile::WriteAt(std::uint64_t offset, std::span<const std::byte> data) {
  if (offset > kMaxMemoryFileSize || data.size() > kMaxMemoryFileSize - offset) {
    return Status::IOError("memory file would grow beyond 4 GiB");
  }
  Bytes& bytes = *contents_;
  if (bytes.size() < offset + data.size()) bytes.resize(offset + data.size());
  if (!data.empty()) std::memcpy(bytes.data() + offset, data.data(), data.size());
  return Status::OK();
}

Status MemoryFile::Size(std::uint64_t* size) {
  *size = contents_->size();
  return Status::OK();
}

}  // namespace simdex
