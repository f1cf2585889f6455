#include "m_trees/RangeQuery.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <memory>
#include <ostream>
#include <vector>

#include "Proximity/TempDir_test.h"
#include "gist/TestEntry.h"
#include "m_trees/MTreeTestSupport_test.h"
#include "m_trees/NearestQuery.h"
#include "m_trees/ObjectPredicate.h"

namespace simdex {
namespace {

using namespace mtree_testing;
using testing_support::AssertionReport;

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

// The query object sits at the origin and the entry's object at x on the
// first axis, so the distance computed for the entry is |x|.
struct ConsistentCase {
  const char* name;
  double lastDist;     // A: distance to the routing object of the entry's node
  double parentDist;   // B
  double coverRadius;  // R
  double radius;       // C
  int level;           // 0 leaf entry, 1 routing entry
  double x;            // the entry's distance from the query
  int method;
  double threshold;
  int expected;
  int distances;  // distances computed by the test
  double lastDistAfter;
};

void PrintTo(const ConsistentCase& c, std::ostream* os) { *os << c.name; }

const ConsistentCase kConsistentCases[] = {
    // At the root nothing is known before the distance: always measured.
    {"RootMeasuresEvenUnmeasuredEntries", 0, -10, 0, 1, 0, 1, 0, 0, 1, 1, 1},
    {"DistanceEqualToRadiusQualifies", 3, 2.5, 0, 1, 0, 1, 0, 0, 1, 1, 1},
    {"JustOutsideRadiusFails", 3, 2.5, 0, 1, 0, 1.5, 0, 0, 0, 1, 1.5},
    // |A - B| = 2 > R + C = 1: rejected without a distance, lastDist kept.
    {"TriangleInequalityRejectsWithoutDistance", 3, 1, 0, 1, 0, 0.5, 0, 0, 0, 0, 3},
    {"TriangleBoundEqualToRadiusStillMeasures", 3, 2, 0, 1, 0, 1, 0, 0, 1, 1, 1},
    {"RoutingBallMeetingQueryBallQualifies", 0, -10, 2, 1, 1, 3, 0, 0, 1, 1, 3},
    {"RoutingBallApartFails", 0, -10, 2, 1, 1, 3.5, 0, 0, 0, 1, 3.5},
    {"RoutingParentBoundUsesCoverRadius", 5, 2, 2, 1, 1, 3, 0, 0, 1, 1, 3},
    // An unmeasured parent distance below the root bounds nothing.
    {"UnmeasuredParentDistanceBelowRootIsMeasured", 3, -10, 0, 1, 0, 0.5, 0, 0, 1, 1, 0.5},
    // A = 0 below the root (query on the routing object) disables the bound.
    {"QueryOnRoutingObjectDisablesBound", 0, 5, 0, 1, 0, 0.5, 0, 0, 1, 1, 0.5},
    // Method 2, t = 0.5: (1.5 * (10 - 2) = 12) > 11 prunes a ball an exact
    // search would enter, after its distance (isPrunable) ...
    {"Method2PrunesRoutingEntryAfterDistance", 0, -10, 2, 11, 1, 10, 2, 0.5, 0, 1, 10},
    // ... or before it, from the parent distance (isPrunableByParent).
    {"Method2PrunesByParentWithoutDistance", 10.5, 0.5, 2, 11, 1, 10, 2, 0.5, 0, 0, 10.5},
    {"Method2LeavesLeafEntriesToTheRadius", 0, -10, 0, 11, 0, 10, 2, 0.5, 1, 1, 10},
    {"Method2WithZeroThresholdIsTheBallTest", 0, -10, 2, 11, 1, 13, 2, 0, 1, 1, 13},
    {"UnknownMethodIsExact", 0, -10, 2, 11, 1, 10, 7, 0.5, 1, 1, 10},
    // Computed distances keep the triangle inequality only up to rounding:
    // bounds within it of the radius do not reject.
    {"ParentBoundWithinRoundingIsMeasured", 3, 1, 0, 2 - 1e-15, 0, 1.5, 0, 0, 1, 1, 1.5},
    {"ParentBoundBeyondRoundingRejects", 3, 1, 0, 2 - 1e-9, 0, 1.5, 0, 0, 0, 0, 3},
    {"RoutingBallWithinRoundingQualifies", 0, -10, 1, 1, 1, 2 + 1e-15, 0, 0, 1, 1, 2 + 1e-15},
    {"RoutingBallBeyondRoundingFails", 0, -10, 1, 1, 1, 2 + 1e-9, 0, 0, 0, 1, 2 + 1e-9},
    {"LeafEntryGetsNoRoundingAllowance", 0, -10, 0, 2, 0, 2 + 1e-15, 0, 0, 0, 1, 2 + 1e-15},
    {"NaNDistanceRejects", 0, -10, 0, 1, 0, kNaN, 0, 0, 0, 1, kNaN},
    {"NaNRadiusRejects", 0, -10, 0, kNaN, 0, 0, 0, 0, 0, 1, 0},
};

class ConsistentTest : public ::testing::TestWithParam<ConsistentCase> {};

TEST_P(ConsistentTest, AcceptsRejectsAndCounts) {
  const ConsistentCase& c = GetParam();
  ActiveBlock block(kVectorA, 100.0);
  block.parameters().approximationMethod = c.method;
  if (c.method != 0) block.parameters().thresholds = {c.threshold};
  auto entry = Entry(Point(45, {c.x}), 7, c.parentDist, c.coverRadius, 3);
  entry->SetLevel(c.level);
  RangeQuery query(c.lastDist, std::make_unique<ObjectPredicate>(*Handle(Point(45, {}), 0)),
                   c.radius);

  EXPECT_EQ(query.Consistent(*entry), c.expected);
  EXPECT_EQ(block.Distances(), c.distances);
  if (std::isnan(c.lastDistAfter)) {
    EXPECT_TRUE(std::isnan(query.lastDist));
  } else {
    EXPECT_EQ(query.lastDist, c.lastDistAfter);
  }
}

INSTANTIATE_TEST_SUITE_P(Cases, ConsistentTest, ::testing::ValuesIn(kConsistentCases),
                         [](const auto& c) { return std::string(c.param.name); });

TEST(RangeQueryTest, ConsistentRefusesOtherEntryClasses) {
  ActiveBlock block;
  RangeQuery query(0, std::make_unique<ObjectPredicate>(*Handle(Point(45, {}), 0)), 1);
  TestEntry foreign(1, 8, 1);
  EXPECT_DEATH(query.Consistent(foreign), AssertionReport("entry.IsA()==MTENTRY_CLASS"));
}

TEST(RangeQueryTest, ClonesOwnTheirQueryObject) {
  ActiveBlock block;
  auto object = Handle(Point(45, {3}), 1);
  std::unique_ptr<RangeQuery> range;
  std::unique_ptr<NearestQuery> nearest;
  {
    auto queryObject = Handle(Point(45, {}), 0);
    RangeQuery original(2.5, std::make_unique<ObjectPredicate>(*queryObject), 4);
    NearestQuery originalNearest(5, std::make_unique<ObjectPredicate>(*queryObject));
    range = original.CloneQuery();
    nearest = originalNearest.Clone();
  }
  EXPECT_EQ(range->lastDist, 2.5);
  EXPECT_EQ(range->radius, 4);
  EXPECT_EQ(nearest->k(), 5);
  EXPECT_EQ(range->Predicate().Distance(*object), 3);
  EXPECT_EQ(nearest->Predicate().Distance(*object), 3);
  EXPECT_EQ(block.Distances(), 2);
}

}  // namespace
}  // namespace simdex
