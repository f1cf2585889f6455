#include "m_trees/MTnode.h"

#include <gtest/gtest.h>

#include <cmath>
#include <set>

#include "Proximity/TempDir_test.h"
#include "gist/PageFile.h"
#include "m_trees/MTreeTestSupport_test.h"
#include "m_trees/MetricTree.h"

namespace simdex {
namespace {

using namespace mtree_testing;
using testing_support::AssertionReport;
using testing_support::TempDir;

struct Spot {
  double x;
  double y;
  double parentDist;
};

// A node on path (the default: a child of the root, so that a split marks
// nothing) holding one entry per spot, oids 0, 1, ... in order.
std::unique_ptr<MTnode> MakeNode(const std::vector<Spot>& spots, std::int32_t level = 0,
                                 NodePath path = {}) {
  auto node = std::make_unique<MTnode>();
  if (path.Length() == 0) {
    path = NodePath::Root();
    EXPECT_TRUE(path.Append(2).ok());
  }
  node->SetPath(path);
  node->SetLevel(level);
  for (std::size_t i = 0; i < spots.size(); ++i) {
    auto e = Entry(Point(45, {spots[i].x, spots[i].y}), static_cast<std::uint32_t>(i),
                   spots[i].parentDist);
    node->InsertAt(*e, node->NumEntries());
  }
  return node;
}

std::vector<std::uint32_t> Oids(const MTnode& node) {
  std::vector<std::uint32_t> oids;
  for (int i = 0; i < node.NumEntries(); ++i) oids.push_back(node.Entry(i).Ball().Object().Oid());
  return oids;
}

// Ordered, a routing entry at distance 0 that the routing object refers to,
// and every parentDist the true distance to it.
void ExpectSoundHalf(const MTnode& node, const char* which) {
  SCOPED_TRACE(which);
  ASSERT_GT(node.NumEntries(), 0);
  ASSERT_NE(node.RoutingObject(), nullptr);
  int routing = -1;
  for (int i = 0; i < node.NumEntries(); ++i) {
    const MTball& b = node.Entry(i).Ball();
    if (i > 0) {
      EXPECT_LE(node.Entry(i - 1).Ball().parentDist, b.parentDist);
    }
    if (&b.Object() == node.RoutingObject()) routing = i;
  }
  ASSERT_GE(routing, 0) << "the routing object is not one of the node's entries";
  EXPECT_EQ(node.Entry(routing).Ball().parentDist, 0.0);
  for (int i = 0; i < node.NumEntries(); ++i) {
    const MTball& b = node.Entry(i).Ball();
    EXPECT_EQ(b.parentDist, node.RoutingObject()->Distance(b.Object()));
  }
}

TEST(MTnode, InsertAtKeepsTheOrder) {
  ActiveBlock block;
  struct Case {
    double parentDist;
    int index;
    int position;
  } cases[] = {
      {2, 1, 1},  // fits where asked
      {2, 0, 3},  // too early: after every equal entry
      {5, 0, 4}, {0, 4, 0}, {2, 4, 3}, {3, 4, 4},
  };
  for (const Case& c : cases) {
    auto node = MakeNode({{0, 0, 1}, {0, 0, 2}, {0, 0, 2}, {0, 0, 3}});
    auto e = Entry(Point(45, {}), 99, c.parentDist);
    node->InsertAt(*e, c.index);
    EXPECT_EQ(Oids(*node)[static_cast<std::size_t>(c.position)], 99u)
        << c.parentDist << " at " << c.index;
    for (int i = 0; i < node->NumEntries(); ++i) EXPECT_EQ(node->Entry(i).Position(), i);
  }
}

TEST(MTnodeDeathTest, InsertBeyondTheEndStops) {
  ActiveBlock block;
  auto node = MakeNode({{0, 0, 1}});
  auto e = Entry(Point(45, {}), 9, 1);
  EXPECT_DEATH(node->InsertAt(*e, 2), AssertionReport("index<=n"));
}

class NodeCapacity : public ::testing::TestWithParam<std::pair<VectorClass, int>> {};

TEST_P(NodeCapacity, EntryPastCapacityOverflows) {
  const VectorClass& cls = GetParam().first;
  const int capacity = GetParam().second;
  ActiveBlock block(cls.clsid);
  MTnode node;
  EXPECT_EQ(node.KeyLength(), cls.dim * 8 + 36);
  PageFile store;
  for (int i = 0; i <= capacity; ++i) {
    EXPECT_EQ(node.Overflows(store), 0) << i;
    node.InsertAt(*Entry(Point(cls.dim, {}), static_cast<std::uint32_t>(i), 0), i);
  }
  EXPECT_EQ(node.Overflows(store), 1);
}

INSTANTIATE_TEST_SUITE_P(Vectors, NodeCapacity,
                         ::testing::Values(std::make_pair(kVectorAClass, 40),
                                           std::make_pair(kVectorBClass, 13)),
                         [](const auto& p) { return std::string(p.param.first.name); });

TEST(MTnode, ChooseChildTakesTheFirstOfEqualCostsAndLeavesTheDistance) {
  ActiveBlock block;
  auto node = MakeNode({}, 1);
  node->InsertAt(*Entry(Point(45, {3}), 1, 0.0, 1.0, 7), 0);
  node->InsertAt(*Entry(Point(45, {3}), 2, 0.0, 1.0, 8), 1);
  node->InsertAt(*Entry(Point(45, {-3}), 3, 6.0, 1.0, 9), 2);
  auto n = Entry(Point(45, {0, 4}), 4, -10.0, 0.5);
  std::int32_t child = 0;
  ASSERT_TRUE(node->ChooseChild(*n, &child).ok());
  EXPECT_EQ(child, 7);
  EXPECT_EQ(n->Ball().parentDist, 5.5);
  EXPECT_EQ(block.Distances(), 3);
}

// Spots along one axis at 0, 1, ..., n - 1 with their distances to the first:
// the node keeps 0, the new node takes 1 (the least positive distance), and
// every spot past 1 is nearer to 1, so the node ends with exactly the entries
// it took in the alternating passes.
class SplitPasses : public ::testing::TestWithParam<std::pair<int, int>> {};

TEST_P(SplitPasses, AlternationRunsUntilATenthIsGiven) {
  const int n = GetParam().first;
  ActiveBlock block;
  std::vector<Spot> spots;
  for (int i = 0; i < n; ++i) spots.push_back({static_cast<double>(i), 0, static_cast<double>(i)});
  auto node = MakeNode(spots);
  std::unique_ptr<GiSTnode> sibling;
  ASSERT_TRUE(node->SplitNode(&sibling).ok());
  auto& s = static_cast<MTnode&>(*sibling);
  EXPECT_EQ(node->NumEntries(), GetParam().second);
  EXPECT_EQ(node->NumEntries() + s.NumEntries(), n);
  // Keeping the routing object costs one distance per entry, for the new node.
  EXPECT_EQ(block.Distances(), n);
  EXPECT_EQ(node->RoutingObject()->Oid(), 0u);
  EXPECT_EQ(s.RoutingObject()->Oid(), 1u);
  EXPECT_EQ(s.Level(), node->Level());
  EXPECT_EQ(s.Path(), node->Path());
  ExpectSoundHalf(*node, "kept");
  ExpectSoundHalf(s, "new");
}

INSTANTIATE_TEST_SUITE_P(Sizes, SplitPasses,
                         ::testing::Values(std::make_pair(10, 1), std::make_pair(11, 2),
                                           std::make_pair(20, 2), std::make_pair(21, 3),
                                           std::make_pair(41, 5), std::make_pair(14, 2)),
                         [](const auto& p) { return std::to_string(p.param.first); });

TEST(MTnode, PartitionGivesTiesToTheNewNode) {
  ActiveBlock block;
  // (1, 5) lies at sqrt(26) from both routing objects (0, 0) and (2, 0).
  std::vector<Spot> spots = {{0, 0, 0}, {2, 0, 2}, {1, 5, std::sqrt(26.0)}};
  for (int k = 0; k < 7; ++k) spots.push_back({-10.0 - k, 0, 10.0 + k});
  auto node = MakeNode(spots);
  std::unique_ptr<GiSTnode> sibling;
  ASSERT_TRUE(node->SplitNode(&sibling).ok());
  std::vector<std::uint32_t> newOids = Oids(static_cast<MTnode&>(*sibling));
  EXPECT_EQ(std::set<std::uint32_t>(newOids.begin(), newOids.end()),
            (std::set<std::uint32_t>{1, 2}));
}

TEST(MTnode, RootSplitDrawsTwoEntriesRepeatably) {
  std::vector<std::uint32_t> routing[2];
  for (auto& chosen : routing) {
    ActiveBlock block;  // a new block starts its generator afresh
    std::vector<Spot> spots;
    for (int i = 0; i < 41; ++i) spots.push_back({i * 0.1, (i % 7) * 0.1, -10.0});
    auto node = MakeNode(spots, 0, [] {
      NodePath p = NodePath::Root();
      EXPECT_TRUE(p.Append(2).ok());  // the old root, moved during a root split
      return p;
    }());
    std::unique_ptr<GiSTnode> sibling;
    ASSERT_TRUE(node->SplitNode(&sibling).ok());
    auto& s = static_cast<MTnode&>(*sibling);
    EXPECT_EQ(block.Distances(), 2 * 41);
    EXPECT_EQ(node->NumEntries() + s.NumEntries(), 41);
    ExpectSoundHalf(*node, "kept");
    ExpectSoundHalf(s, "new");
    chosen = {node->RoutingObject()->Oid(), s.RoutingObject()->Oid()};
  }
  EXPECT_NE(routing[0][0], routing[0][1]);
  EXPECT_EQ(routing[0], routing[1]);
}

TEST(MTnode, CopiesOfOneObjectSplitWithRoutingEntriesOnBothSides) {
  for (double parentDist : {0.0, -10.0}) {  // below the root, and the root
    SCOPED_TRACE(parentDist);
    ActiveBlock block;
    for (int n : {2, 3, 10, 41}) {
      auto node = MakeNode(std::vector<Spot>(static_cast<std::size_t>(n), {0.5, 0.5, parentDist}));
      std::unique_ptr<GiSTnode> sibling;
      ASSERT_TRUE(node->SplitNode(&sibling).ok()) << n;
      ExpectSoundHalf(*node, "kept");
      ExpectSoundHalf(static_cast<MTnode&>(*sibling), "new");
      EXPECT_EQ(node->NumEntries() + sibling->NumEntries(), n);
    }
  }
}

// A hand-made tree of three levels: page 1 (root, level 2) -> page 2
// (level 1) -> page 3 (leaf) and page 4 (leaf).
class ThreeLevels : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(tree_.Create(dir_.Path(""), 10.0, kVectorA).ok());
    std::int32_t page = 0;
    ASSERT_TRUE(tree_.Store()->AllocatePage(&page).ok());
    ASSERT_TRUE(tree_.Store()->AllocatePage(&page).ok());
    ASSERT_TRUE(tree_.Store()->AllocatePage(&page).ok());
    auto root = MakeNode({}, 2, NodePath::Root());
    root->InsertAt(*Entry(Point(45, {0}), 100, -10.0, 9.0, 2), 0);
    auto middle = MakeNode({}, 1, PathTo({2}));
    middle->InsertAt(*Entry(Point(45, {0}), 101, 0.0, 4.0, 3), 0);
    middle->InsertAt(*Entry(Point(45, {3}), 102, 3.0, 1.0, 4), 1);
    auto leaf = MakeNode({{0, 0, 0}, {0, 2, 2}, {0, 4, -10}}, 0, PathTo({2, 3}));
    auto other = MakeNode({{3, 0, 0}}, 0, PathTo({2, 4}));
    for (MTnode* n : {root.get(), middle.get(), leaf.get(), other.get()}) {
      n->SetTree(&tree_);
      ASSERT_TRUE(tree_.StoreNode(*n).ok());
    }
    tree_.parameters().pageReads = tree_.parameters().pageWrites = 0;
    tree_.parameters().computedDistances = 0;
  }

