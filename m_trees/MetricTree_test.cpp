#include "m_trees/MetricTree.h"

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>

#include "Proximity/TempDir_test.h"
#include "gist/PageFile.h"
#include "m_trees/MTreeTestSupport_test.h"
#include "m_trees/TreeChecker.h"
#include "platform/FaultyFile.h"
#include "platform/PosixFile.h"
#include "tests/support/DataSets.h"

namespace simdex {
namespace {

namespace fs = std::filesystem;
using namespace mtree_testing;
using testing_support::TempDir;

std::vector<std::string> Lines(const std::string& file) {
  std::vector<std::string> lines;
  std::istringstream in(TempDir::Read(file));
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

std::vector<std::string> Listing(const std::string& directory) {
  std::vector<std::string> names;
  for (const auto& e : fs::directory_iterator(directory)) names.push_back(e.path().filename());
  std::sort(names.begin(), names.end());
  return names;
}

std::string Dir(const TempDir& dir) { return dir.Path("index"); }

// A temporary directory "index" holding a new index of VectorA objects.
class NewIndex : public ::testing::Test {
 protected:
  void SetUp() override {
    fs::create_directory(Dir(dir_));
    Status s = tree_.Create(Dir(dir_), 10.0, kVectorA);
    ASSERT_TRUE(s.ok()) << s.ToString();
  }

  std::string File(const char* name) const { return MetricTree::FileIn(Dir(dir_), name); }

  void Insert(const std::vector<double>& v, std::uint32_t oid) {
    auto e = LeafEntry(v, oid);
    Status s = tree_.Insert(*e);
    ASSERT_TRUE(s.ok()) << s.ToString();
  }

  int Height() {
    std::unique_ptr<MTnode> root;
    EXPECT_TRUE(tree_.LoadRoot(&root).ok());
    return root ? root->Level() + 1 : 0;
  }

  void ResetCounters() {
    tree_.parameters().computedDistances = 0;
    tree_.parameters().pageReads = 0;
    tree_.parameters().pageWrites = 0;
  }

  // Replaces the tree's pages by a hand-made tree: one leaf per entry of
  // leafSizes holding object(k) for the running count k, and above them
  // nodes of up to fanout entries until one node is left for the root. The
  // entries above leaf i have covering radius 1.5 + i. Only the shape
  // matters to the statistics pass; distances are not kept right.
  void BuildTree(const std::vector<int>& leafSizes, int fanout,
                 const std::function<std::vector<double>(int)>& object) {
    std::vector<std::pair<std::int32_t, double>> level;  // page, radius
    int k = 0;
    for (std::size_t i = 0; i < leafSizes.size(); ++i) {
      MTnode leaf;
      for (int j = 0; j < leafSizes[i]; ++j, ++k) {
        leaf.InsertAt(*Entry(object(k), static_cast<std::uint32_t>(k), 0.0), j);
      }
      level.emplace_back(StoreNew(leaf), 1.5 + static_cast<double>(i));
    }
    for (std::int32_t height = 1;; ++height) {
      std::vector<std::pair<std::int32_t, double>> above;
      for (std::size_t i = 0; i < level.size(); i += static_cast<std::size_t>(fanout)) {
        MTnode node;
        node.SetLevel(height);
        for (std::size_t j = i; j < std::min(level.size(), i + fanout); ++j) {
          node.InsertAt(*Entry(Point(45, {}), 0, 0.0, level[j].second, level[j].first),
                        node.NumEntries());
        }
        if (level.size() <= static_cast<std::size_t>(fanout)) {
          node.SetPath(NodePath::Root());
          ASSERT_TRUE(tree_.StoreNode(node).ok());
          return;
        }
        above.emplace_back(StoreNew(node), 1.0);
      }
      level = std::move(above);
    }
  }

  std::int32_t StoreNew(MTnode& node) {
    std::int32_t page = 0;
    EXPECT_TRUE(tree_.Store()->AllocatePage(&page).ok());
    NodePath path = NodePath::Root();
    EXPECT_TRUE(path.Append(page).ok());
    node.SetPath(path);
    EXPECT_TRUE(tree_.StoreNode(node).ok());
    return page;
  }

  TempDir dir_;
  MetricTree tree_;
};

TEST_F(NewIndex, CreateWritesTheFiveFiles) {
  const std::vector<std::string> density = Lines(File("Density.dat"));
  ASSERT_EQ(density.size(), 1002u);
  EXPECT_EQ(density[0], "0 10 1000");
  EXPECT_EQ(density[1], "0 0.0999001");
  EXPECT_EQ(density[2], "0.01 0.0999001");
  EXPECT_EQ(density[501], "5 0.0999001");
  EXPECT_EQ(density[1001], "10 0.0999001");
  EXPECT_EQ(TempDir::Read(File("T.dat")), TempDir::Read(File("Density.dat")));

  const std::vector<std::string> distribution = Lines(File("Distribution.dat"));
  ASSERT_EQ(distribution.size(), 1002u);
  EXPECT_EQ(distribution[0], "0 10 1000");
  EXPECT_EQ(distribution[1], "0 0.000999001");
  EXPECT_EQ(distribution[2], "0.01 0.001998");
  EXPECT_EQ(distribution[1001], "10 1");

  EXPECT_EQ(TempDir::Read(File("TreeStats.dat")), "0 10 0");
  EXPECT_EQ(fs::file_size(File("index.M3")), 2u * PageFile::kPageSize);
  EXPECT_EQ(tree_.parameters().maxDistance, 10.0);
  EXPECT_EQ(tree_.parameters().totalObjects, 0);
  EXPECT_TRUE(tree_.parameters().statLevels.empty());
  EXPECT_TRUE(tree_.parameters().model->isInitialised());
  EXPECT_EQ(Listing(Dir(dir_)), (std::vector<std::string>{"Density.dat", "Distribution.dat",
                                                          "T.dat", "TreeStats.dat", "index.M3"}));
}

TEST(MetricTree, MaximumDistanceComesBackWithSixDigits) {
  TempDir dir;
  MetricTree tree;
  ASSERT_TRUE(tree.Create(dir.Path(""), 3.14159265358979, kVectorA).ok());
  EXPECT_EQ(tree.parameters().maxDistance, 3.14159);
  EXPECT_EQ(Lines(dir.Path("Density.dat"))[0], "0 3.14159 1000");
}

TEST(MetricTree, CreateRefusesBadArgumentsBeforeWritingAnything) {
  struct Case {
    const char* what;
    double maxDistance;
    GUID clsid;
    Status::Code code;
  } cases[] = {
      {"zero", 0.0, kVectorA, Status::Code::kInvalidArgument},
      {"negative", -1.0, kVectorA, Status::Code::kInvalidArgument},
      {"NaN", std::nan(""), kVectorA, Status::Code::kInvalidArgument},
      {"infinite", INFINITY, kVectorA, Status::Code::kInvalidArgument},
      {"unregistered class", 10.0, kUnregistered, Status::Code::kNotFound},
  };
  for (const Case& c : cases) {
    TempDir dir;
    MetricTree tree;
    Status s = tree.Create(dir.Path(""), c.maxDistance, c.clsid);
    EXPECT_EQ(s.code(), c.code) << c.what << ": " << s.ToString();
    EXPECT_TRUE(Listing(dir.Path("")).empty()) << c.what;
    EXPECT_FALSE(tree.IsOpen());
  }
  TempDir dir;
  MetricTree tree;
  EXPECT_TRUE(tree.Create(dir.Path("missing"), 10.0, kVectorA).IsNotFound());
  EXPECT_TRUE(tree.Create("", 10.0, kVectorA).IsInvalidArgument());
  ASSERT_TRUE(tree.Create(dir.Path(""), 10.0, kVectorA).ok());
  EXPECT_EQ(tree.Create(dir.Path(""), 10.0, kVectorA).code(), Status::Code::kFailedPrecondition);
}

TEST(MetricTree, FailedCreateLeavesNothingThatOpens) {
  // A directory in the place of one of the files makes its write fail.
  for (const char* blocked : {"Density.dat", "Distribution.dat", "TreeStats.dat", "index.M3"}) {
    TempDir dir;
    fs::create_directories(dir.Path(blocked) + "/inside");
    MetricTree tree;
    Status s = tree.Create(dir.Path(""), 10.0, kVectorA);
    EXPECT_FALSE(s.ok()) << blocked;
    EXPECT_EQ(Listing(dir.Path("")), std::vector<std::string>{blocked});
    MetricTree again;
    EXPECT_FALSE(again.Open(dir.Path(""), kVectorA).ok()) << blocked;
  }
}

TEST(MetricTree, DirectoryPathsOfAnyLength) {
  TempDir dir;
  std::string path = dir.Path("");
  while (path.size() < 300) path += "/a-rather-long-directory-name";
  fs::create_directories(path);
  {
    MetricTree tree;
    ASSERT_TRUE(tree.Create(path, 10.0, kVectorA).ok());
    auto e = LeafEntry(Point(45, {1}), 1);
    ASSERT_TRUE(tree.Insert(*e).ok());
  }
  MetricTree tree;
  Status s = tree.Open(path, kVectorA);
  ASSERT_TRUE(s.ok()) << s.ToString();
  EXPECT_EQ(tree.parameters().directory, path);
  EXPECT_TRUE(TreeChecker::Check(tree).empty());
}

TEST(MetricTree, OpenNeedsTheStatisticsAndThePageFile) {
  TempDir dir;
  {
    MetricTree tree;
    ASSERT_TRUE(tree.Create(dir.Path(""), 10.0, kVectorA).ok());
  }
  struct Case {
    const char* what;
    std::function<void()> damage;
    Status::Code code;
  } cases[] = {
      {"sound", [] {}, Status::Code::kOk},
      {"unregistered class", [] {}, Status::Code::kNotFound},
      {"bad density", [&] { dir.Write("Density.dat", "0 10 x\n"); }, Status::Code::kCorruption},
      {"missing T.dat", [&] { fs::remove(dir.Path("T.dat")); }, Status::Code::kNotFound},
      {"missing index.M3", [&] { fs::remove(dir.Path("index.M3")); }, Status::Code::kNotFound},
  };
  for (const Case& c : cases) {
    c.damage();
    MetricTree tree;
    Status s = tree.Open(dir.Path(""),
                         std::string(c.what) == "unregistered class" ? kUnregistered : kVectorA);
    EXPECT_EQ(s.code(), c.code) << c.what << ": " << s.ToString();
    EXPECT_EQ(tree.IsOpen(), s.ok());
  }
  MetricTree tree;
  EXPECT_TRUE(tree.Open(dir.Path("missing"), kVectorA).IsNotFound());
}

TEST_F(NewIndex, StatisticsCountOnlyTerminatedRecords) {
  dir_.Write("index/TreeStats.dat", "1 4.5 3\n0 1.5 10\n0 2.5 20\n0 3.5 30");
  ASSERT_TRUE(tree_.LoadStatistics(Dir(dir_), kVectorA).ok());
  EXPECT_EQ(tree_.parameters().statLevels, (std::vector<std::int32_t>{1, 0, 0}));
  EXPECT_EQ(tree_.parameters().statRadii, (std::vector<double>{4.5, 1.5, 2.5}));
  EXPECT_EQ(tree_.parameters().statEntries, (std::vector<std::int32_t>{3, 10, 20}));
  EXPECT_EQ(tree_.parameters().totalObjects, 30);
  fs::remove(File("TreeStats.dat"));
  ASSERT_TRUE(tree_.LoadStatistics(Dir(dir_), kVectorA).ok());
  EXPECT_EQ(tree_.parameters().totalObjects, 0);
}

TEST_F(NewIndex, StatisticsPassOverTwoLevels) {
  BuildTree({10, 20, 30}, 40, [](int k) { return Point(45, {k * 0.01}); });
  ResetCounters();
  ::testing::internal::CaptureStderr();
  ASSERT_TRUE(tree_.GenerateStatistics().ok());
  const std::string err = ::testing::internal::GetCapturedStderr();
  EXPECT_EQ(TempDir::Read(File("TreeStats.dat")), "0 1.5 10\n0 2.5 20\n0 3.5 30\n");
  EXPECT_EQ(tree_.parameters().totalObjects, 60);
  EXPECT_EQ(tree_.parameters().computedDistances, 60 * 60);
  // Every node read twice: once for the records, once for the samples.
  EXPECT_EQ(tree_.parameters().pageReads, 2 * 4);
  EXPECT_EQ(tree_.parameters().pageWrites, 0);
  EXPECT_EQ(err, "Computing density with 60 samples ...\n" + std::string(60, '*') +
                     "done!\nSaving density in " + File("Density.dat") + "...\ndone!\n");
  EXPECT_EQ(Lines(File("Density.dat"))[0], "0 10 1000");
  EXPECT_EQ(Lines(File("Distribution.dat")).back().substr(0, 3), "10 ");
  EXPECT_TRUE(tree_.parameters().model->isInitialised());
}

TEST_F(NewIndex, StatisticsPassOverAHundredObjects) {
  BuildTree({30, 30, 40}, 40, [](int k) { return Point(45, {k * 0.01}); });
  tree_.SetMaxDistance(5);
  EXPECT_EQ(tree_.parameters().maxDistance, 5.0);
  ResetCounters();
  ::testing::internal::CaptureStderr();
  ASSERT_TRUE(tree_.GenerateStatistics().ok());
  const std::string err = ::testing::internal::GetCapturedStderr();
  EXPECT_EQ(tree_.parameters().computedDistances, 10000);
  EXPECT_NE(err.find(std::string(50, '*') + "done!"), std::string::npos) << err;
  EXPECT_EQ(err.find(std::string(51, '*')), std::string::npos) << err;
  // The reloaded distribution sets the maximum distance again.
  EXPECT_EQ(tree_.parameters().maxDistance, 10.0);
  EXPECT_EQ(Lines(File("T.dat"))[1], "0 0.0999001");
}

TEST_F(NewIndex, StatisticsPassOverALeafRoot) {
  Insert(Point(45, {1}), 1);
  Insert(Point(45, {2}), 2);
  ::testing::internal::CaptureStderr();
  ASSERT_TRUE(tree_.GenerateStatistics().ok());
  const std::string err = ::testing::internal::GetCapturedStderr();
  EXPECT_EQ(TempDir::Read(File("TreeStats.dat")), "");
  EXPECT_EQ(tree_.parameters().totalObjects, 0);
  EXPECT_EQ(err.substr(0, 42), "Computing density with 0 samples ...\ndone!");
  const std::vector<std::string> density = Lines(File("Density.dat"));
  ASSERT_EQ(density.size(), 1002u);
  for (std::size_t i = 1; i < density.size(); ++i) {
    EXPECT_EQ(density[i].substr(density[i].find(' ')), " 0") << i;
  }
}

TEST_F(NewIndex, StatisticsPassSamplesEveryOtherObjectOfSevenThousandFiveHundred) {
  // Objects at even places in walk order are copies of one vector, the others
  // lie 5 away: the samples see only distance 0 when they take every other one.
  std::vector<int> leaves(187, 40);
  leaves.push_back(20);
  BuildTree(leaves, 40, [](int k) { return Point(45, {k % 2 == 0 ? 0.0 : 5.0}); });
  ResetCounters();
  ::testing::internal::CaptureStderr();
  ASSERT_TRUE(tree_.GenerateStatistics().ok());
  const std::string err = ::testing::internal::GetCapturedStderr();
  EXPECT_EQ(tree_.parameters().totalObjects, 7500);
  EXPECT_EQ(err.substr(0, 40), "Computing density with 3000 samples ...\n");
  EXPECT_EQ(tree_.parameters().computedDistances, 3000 * 3000);
  const std::vector<std::string> density = Lines(File("Density.dat"));
  EXPECT_EQ(density[1], "0 100");
  EXPECT_EQ(density[2], "0.01 0");
  EXPECT_EQ(density[501], "5 0");
}

TEST_F(NewIndex, DistancesBeyondTheMaximumCountInTheLastInterval) {
  BuildTree({30, 30}, 40, [](int k) { return Point(45, {k % 2 == 0 ? 0.0 : 20.0}); });
  ::testing::internal::CaptureStderr();
  ASSERT_TRUE(tree_.GenerateStatistics().ok());
  const std::string err = ::testing::internal::GetCapturedStderr();
  std::istringstream lines(err);
  int warnings = 0;
  for (std::string line; std::getline(lines, line);) {
    if (line.find("Warning") != std::string::npos) ++warnings;
  }
  EXPECT_EQ(warnings, 1) << err;
  const std::vector<std::string> density = Lines(File("Density.dat"));
  EXPECT_EQ(density[1], "0 50");
  EXPECT_EQ(density[1001], "10 50");
}

TEST_F(NewIndex, FirstInsertionsAndTheRootSplitCostExactly) {
  ResetCounters();
  Insert(Point(45, {0.5}), 0);
  EXPECT_EQ(tree_.parameters().pageReads, 1);
  EXPECT_EQ(tree_.parameters().pageWrites, 1);
  EXPECT_EQ(tree_.parameters().computedDistances, 0);
  for (std::uint32_t i = 1; i < 40; ++i) Insert(Point(45, {0.01 * i, 0.3 * (i % 3)}), i);
  EXPECT_EQ(Height(), 1);
  ResetCounters();
  Insert(Point(45, {0.7, 0.7}), 40);
  // The root split draws two routing objects and measures all 41 entries
  // against both; the new root holds two unmeasured entries.
  EXPECT_EQ(tree_.parameters().computedDistances, 2 * 41);
  EXPECT_EQ(tree_.parameters().pageReads, 5);
  EXPECT_EQ(tree_.parameters().pageWrites, 3);
  EXPECT_EQ(Height(), 2);
  EXPECT_EQ(fs::file_size(File("index.M3")), 4u * PageFile::kPageSize);
  std::unique_ptr<MTnode> root;
  ASSERT_TRUE(tree_.LoadRoot(&root).ok());
  ASSERT_EQ(root->NumEntries(), 2);
  EXPECT_EQ(root->Entry(0).Pointer(), 2);
  EXPECT_EQ(root->Entry(1).Pointer(), 3);
  EXPECT_EQ(TreeChecker::Check(tree_), std::vector<std::string>{});

  // The first split of a leaf below the root keeps its routing object: every
  // root entry is costed on the way down (the new entry is unmeasured there),
  // then the 41 entries are measured against the new routing object only.
  for (std::uint32_t oid = 41;; ++oid) {
    const int before = root->NumEntries();
    ResetCounters();
    Insert(Point(45, {0.013 * (oid % 50), 0.3 * (oid % 3), 0.01 * (oid % 7)}), oid);
    const CostCounters cost = tree_.parameters();
    ASSERT_TRUE(tree_.LoadRoot(&root).ok());
    if (root->NumEntries() == before) continue;
    EXPECT_EQ(cost.computedDistances, before + 41);
    // The descent 2, the new page 1, the parent 1; then key adjustment: the
    // parent and the routing object from it.
    EXPECT_EQ(cost.pageReads, 6);
    EXPECT_EQ(cost.pageWrites, 3);
    break;
  }
  EXPECT_EQ(TreeChecker::Check(tree_), std::vector<std::string>{});
}

TEST(MetricTree, IndexBuildsRepeat) {
  std::string pages[2];
  for (std::string& bytes : pages) {
    TempDir dir;
    MetricTree tree;
    ASSERT_TRUE(tree.Create(dir.Path(""), 10.0, kVectorA).ok());
    for (std::uint32_t i = 0; i < 300; ++i) {
      auto e = LeafEntry(Point(45, {std::sin(i * 1.0), std::cos(i * 0.7), 0.001 * i}), i);
      ASSERT_TRUE(tree.Insert(*e).ok());
    }
    bytes = TempDir::Read(dir.Path("index.M3"));
  }
  EXPECT_EQ(pages[0], pages[1]);
}

TEST(MetricTree, EachTreeCountsIntoItsOwnBlock) {
  TempDir one;
  TempDir two;
  MetricTree first;
  MetricTree second;
  ASSERT_TRUE(first.Create(one.Path(""), 10.0, kVectorA).ok());
  ASSERT_TRUE(second.Create(two.Path(""), 10.0, kVectorA).ok());
  auto e = LeafEntry(Point(45, {1}), 1);
  ASSERT_TRUE(second.Insert(*e).ok());
  ASSERT_TRUE(first.Insert(*e).ok());
  EXPECT_EQ(first.parameters().pageWrites, 1 + 1);  // the empty root, then the insertion
  EXPECT_EQ(second.parameters().pageWrites, 1 + 1);
}

TEST_F(NewIndex, InsertRefusesWhatTheIndexCannotHold) {
  auto e = LeafEntry(Point(45, {1}), 1);
  // An object of the 144-number class does not fit a 45-number index.
  tree_.parameters().objectClass = kVectorB;
  auto wrong = LeafEntry(Point(144, {1}), 2);
  tree_.parameters().objectClass = kVectorA;
  EXPECT_TRUE(tree_.Insert(*wrong).IsInvalidArgument());
  EXPECT_EQ(TreeChecker::Check(tree_), std::vector<std::string>{});
  MetricTree closed;
  EXPECT_EQ(closed.Insert(*e).code(), Status::Code::kFailedPrecondition);
}

// A tree whose page file fails on demand.
class FaultyTree : public MetricTree {
 public:
  std::shared_ptr<FaultyFile::Plan> plan = std::make_shared<FaultyFile::Plan>();
  std::unique_ptr<PageStore> MakeStore() override {
    return std::make_unique<PageFile>(FaultyFile::Wrap(PosixFile::Opener(), plan));
  }
};

TEST(MetricTree, PageFailuresComeBackAsStatus) {
  TempDir dir;
  FaultyTree tree;
  ASSERT_TRUE(tree.Create(dir.Path(""), 10.0, kVectorA).ok());
  for (std::uint32_t i = 0; i < 100; ++i) {
    auto e = LeafEntry(Point(45, {0.01 * i}), i);
    ASSERT_TRUE(tree.Insert(*e).ok());
  }
  // The insertion reads at least four pages (the descent, then the parent and
  // the routing object while adjusting keys) and writes at least one.
  auto e = LeafEntry(Point(45, {0.5, 0.5}), 1000);
  for (int ok = 0; ok < 4; ++ok) {
    *tree.plan = {};
    tree.plan->read.okCalls = ok;
    EXPECT_TRUE(tree.Insert(*e).IsIOError()) << "reads " << ok;
  }
  *tree.plan = {};
  tree.plan->write.okCalls = 0;
  EXPECT_TRUE(tree.Insert(*e).IsIOError());
  *tree.plan = {};
  tree.plan->read.okCalls = 2;
  ::testing::internal::CaptureStderr();
  EXPECT_TRUE(tree.GenerateStatistics().IsIOError());
  ::testing::internal::GetCapturedStderr();
}

TEST_F(NewIndex, CopiesOfOneObjectKeepTheTreeSound) {
  for (std::uint32_t i = 0; i < 2000; ++i) Insert(Point(45, {0.25, 0.5, 0.75}), i);
  EXPECT_GE(Height(), 3);
  EXPECT_EQ(TreeChecker::Check(tree_), std::vector<std::string>{});
}

// The new maximum distance, and how far the second cluster lies from the
// first (within the maximum distance, and far enough that a stale mark read
// as a distance would keep an entry in the wrong half).
class StaleMarks : public NewIndex,
                   public ::testing::WithParamInterface<std::pair<double, double>> {};

TEST_P(StaleMarks, ChangedMaximumDistanceKeepsSplitsSound) {
  // Objects of a first cluster fill several children of the root; those of a
  // second cluster, inserted after the change, leave most of them alone, so
  // the root holds marks of both maximum distances when it splits.
  std::uint32_t oid = 0;
  auto next = [&oid](double offset) {
    const double t = oid * 0.37;
    return Point(45, {offset + std::fmod(t, 0.3), std::fmod(t * t, 0.3), (oid % 11) * 0.02});
  };
  while (oid < 300) Insert(next(0.0), oid++);
  ASSERT_EQ(Height(), 2);
  tree_.SetMaxDistance(GetParam().first);
  while (Height() < 3 && !HasFailure()) Insert(next(GetParam().second), oid++);
  EXPECT_EQ(TreeChecker::Check(tree_), std::vector<std::string>{});
}

INSTANTIATE_TEST_SUITE_P(MaxDistances, StaleMarks,
                         ::testing::Values(std::make_pair(5.0, 3.0), std::make_pair(20.0, 12.0)),
                         [](const auto& p) { return std::to_string(int(p.param.first)); });

// Clustered data sets of both vector classes, big enough for trees of three
// levels or more: sound after every insertion and again after reopening.
class BigIndex : public ::testing::TestWithParam<std::pair<VectorClass, int>> {
 protected:
  static std::int64_t CountObjects(MetricTree& tree, MTnode& node) {
    if (node.IsLeaf()) return node.NumEntries();
    std::int64_t count = 0;
    for (int i = 0; i < node.NumEntries(); ++i) {
      std::unique_ptr<MTnode> child;
      EXPECT_TRUE(tree.LoadChild(node, i, &child).ok());
      if (child) count += CountObjects(tree, *child);
    }
    return count;
  }
  static void ExpectSound(MetricTree& tree, int objects) {
    std::unique_ptr<MTnode> root;
    ASSERT_TRUE(tree.LoadRoot(&root).ok());
    EXPECT_GE(root->Level(), 2);
    EXPECT_EQ(CountObjects(tree, *root), objects);
    EXPECT_EQ(TreeChecker::Check(tree), std::vector<std::string>{});
  }
};

TEST_P(BigIndex, StaysSoundThroughInsertionsAndReopening) {
  const VectorClass& cls = GetParam().first;
  const int count = GetParam().second;
  const std::vector<double> data = testing::ClusteredVectors(count, cls.dim);
  TempDir dir;
  {
    MetricTree tree;
    ASSERT_TRUE(tree.Create(dir.Path(""), std::sqrt(cls.dim), cls.clsid).ok());
    auto begin = data.begin();
    for (int i = 0; i < count; ++i, begin += cls.dim) {
      auto e =
          LeafEntry(std::vector<double>(begin, begin + cls.dim), static_cast<std::uint32_t>(i));
      Status s = tree.Insert(*e);
      ASSERT_TRUE(s.ok()) << i << ": " << s.ToString();
    }
    ExpectSound(tree, count);
  }
  MetricTree tree;
  ASSERT_TRUE(tree.Open(dir.Path(""), cls.clsid).ok());
  ExpectSound(tree, count);
}

INSTANTIATE_TEST_SUITE_P(Vectors, BigIndex,
                         ::testing::Values(std::make_pair(kVectorAClass, 20000),
                                           std::make_pair(kVectorBClass, 5000)),
                         [](const auto& p) { return std::string(p.param.first.name); });

}  // namespace
}  // namespace simdex
