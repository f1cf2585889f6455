#include "m_trees/TreeChecker.h"

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <functional>

#include "Proximity/TempDir_test.h"
#include "m_trees/MTreeTestSupport_test.h"

namespace simdex {
namespace {

using namespace mtree_testing;
using testing_support::TempDir;

std::string Joined(const std::vector<std::string>& lines) {
  std::string text;
  for (const std::string& line : lines) text += line + "\n";
  return text;
}

TEST(TreeChecker, FindsEveryKindOfDamage) {
  struct Case {
    const char* what;
    // Changes the root (page 1) or its first leaf.
    std::function<void(MTnode& root, MTnode& leaf)> damage;
    const char* report;
  } cases[] = {
      {"sound", [](MTnode&, MTnode&) {}, nullptr},
      {"order", [](MTnode&, MTnode& leaf) { leaf.Entry(1).Ball().parentDist = 1e6; },
       "comes after"},
      {"stored distance",
       [](MTnode&, MTnode& leaf) { leaf.Entry(leaf.NumEntries() - 1).Ball().parentDist += 0.5; },
       "but the distance to the routing object is"},
      {"no routing entry",
       [](MTnode&, MTnode& leaf) {
         for (int i = 0; i < leaf.NumEntries(); ++i) {
           if (leaf.Entry(i).Ball().parentDist == 0) leaf.Entry(i).Ball().parentDist = 1e-300;
         }
       },
       "no entry at distance 0"},
      {"covering radius", [](MTnode& root, MTnode&) { root.Entry(0).Ball().coverRadius = 0.01; },
       "outside its covering radius"},
      {"invalidated radius", [](MTnode& root, MTnode&) { root.Entry(0).Ball().coverRadius = -1.0; },
       "covering radius -1"},
      {"split mark", [](MTnode& root, MTnode&) { root.Entry(0).Ball().childSplit = 1; },
       "split mark left over"},
      {"measured root entry", [](MTnode& root, MTnode&) { root.Entry(0).Ball().parentDist = 0; },
       "measured parentDist"},
      {"page outside the file", [](MTnode& root, MTnode&) { root.Entry(0).SetPointer(99999); },
       "outside the file"},
      {"page twice",
       [](MTnode& root, MTnode&) { root.Entry(1).SetPointer(root.Entry(0).Pointer()); },
       "referenced a second time"},
      {"level", [](MTnode&, MTnode& leaf) { leaf.SetLevel(3); }, "has level 3 at depth 1"},
  };
  TempDir built;
  {
    MetricTree tree;
    ASSERT_TRUE(tree.Create(built.Path(""), 10.0, kVectorA).ok());
    for (std::uint32_t i = 0; i < 600; ++i) {
      auto e = LeafEntry(Point(45, {std::fmod(i * 0.37, 1.0), std::fmod(i * 0.11, 0.5)}), i);
      ASSERT_TRUE(tree.Insert(*e).ok());
    }
  }
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TempDir dir;
    std::filesystem::copy(built.Path(""), dir.Path(""));
    MetricTree tree;
    ASSERT_TRUE(tree.Open(dir.Path(""), kVectorA).ok());
    std::unique_ptr<MTnode> root;
    ASSERT_TRUE(tree.LoadRoot(&root).ok());
    ASSERT_EQ(root->Level(), 1);
    std::unique_ptr<MTnode> leaf;
    ASSERT_TRUE(tree.LoadChild(*root, 0, &leaf).ok());
    c.damage(*root, *leaf);
    ASSERT_TRUE(tree.StoreNode(*leaf).ok());
    ASSERT_TRUE(tree.StoreNode(*root).ok());
    const std::int32_t reads = tree.parameters().pageReads;

    const std::vector<std::string> problems = TreeChecker::Check(tree);
    if (c.report == nullptr) {
      EXPECT_EQ(problems, std::vector<std::string>{});
    } else {
      EXPECT_NE(Joined(problems).find(c.report), std::string::npos) << Joined(problems);
    }
    EXPECT_EQ(tree.parameters().pageReads, reads);  // the checker leaves the counters alone
  }
}

TEST(TreeChecker, ReportsAClosedIndex) {
  MetricTree tree;
  EXPECT_EQ(TreeChecker::Check(tree), std::vector<std::string>{"the index is not open"});
}

}  // namespace
}  // namespace simdex
