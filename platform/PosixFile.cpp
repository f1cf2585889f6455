#include "platform/PosixFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <limits>

namespace simdex {
namespace {

Status ErrnoStatus(const std::string& what, const std::string& name, int err) {
  std::string msg = what + " " + name + ": " + std::strerror(err);
  if (err == ENOENT) return Status::NotFound(msg);
  if (err == EEXIST) return Status::AlreadyExists(msg);
  return Status::IOError(msg);
}

// pread/pwrite take a signed off_t; refuse offsets it cannot hold.
bool OffsetFits(std::uint64_t offset, std::size_t length) {
  constexpr auto kMax = static_cast<std::uint64_t>(std::numeric_limits<off_t>::max());
  return offset <= kMax && length <= kMax - offset;
}

}  // namespace

Status PosixFile::Open(const std::string& name, FileMode mode, std::unique_ptr<File>* file) {
  file->reset();
  int flags = O_RDWR | O_CLOEXEC;
  if (mode == FileMode::kCreateExclusive) flags |= O_CREAT | O_EXCL;
  int fd;
  do {
    fd = ::open(name.c_str(), flags, 0666);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) return ErrnoStatus("cannot open", name, errno);
  *file = std::make_unique<PosixFile>(fd, name);
  return Status::OK();
}

FileOpener PosixFile::Opener() {
  return [](const std::string& name, FileMode mode, std::unique_ptr<File>* file) {
    return Open(name, mode, file);
  };
}

PosixFile::~PosixFile() { ::close(fd_); }

Status PosixFile::ReadAt(std::uint64_t offset, std::span<std::byte> out, std::size_t* bytesRead) {
  *bytesRead = 0;
  if (!OffsetFits(offset, out.size())) return Status::InvalidArgument("offset too large");
  while (*bytesRead < out.size()) {
    ssize_t n = ::pread(fd_, out.data() + *bytesRead, out.size() - *bytesRead,
                        static_cast<off_t>(offset + *bytesRead));
    if (n < 0) {
      if (errno == EINTR) continue;
      return ErrnoStatus("cannot read", name_, errno);
    }
    if (n == 0) break;  // end of file
    *bytesRead += static_cast<std::size_t>(n);
  }
  return Status::OK();
}

Status PosixFile::WriteAt(std::uint64_t offset, std::span<const std::byte> data) {
  if (!OffsetFits(offset, data.size())) return Status::InvalidArgument("offset too large");
  std::size_t done = 0;
  while (done < data.size()) {
    ssize_t n =
        ::pwrite(fd_, data.data() + done, data.size() - done, static_cast<off_t>(offset + done));
    if (n < 0) {
      if (errno == EINTR) continue;
      return ErrnoStatus("cannot write", name_, errno);
    }
    if (n == 0) return Status::IOError("cannot write " + name_ + ": no progress");
    done += static_cast<std::size_t>(n);
  }
  return Status::OK();
}

Status PosixFile::Size(std::uint64_t* size) {
  struct stat st;
  if (::fstat(fd_, &st) != 0) return ErrnoStatus("cannot stat", name_, errno);
  *size = static_cast<std::uint64_t>(st.st_size);
  return Status::OK();
}

Status PosixFile::Sync() {
  if (::fsync(fd_) != 0) return ErrnoStatus("cannot sync", name_, errno);
  return Status::OK();
}

}  // namespace simdex
