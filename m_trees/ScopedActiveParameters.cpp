#include "m_trees/ScopedActiveParameters.h"

namespace simdex {

ScopedActiveParameters::ScopedActiveParameters(TreeParameters* parameters)
    : previous_(ActiveParameters()) {
  SetActiveParameters(parameters);
}

ScopedActiveParameters::~ScopedActiveParameters() { SetActiveParameters(previous_); }

}  // namespace simdex
