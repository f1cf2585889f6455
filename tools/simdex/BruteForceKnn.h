#pragma once
// Exact k nearest neighbours by linear scan, the oracle that ground truth and
// evaluations are measured against: Euclidean distance in double, neighbours
// ordered by distance, ties by the smaller identifier. Memory is one bounded
// heap per query, so the base can be streamed row by row.
#include <cstdint>
#include <span>
#include <vector>

namespace simdex::cli {

struct Neighbour {
  std::uint64_t id;
  double distance;
};

class BruteForceKnn {
 public:
  // Precondition: k > 0 and every query has the same dimension.
  BruteForceKnn(std::vector<std::vector<double>> queries, int k);

  // Offers one base vector (the queries' dimension) to every query.
  void Add(std::uint64_t id, std::span<const double> values);

  // Per query its k nearest (fewer when fewer vectors were added), nearest
  // first.
  std::vector<std::vector<Neighbour>> Result() const;

  std::size_t queryCount() const { return queries_.size(); }
  std::int64_t added() const { return added_; }

 private:
  struct Candidate {
    double distance;
    std::uint64_t id;
    // Farther first in the heap: its top is the candidate to drop.
    bool operator<(const Candidate& o) const {
      return distance != o.distance ? distance < o.distance : id < o.id;
    }
  };

  std::vector<std::vector<double>> queries_;
  std::size_t k_;
  std::vector<std::vector<Candidate>> heaps_;
  std::int64_t added_ = 0;
};

}  // namespace simdex::cli
