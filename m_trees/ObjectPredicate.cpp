#include "m_trees/ObjectPredicate.h"

namespace simdex {

ObjectPredicate::ObjectPredicate(const MTobjectHandle& queryObject)
    : queryObject_(queryObject.Copy()) {}

ObjectPredicate::ObjectPredicate(const ObjectPredicate& other)
    : DistancePredicate(other), queryObject_(other.queryObject_->Copy()) {}

ObjectPredicate::~ObjectPredicate() = default;

std::unique_ptr<DistancePredicate> ObjectPredicate::Clone() const {
  return std::unique_ptr<DistancePredicate>(new ObjectPredicate(*this));
}

double ObjectPredicate::Distance(const MTobjectHandle& object) const {
  return queryObject_->Distance(object);
}

}  // namespace simdex
