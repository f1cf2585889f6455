#pragma once
// A question asked of the tree's entries during a search: may the entry (a
// routing entry's subtree, or a leaf entry's object) hold an answer?
#include <memory>

#include "gist/TreeEntry.h"
#include "gist/TreeObject.h"

namespace simdex {

class TreeQuery : public TreeObject {
 public:
  ~TreeQuery() override = default;

  // A deep copy owned by the caller.
  virtual std::unique_ptr<TreeQuery> Clone() const = 0;
  // Nonzero when entry may hold an answer. May record what it measured in
  // the query (the range query keeps the last computed distance).
  virtual int Consistent(const TreeEntry& entry) = 0;

 protected:
  TreeQuery() = default;
  TreeQuery(const TreeQuery&) = default;
  TreeQuery& operator=(const TreeQuery&) = delete;
};

}  // namespace simdex
