#include "m_trees/TreeParameters.h"

namespace simdex {
namespace {
thread_local TreeParameters* active_parameters = nullptr;
}  // namespace

TreeParameters::TreeParameters() : approximation(std::make_unique<simdex::approximation>(*this)) {}

TreeParameters::~TreeParameters() {
  if (active_parameters == this) SetActiveParameters(nullptr);
}

TreeParameters* ActiveParameters() { return active_parameters; }

void SetActiveParameters(TreeParameters* parameters) {
  active_parameters = parameters;
  SetActiveCounters(parameters);
}

}  // namespace simdex
