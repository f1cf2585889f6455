#pragma once
// A range query: every object within radius of the query. Its Consistent is
// the entry test of both searches (the nearest-neighbour search keeps its
// radius at the current k-th distance):
//   1. with lastDist A (the distance from the query to the routing object of
//      the node under test; 0 at the root) and the entry's measured
//      parentDist B, reject without computing a distance when the
//      approximation rules prune by the parent, or when
//      coverRadius + radius < |A - B| (triangle inequality);
//   2. otherwise compute x, the distance to the entry's object, set
//      lastDist = x, and accept when coverRadius + radius >= x, unless the
//      entry is a routing entry that the approximation rules prune at x.
// The ball tests of routing entries and the bound of step 1 allow for the
// rounding of computed distances (a relative 1e-12), so that no object on
// the boundary is lost; a leaf entry qualifies exactly when its distance is
// at most the radius. Comparisons with a NaN reject. The approximation rules
// are those of the active parameter block; without one the test is exact.
#include <memory>

#include "gist/TreeEntry.h"
#include "m_trees/DistancePredicate.h"
#include "m_trees/TreeQuery.h"

namespace simdex {

class RangeQuery : public TreeQuery {
 public:
  // Takes ownership of predicate (not null).
  RangeQuery(double lastDist, std::unique_ptr<DistancePredicate> predicate, double radius);
  RangeQuery& operator=(const RangeQuery&) = delete;
  ~RangeQuery() override;

  // Copies lastDist and radius and clones the predicate.
  std::unique_ptr<TreeQuery> Clone() const override;
  std::unique_ptr<RangeQuery> CloneQuery() const;
  // The test above. entry must be an MTentry ("entry.IsA()==MTENTRY_CLASS").
  int Consistent(const TreeEntry& entry) override;

  const DistancePredicate& Predicate() const { return *predicate_; }

  // The distance from the query to the routing object of the node whose
  // entries are tested (0 at the root); after an accepted or measured entry,
  // the distance to that entry's object.
  double lastDist;
  // The query radius.
  double radius;

 private:
  RangeQuery(const RangeQuery& other);

  std::unique_ptr<DistancePredicate> predicate_;
};

}  // namespace simdex
