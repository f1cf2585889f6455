#include "m_trees/TreeParameters.h"

#include <gtest/gtest.h>

#include <limits>
#include <thread>

#include "m_trees/ScopedActiveParameters.h"
#include "tests/support/StubMTobject.h"

namespace simdex {
namespace {

// A plug-in object that only counts its references.
class CountedObject : public StubMTobject {};

// What object handles and the page file do: count into the active block.
void Count(int distances, int reads, int writes) {
  CostCounters* c = ActiveCounters();
  ASSERT_NE(c, nullptr);
  c->computedDistances += distances;
  c->pageReads += reads;
  c->pageWrites += writes;
}

void ExpectCounters(const TreeParameters& p, int distances, int reads, int writes) {
  EXPECT_EQ(p.computedDistances, distances);
  EXPECT_EQ(p.pageReads, reads);
  EXPECT_EQ(p.pageWrites, writes);
}

class TreeParametersTest : public testing::Test {
 protected:
  void SetUp() override { SetActiveParameters(nullptr); }
  void TearDown() override { SetActiveParameters(nullptr); }
};

TEST_F(TreeParametersTest, StartsEmptyWithRulesReadingThisBlock) {
  TreeParameters p;
  ExpectCounters(p, 0, 0, 0);
  EXPECT_EQ(p.approximationMethod, 0);
  EXPECT_EQ(p.maxDistance, std::numeric_limits<double>::max());
  EXPECT_EQ(p.maxDistance, 1.7976931348623157e308);
  EXPECT_TRUE(p.directory.empty());
  EXPECT_EQ(p.objectClass, GUID{});
  EXPECT_TRUE(p.thresholds.empty());
  EXPECT_EQ(p.model, nullptr);
  EXPECT_TRUE(p.statLevels.empty() && p.statRadii.empty() && p.statEntries.empty());
  EXPECT_EQ(p.totalObjects, 0);
  EXPECT_FALSE(p.prototype);
  ASSERT_NE(p.approximation, nullptr);
  EXPECT_EQ(p.approximation->getTracker().getLast(), -1);

  // The rules see the block's settings as they change.
  EXPECT_FALSE(p.approximation->isPrunable(10, 11, 2));
  p.approximationMethod = 2;
  p.thresholds = {0.5};
  EXPECT_TRUE(p.approximation->isPrunable(10, 11, 2));
  // Constructing a block does not make it active; the tree does that.
  EXPECT_EQ(ActiveParameters(), nullptr);
}

TEST_F(TreeParametersTest, TwoBlocksCountApart) {
  TreeParameters first, second;
  SetActiveParameters(&first);
  EXPECT_EQ(ActiveParameters(), &first);
  EXPECT_EQ(ActiveCounters(), static_cast<CostCounters*>(&first));
  Count(3, 1, 0);
  SetActiveParameters(&second);
  Count(0, 2, 5);
  SetActiveParameters(&first);
  Count(1, 0, 1);
  ExpectCounters(first, 4, 1, 1);
  ExpectCounters(second, 0, 2, 5);
  SetActiveParameters(nullptr);
  EXPECT_EQ(ActiveCounters(), nullptr);
}

TEST_F(TreeParametersTest, EachThreadHasItsOwnActiveBlock) {
  TreeParameters mine, theirs;
  SetActiveParameters(&mine);
  std::thread other([&] {
    EXPECT_EQ(ActiveParameters(), nullptr);
    EXPECT_EQ(ActiveCounters(), nullptr);
    SetActiveParameters(&theirs);
    Count(7, 0, 0);
  });
  other.join();
  EXPECT_EQ(ActiveParameters(), &mine);
  Count(1, 0, 0);
  ExpectCounters(mine, 1, 0, 0);
  ExpectCounters(theirs, 7, 0, 0);
}

TEST_F(TreeParametersTest, DestroyingTheActiveBlockLeavesNoneActive) {
  TreeParameters other;
  {
    TreeParameters doomed;
    SetActiveParameters(&doomed);
  }
  EXPECT_EQ(ActiveParameters(), nullptr);
  EXPECT_EQ(ActiveCounters(), nullptr);
  // Destroying a block that is not active leaves the active one alone.
  SetActiveParameters(&other);
  { TreeParameters bystander; }
  EXPECT_EQ(ActiveParameters(), &other);
}

TEST_F(TreeParametersTest, ScopedActivationRestoresThePreviousBlock) {
  TreeParameters outer, inner;
  SetActiveParameters(&outer);
  {
    ScopedActiveParameters scope(&inner);
    EXPECT_EQ(ActiveParameters(), &inner);
    EXPECT_EQ(ActiveCounters(), static_cast<CostCounters*>(&inner));
  }
  EXPECT_EQ(ActiveParameters(), &outer);
  EXPECT_EQ(ActiveCounters(), static_cast<CostCounters*>(&outer));
}

TEST_F(TreeParametersTest, ReleasesThePrototypeWhenDestroyed) {
  CountedObject object;
  {
    TreeParameters p;
    p.prototype = ComPtr<IMTobject>::Share(&object);
    EXPECT_EQ(object.refs, 2u);
  }
  EXPECT_EQ(object.refs, 1u);
}

}  // namespace
}  // namespace simdex