  static NodePath PathTo(std::initializer_list<std::int32_t> pages) {
    NodePath p = NodePath::Root();
    for (std::int32_t page : pages) EXPECT_TRUE(p.Append(page).ok());
    return p;
  }

  std::unique_ptr<MTnode> Load(std::initializer_list<std::int32_t> pages) {
    std::unique_ptr<MTnode> n;
    EXPECT_TRUE(tree_.LoadMTnode(PathTo(pages), &n).ok());
    return n;
  }

  TempDir dir_;
  MetricTree tree_;
};

TEST_F(ThreeLevels, MarkAncestorsMarksParentAndGrandparentFromDepthTwo) {
  auto middle = Load({2});
  ASSERT_TRUE(middle->MarkAncestors(1).ok());
  EXPECT_EQ(tree_.parameters().pageReads + tree_.parameters().pageWrites, 1);  // the load above

  auto leaf = Load({2, 3});
  tree_.parameters().pageReads = 0;
  ASSERT_TRUE(leaf->MarkAncestors(1).ok());
  EXPECT_EQ(tree_.parameters().pageReads, 2);
  EXPECT_EQ(tree_.parameters().pageWrites, 2);
  auto parent = Load({2});
  EXPECT_EQ(parent->Entry(0).Ball().childSplit, 1);
  EXPECT_EQ(parent->Entry(0).Ball().parentDist, -10.0);
  EXPECT_EQ(parent->Entry(1).Ball().childSplit, 0);
  auto root = Load({});
  EXPECT_EQ(root->Entry(0).Ball().coverRadius, -1.0);

  ASSERT_TRUE(Load({2, 4})->MarkAncestors(0).ok());
  EXPECT_EQ(Load({2})->Entry(1).Ball().parentDist, 3.0);
  EXPECT_EQ(Load({2})->Entry(1).Ball().childSplit, 1);
}

