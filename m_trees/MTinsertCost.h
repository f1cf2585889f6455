#pragma once
// The cost of placing a new object under a metric entry, with the distance
// found while computing it. Lower is better; two bands: an entry whose ball
// already holds the object costs d - maxDistance (negative), any other the
// growth of its radius d - coverRadius (positive). A cost cut short by the
// lower-bound shortcut is the largest double with distance 0.
#include "gist/CostValue.h"

namespace simdex {

class MTinsertCost : public CostValue {
 public:
  MTinsertCost(double value, double distance) : CostValue(value), distance_(distance) {}

  // d(entry object, new object) + the new entry's coverRadius, or 0 when no
  // distance was computed.
  double Distance() const { return distance_; }

 private:
  double distance_;
};

}  // namespace simdex
