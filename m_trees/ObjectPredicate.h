#pragma once
// The predicate of a similarity query: the distance to one query object.
#include <memory>

#include "m_trees/DistancePredicate.h"
#include "m_trees/MTobjectHandle.h"

namespace simdex {

class ObjectPredicate : public DistancePredicate {
 public:
  // Keeps a deep copy of queryObject (a new plug-in object of the active
  // index's class); the caller keeps its own.
  explicit ObjectPredicate(const MTobjectHandle& queryObject);
  ObjectPredicate& operator=(const ObjectPredicate&) = delete;
  ~ObjectPredicate() override;

  // A new predicate with its own copy of the query object.
  std::unique_ptr<DistancePredicate> Clone() const override;
  // queryObject's Distance to object: one counted computation.
  double Distance(const MTobjectHandle& object) const override;

  const MTobjectHandle& QueryObject() const { return *queryObject_; }

 private:
  ObjectPredicate(const ObjectPredicate& other);

  std::unique_ptr<MTobjectHandle> queryObject_;
};

}  // namespace simdex
