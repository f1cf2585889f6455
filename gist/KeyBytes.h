#pragma once
// A key that is nothing but its bytes: what TreeEntry::FromCompressed makes
// when an entry class keeps the page bytes of its key as they are.
#include <cstddef>
#include <utility>
#include <vector>

#include "gist/TreeObject.h"

namespace simdex {

class KeyBytes : public TreeObject {
 public:
  explicit KeyBytes(std::vector<std::byte> bytes) : bytes_(std::move(bytes)) {}
  const std::vector<std::byte>& Bytes() const { return bytes_; }

 private:
  std::vector<std::byte> bytes_;
};

}  // namespace simdex
