#include "Proximity/slowdownTracker.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

namespace simdex {
namespace {

constexpr double kNoDistance = std::numeric_limits<double>::max();

struct Entry {
  int x;
  double y;
};

std::vector<Entry> Window(const slowdownTracker& t) {
  std::vector<Entry> entries;
  for (int i = 0; i <= t.getLast(); ++i) entries.push_back({t.getX(i), t.getY(i)});
  return entries;
}

void ExpectWindow(const slowdownTracker& t, const std::vector<Entry>& expected) {
  std::vector<Entry> actual = Window(t);
  ASSERT_EQ(actual.size(), expected.size());
  for (std::size_t i = 0; i < expected.size(); ++i) {
    EXPECT_EQ(actual[i].x, expected[i].x) << "entry " << i;
    EXPECT_EQ(actual[i].y, expected[i].y) << "entry " << i;
  }
}

TEST(SlowdownTracker, KeepsTheLastTenImprovements) {
  slowdownTracker t;
  EXPECT_EQ(t.getWindow(), 10);
  // Eleven distances, each smaller than the one before, normalised by 8.
  for (int i = 1; i <= 11; ++i) t.addDistance(8.0 * (12 - i), 8.0);
  std::vector<Entry> expected;
  for (int i = 2; i <= 11; ++i) expected.push_back({i, 12.0 - i});
  ExpectWindow(t, expected);
  EXPECT_EQ(t.getCount(), 11);
  EXPECT_EQ(t.lastCount(), 11);
}

TEST(SlowdownTracker, ADistanceThatDoesNotImproveMovesTheNewestEntry) {
  struct Case {
    const char* what;
    std::vector<double> distances;
    std::vector<Entry> expected;
  };
  const Case cases[] = {
      {"repeat", {4, 2, 2}, {{1, 4}, {3, 2}}},
      {"larger value is written as it is", {4, 2, 3}, {{1, 4}, {3, 3}}},
      {"no k-th distance yet is not counted", {kNoDistance, 4, kNoDistance, 2}, {{1, 4}, {2, 2}}},
      {"repeat in a full window",
       {11, 10, 9, 8, 7, 6, 5, 4, 3, 2, 1, 1},
       {{2, 10}, {3, 9}, {4, 8}, {5, 7}, {6, 6}, {7, 5}, {8, 4}, {9, 3}, {10, 2}, {12, 1}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    slowdownTracker t;
    for (double d : c.distances) t.addDistance(d, 1.0);
    ExpectWindow(t, c.expected);
  }
}

TEST(SlowdownTracker, EmptyUntilAFiniteDistanceArrives) {
  slowdownTracker t;
  t.addDistance(kNoDistance, 1.0);
  EXPECT_EQ(t.getLast(), -1);
  EXPECT_EQ(t.getCount(), 0);
  EXPECT_EQ(t.lastCount(), 0);
  EXPECT_EQ(t.slope(1), std::numeric_limits<double>::lowest());
  t.addDistance(3, 2.0);
  EXPECT_EQ(t.getY(0), 1.5);
  EXPECT_EQ(t.slope(1), std::numeric_limits<double>::lowest());  // one point fits no line
}

TEST(SlowdownTracker, FitsTheDistanceAgainstTheLogarithmOfTheCount) {
  // Points on y = 2 - 0.5 ln x are fitted exactly.
  slowdownTracker t;
  for (int n = 1; n <= 6; ++n) t.addDistance(2.0 - 0.5 * std::log(n), 1.0);
  for (double a : {1.0, 6.0, 20.0}) {
    SCOPED_TRACE(a);
    EXPECT_NEAR(t.predict(a), 2.0 - 0.5 * std::log(a), 1e-12);
    // forward difference of the fit: -0.5 (ln(a + h) - ln a) / h with h = 0.0001
    EXPECT_NEAR(t.slope(a), -0.5 * std::log1p(0.0001 / a) / 0.0001, 1e-9);
  }
}

}  // namespace
}  // namespace simdex
