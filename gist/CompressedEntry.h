#pragma once
// The byte form of one entry, as exchanged between an entry and a node page:
// keyLen key bytes followed in the page by the 4-byte pointer.
#include <cstddef>
#include <cstdint>
#include <vector>

namespace simdex {

struct CompressedEntry {
  // The key bytes; empty when keyLen is 0. Always exactly keyLen bytes long.
  std::vector<std::byte> keyBytes;
  std::int32_t keyLen = 0;
  // Child page in an internal node, object identifier in a leaf.
  std::int32_t pointer = 0;
};

}  // namespace simdex
