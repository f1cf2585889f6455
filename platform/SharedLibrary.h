#pragma once
// Move-only handle of a loaded module (dlopen); closes it on destruction.
//
// Modules are loaded with RTLD_NODELETE: closing the handle never unmaps the
// code, because objects and class factories a module made can outlive every
// handle to it (a client may release an object during process exit, after
// the caches are gone).
#include <string>

#include "platform/Status.h"

namespace simdex {

class SharedLibrary {
 public:
  SharedLibrary() = default;
  SharedLibrary(const SharedLibrary&) = delete;
  SharedLibrary& operator=(const SharedLibrary&) = delete;
  SharedLibrary(SharedLibrary&& o) noexcept;
  SharedLibrary& operator=(SharedLibrary&& o) noexcept;
  ~SharedLibrary();

  // Loads the module at `path` with all its symbols resolved now and kept
  // local. NotFound when there is no such file; NotSupported, with the
  // loader's message, when the file cannot be loaded.
  static Status Open(const std::string& path, SharedLibrary* out);

  // The address of the exported symbol `name`, or null.
  void* Symbol(const char* name) const;
  const std::string& path() const { return path_; }
  bool loaded() const { return handle_ != nullptr; }

 private:
  void* handle_ = nullptr;
  std::string path_;
};

}  // namespace simdex
