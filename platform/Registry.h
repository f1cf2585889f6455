#pragma once
// The persistent registry: one tree of keys (RegistryKey) stored in one text
// file. Classes, ProgIDs and type libraries are registered here by the modules
// and looked up by the activation and type-library functions.
//
// The file is $SIMDEX_REGISTRY when that is set and not empty, else
// $XDG_DATA_HOME/simdex/registry.txt, else ~/.local/share/simdex/registry.txt.
//
// - A missing or empty file is an empty registry.
// - A file that does not parse is reported as Corruption naming the file, and
//   is never overwritten: Update fails before writing anything.
// - Update writes a temporary file beside the registry and renames it over
//   the old one, so a crash leaves either the old or the new registry.
// - Update holds an exclusive flock on "<file>.lock" from its read to its
//   rename, so concurrent updates from several processes all take effect.
//   Read takes no lock: a rename is atomic.
#include <functional>
#include <string>

#include "platform/RegistryKey.h"
#include "platform/Status.h"

namespace simdex {

class Registry {
 public:
  // The registry file of this process, from the environment (see above).
  // InvalidArgument when neither variable nor HOME gives a location.
  static Status DefaultPath(std::string* path);

  Registry() = default;
  explicit Registry(std::string path) : path_(std::move(path)) {}
  // The registry at DefaultPath(); fails as DefaultPath does.
  static Status OpenDefault(Registry* registry);

  const std::string& path() const { return path_; }

  // Reads the whole registry into *root (which must be empty).
  Status Read(RegistryKey* root) const;

  // Applies `change` to the current content under the lock and writes the
  // result. When `change` fails its status is answered and nothing is
  // written. Creates the file's directory when it is missing.
  Status Update(const std::function<Status(RegistryKey& root)>& change);

 private:
  Status WriteAtomically(const std::string& text) const;

  std::string path_;
};

}  // namespace simdex
