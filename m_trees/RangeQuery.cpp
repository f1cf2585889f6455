#include "m_trees/RangeQuery.h"

#include <algorithm>
#include <cmath>
#include <utility>

#include "m_trees/MTentry.h"
#include "m_trees/TreeParameters.h"
#include "platform/Assert.h"

namespace simdex {
namespace {

// Distances are computed in floating point, so the triangle inequality holds
// for the computed values only up to rounding: an object on the boundary of
// the query ball, or equal to the query, can get a computed lower bound a few
// units in the last place above the radius, and a covering radius can fall as
// short of its objects. The ball tests therefore give up an entry only when
// it lies beyond the radius by more than this share of the magnitudes
// involved; nearer ones are measured. (A plug-in's rounding would have to be
// a thousand times worse than a 144-term Euclidean sum to exceed it.)
constexpr double kRoundingSlack = 1e-12;

double Slack(double u, double v, double w, double z) {
  return kRoundingSlack * std::max({std::fabs(u), std::fabs(v), std::fabs(w), std::fabs(z)});
}

}  // namespace

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
    if (std::fabs(a - b) - (r + c) > Slack(a, b, r, c)) return 0;
  }
  const double x = predicate_->Distance(key.Object());
  lastDist = x;
  if (entry.Level() == 0) return r + c >= x ? 1 : 0;  // exactly the radius
  if (rules != nullptr && rules->isPrunable(x, c, r)) return 0;
  return x <= r + c + Slack(r, c, 0, 0) ? 1 : 0;
}

}  // namespace simdex
