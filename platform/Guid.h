#pragma once
// 128-bit identifiers of classes, interfaces and type libraries, in the
// platform's usual layout and braced text form
// "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}".
#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

struct GUID {
  std::uint32_t Data1;
  std::uint16_t Data2;
  std::uint16_t Data3;
  std::array<std::uint8_t, 8> Data4;

  friend constexpr bool operator==(const GUID&, const GUID&) = default;
};
using CLSID = GUID;
using IID = GUID;
using REFIID = const IID&;
using REFCLSID = const CLSID&;

namespace simdex {

namespace guid_detail {
constexpr int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}
constexpr std::optional<std::uint64_t> Hex(std::string_view s) {
  std::uint64_t v = 0;
  for (char c : s) {
    int d = HexDigit(c);
    if (d < 0) return std::nullopt;
    v = v * 16 + static_cast<std::uint64_t>(d);
  }
  return v;
}
}  // namespace guid_detail

// Parses the braced form; the braces are optional. Case-insensitive.
constexpr std::optional<GUID> ParseGuid(std::string_view text) {
  if (text.size() == 38) {
    if (text.front() != '{' || text.back() != '}') return std::nullopt;
    text = text.substr(1, 36);
  }
  if (text.size() != 36 || text[8] != '-' || text[13] != '-' || text[18] != '-' || text[23] != '-')
    return std::nullopt;
  auto d1 = guid_detail::Hex(text.substr(0, 8));
  auto d2 = guid_detail::Hex(text.substr(9, 4));
  auto d3 = guid_detail::Hex(text.substr(14, 4));
  if (!d1 || !d2 || !d3) return std::nullopt;
  GUID g{static_cast<std::uint32_t>(*d1),
         static_cast<std::uint16_t>(*d2),
         static_cast<std::uint16_t>(*d3),
         {}};
  const std::size_t starts[8] = {19, 21, 24, 26, 28, 30, 32, 34};
  for (int i = 0; i < 8; ++i) {
    auto b = guid_detail::Hex(text.substr(starts[i], 2));
    if (!b) return std::nullopt;
    g.Data4[i] = static_cast<std::uint8_t>(*b);
  }
  return g;
}

// For identifiers written in the source: a malformed literal fails to compile
// when used in a constant expression.
consteval GUID GuidLiteral(std::string_view text) {
  auto g = ParseGuid(text);
  if (!g) throw "malformed GUID literal";
  return *g;
}

// Upper-case braced form.
std::string FormatGuid(const GUID& g);

}  // namespace simdex

template <>
struct std::hash<GUID> {
  std::size_t operator()(const GUID& g) const noexcept {
    std::uint64_t h = (std::uint64_t{g.Data1} << 32) ^ (std::uint64_t{g.Data2} << 16) ^ g.Data3;
    for (auto b : g.Data4) h = h * 1099511628211ull ^ b;
    return static_cast<std::size_t>(h);
  }
};
