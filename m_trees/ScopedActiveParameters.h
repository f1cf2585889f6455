#pragma once
// Makes a parameter block active for the life of a scope and then restores
// the block that was active before (tests, and callers that must not leave
// their block behind).
#include "m_trees/TreeParameters.h"

namespace simdex {

class ScopedActiveParameters {
 public:
  explicit ScopedActiveParameters(TreeParameters* parameters);
  ScopedActiveParameters(const ScopedActiveParameters&) = delete;
  ScopedActiveParameters& operator=(const ScopedActiveParameters&) = delete;
  ~ScopedActiveParameters();

 private:
  TreeParameters* previous_;
};

}  // namespace simdex
