#include "tools/simdex/InputFile.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstring>

namespace simdex::cli {

Status InputFile::Open(const std::string& path, std::unique_ptr<InputFile>* file) {
  std::unique_ptr<std::FILE, Closer> f(std::fopen(path.c_str(), "rb"));
  if (!f) {
    const int err = errno;
    std::string msg = path + ": cannot open: " + std::strerror(err);
    return err == ENOENT ? Status::NotFound(msg) : Status::IOError(msg);
  }
  struct stat st {};
  if (::fstat(::fileno(f.get()), &st) != 0) {
    return Status::IOError(path + ": cannot stat: " + std::strerror(errno));
  }
  // Sizes drive row counts and bounds checks, so only regular files will do.
  if (!S_ISREG(st.st_mode)) return Status::IOError(path + ": not a regular file");
  file->reset(new InputFile(std::move(f), path, static_cast<std::uint64_t>(st.st_size)));
  return Status::OK();
}

Status InputFile::Read(std::span<unsigned char> out, std::size_t* got) {
  *got = std::fread(out.data(), 1, out.size(), file_.get());
  position_ += *got;
  if (*got < out.size() && std::ferror(file_.get())) {
    return Status::IOError(path_ + ": read failed: " + std::strerror(errno));
  }
  return Status::OK();
}

Status InputFile::Seek(std::uint64_t offset) {
  if (offset > size_ || std::fseek(file_.get(), static_cast<long>(offset), SEEK_SET) != 0) {
    return Status::IOError(path_ + ": cannot seek to byte " + std::to_string(offset));
  }
  position_ = offset;
  return Status::OK();
}

}  // namespace simdex::cli
