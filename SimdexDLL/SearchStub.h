#pragma once
// TEMPORARY stand-in for the tree's searches until they land in m_trees/:
// the same classes and calls, answered by a linear walk over the leaves.
#include <cstdint>
#include <memory>

#include "gist/GiSTlist.h"
#include "m_trees/MTentry.h"
#include "m_trees/MTobjectHandle.h"
#include "m_trees/MetricTree.h"
#include "platform/Status.h"

namespace simdex {

class DistancePredicate {
 public:
  virtual ~DistancePredicate() = default;
  virtual double Distance(const MTobjectHandle& o) const = 0;
};

class ObjectPredicate : public DistancePredicate {
 public:
  explicit ObjectPredicate(const MTobjectHandle& queryObject) : query_(queryObject.Copy()) {}
  double Distance(const MTobjectHandle& o) const override { return query_->Distance(o); }

 private:
  std::unique_ptr<MTobjectHandle> query_;
};

struct RangeQuery {
  RangeQuery(double lastDist, std::unique_ptr<DistancePredicate> p, double r)
      : last(lastDist), predicate(std::move(p)), radius(r) {}
  double last;
  std::unique_ptr<DistancePredicate> predicate;
  double radius;
};

struct NearestQuery {
  NearestQuery(std::int32_t count, std::unique_ptr<DistancePredicate> p)
      : k(count), predicate(std::move(p)) {}
  std::int32_t k;
  std::unique_ptr<DistancePredicate> predicate;
};

Status SearchRange(MetricTree& tree, const RangeQuery& query,
                   GiSTlist<std::unique_ptr<MTentry>>* results);
Status SearchNearest(MetricTree& tree, const NearestQuery& query,
                     GiSTlist<std::unique_ptr<MTentry>>* results);

}  // namespace simdex
