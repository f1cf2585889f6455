#pragma once
// What the approximation rules read at every call: the method, the thresholds
// and the distance model. The metric tree's parameter block derives from this
// so that the rules, which sit below the tree, can read the block without
// depending on it.
#include <cstdint>
#include <memory>
#include <vector>

#include "Proximity/distanceModel.h"

namespace simdex {

struct ApproximationSettings {
  // 0 = exact search; 1 to 4 select a rule; any other number selects none.
  std::int32_t approximationMethod = 0;
  // The client's thresholds; the rules read only the first. Empty = none set.
  std::vector<double> thresholds;
  // The distance distribution of the index, or null before one is loaded.
  std::unique_ptr<distanceModel> model;
};

}  // namespace simdex
