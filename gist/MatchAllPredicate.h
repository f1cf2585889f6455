#pragma once
// The predicate that every entry satisfies: takes a whole node's entries.
#include <memory>

#include "gist/EntryPredicate.h"

namespace simdex {

class MatchAllPredicate : public EntryPredicate {
 public:
  std::unique_ptr<EntryPredicate> Clone() const override {
    return std::make_unique<MatchAllPredicate>();
  }
  int Matches(const TreeEntry& entry) const override {
    (void)entry;
    return 1;
  }
};

}  // namespace simdex
