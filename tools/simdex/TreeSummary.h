#pragma once
// The shape of a metric tree, from one walk over every node: height, objects,
// and per level the nodes, entries, page fill and covering radii. The walk
// reads every node page once; a page referenced twice or that cannot be
// loaded ends it with Corruption (`simdex check` then says more). The tree's
// cost counters are left as they were.
#include <cstdint>
#include <vector>

#include "platform/Status.h"

namespace simdex {
class MetricTree;
}

namespace simdex::cli {

struct LevelSummary {
  int level = 0;  // 0 = leaves
  std::int64_t nodes = 0;
  std::int64_t entries = 0;
  // Bytes the nodes of this level occupy in their pages.
  std::int64_t bytesUsed = 0;
  // Covering radii of the nodes of this level, as their parents' entries
  // hold them (none for the root).
  std::int64_t radii = 0;
  double minRadius = 0;
  double maxRadius = 0;
  double sumRadius = 0;

  double MeanEntries() const;
  // bytesUsed over the bytes of the level's pages.
  double Fill() const;
  double MeanRadius() const;
};

struct TreeSummary {
  int height = 0;
  std::int64_t objects = 0;
  // From the root's level down to the leaves.
  std::vector<LevelSummary> levels;

  static Status Of(MetricTree& tree, TreeSummary* summary);
};

}  // namespace simdex::cli
