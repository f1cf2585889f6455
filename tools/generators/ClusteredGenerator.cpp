#include "tools/generators/ClusteredGenerator.h"

#include <algorithm>

#include "platform/Assert.h"

namespace simdex {

ClusteredGenerator::ClusteredGenerator(int dim, int clusters, double sigma, std::uint64_t seed)
    : rng_(seed),
      dim_(dim),
      clusters_(clusters),
      sigma_(sigma),
      centres_(static_cast<std::size_t>(clusters) * static_cast<std::size_t>(dim)) {
  SIMDEX_ASSERT(dim > 0 && clusters > 0 && sigma >= 0, "dim > 0 && clusters > 0 && sigma >= 0");
  for (double& c : centres_) c = rng_.Uniform();
}

void ClusteredGenerator::Next(std::span<double> out) {
  SIMDEX_ASSERT(out.size() == static_cast<std::size_t>(dim_), "out.size() == dim_");
  const double* centre = &centres_[static_cast<std::size_t>(next_ % clusters_) * dim_];
  for (int k = 0; k < dim_; ++k) out[k] = std::clamp(centre[k] + sigma_ * rng_.Normal(), 0.0, 1.0);
  ++next_;
}

std::vector<double> ClusteredVectors(int count, int dim, int clusters, double sigma,
                                     std::uint64_t seed) {
  ClusteredGenerator generator(dim, clusters, sigma, seed);
  std::vector<double> out(static_cast<std::size_t>(count) * dim);
  for (int i = 0; i < count; ++i) {
    generator.Next(std::span<double>(out).subspan(static_cast<std::size_t>(i) * dim, dim));
  }
  return out;
}

}  // namespace simdex
