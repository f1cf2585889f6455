#pragma once
// A summary of the distance distribution measured by the statistics pass,
// computed from the density of an index (Density.dat): interval i of the
// density holds the share of sampled pairs whose distance lies in
// [i * step, (i + 1) * step), divided by step. Means use the interval centres;
// percentiles interpolate linearly inside their interval.
#include "platform/Status.h"
#include "tools/simdex/DistanceDistribution.h"

namespace simdex::cli {

struct DistributionSummary {
  double maxDistance = 0;
  double mean = 0;
  double stddev = 0;
  double p1 = 0;
  double p10 = 0;
  double median = 0;
  double p90 = 0;
  double p99 = 0;
  // mean^2 / (2 variance): how hard the data are to index; infinite when
  // every distance is the same.
  double intrinsicDimensionality = 0;

  // FailedPrecondition when the density holds no measured pair (nothing was
  // sampled).
  static Status Of(const DistanceDistribution& distribution, DistributionSummary* summary);
};

}  // namespace simdex::cli
