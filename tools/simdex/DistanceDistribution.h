#pragma once
// The distance distribution of an index as its directory holds it: the
// density (Density.dat) and the distribution (Distribution.dat) over
// [0, max distance], in the sampled-function text format the engine writes,
// and the number of objects of the last statistics pass (TreeStats.dat).
//
// A new index holds a uniform density until `simdex stats` measures the real
// one; measured() tells the two apart.
#include <cstdint>
#include <string>
#include <vector>

#include "platform/Status.h"

namespace simdex::cli {

class DistanceDistribution {
 public:
  // Reads the files of the index in directory. NotFound names a missing
  // file; Corruption one that the engine would not load either, or the two
  // files disagreeing on their range.
  static Status Load(const std::string& directory, DistanceDistribution* out);

  double minDistance() const { return minDistance_; }
  double maxDistance() const { return maxDistance_; }
  // Width of one interval between samples.
  double step() const { return step_; }
  // Sample positions (0 to maxDistance), and the density and distribution at
  // each.
  const std::vector<double>& positions() const { return positions_; }
  const std::vector<double>& density() const { return density_; }
  const std::vector<double>& distribution() const { return distribution_; }
  // False while the density is the uniform one of a new index (or a
  // statistics pass that found no objects to sample): every sample equal.
  bool measured() const { return measured_; }
  // Objects in the leaves below the root at the last statistics pass (0
  // before the first one, and while the root is the only node).
  std::int64_t objects() const { return objects_; }

  // The distribution at x as the approximate searches read it: the sample at
  // or below x (x clamped to the range), a sample of 0 taking the
  // value of the next non-zero one.
  double F(double x) const;
  // The smallest sample position where the distribution reaches fraction p
  // (0..1) of its last value; maxDistance when it never does.
  double Quantile(double p) const;

 private:
  double minDistance_ = 0;
  double maxDistance_ = 0;
  double step_ = 0;
  std::vector<double> positions_;
  std::vector<double> density_;
  std::vector<double> distribution_;
  bool measured_ = false;
  std::int64_t objects_ = 0;
};

}  // namespace simdex::cli
