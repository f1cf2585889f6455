// The searches against brute force, on generated and real data of both
// vector classes, on trees of one to several levels, before and after the
// index is reopened; and the approximate methods against the exact answer.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <ostream>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "m_trees/SearchTestSupport_test.h"
#include "tests/support/DataSets.h"

namespace simdex {
namespace {

using namespace mtree_testing;
using simdex::testing::ClusteredVectors;
using simdex::testing::ReadDoubles;
using simdex::testing::ReadIvecs;
using simdex::testing::ReadRawDoubles;
using simdex::testing::SampleDataDir;
using simdex::testing::SplitMix64;
using simdex::testing::UniformVectors;

enum class Data { kUniform, kClustered, kHistogram };

std::vector<double> Row(const std::vector<double>& rows, int dim, int i) {
  const auto begin = rows.begin() + static_cast<std::ptrdiff_t>(i) * dim;
  return std::vector<double>(begin, begin + dim);
}

std::string HistogramFile(int dim, const std::string& suffix) {
  return SampleDataDir() + "/hist" + std::to_string(dim) + "-small" + suffix;
}

// Checks one range search against brute force: every stored entry within
// the radius, each once, with its distance.
void CheckRange(MetricTree& tree, const std::vector<Stored>& data, const std::vector<double>& q,
                double radius) {
  SCOPED_TRACE("radius " + std::to_string(radius));
  std::vector<Found> found;
  const Status s = RangeSearch(tree, q, radius, &found);
  ASSERT_TRUE(s.ok()) << s.ToString();
  EXPECT_EQ(Pairs(found), BruteRange(data, q, radius));
}

// Checks one k-NN search against brute force: the k smallest distances over
// the identifiers (each identifier at its nearest object), nearest first,
// each result holding an object of its identifier at that distance.
void CheckNearest(MetricTree& tree, const std::vector<Stored>& data, const std::vector<double>& q,
                  int k) {
  SCOPED_TRACE("k " + std::to_string(k));
  std::vector<Found> found;
  const Status s = NearestSearch(tree, q, k, &found);
  ASSERT_TRUE(s.ok()) << s.ToString();
  EXPECT_EQ(Distances(found), BruteNearest(data, q, k));
  const auto perId = NearestPerId(data, q);
  std::set<std::uint32_t> seen;
  for (const Found& f : found) {
    EXPECT_TRUE(seen.insert(f.oid).second) << "identifier " << f.oid << " returned twice";
    EXPECT_EQ(f.distance, perId.at(f.oid)) << f.oid;
    EXPECT_EQ(Euclid(f.object.data(), q.data(), static_cast<int>(q.size())), f.distance) << f.oid;
  }
}

// The distance of the n-th nearest stored entry (1-based).
double NthDistance(const std::vector<Stored>& data, const std::vector<double>& q, int n) {
  std::vector<double> ds;
  for (const Stored& s : data) {
    ds.push_back(Euclid(q.data(), s.object.data(), static_cast<int>(q.size())));
  }
  std::sort(ds.begin(), ds.end());
  return ds[static_cast<std::size_t>(std::min(n, static_cast<int>(ds.size())) - 1)];
}

struct OracleCase {
  const char* name;
  const VectorClass* cls;
  Data data;
  int count;         // generated objects (the histogram files hold 5000)
  int duplicates;    // copies of stored objects under new identifiers
  int sameIdCopies;  // copies of stored objects under their own identifier
  int reusedIds;     // other objects under identifiers already in use
  int minHeight;
};

void PrintTo(const OracleCase& c, std::ostream* os) { *os << c.name; }

const OracleCase kOracleCases[] = {
    {"VectorAUniformRootLeaf", &kVectorAClass, Data::kUniform, 25, 4, 3, 3, 1},
    {"VectorAClusteredTwoLevels", &kVectorAClass, Data::kClustered, 400, 40, 20, 20, 2},
    {"VectorAClusteredThreeLevels", &kVectorAClass, Data::kClustered, 2500, 100, 50, 50, 3},
    {"VectorBUniformRootLeaf", &kVectorBClass, Data::kUniform, 9, 2, 1, 1, 1},
    {"VectorBClusteredTwoLevels", &kVectorBClass, Data::kClustered, 80, 10, 5, 5, 2},
    {"VectorBClusteredFourLevels", &kVectorBClass, Data::kClustered, 1500, 60, 30, 30, 4},
    {"VectorAHistograms", &kVectorAClass, Data::kHistogram, 5000, 0, 0, 0, 3},
    {"VectorBHistograms", &kVectorBClass, Data::kHistogram, 5000, 0, 0, 0, 4},
};

class SearchOracle : public ::testing::TestWithParam<OracleCase> {};

TEST_P(SearchOracle, ExactSearchesMatchBruteForce) {
  const OracleCase& c = GetParam();
  const int dim = c.cls->dim;
  // Generated queries are further draws from the same stream as the stored
  // objects (so from the same clusters), never stored themselves.
  constexpr int kGeneratedQueries = 5;
  std::vector<double> base;
  switch (c.data) {
    case Data::kUniform:
      base = UniformVectors(c.count + kGeneratedQueries, dim, 11);
      break;
    case Data::kClustered:
      base = ClusteredVectors(c.count + kGeneratedQueries, dim, 10, 0.1, 12);
      break;
    case Data::kHistogram:
      base = ReadDoubles(HistogramFile(dim, ".bin"), dim);
      ASSERT_EQ(base.size(), static_cast<std::size_t>(c.count) * dim);
      break;
  }
  // Histograms are normalised (distances up to sqrt 2); generated vectors
  // lie in the unit cube.
  TestIndex index(*c.cls, c.data == Data::kHistogram ? 2.0 : std::sqrt(double(dim)) + 1);
  for (int i = 0; i < c.count; ++i) index.Insert(Row(base, dim, i), static_cast<std::uint32_t>(i));
  SplitMix64 pick(13);
  auto any = [&] { return static_cast<int>(pick.Next() % static_cast<std::uint64_t>(c.count)); };
  for (int j = 0; j < c.duplicates; ++j) {
    index.Insert(Row(base, dim, any()), static_cast<std::uint32_t>(c.count + j));
  }
  for (int j = 0; j < c.sameIdCopies; ++j) {
    const int i = any();
    index.Insert(Row(base, dim, i), static_cast<std::uint32_t>(i));
  }
  const std::vector<double> others = UniformVectors(c.reusedIds, dim, 14);
  for (int j = 0; j < c.reusedIds; ++j) {
    index.Insert(Row(others, dim, j), static_cast<std::uint32_t>(any()));
  }
  EXPECT_GE(index.Height(), c.minHeight);

  std::vector<std::vector<double>> queries;
  if (c.data == Data::kHistogram) {
    const std::vector<double> rows = ReadDoubles(HistogramFile(dim, "_query.bin"), dim);
    ASSERT_EQ(rows.size(), 50u * dim);
    for (int i = 0; i < 50; ++i) queries.push_back(Row(rows, dim, i));
  } else {
    for (int i = 0; i < kGeneratedQueries; ++i) queries.push_back(Row(base, dim, c.count + i));
    // Stored objects, one of them also stored under other identifiers.
    queries.push_back(index.stored().back().object);
    queries.push_back(index.stored()[static_cast<std::size_t>(c.count)].object);
    queries.push_back(index.stored().front().object);
  }

  auto checkAll = [&] {
    for (std::size_t i = 0; i < queries.size(); ++i) {
      SCOPED_TRACE("query " + std::to_string(i));
      const std::vector<double>& q = queries[i];
      for (int n : {1, 10, 25})
        CheckRange(index.tree(), index.stored(), q, NthDistance(index.stored(), q, n));
      CheckRange(index.tree(), index.stored(), q, 0);
      for (int k : {1, 10, 30}) CheckNearest(index.tree(), index.stored(), q, k);
    }
  };
  {
    SCOPED_TRACE("as built");
    checkAll();
  }
  index.Reopen();
  {
    SCOPED_TRACE("reopened");
    checkAll();
  }

  if (c.data == Data::kHistogram) {
    // The published ground truth: distances are exact in double.
    for (int k : {10, 100}) {
      const std::string suffix = "_gt" + std::to_string(k);
      const std::vector<double> truth = ReadRawDoubles(HistogramFile(dim, suffix + "_dist.bin"));
      ASSERT_EQ(ReadIvecs(HistogramFile(dim, suffix + ".ivecs")).size(), 50u);
      ASSERT_EQ(truth.size(), 50u * k);
      for (int i = 0; i < 50; ++i) {
        std::vector<Found> found;
        ASSERT_TRUE(NearestSearch(index.tree(), queries[i], k, &found).ok());
        const auto row = truth.begin() + static_cast<std::ptrdiff_t>(i) * k;
        EXPECT_EQ(Distances(found), std::vector<double>(row, row + k)) << "query " << i;
      }
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Data, SearchOracle, ::testing::ValuesIn(kOracleCases),
                         [](const auto& c) { return std::string(c.param.name); });

// Approximate methods on clustered data after a statistics pass: a range
// search returns part of the exact answer; a k-NN search returns at most k
// stored objects with their true distances, nearest first; the stop rules
// (methods 3 and 4) only end a search earlier, so they never compute more
// distances than the exact search.
TEST(ApproximateSearch, StaysWithinTheExactAnswer) {
  constexpr int kDim = 45;
  constexpr int kCount = 1200;
  constexpr int kK = 10;
  constexpr int kQueries = 10;
  // The queries are the last draws of the stream, from the same clusters.
  const std::vector<double> base = ClusteredVectors(kCount + kQueries, kDim, 10, 0.1, 21);
  TestIndex index(kVectorAClass, std::sqrt(double(kDim)) + 1);
  for (int i = 0; i < kCount; ++i) index.Insert(Row(base, kDim, i), static_cast<std::uint32_t>(i));
  for (int i = 0; i < 40; ++i) {
    index.Insert(Row(base, kDim, i * 7), static_cast<std::uint32_t>(kCount + i));
  }
  ASSERT_TRUE(index.tree().GenerateStatistics().ok());
  ASSERT_GE(index.Height(), 2);

  struct Exact {
    std::vector<double> q;
    double radius;
    std::vector<std::pair<std::uint32_t, double>> range;
    int nearestDistances;
  };
  std::vector<Exact> exact;
  for (int i = 0; i < kQueries; ++i) {
    Exact e{Row(base, kDim, kCount + i), 0, {}, 0};
    e.radius = NthDistance(index.stored(), e.q, 20);
    std::vector<Found> found;
    ASSERT_TRUE(RangeSearch(index.tree(), e.q, e.radius, &found).ok());
    e.range = Pairs(found);
    index.ResetCounters();
    ASSERT_TRUE(NearestSearch(index.tree(), e.q, kK, &found).ok());
    e.nearestDistances = index.Distances();
    exact.push_back(std::move(e));
  }

  struct Method {
    int method;
    double threshold;
    bool savesDistances;  // fewer distances than exact over all queries
  };
  const Method kMethods[] = {
      {1, 0.001, false}, {1, 0.05, true}, {2, 0.1, true},      {2, 1.0, true},
      {3, 0.05, false},  {3, 0.3, true},  {4, -0.0001, false}, {4, -0.003, true},
  };
  for (const Method& m : kMethods) {
    SCOPED_TRACE("method " + std::to_string(m.method) + " threshold " +
                 std::to_string(m.threshold));
    index.tree().SetApproximationMethod(m.method);
    index.tree().SetApproximationThresholds({m.threshold});
    long exactTotal = 0;
    long approximateTotal = 0;
    for (const Exact& e : exact) {
      std::vector<Found> found;
      ASSERT_TRUE(RangeSearch(index.tree(), e.q, e.radius, &found).ok());
      const auto range = Pairs(found);
      EXPECT_TRUE(std::includes(e.range.begin(), e.range.end(), range.begin(), range.end()));
      // The stop rules do not apply to range searches.
      if (m.method >= 3) {
        EXPECT_EQ(range, e.range);
      }

      index.ResetCounters();
      ASSERT_TRUE(NearestSearch(index.tree(), e.q, kK, &found).ok());
      exactTotal += e.nearestDistances;
      approximateTotal += index.Distances();
      if (m.method >= 3) {
        EXPECT_LE(index.Distances(), e.nearestDistances);
      }
      EXPECT_LE(found.size(), static_cast<std::size_t>(kK));
      std::set<std::uint32_t> seen;
      const auto perEntry = BruteRange(index.stored(), e.q, 1e300);
      for (std::size_t j = 0; j < found.size(); ++j) {
        const Found& f = found[j];
        EXPECT_TRUE(seen.insert(f.oid).second) << f.oid;
        EXPECT_EQ(Euclid(f.object.data(), e.q.data(), kDim), f.distance) << f.oid;
        EXPECT_TRUE(
            std::binary_search(perEntry.begin(), perEntry.end(), std::make_pair(f.oid, f.distance)))
            << f.oid << " is not stored at distance " << f.distance;
        if (j > 0) {
          EXPECT_LE(found[j - 1].distance, f.distance);
        }
      }
    }
    if (m.savesDistances) {
      EXPECT_LT(approximateTotal, exactTotal);
    }
  }
}

}  // namespace
}  // namespace simdex
