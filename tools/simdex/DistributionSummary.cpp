#include "tools/simdex/DistributionSummary.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <vector>

namespace simdex::cli {

Status DistributionSummary::Of(const DistanceDistribution& distribution,
                               DistributionSummary* summary) {
  const std::vector<double>& density = distribution.density();
  const int n = static_cast<int>(density.size()) - 1;
  const double step = distribution.step();
  const double lower = distribution.minDistance();
  // Sample i weighs the pairs of its interval; the last sample, at the upper
  // end, only pairs at exactly the maximum distance.
  std::vector<double> mass(density.size());
  std::vector<double> centre(mass.size());
  double total = 0;
  for (int i = 0; i <= n; ++i) {
    const double value = density[i];
    mass[i] = value > 0 && std::isfinite(value) ? value * step : 0.0;
    centre[i] = i < n ? lower + (i + 0.5) * step : distribution.maxDistance();
    total += mass[i];
  }
  if (n < 0 || !(total > 0)) {
    return Status::FailedPrecondition(
        "the density holds no measured distance: the statistics pass samples the leaves below "
        "the root, and this index has no such leaf yet");
  }
  double sum = 0;
  double squares = 0;
  for (int i = 0; i <= n; ++i) {
    sum += mass[i] * centre[i];
    squares += mass[i] * centre[i] * centre[i];
  }
  DistributionSummary s;
  s.maxDistance = distribution.maxDistance();
  s.mean = sum / total;
  const double variance = std::max(0.0, squares / total - s.mean * s.mean);
  s.stddev = std::sqrt(variance);
  s.intrinsicDimensionality =
      variance > 0 ? s.mean * s.mean / (2 * variance) : std::numeric_limits<double>::infinity();
  auto percentile = [&](double p) {
    const double wanted = p * total;
    double below = 0;
    for (int i = 0; i <= n; ++i) {
      if (mass[i] > 0 && below + mass[i] >= wanted) {
        if (i == n) return s.maxDistance;
        return lower + (i + (wanted - below) / mass[i]) * step;
      }
      below += mass[i];
    }
    return s.maxDistance;
  };
  s.p1 = percentile(0.01);
  s.p10 = percentile(0.10);
  s.median = percentile(0.50);
  s.p90 = percentile(0.90);
  s.p99 = percentile(0.99);
  *summary = s;
  return Status::OK();
}

}  // namespace simdex::cli
