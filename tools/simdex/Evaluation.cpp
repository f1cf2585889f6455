#include "tools/simdex/Evaluation.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <vector>

namespace simdex::cli {
namespace {

std::vector<double> Sorted(std::span<const double> values) {
  std::vector<double> v(values.begin(), values.end());
  std::sort(v.begin(), v.end());
  return v;
}

std::size_t Ranks(std::span<const double> truth, int k) {
  return std::min(truth.size(), static_cast<std::size_t>(std::max(k, 0)));
}

}  // namespace

double RecallAtK(std::span<const double> returned, std::span<const double> truth, int k) {
  const std::size_t ranks = Ranks(truth, k);
  if (ranks == 0) return 1.0;
  const double kth = Sorted(truth)[ranks - 1];
  const double bound = kth + kth * kDistanceTolerance;
  const auto within =
      std::count_if(returned.begin(), returned.end(), [bound](double d) { return d <= bound; });
  return static_cast<double>(std::min<std::size_t>(static_cast<std::size_t>(within), ranks)) /
         static_cast<double>(ranks);
}

ErrorTerms RelativeErrors(std::span<const double> returned, std::span<const double> truth, int k) {
  const std::size_t ranks = Ranks(truth, k);
  const std::vector<double> got = Sorted(returned);
  const std::vector<double> want = Sorted(truth);
  ErrorTerms terms;
  for (std::size_t i = 0; i < ranks && i < got.size(); ++i) {
    if (!(want[i] > 0)) continue;
    terms.sum += (got[i] - want[i]) / want[i];
    ++terms.ranks;
  }
  return terms;
}

void Evaluation::Add(std::span<const double> returned, std::span<const double> truth, int k,
                     const SearchCost& cost, double seconds) {
  ++queries_;
  recallSum_ += RecallAtK(returned, truth, k);
  const ErrorTerms terms = RelativeErrors(returned, truth, k);
  errors_.sum += terms.sum;
  errors_.ranks += terms.ranks;
  distances_ += static_cast<double>(cost.distances);
  reads_ += static_cast<double>(cost.reads);
  seconds_ += seconds;
}

double Evaluation::recall() const {
  return queries_ == 0 ? 1.0 : recallSum_ / static_cast<double>(queries_);
}

double Evaluation::meanRelativeError() const {
  if (errors_.ranks == 0) return std::numeric_limits<double>::quiet_NaN();
  return errors_.sum / static_cast<double>(errors_.ranks);
}

double Evaluation::meanDistances() const {
  return queries_ == 0 ? 0.0 : distances_ / static_cast<double>(queries_);
}

double Evaluation::meanReads() const {
  return queries_ == 0 ? 0.0 : reads_ / static_cast<double>(queries_);
}

double Evaluation::secondsPerQuery() const {
  return queries_ == 0 ? 0.0 : seconds_ / static_cast<double>(queries_);
}

}  // namespace simdex::cli
