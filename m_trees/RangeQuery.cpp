#include "m_trees/RangeQuery.h"

#include <cmath>
#include <utility>

#include "m_trees/MTentry.h"
#include "m_trees/TreeParameters.h"
#include "platform/Assert.h"

namespace simdex {

RangeQuery::RangeQuery(double lastDistance, std::unique_ptr<DistancePredicate> predicate,
                       double queryRadius)
    : lastDist(lastDistance), radius(queryRadius), predicate_(std::move(predicate)) {
  SIMDEX_ASSERT(predicate_ != nullptr, "predicate!=NULL");
}

RangeQuery::RangeQuery(const RangeQuery& other)
    : TreeQuery(other),
      lastDist(other.lastDist),
      radius(other.radius),
      predicate_(other.predicate_->Clone()) {}

RangeQuery::~RangeQuery() = default;

std::unique_ptr<TreeQuery> RangeQuery::Clone() const { return CloneQuery(); }

std::unique_ptr<RangeQuery> RangeQuery::CloneQuery() const {
  return std::unique_ptr<RangeQuery>(new RangeQuery(*this));
}

int RangeQuery::Consistent(const TreeEntry& entry) {
  SIMDEX_ASSERT(entry.IsA() == MTentry::MTENTRY_CLASS, "entry.IsA()==MTENTRY_CLASS");
  const MTball& key = static_cast<const MTentry&>(entry).Ball();
  const double a = lastDist;
  const double b = key.parentDist;
  const double c = radius;
  const double r = key.coverRadius;
  TreeParameters* parameters = ActiveParameters();
  const approximation* rules = parameters ? parameters->approximation.get() : nullptr;

  // Below the root the stored distance to the routing object bounds the
  // entry's distance from below. An unmeasured one (negative) bounds nothing:
  // a consistent tree has none there, and a damaged one must not lose
  // answers to it.
  if (a != 0 && b >= 0) {
    if (rules != nullptr && rules->isPrunableByParent(a, b, c, r)) return 0;
    if (r + c < std::fabs(a - b)) return 0;
  }
  const double x = predicate_->Distance(key.Object());
  lastDist = x;
  const bool skip = entry.Level() != 0 && rules != nullptr && rules->isPrunable(x, c, r);
  return (r + c >= x && !skip) ? 1 : 0;
}

}  // namespace simdex
