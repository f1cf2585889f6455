#pragma once
// Interprets registration scripts: the text a module embeds (resource
// "REGISTRY" 101) to say which registry keys it writes on registration and
// removes on unregistration.
//
// Syntax (one item per key or value, '#' starts a comment):
//
//   key 'VectorA.VectorAObject' = 'VectorAObject Class' {
//     key CLSID = '{EA421A0D-DE21-4151-8AB6-64682A72994E}'
//   }
//   keep key CLSID {
//     replace key '{EA421A0D-DE21-4151-8AB6-64682A72994E}' = 'VectorAObject Class' {
//       key InprocServer32 = '%MODULE%' {
//         value ThreadingModel = 'Apartment'
//       }
//     }
//   }
//
// - `key NAME [= 'default'] [{ ... }]` names one key below the enclosing one;
//   NAME is a bare word of letters, digits, '_', '.', '-' or a quoted string.
// - `value NAME = 'text'` is a named value of the enclosing key.
// - Strings are in apostrophes; an apostrophe inside is written twice.
// - `replace key` is deleted with everything below it before it is written
//   (a clean slate for the class key).
// - `keep key` is never removed on unregistration (shared roots like CLSID);
//   only the script's own values and subkeys below it are.
// - A plain key is removed on unregistration once its script values and
//   subkeys are gone and nothing else (another module's entries) remains.
// - `%NAME%` is replaced before parsing, anywhere in the text (comments
//   too), by the value given to AddReplacement with its apostrophes doubled;
//   `%%` is a literal '%'. An unknown %NAME% is an error.
#include <map>
#include <string>
#include <string_view>

#include "platform/RegistryKey.h"
#include "platform/Status.h"

namespace simdex {

class Registrar {
 public:
  void AddReplacement(std::string name, std::string value);

  // Writes the script's keys into `root`. A script that does not parse
  // (InvalidArgument naming the line) changes nothing.
  Status Register(std::string_view script, RegistryKey& root) const;
  // Removes the script's keys from `root` as described above.
  Status Unregister(std::string_view script, RegistryKey& root) const;

 private:
  Status Expand(std::string_view script, std::string* out) const;

  std::map<std::string, std::string> replacements_;
};

}  // namespace simdex
