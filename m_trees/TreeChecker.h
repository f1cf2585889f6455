#pragma once
// Walks a whole metric tree and reports every broken invariant as a readable
// line; no lines means the tree is sound. Checked:
//   - every page referenced once, inside the index file, never the header;
//   - levels fall by one from parent to child, and every leaf lies at the
//     root's depth;
//   - entries of every node in non-decreasing parentDist order;
//   - entries of the root unmeasured (negative parentDist);
//   - below the root, every stored parentDist equal to the true distance to
//     the node's routing object (the parent's entry object), and an entry
//     at distance 0 from it with parentDist 0 (the routing entry);
//   - every object of a subtree inside the covering radius of every routing
//     entry above it; no radius left invalidated and no split mark left over.
// Pages that cannot be loaded are reported too. The tree's cost counters are
// left as they were.
#include <string>
#include <vector>

#include "m_trees/MetricTree.h"

namespace simdex {

class TreeChecker {
 public:
  // At most this many problems are listed; one more line says how many more.
  static constexpr int kMaxProblems = 100;

  static std::vector<std::string> Check(MetricTree& tree);
};

}  // namespace simdex
