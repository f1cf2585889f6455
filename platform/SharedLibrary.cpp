#include "platform/SharedLibrary.h"

#include <dlfcn.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <utility>

namespace simdex {

SharedLibrary::SharedLibrary(SharedLibrary&& o) noexcept
    : handle_(std::exchange(o.handle_, nullptr)), path_(std::move(o.path_)) {}

SharedLibrary& SharedLibrary::operator=(SharedLibrary&& o) noexcept {
  if (this != &o) {
    if (handle_) ::dlclose(handle_);
    handle_ = std::exchange(o.handle_, nullptr);
    path_ = std::move(o.path_);
  }
  return *this;
}

SharedLibrary::~SharedLibrary() {
  if (handle_) ::dlclose(handle_);
}

Status SharedLibrary::Open(const std::string& path, SharedLibrary* out) {
  struct stat st;
  if (::stat(path.c_str(), &st) != 0)
    return Status::NotFound("cannot load module '" + path + "': " + std::strerror(errno));
  // dlopen would search the library path for a name without '/'.
  std::string name = path.find('/') == std::string::npos ? "./" + path : path;
  ::dlerror();
  void* h = ::dlopen(name.c_str(), RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE);
  if (!h) {
    const char* err = ::dlerror();
    return Status::NotSupported("cannot load module '" + path +
                                "': " + (err ? err : "unknown loader error"));
  }
  SharedLibrary lib;
  lib.handle_ = h;
  lib.path_ = path;
  *out = std::move(lib);
  return Status::OK();
}

void* SharedLibrary::Symbol(const char* name) const {
  return handle_ ? ::dlsym(handle_, name) : nullptr;
}

}  // namespace simdex
