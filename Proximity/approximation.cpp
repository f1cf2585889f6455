#include "Proximity/approximation.h"

#include <algorithm>
#include <cmath>

#include "platform/Assert.h"

namespace simdex {

approximation::approximation(ApproximationSettings& settings) : settings_(settings) {}

approximation::~approximation() = default;

bool approximation::isPrunable(double d, double rq, double r) const {
  double t;
  if (!firstThreshold(t)) return false;
  switch (settings_.approximationMethod) {
    case 1: {
      SIMDEX_ASSERT(ModelReady(), "initialised");
      const distanceModel& model = *settings_.model;
      const double M = model.getMaxXRange();
      return model.proximity(d, std::min(rq, M), std::min(r, M)) <= t;
    }
    case 2:
      return (1 + t) * (d - r) > rq;
    default:
      return false;
  }
}

bool approximation::isPrunableByParent(double dqp, double drp, double rq, double r) const {
  double t;
  if (!firstThreshold(t)) return false;
  if (settings_.approximationMethod != 2) return false;
  return (1 + t) * (std::fabs(dqp - drp) - r) > rq;
}

bool approximation::canStop(double dk) {
  double t;
  if (!firstThreshold(t)) return false;
  switch (settings_.approximationMethod) {
    case 3: {
      SIMDEX_ASSERT(ModelReady(), "initialised");
      const distanceModel& model = *settings_.model;
      return model.getDistribution().evaluate(std::min(dk, model.getMaxXRange())) <= t;
    }
    case 4: {
      if (!ModelReady()) return false;
      tracker.addDistance(dk, settings_.model->getMaxXRange());
      return tracker.slope(tracker.lastCount()) >= t;
    }
    default:
      return false;
  }
}

void approximation::resetTracker() { tracker = slowdownTracker(); }

bool approximation::RequiresModel(std::int32_t method) { return method == 1 || method == 3; }

bool approximation::ModelReady() const {
  return settings_.model != nullptr && settings_.model->isInitialised();
}

bool approximation::firstThreshold(double& t) const {
  if (settings_.thresholds.empty()) return false;
  t = settings_.thresholds.front();
  return true;
}

}  // namespace simdex
