#pragma once
// How good and how costly a series of k-nearest-neighbour answers is, judged
// against the exact answers by distance: data with exact duplicates has ties,
// and any of the tied objects is a right answer.
//
//   recall@k of a query: the returned results (at most k) whose distance is
//     at most the true k-th distance, over k. With fewer than k true
//     neighbours, k is their number; with none, the recall is 1.
//   relative distance error: (returned i-th distance - true i-th distance) /
//     true i-th distance over the ranks i < k, both lists sorted by distance.
//     A rank whose true distance is 0 has no relative error, and a rank the
//     answer does not reach has no distance to compare: both are left out
//     (the recall counts what is missing).
#include <cstdint>
#include <span>

#include "tools/simdex/IndexSession.h"

namespace simdex::cli {

// Relative tolerance of the comparison with the true k-th distance: the truth
// may come from another program that sums in another order.
inline constexpr double kDistanceTolerance = 1e-9;

double RecallAtK(std::span<const double> returned, std::span<const double> truth, int k);

// The relative errors of one answer: their sum and the number of ranks that
// have one.
struct ErrorTerms {
  double sum = 0;
  std::int64_t ranks = 0;
};
ErrorTerms RelativeErrors(std::span<const double> returned, std::span<const double> truth, int k);

// Means over the queries added.
class Evaluation {
 public:
  void Add(std::span<const double> returned, std::span<const double> truth, int k,
           const SearchCost& cost, double seconds);

  std::int64_t queries() const { return queries_; }
  // Mean recall@k; 1 with no queries.
  double recall() const;
  // Mean relative error over every (query, rank) that has one; NaN when none
  // does.
  double meanRelativeError() const;
  double meanDistances() const;
  double meanReads() const;
  double secondsPerQuery() const;

 private:
  std::int64_t queries_ = 0;
  double recallSum_ = 0;
  ErrorTerms errors_;
  double distances_ = 0;
  double reads_ = 0;
  double seconds_ = 0;
};

}  // namespace simdex::cli
