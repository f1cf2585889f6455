#pragma once
// One key of the registry tree: an optional default value, named string
// values and subkeys. Key and value names compare case-insensitively (ASCII)
// but keep the case they were written with, as class and library keys are
// looked up by identifiers that callers may spell in either case.
//
// Paths name keys below this one, separated by '\' ("CLSID\{...}\InprocServer32").
// A name is non-empty, at most 255 bytes, and holds no '\' and no control
// character.
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "platform/Status.h"

namespace simdex {

class RegistryKey {
 public:
  struct NameLess {
    using is_transparent = void;
    bool operator()(std::string_view a, std::string_view b) const;
  };
  using SubkeyMap = std::map<std::string, std::unique_ptr<RegistryKey>, NameLess>;
  using ValueMap = std::map<std::string, std::string, NameLess>;

  RegistryKey() = default;
  RegistryKey(const RegistryKey&) = delete;
  RegistryKey& operator=(const RegistryKey&) = delete;
  RegistryKey(RegistryKey&&) = default;
  RegistryKey& operator=(RegistryKey&&) = default;

  // The key at `path` below this one, or null. An empty path is this key.
  const RegistryKey* Find(std::string_view path) const;
  RegistryKey* Find(std::string_view path);
  // Creates the missing keys along `path` and stores the last one in *key.
  // InvalidArgument for a malformed name.
  Status Create(std::string_view path, RegistryKey** key);
  // Removes the key at `path` with everything below it; false when absent.
  bool Remove(std::string_view path);

  // The default value, or null when it is not set.
  const std::string* DefaultValue() const { return default_ ? &*default_ : nullptr; }
  void SetDefaultValue(std::string value) { default_ = std::move(value); }
  void ClearDefaultValue() { default_.reset(); }
  // The named value, or null.
  const std::string* Value(std::string_view name) const;
  void SetValue(std::string name, std::string value);
  bool RemoveValue(std::string_view name);

  const SubkeyMap& subkeys() const { return subkeys_; }
  const ValueMap& values() const { return values_; }
  // No default value, no named value, no subkey.
  bool IsEmpty() const { return !default_ && values_.empty() && subkeys_.empty(); }

  static bool IsValidName(std::string_view name);

  // The registry file's text form of this key taken as the root.
  std::string Serialize() const;
  // Parses the text form into *root (which must be empty). `fileName` only
  // names the file in the Corruption message.
  static Status Parse(std::string_view text, const std::string& fileName, RegistryKey* root);

 private:
  void SerializeInto(const std::string& path, std::string* out) const;

  std::optional<std::string> default_;
  ValueMap values_;
  SubkeyMap subkeys_;
};

}  // namespace simdex
