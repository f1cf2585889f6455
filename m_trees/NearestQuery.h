#pragma once
// A k-nearest-neighbour query: the k stored objects nearest to the query.
#include <cstdint>
#include <memory>

#include "gist/TreeObject.h"
#include "m_trees/DistancePredicate.h"

namespace simdex {

class NearestQuery : public TreeObject {
 public:
  // Takes ownership of predicate (not null). A k below 1 asks for nothing.
  NearestQuery(std::int32_t k, std::unique_ptr<DistancePredicate> predicate);
  NearestQuery& operator=(const NearestQuery&) = delete;
  ~NearestQuery() override;

  // Copies k and clones the predicate.
  std::unique_ptr<NearestQuery> Clone() const;

  std::int32_t k() const { return k_; }
  const DistancePredicate& Predicate() const { return *predicate_; }

 private:
  NearestQuery(const NearestQuery& other);

  std::int32_t k_;
  std::unique_ptr<DistancePredicate> predicate_;
};

}  // namespace simdex
