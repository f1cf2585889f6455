#include "Proximity/distanceModel.h"

#include <algorithm>

#include "platform/Assert.h"

namespace simdex {

distanceModel::distanceModel(const std::string& densityFile, const std::string& distributionFile,
                             const std::string& tFile) {
  if (!density.load(densityFile) || !distribution.load(distributionFile) || !tFunction.load(tFile))
    return;
  const double step =
      std::min({density.getEpsilon(), distribution.getEpsilon(), tFunction.getEpsilon()});
  const double low = density.getMinXRange();
  const double high = density.getMaxXRange();
  if (distribution.getMinXRange() != low || tFunction.getMinXRange() != low ||
      distribution.getMaxXRange() != high || tFunction.getMaxXRange() != high)
    return;
  // proximity evaluates F(0); a range that starts above 0 can't answer it.
  if (low > 0.0) return;
  epsilon = step;
  minXRange = low;
  maxXRange = high;
  initialised = true;
}

distanceModel::~distanceModel() = default;

bool distanceModel::load(const std::string&) { return false; }

bool distanceModel::save(const std::string&) const { return false; }

double distanceModel::evaluate(double) const {
  SIMDEX_ASSERT(false, "false");
  return 0.0;
}

bool distanceModel::insertPair(double, double) { return false; }

bool distanceModel::updatePair(double, double) { return false; }

bool distanceModel::deletePair(double) { return false; }

void distanceModel::setEpsilon(double) { SIMDEX_ASSERT(false, "false"); }

void distanceModel::setSamples(int) { SIMDEX_ASSERT(false, "false"); }

int distanceModel::getSamples() const {
  SIMDEX_ASSERT(false, "false");
  return 0;
}

double distanceModel::proximity(double d, double rq, double r) const {
  SIMDEX_ASSERT(initialised, "initialised");
  const double M = maxXRange;
  const double h = epsilon;
  // The query ball contains the region's centre only when rq > d; then every
  // distance up to M can matter.
  const double U = rq > d ? M : rq;
  const double H = d + r;
  const double L = std::min(rq, H);
  const double F0 = distribution.evaluate(0.0);
  double sum = 0.0;
  for (double x = minXRange; x <= U; x += h) {
    double m;
    if (x > L) {
      m = std::min(r, rq - d);
    } else if (r > d) {
      m = x < r - d ? M : r;
    } else {
      m = r > d - rq ? r : 0.0;
    }
    sum += density.evaluate(x) * (distribution.evaluate(m) - F0);
  }
  return h * sum;
}

}  // namespace simdex
