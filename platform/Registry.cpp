#include "platform/Registry.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "platform/UniqueFd.h"

namespace simdex {
namespace {

std::string ErrnoText(int err) { return std::strerror(err); }

std::string DirName(const std::string& path) {
  auto pos = path.rfind('/');
  if (pos == std::string::npos) return ".";
  if (pos == 0) return "/";
  return path.substr(0, pos);
}

// mkdir -p.
Status MakeDirectories(const std::string& dir) {
  for (std::size_t pos = 1; pos <= dir.size(); ++pos) {
    if (pos != dir.size() && dir[pos] != '/') continue;
    std::string prefix = dir.substr(0, pos);
    if (::mkdir(prefix.c_str(), 0755) != 0 && errno != EEXIST)
      return Status::IOError("cannot create directory '" + prefix + "': " + ErrnoText(errno));
  }
  return Status::OK();
}

Status ReadFile(const std::string& path, std::string* text, bool* missing) {
  *missing = false;
  text->clear();
  UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (!fd.valid()) {
    if (errno == ENOENT) {
      *missing = true;
      return Status::OK();
    }
    return Status::IOError("cannot open registry file '" + path + "': " + ErrnoText(errno));
  }
  char buf[65536];
  off_t offset = 0;
  for (;;) {
    ssize_t n = ::pread(fd.get(), buf, sizeof buf, offset);
    if (n < 0) {
      if (errno == EINTR) continue;
      return Status::IOError("cannot read registry file '" + path + "': " + ErrnoText(errno));
    }
    if (n == 0) break;
    text->append(buf, static_cast<std::size_t>(n));
    offset += n;
  }
  return Status::OK();
}

Status WriteAll(int fd, const std::string& text, const std::string& path) {
  std::size_t done = 0;
  while (done < text.size()) {
    ssize_t n = ::pwrite(fd, text.data() + done, text.size() - done, static_cast<off_t>(done));
    if (n < 0) {
      if (errno == EINTR) continue;
      return Status::IOError("cannot write '" + path + "': " + ErrnoText(errno));
    }
    done += static_cast<std::size_t>(n);
  }
  return Status::OK();
}

}  // namespace

Status Registry::DefaultPath(std::string* path) {
  const char* env = std::getenv("SIMDEX_REGISTRY");
  if (env && *env) {
    *path = env;
    return Status::OK();
  }
  const char* data = std::getenv("XDG_DATA_HOME");
  if (data && *data) {
    *path = std::string(data) + "/simdex/registry.txt";
    return Status::OK();
  }
  const char* home = std::getenv("HOME");
  if (home && *home) {
    *path = std::string(home) + "/.local/share/simdex/registry.txt";
    return Status::OK();
  }
  return Status::InvalidArgument(
      "no registry location: set SIMDEX_REGISTRY, XDG_DATA_HOME or HOME");
}

Status Registry::OpenDefault(Registry* registry) {
  std::string path;
  SIMDEX_RETURN_IF_ERROR(DefaultPath(&path));
  *registry = Registry(std::move(path));
  return Status::OK();
}

Status Registry::Read(RegistryKey* root) const {
  std::string text;
  bool missing = false;
  SIMDEX_RETURN_IF_ERROR(ReadFile(path_, &text, &missing));
  if (missing || text.empty()) return Status::OK();
  return RegistryKey::Parse(text, path_, root);
}

Status Registry::Update(const std::function<Status(RegistryKey& root)>& change) {
  SIMDEX_RETURN_IF_ERROR(MakeDirectories(DirName(path_)));
  std::string lockPath = path_ + ".lock";
  UniqueFd lock(::open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644));
  if (!lock.valid())
    return Status::IOError("cannot open registry lock '" + lockPath + "': " + ErrnoText(errno));
  while (::flock(lock.get(), LOCK_EX) != 0) {
    if (errno != EINTR)
      return Status::IOError("cannot lock registry '" + lockPath + "': " + ErrnoText(errno));
  }
  // The lock is released when `lock` closes the descriptor.
  RegistryKey root;
  SIMDEX_RETURN_IF_ERROR(Read(&root));
  SIMDEX_RETURN_IF_ERROR(change(root));
  return WriteAtomically(root.Serialize());
}

Status Registry::WriteAtomically(const std::string& text) const {
  // Only the holder of the lock writes, so one fixed temporary name suffices;
  // O_TRUNC clears what a crashed writer may have left.
  std::string tmp = path_ + ".tmp";
  UniqueFd fd(::open(tmp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
  if (!fd.valid()) return Status::IOError("cannot create '" + tmp + "': " + ErrnoText(errno));
  Status s = WriteAll(fd.get(), text, tmp);
  if (s.ok() && ::fsync(fd.get()) != 0)
    s = Status::IOError("cannot sync '" + tmp + "': " + ErrnoText(errno));
  fd.Reset();
  if (s.ok() && ::rename(tmp.c_str(), path_.c_str()) != 0)
    s = Status::IOError("cannot replace registry file '" + path_ + "': " + ErrnoText(errno));
  if (!s.ok()) {
    ::unlink(tmp.c_str());
    return s;
  }
  // Make the rename itself durable.
  UniqueFd dir(::open(DirName(path_).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (dir.valid()) ::fsync(dir.get());
  return Status::OK();
}

}  // namespace simdex
