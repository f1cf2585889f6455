#include "tools/simdex/BruteForceKnn.h"

#include <algorithm>
#include <cmath>

#include "platform/Assert.h"

namespace simdex::cli {

BruteForceKnn::BruteForceKnn(std::vector<std::vector<double>> queries, int k)
    : queries_(std::move(queries)), k_(static_cast<std::size_t>(k)), heaps_(queries_.size()) {
  SIMDEX_ASSERT(k > 0, "k > 0");
  for (auto& heap : heaps_) heap.reserve(std::min<std::size_t>(k_, 1 << 16));
}

void BruteForceKnn::Add(std::uint64_t id, std::span<const double> values) {
  for (std::size_t q = 0; q < queries_.size(); ++q) {
    const std::vector<double>& query = queries_[q];
    SIMDEX_ASSERT(values.size() == query.size(), "values.size() == query.size()");
    double sum = 0;
    for (std::size_t i = 0; i < values.size(); ++i) {
      const double diff = values[i] - query[i];
      sum += diff * diff;
    }
    const Candidate c{std::sqrt(sum), id};
    std::vector<Candidate>& heap = heaps_[q];
    if (heap.size() < k_) {
      heap.push_back(c);
      std::push_heap(heap.begin(), heap.end());
    } else if (c < heap.front()) {
      std::pop_heap(heap.begin(), heap.end());
      heap.back() = c;
      std::push_heap(heap.begin(), heap.end());
    }
  }
  ++added_;
}

std::vector<std::vector<Neighbour>> BruteForceKnn::Result() const {
  std::vector<std::vector<Neighbour>> out(heaps_.size());
  for (std::size_t q = 0; q < heaps_.size(); ++q) {
    std::vector<Candidate> sorted = heaps_[q];
    std::sort_heap(sorted.begin(), sorted.end());
    out[q].reserve(sorted.size());
    for (const Candidate& c : sorted) out[q].push_back({c.id, c.distance});
  }
  return out;
}

}  // namespace simdex::cli