TEST_F(ThreeLevels, CoveringEntryOfAChildOfTheRootStaysUnmeasured) {
  auto middle = Load({2});
  std::unique_ptr<TreeEntry> u;
  ASSERT_TRUE(middle->CoveringEntry(&u).ok());
  const MTball& k = static_cast<MTentry&>(*u).Ball();
  EXPECT_EQ(k.parentDist, -10.0);
  EXPECT_EQ(k.changed, 0);
  EXPECT_EQ(k.Object().Oid(), 100u);
  EXPECT_EQ(k.coverRadius, 4.0);
  EXPECT_EQ(k.minRadius, 0.0);
  EXPECT_EQ(middle->RoutingObject(), nullptr);
  EXPECT_EQ(tree_.parameters().pageReads, 2);  // the load and the routing object
}

TEST_F(ThreeLevels, CoveringEntryOfADeeperNodeCarriesItsParentDistance) {
  struct Case {
    const char* what;
    std::int32_t page;
    bool markParent;  // childSplit and an unmeasured distance in the parent
    double parentDist;
    std::int32_t changed;
    int distances;  // the unmeasured leaf entry's, and the parent distance's
    int reads;
  } cases[] = {
      {"stored distance", 4, false, 3.0, 0, 0, 3},
      {"split, unmeasured", 3, true, 0.0, 1, 1, 4},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    if (c.markParent) {
      ASSERT_TRUE(Load({2, c.page})->MarkAncestors(1).ok());
    }
    auto node = Load({2, c.page});
    tree_.parameters().pageReads = 0;
    tree_.parameters().computedDistances = 0;
    std::unique_ptr<TreeEntry> u;
    ::testing::internal::CaptureStdout();
    ASSERT_TRUE(node->CoveringEntry(&u).ok());
    const std::string out = ::testing::internal::GetCapturedStdout();
    const MTball& k = static_cast<MTentry&>(*u).Ball();
    EXPECT_EQ(k.parentDist, c.parentDist);
    EXPECT_EQ(k.changed, c.changed);
    EXPECT_EQ(tree_.parameters().pageReads, c.reads);
    const int unmeasured = c.page == 3 ? 1 : 0;
    EXPECT_EQ(tree_.parameters().computedDistances, c.distances + unmeasured);
    if (unmeasured) {
      std::ostringstream line;
      line << "Computing distance with " << static_cast<const void*>(&node->Entry(0))
           << "??????????????????????????????????????????????\n";
      EXPECT_EQ(out, line.str());
      EXPECT_EQ(k.coverRadius, 4.0);
    } else {
      EXPECT_EQ(out, "");
    }
  }
}

}  // namespace
}  // namespace simdex
