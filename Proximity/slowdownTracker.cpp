#include "Proximity/slowdownTracker.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "platform/Assert.h"

namespace simdex {

slowdownTracker::~slowdownTracker() = default;

void slowdownTracker::addDistance(double dk, double maxXRange) {
  // Until k objects are found the k-th distance is the largest double.
  if (dk == std::numeric_limits<double>::max()) return;
  const double v = dk / maxXRange;
  ++count;
  if (last < 0) {
    last = 0;
  } else if (v < y[last]) {
    if (last < window - 1) {
      ++last;
    } else {
      std::copy(x.begin() + 1, x.end(), x.begin());
      std::copy(y.begin() + 1, y.end(), y.begin());
    }
  }
  x[last] = count;
  y[last] = v;
}

int slowdownTracker::lastCount() const { return last < 0 ? 0 : x[last]; }

double slowdownTracker::predict(double a) const {
  const double n = last + 1;
  double sx = 0.0, sxx = 0.0, sy = 0.0, sxy = 0.0;
  for (int i = 0; i <= last; ++i) {
    const double lx = std::log(static_cast<double>(x[i]));
    sx += lx;
    sxx += lx * lx;
    sy += y[i];
    sxy += y[i] * lx;
  }
  const double D = n * sxx - sx * sx;
  const double alpha = (n * sxy - sx * sy) / D;
  const double beta = (sxx * sy - sx * sxy) / D;
  return alpha * std::log(a) + beta;
}

double slowdownTracker::slope(double a) const {
  if (last <= 0) return std::numeric_limits<double>::lowest();
  // Step of the forward difference: small against the counts it is taken at.
  const double b = a + 0.0001;
  return (predict(a) - predict(b)) / (a - b);
}

std::int32_t slowdownTracker::getX(int i) const {
  SIMDEX_ASSERT(i >= 0 && i <= last, "(0<=i)&&(i<=last)");
  return x[i];
}

double slowdownTracker::getY(int i) const {
  SIMDEX_ASSERT(i >= 0 && i <= last, "(0<=i)&&(i<=last)");
  return y[i];
}

}  // namespace simdex
