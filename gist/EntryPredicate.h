#pragma once
// A test applied to the entries of a node by GiSTnode::CollectMatches.
#include <cstdint>
#include <memory>

#include "gist/TreeEntry.h"
#include "gist/TreeObject.h"

namespace simdex {

class EntryPredicate : public TreeObject {
 public:
  static constexpr std::int32_t kClassTag = 16;

  ~EntryPredicate() override = default;
  std::int32_t IsA() const override { return kClassTag; }
  // A copy owned by the caller; the generic predicate has none.
  virtual std::unique_ptr<EntryPredicate> Clone() const { return nullptr; }
  // Nonzero when entry satisfies the predicate.
  virtual int Matches(const TreeEntry& entry) const = 0;
};

}  // namespace simdex
