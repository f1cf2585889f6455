#pragma once
// Resources embedded in a module: its registration script ("REGISTRY" 101),
// type libraries ("TYPELIB" 1, 2, ...), version information ("VERSION" 1) and
// strings ("STRING" 100 = the module's name).
//
// A module holds them in one table in the ELF section ".simdex_rsrc", built at
// compile time by SIMDEX_RESOURCE_TABLE. ReadFromFile finds that section in
// the module file and parses it without loading the module, so tools and the
// type-library loader never run a module's code to learn about it.
//
// Table layout, all counts little-endian:
//   "SMDXRES1"                       8-byte magic and format version
//   u32 count
//   count times: u32 typeLength, type bytes, u32 id, u32 dataLength, data bytes
#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/Status.h"

namespace simdex {

inline constexpr std::string_view kResourceSectionName = ".simdex_rsrc";
inline constexpr std::string_view kResourceMagic = "SMDXRES1";

// Resource types and identifiers the platform looks for.
inline constexpr std::string_view kRegistryResource = "REGISTRY";
inline constexpr std::uint32_t kRegistryScriptId = 101;
inline constexpr std::string_view kTypeLibResource = "TYPELIB";
inline constexpr std::string_view kVersionResource = "VERSION";
inline constexpr std::string_view kStringResource = "STRING";
inline constexpr std::uint32_t kModuleNameStringId = 100;

// One resource as written in a module's source. Its data is the
// concatenation of up to four parts (so shared texts can be combined without
// macros): {"TYPELIB", 2, kLibraryLine, kInterfaceText}.
struct ResourceSpec {
  constexpr ResourceSpec(std::string_view t, std::uint32_t i, std::string_view p0,
                         std::string_view p1 = {}, std::string_view p2 = {},
                         std::string_view p3 = {})
      : type(t), id(i), parts{p0, p1, p2, p3} {}
  std::string_view type;
  std::uint32_t id;
  std::array<std::string_view, 4> parts;
};

struct Resource {
  std::string type;
  std::uint32_t id = 0;
  std::string data;
};

class ModuleResources {
 public:
  // Parses a resource table. `origin` names the module in error messages.
  static Status Parse(std::span<const unsigned char> table, const std::string& origin,
                      ModuleResources* out);
  // Reads the resource table of the module file at `path` (a 64-bit
  // little-endian ELF file) without loading it. A module without the
  // section has no resources. Truncated or inconsistent files give
  // Corruption naming the file.
  static Status ReadFromFile(const std::string& path, ModuleResources* out);

  const Resource* Find(std::string_view type, std::uint32_t id) const;
  std::vector<const Resource*> FindAll(std::string_view type) const;
  const std::vector<Resource>& entries() const { return entries_; }

 private:
  std::vector<Resource> entries_;
};

namespace resource_detail {
consteval void Put32(unsigned char* p, std::size_t* at, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) p[(*at)++] = static_cast<unsigned char>(v >> (8 * i));
}
consteval void PutBytes(unsigned char* p, std::size_t* at, std::string_view s) {
  for (char c : s) p[(*at)++] = static_cast<unsigned char>(c);
}
consteval std::size_t DataSize(const ResourceSpec& r) {
  std::size_t n = 0;
  for (const auto& part : r.parts) n += part.size();
  return n;
}
}  // namespace resource_detail

template <std::size_t N>
consteval std::size_t ResourceTableSize(const ResourceSpec (&specs)[N]) {
  std::size_t n = kResourceMagic.size() + 4;
  for (const auto& r : specs) n += 4 + r.type.size() + 4 + 4 + resource_detail::DataSize(r);
  return n;
}

template <std::size_t Size, std::size_t N>
consteval std::array<unsigned char, Size> BuildResourceTable(const ResourceSpec (&specs)[N]) {
  std::array<unsigned char, Size> t{};
  std::size_t at = 0;
  resource_detail::PutBytes(t.data(), &at, kResourceMagic);
  resource_detail::Put32(t.data(), &at, static_cast<std::uint32_t>(N));
  for (const auto& r : specs) {
    resource_detail::Put32(t.data(), &at, static_cast<std::uint32_t>(r.type.size()));
    resource_detail::PutBytes(t.data(), &at, r.type);
    resource_detail::Put32(t.data(), &at, r.id);
    resource_detail::Put32(t.data(), &at, static_cast<std::uint32_t>(resource_detail::DataSize(r)));
    for (const auto& part : r.parts) resource_detail::PutBytes(t.data(), &at, part);
  }
  return t;
}

}  // namespace simdex

// Defines `name`, the module's resource table, in the section the reader
// looks for. Use once per module, at namespace scope:
//   SIMDEX_RESOURCE_TABLE(kResources,
//       {"REGISTRY", 101, kScript},
//       {"STRING", 100, "VectorA"});
#define SIMDEX_RESOURCE_TABLE(name, ...)                            \
  constexpr ::simdex::ResourceSpec name##Specs[] = {__VA_ARGS__};   \
  [[gnu::used, gnu::section(".simdex_rsrc")]] constexpr auto name = \
      ::simdex::BuildResourceTable<::simdex::ResourceTableSize(name##Specs)>(name##Specs)
