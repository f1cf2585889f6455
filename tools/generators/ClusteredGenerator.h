#pragma once
// Clustered vectors of the classic metric-tree experiments: `clusters`
// Gaussian clusters with standard deviation `sigma` around centres drawn
// uniformly in [0,1]^dim, every coordinate clamped to [0,1]. Points go
// round-robin over the clusters. One seed gives one stream: the first n
// points of a longer run are the n points of a shorter one.
#include <cstdint>
#include <span>
#include <vector>

#include "tools/generators/SplitMix64.h"

namespace simdex {

class ClusteredGenerator {
 public:
  // Draws the centres first (clusters * dim uniforms of the stream).
  // Preconditions: dim > 0, clusters > 0, sigma >= 0.
  ClusteredGenerator(int dim, int clusters = 10, double sigma = 0.1, std::uint64_t seed = 20261211);

  // The next point into out (exactly dim values).
  void Next(std::span<double> out);
  int dimension() const { return dim_; }

 private:
  SplitMix64 rng_;
  int dim_;
  int clusters_;
  double sigma_;
  std::vector<double> centres_;
  std::int64_t next_ = 0;
};

// `count` points of ClusteredGenerator(dim, clusters, sigma, seed), row-major.
std::vector<double> ClusteredVectors(int count, int dim, int clusters = 10, double sigma = 0.1,
                                     std::uint64_t seed = 20261211);

}  // namespace simdex
