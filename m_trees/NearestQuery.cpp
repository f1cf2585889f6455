#include "m_trees/NearestQuery.h"

#include <utility>

#include "platform/Assert.h"

namespace simdex {

NearestQuery::NearestQuery(std::int32_t k, std::unique_ptr<DistancePredicate> predicate)
    : k_(k), predicate_(std::move(predicate)) {
  SIMDEX_ASSERT(predicate_ != nullptr, "predicate!=NULL");
}

NearestQuery::NearestQuery(const NearestQuery& other)
    : TreeObject(other), k_(other.k_), predicate_(other.predicate_->Clone()) {}

NearestQuery::~NearestQuery() = default;

std::unique_ptr<NearestQuery> NearestQuery::Clone() const {
  return std::unique_ptr<NearestQuery>(new NearestQuery(*this));
}

}  // namespace simdex
