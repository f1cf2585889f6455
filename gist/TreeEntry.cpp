#include "gist/TreeEntry.h"

#include "gist/KeyBytes.h"

namespace simdex {

Status TreeEntry::FromCompressed(const CompressedEntry& compressed) {
  SetKey(std::make_unique<KeyBytes>(compressed.keyBytes));
  SetPointer(compressed.pointer);
  return Status::OK();
}

}  // namespace simdex
