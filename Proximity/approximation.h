#pragma once
// The approximation rules that let a search trade accuracy for speed. The
// searches ask whether a region may be skipped (isPrunable,
// isPrunableByParent) and whether a nearest-neighbour search may stop
// (canStop); true means skip or stop. Every call reads the method, the first
// threshold t and the model from the settings it refers to, so a change by the
// client applies to the next test.
//
//   method 1: skip when the region's proximity to the query ball is <= t
//   method 2: skip when (1 + t) * (smallest possible distance) > search radius
//   method 3: stop when F(k-th distance) <= t
//   method 4: stop when the slow-down slope of the k-th distance is >= t
//
// Any other method, and methods 1 to 4 while no threshold is set, answer no:
// the search is exact. Methods 1 and 3 need an initialised model and stop the
// process ("initialised") without one; callers check ModelReady() first.
// Method 4 only normalises by the model's largest distance; without a usable
// model it never stops.
#include <cstdint>

#include "Proximity/ApproximationSettings.h"
#include "Proximity/slowdownTracker.h"

namespace simdex {

class approximation {
 public:
  // Borrows `settings`, which must outlive this object.
  explicit approximation(ApproximationSettings& settings);
  approximation(const approximation&) = delete;
  approximation& operator=(const approximation&) = delete;
  virtual ~approximation();

  // Region test after the distance d between the query and the region's
  // routing object is known; rq is the search radius (the largest double while
  // a nearest-neighbour search has fewer than k objects), r the region's
  // covering radius.
  bool isPrunable(double d, double rq, double r) const;
  // Region test before d is known: dqp is the distance between the query and
  // the parent routing object, drp the stored distance between the entry's
  // routing object and that parent.
  bool isPrunableByParent(double dqp, double drp, double rq, double r) const;
  // Stop test with the current k-th distance dk, asked after every processed
  // node. Feeds the slow-down tracker under method 4 only.
  bool canStop(double dk);
  // Replaces the tracker by an empty one; done at the start of every search
  // and insertion so that each search fits only its own distances.
  void resetTracker();

  // Whether a method evaluates the model (1 and 3) and so needs one that is
  // initialised.
  static bool RequiresModel(std::int32_t method);
  // Whether the settings hold an initialised model.
  bool ModelReady() const;
  const slowdownTracker& getTracker() const { return tracker; }

 private:
  // The first threshold, or false when none is set.
  bool firstThreshold(double& t) const;

  ApproximationSettings& settings_;
  slowdownTracker tracker;
};

}  // namespace simdex
