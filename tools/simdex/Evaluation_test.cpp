// The answer metrics of simdex eval on hand-made answers.
#include "tools/simdex/Evaluation.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

namespace simdex::cli {
namespace {

struct AnswerCase {
  const char* name;
  std::vector<double> returned;
  std::vector<double> truth;
  int k;
  double recall;
  double errorSum;
  std::int64_t errorRanks;
};

class AnswerMetrics : public ::testing::TestWithParam<AnswerCase> {};

TEST_P(AnswerMetrics, RecallAndRelativeErrorJudgeByDistance) {
  const AnswerCase& c = GetParam();
  EXPECT_DOUBLE_EQ(RecallAtK(c.returned, c.truth, c.k), c.recall);
  const ErrorTerms terms = RelativeErrors(c.returned, c.truth, c.k);
  EXPECT_NEAR(terms.sum, c.errorSum, 1e-12);
  EXPECT_EQ(terms.ranks, c.errorRanks);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, AnswerMetrics,
    ::testing::Values(
        AnswerCase{"exact", {1, 2, 3}, {1, 2, 3}, 3, 1.0, 0.0, 3},
        // Another object at the tied k-th distance is as good as the true one.
        AnswerCase{"tie_at_kth", {1, 2, 2}, {1, 2, 2, 2}, 3, 1.0, 0.0, 3},
        // One neighbour missed: the answer reached past the k-th distance.
        AnswerCase{"one_worse", {1, 2, 4}, {1, 2, 3}, 3, 2.0 / 3, 1.0 / 3, 3},
        // An answer in another order is sorted before ranks are compared.
        AnswerCase{"unsorted", {4, 1, 2}, {1, 2, 3}, 3, 2.0 / 3, 1.0 / 3, 3},
        // Within the relative tolerance of the k-th distance counts as found.
        AnswerCase{"rounding", {1, 2, 3 * (1 + 1e-12)}, {1, 2, 3}, 3, 1.0, 1e-12, 3},
        AnswerCase{"beyond_tolerance", {1, 2, 3 * (1 + 1e-6)}, {1, 2, 3}, 3, 2.0 / 3, 1e-6, 3},
        // Short answer: missing ranks lower the recall but have no error.
        AnswerCase{"short_answer", {1}, {1, 2, 3}, 3, 1.0 / 3, 0.0, 1},
        AnswerCase{"empty_answer", {}, {1, 2}, 2, 0.0, 0.0, 0},
        // Exact duplicates: a true distance 0 has no relative error.
        AnswerCase{"zero_distances", {0, 0, 2}, {0, 0, 1}, 3, 2.0 / 3, 1.0, 1},
        AnswerCase{"all_zero", {0, 0}, {0, 0}, 2, 1.0, 0.0, 0},
        // A k-th true distance of 0 admits only duplicates.
        AnswerCase{"zero_kth", {0, 1e-300}, {0, 0}, 2, 0.5, 0.0, 0},
        // Truth shorter than k: judged on the neighbours it has.
        AnswerCase{"short_truth", {1, 2, 5, 6}, {1, 2}, 4, 1.0, 0.0, 2},
        AnswerCase{"no_truth", {1}, {}, 3, 1.0, 0.0, 0},
        // More results than k: only k can count.
        AnswerCase{"long_answer", {1, 1, 1, 1}, {1, 2}, 2, 1.0, -0.5, 2}),
    [](const ::testing::TestParamInfo<AnswerCase>& c) { return c.param.name; });

TEST(Evaluation, MeansPoolQueriesAndRanks) {
  Evaluation e;
  EXPECT_DOUBLE_EQ(e.recall(), 1.0);
  EXPECT_TRUE(std::isnan(e.meanRelativeError()));
  // Query 1: perfect, three ranks with error 0. Query 2: one rank with error
  // 1 and one missing neighbour.
  e.Add(std::vector<double>{1, 2, 3}, std::vector<double>{1, 2, 3}, 3, SearchCost{30, 4, 0}, 0.5);
  e.Add(std::vector<double>{2}, std::vector<double>{1, 2}, 2, SearchCost{10, 2, 0}, 1.5);
  EXPECT_EQ(e.queries(), 2);
  EXPECT_DOUBLE_EQ(e.recall(), (1.0 + 0.5) / 2);
  EXPECT_DOUBLE_EQ(e.meanRelativeError(), 1.0 / 4);
  EXPECT_DOUBLE_EQ(e.meanDistances(), 20.0);
  EXPECT_DOUBLE_EQ(e.meanReads(), 3.0);
  EXPECT_DOUBLE_EQ(e.secondsPerQuery(), 1.0);
}

}  // namespace
}  // namespace simdex::cli
