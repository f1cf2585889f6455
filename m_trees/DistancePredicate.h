#pragma once
// What a query measures its distance to: the searches ask a predicate for the
// distance between the query and an object of the index, one counted distance
// computation per call.
#include <cstdint>
#include <memory>

#include "gist/TreeObject.h"
#include "m_trees/MTobjectHandle.h"

namespace simdex {

class DistancePredicate : public TreeObject {
 public:
  // The predicate family's own class tag.
  static constexpr std::int32_t kPredicateClass = 19;

  ~DistancePredicate() override = default;

  // A deep copy owned by the caller.
  virtual std::unique_ptr<DistancePredicate> Clone() const = 0;
  // The predicate family's class tag (nothing dispatches on it).
  virtual std::int32_t PredicateClass() const { return kPredicateClass; }
  // The distance between the query and object; adds 1 to the active
  // computedDistances counter.
  virtual double Distance(const MTobjectHandle& object) const = 0;

 protected:
  DistancePredicate() = default;
  DistancePredicate(const DistancePredicate&) = default;
  DistancePredicate& operator=(const DistancePredicate&) = delete;
};

}  // namespace simdex
