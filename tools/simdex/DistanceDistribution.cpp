#include "tools/simdex/DistanceDistribution.h"

#include <algorithm>
#include <filesystem>

#include "Proximity/simpleSampledFunction.h"
#include "m_trees/MetricTree.h"

namespace simdex::cli {
namespace {

// Loads one file with the engine's own reader, so that the command accepts
// exactly what the index accepts.
Status LoadFunction(const std::string& directory, const char* name,
                    simpleSampledFunction* function) {
  const std::string file = MetricTree::FileIn(directory, name);
  std::error_code ec;
  if (!std::filesystem::exists(file, ec)) {
    std::error_code dirEc;
    if (!std::filesystem::is_directory(directory, dirEc)) {
      return Status::NotFound("index directory " + directory + " does not exist");
    }
    return Status::NotFound(directory + " has no " + name +
                            ": not an index directory, or its statistics files were removed");
  }
  if (!function->load(file)) {
    return Status::Corruption(file + " is not a distance-statistics file the index can read");
  }
  return Status::OK();
}

}  // namespace

Status DistanceDistribution::Load(const std::string& directory, DistanceDistribution* out) {
  simpleSampledFunction density;
  simpleSampledFunction distribution;
  SIMDEX_RETURN_IF_ERROR(LoadFunction(directory, MetricTree::kDensityFile, &density));
  SIMDEX_RETURN_IF_ERROR(LoadFunction(directory, MetricTree::kDistributionFile, &distribution));
  if (density.getMinXRange() != distribution.getMinXRange() ||
      density.getMaxXRange() != distribution.getMaxXRange() ||
      density.getSamples() != distribution.getSamples()) {
    return Status::Corruption("the density and distribution files in " + directory +
                              " do not cover the same distances");
  }

  DistanceDistribution d;
  d.minDistance_ = density.getMinXRange();
  d.maxDistance_ = density.getMaxXRange();
  d.step_ = density.getEpsilon();
  const int n = density.getSamples();
  for (int i = 0; i <= n; ++i) {
    d.positions_.push_back(std::min(d.minDistance_ + i * d.step_, d.maxDistance_));
    d.density_.push_back(density.getSample(i).value);
    d.distribution_.push_back(distribution.getSample(i).value);
  }
  d.measured_ = std::any_of(d.density_.begin(), d.density_.end(),
                            [&d](double v) { return v != d.density_.front(); });
  d.objects_ = MetricTree::ReadTreeStats(directory).objects;
  *out = std::move(d);
  return Status::OK();
}

double DistanceDistribution::F(double x) const {
  if (distribution_.empty()) return 0;
  const std::size_t n = distribution_.size() - 1;
  x = std::clamp(x, minDistance_, maxDistance_);
  std::size_t i = std::min(static_cast<std::size_t>((x - minDistance_) / step_), n);
  while (distribution_[i] == 0.0 && i < n) ++i;
  return distribution_[i];
}

double DistanceDistribution::Quantile(double p) const {
  if (distribution_.empty()) return maxDistance_;
  const double total = distribution_.back();
  if (!(total > 0)) return maxDistance_;
  for (std::size_t i = 0; i < distribution_.size(); ++i) {
    if (distribution_[i] >= p * total) return positions_[i];
  }
  return maxDistance_;
}

}  // namespace simdex::cli
