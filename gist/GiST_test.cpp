#include "gist/GiST.h"

#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "gist/TestTree.h"
#include "platform/Coding.h"
#include "platform/CostCounters.h"
#include "platform/FaultyFile.h"
#include "platform/MemoryFile.h"

namespace simdex {
namespace {

constexpr std::size_t kPage = PageFile::kPageSize;
// Keys of 3996 bytes make 4000-byte records: four fit in a page, five do not.
constexpr std::int32_t kKeyLen = 3996;

using Log = std::vector<std::string>;

NodePath PathTo(std::initializer_list<std::int32_t> pages) {
  NodePath path;
  for (std::int32_t page : pages) EXPECT_TRUE(path.Append(page).ok());
  return path;
}

class GiSTTest : public ::testing::Test {
 protected:
  void SetUp() override { SetActiveCounters(&counters_); }
  void TearDown() override { SetActiveCounters(nullptr); }

  std::unique_ptr<TestTree> NewTree(std::int32_t keyLength = kKeyLen) {
    return std::make_unique<TestTree>(FaultyFile::Wrap(MemoryFile::Opener(dir_), plan_), keyLength,
                                      &log_);
  }
  void Create(std::int32_t keyLength = kKeyLen) {
    tree_ = NewTree(keyLength);
    ASSERT_TRUE(tree_->CreateIndex("index").ok());
    Reset();
  }
  void Reset() {
    log_.clear();
    counters_ = CostCounters();
  }
  Status Insert(std::int32_t value, std::int32_t keyLen = kKeyLen) {
    TestEntry entry(value, keyLen, value);
    return tree_->InsertEntry(entry);
  }
  void InsertAll(std::int32_t from, std::int32_t to) {
    for (std::int32_t v = from; v <= to; v += 10) ASSERT_TRUE(Insert(v).ok()) << v;
  }
  // The transcript of one insertion.
  Log Logged(std::int32_t value) {
    Reset();
    EXPECT_TRUE(Insert(value).ok());
    return log_;
  }
  // "L<level> <entries> rs<sibling>"; entries are value>pointer, or just the
  // value in leaves (where the pointer is the value).
  std::string Node(std::int32_t page) {
    std::unique_ptr<GiSTnode> node;
    EXPECT_TRUE(tree_->LoadNode(page == 1 ? PathTo({1}) : PathTo({1, page}), &node).ok());
    if (!node) return "unreadable";
    std::string s = "L" + std::to_string(node->Level());
    for (int i = 0; i < node->NumEntries(); ++i) {
      const auto& e = static_cast<const TestEntry&>(*node->EntryAt(i));
      s += " " + std::to_string(e.Value());
      if (!node->IsLeaf()) s += ">" + std::to_string(e.Pointer());
    }
    return s + " rs" + std::to_string(node->RightSibling());
  }
  MemoryFile::Bytes& File() { return *dir_->at("index"); }

  std::shared_ptr<MemoryFile::Directory> dir_ = std::make_shared<MemoryFile::Directory>();
  std::shared_ptr<FaultyFile::Plan> plan_ = std::make_shared<FaultyFile::Plan>();
  Log log_;
  CostCounters counters_;
  std::unique_ptr<TestTree> tree_;
};

TEST_F(GiSTTest, CreateWritesAnEmptyLeafRootThatOpenFinds) {
  tree_ = NewTree();
  ASSERT_TRUE(tree_->CreateIndex("index").ok());
  EXPECT_TRUE(tree_->IsOpen());
  EXPECT_EQ(log_, (Log{"A1", "W1"}));
  EXPECT_EQ(counters_.pageReads, 1);  // the header read of the allocation
  EXPECT_EQ(counters_.pageWrites, 1);
  ASSERT_EQ(File().size(), 2 * kPage);
  MemoryFile::Bytes root(File().begin() + kPage, File().end());
  MemoryFile::Bytes expected(kPage);
  expected[kPage - 2] = std::byte{0x10};
  EXPECT_EQ(root, expected);

  // Create and open leave an open tree as it is.
  EXPECT_EQ(tree_->CreateIndex("other").code(), Status::Code::kFailedPrecondition);
  EXPECT_EQ(tree_->OpenIndex("index").code(), Status::Code::kFailedPrecondition);
  EXPECT_TRUE(tree_->IsOpen());
  EXPECT_EQ(dir_->count("other"), 0u);
  tree_->CloseIndex();
  EXPECT_FALSE(tree_->IsOpen());

  // Opening reads nothing beyond the header check; the root is page 1.
  tree_ = NewTree();
  Reset();
  ASSERT_TRUE(tree_->OpenIndex("index").ok());
  EXPECT_EQ(counters_.pageReads + counters_.pageWrites, 0);
  EXPECT_EQ(Logged(10), (Log{"R1", "W1"}));
  EXPECT_EQ(Node(1), "L0 10 rs0");
}

TEST_F(GiSTTest, CreateAndOpenFailuresLeaveTheTreeClosed) {
  (*dir_)["index"] = std::make_shared<MemoryFile::Bytes>(100, std::byte{1});
  (*dir_)["bad"] = std::make_shared<MemoryFile::Bytes>(kPage, std::byte{1});
  struct Case {
    bool create;
    const char* name;
    Status::Code code;
  };
  for (const Case& c : {Case{true, "index", Status::Code::kAlreadyExists},
                        Case{false, "missing", Status::Code::kNotFound},
                        Case{false, "bad", Status::Code::kCorruption}}) {
    SCOPED_TRACE(c.name);
    tree_ = NewTree();
    Status s = c.create ? tree_->CreateIndex(c.name) : tree_->OpenIndex(c.name);
    EXPECT_EQ(s.code(), c.code);
    EXPECT_FALSE(tree_->IsOpen());
    std::unique_ptr<GiSTnode> node;
    EXPECT_EQ(tree_->LoadNode(NodePath::Root(), &node).code(), Status::Code::kFailedPrecondition);
    EXPECT_EQ(Insert(1).code(), Status::Code::kFailedPrecondition);
  }
  EXPECT_EQ(File(), MemoryFile::Bytes(100, std::byte{1}));
}

TEST_F(GiSTTest, FirstRootSplitMovesBothHalvesBelowANewRoot) {
  Create();
  for (std::int32_t v : {10, 20, 30, 40}) EXPECT_EQ(Logged(v), (Log{"R1", "W1"}));
  // P = 2 is allocated before Q = 3; both halves are written before the new root.
  EXPECT_EQ(Logged(50), (Log{"R1", "A2", "A3", "W2", "W3", "W1", "R1"}));
  EXPECT_EQ(counters_.pageReads, 4);
  EXPECT_EQ(counters_.pageWrites, 3);
  EXPECT_EQ(Node(1), "L1 30>2 50>3 rs0");
  EXPECT_EQ(Node(2), "L0 10 20 30 rs3");
  EXPECT_EQ(Node(3), "L0 40 50 rs0");
}

TEST_F(GiSTTest, ChildSplitsPropagateToParentAndGrandparent) {
  Create();
  InsertAll(10, 130);
  // The leaf's halves are written, then the root splits: its halves, then
  // the new root receiving their covering entries.
  EXPECT_EQ(Logged(140),
            (Log{"R1", "R5", "A6", "W5", "W6", "R1", "A7", "A8", "W7", "W8", "W1", "R8"}));
  EXPECT_EQ(counters_.pageReads, 7);
  EXPECT_EQ(counters_.pageWrites, 5);
  EXPECT_EQ(Node(1), "L2 90>7 140>8 rs0");
  EXPECT_EQ(Node(7), "L1 30>2 60>3 90>4 rs8");
  EXPECT_EQ(Node(8), "L1 120>5 140>6 rs0");

  InsertAll(150, 220);
  // A split of an inner node below the root: the grandparent (the root) gets
  // the covering entries of both halves of the parent.
  EXPECT_EQ(Logged(230), (Log{"R1", "R8", "R10", "A11", "W10", "W11", "R8", "A12", "W8", "W12",
                              "R1", "W1", "R12"}));
  EXPECT_EQ(Node(1), "L2 90>7 180>8 230>12 rs0");
  EXPECT_EQ(Node(8), "L1 120>5 150>6 180>9 rs12");
  EXPECT_EQ(Node(12), "L1 210>10 230>11 rs0");

  // Sibling chains: each level in order, the new half between its left half
  // and that half's former right sibling.
  std::string leaves;
  for (std::int32_t page = 2; page != 0;) {
    leaves += std::to_string(page) + " ";
    std::unique_ptr<GiSTnode> node;
    ASSERT_TRUE(tree_->LoadNode(PathTo({1, page}), &node).ok());
    page = node->RightSibling();
  }
  EXPECT_EQ(leaves, "2 3 4 5 6 9 10 11 ");
  ASSERT_TRUE(Insert(35).ok());
  ASSERT_TRUE(Insert(25).ok());  // splits page 2, the leftmost leaf
  EXPECT_EQ(Node(2), "L0 10 20 25 rs13");
  EXPECT_EQ(Node(13), "L0 30 35 rs3");
}

TEST_F(GiSTTest, KeyAdjustmentStopsAtTheFirstUnchangedAncestor) {
  Create();
  InsertAll(10, 140);
  struct Case {
    std::int32_t value;
    Log log;
  };
  const Case cases[] = {
      // Leaf 2's largest value grows, its parent's (page 7) does not.
      {35, {"R1", "R7", "R2", "W2", "R7", "W7", "R1"}},
      // Leaf 3's largest value stays: nothing above the leaf is written.
      {55, {"R1", "R7", "R3", "W3", "R7"}},
  };
  for (const Case& c : cases) EXPECT_EQ(Logged(c.value), c.log) << c.value;
  EXPECT_EQ(Node(7), "L1 35>2 60>3 90>4 rs8");
}

// Many insertions in both page modes: every value is stored once, levels
// fall by one to leaves of equal depth, every page is a node reached exactly
// once, sibling chains run through each level in tree order, and the tree
// reads back the same after reopening.
class GiSTModeTest : public GiSTTest, public ::testing::WithParamInterface<std::int32_t> {
 protected:
  struct Shape {
    std::multiset<std::int32_t> values;
    std::map<std::int32_t, std::vector<std::int32_t>> levels;  // pages in tree order
    int leafDepth = -1;
  };

  void Visit(const NodePath& path, std::int32_t level, std::int32_t bound, Shape* shape) {
    std::unique_ptr<GiSTnode> node;
    ASSERT_TRUE(tree_->LoadNode(path, &node).ok());
    ASSERT_EQ(node->Level(), level);
    ASSERT_GT(node->NumEntries(), 0);
    shape->levels[level].push_back(path.LastPage());
    std::int32_t largest = 0;
    for (int i = 0; i < node->NumEntries(); ++i) {
      const auto& e = static_cast<const TestEntry&>(*node->EntryAt(i));
      largest = std::max(largest, e.Value());
      if (level == 0) {
        shape->values.insert(e.Value());
        continue;
      }
      NodePath child = path;
      ASSERT_TRUE(child.Append(e.Pointer()).ok());
      Visit(child, level - 1, e.Value(), shape);
    }
    // A parent's key never claims more than the subtree holds (it may lag:
    // after a split only the split levels are refreshed).
    if (bound >= 0) {
      EXPECT_LE(bound, largest);
    }
    if (level == 0) {
      if (shape->leafDepth < 0) shape->leafDepth = path.Length();
      EXPECT_EQ(path.Length(), shape->leafDepth);
    }
  }

  Shape Check() {
    Shape shape;
    std::unique_ptr<GiSTnode> root;
    EXPECT_TRUE(tree_->LoadNode(NodePath::Root(), &root).ok());
    Visit(NodePath::Root(), root->Level(), -1, &shape);
    std::set<std::int32_t> pages;
    for (const auto& [level, inOrder] : shape.levels) {
      for (std::size_t i = 0; i < inOrder.size(); ++i) {
        EXPECT_TRUE(pages.insert(inOrder[i]).second);
        std::unique_ptr<GiSTnode> node;
        EXPECT_TRUE(tree_->LoadNode(PathTo({1, inOrder[i]}), &node).ok());
        EXPECT_EQ(node->RightSibling(), i + 1 < inOrder.size() ? inOrder[i + 1] : 0);
      }
    }
    EXPECT_EQ(pages.size() + 1, File().size() / kPage);  // all but the header
    return shape;
  }
};

TEST_P(GiSTModeTest, RandomInsertionsKeepTheTreeSound) {
  const std::int32_t keyLength = GetParam();
  Create(keyLength);
  std::multiset<std::int32_t> inserted;
  std::uint32_t seed = 12345;
  for (int i = 0; i < 400; ++i) {
    seed = seed * 1103515245u + 12345u;
    const auto value = static_cast<std::int32_t>((seed >> 8) % 1000);
    // Variable keys from 4 to 4003 bytes: nodes of 4 to about 16 entries.
    const std::int32_t keyLen = keyLength > 0 ? keyLength : 4 + (value * 37) % 4000;
    ASSERT_TRUE(Insert(value, keyLen).ok()) << i;
    inserted.insert(value);
  }
  Shape shape = Check();
  EXPECT_EQ(shape.values, inserted);
  EXPECT_GE(shape.leafDepth, 4);

  tree_ = NewTree(keyLength);
  ASSERT_TRUE(tree_->OpenIndex("index").ok());
  EXPECT_EQ(Check().values, inserted);
}

INSTANTIATE_TEST_SUITE_P(PageModes, GiSTModeTest, ::testing::Values(kKeyLen, 0),
                         [](const ::testing::TestParamInfo<std::int32_t>& p) {
                           return p.param > 0 ? "FixedKeys" : "VariableKeys";
                         });

TEST_F(GiSTTest, DamagedIndexIsReportedAndLeftAlone) {
  // A two-level tree: root [30>2 50>3], leaves on pages 2 and 3.
  const std::size_t kFirstPointer = kPage + 16 + kKeyLen;
  auto int32At = [](std::size_t offset, std::int32_t v) {
    return
        [=](MemoryFile::Bytes& f) { EncodeInt32(reinterpret_cast<unsigned char*>(&f[offset]), v); };
  };
  struct Case {
    const char* what;
    std::function<void(MemoryFile::Bytes&)> damage;
  };
  const Case cases[] = {
      {"truncated inside a leaf", [](MemoryFile::Bytes& f) { f.resize(2 * kPage + kPage / 2); }},
      {"truncated before the root", [](MemoryFile::Bytes& f) { f.resize(kPage + 100); }},
      {"root entry count", int32At(kPage + 4, 999)},
      {"root points to itself", int32At(kFirstPointer, 1)},
      {"root points to the header", int32At(kFirstPointer, 0)},
      {"root points beyond the file", int32At(kFirstPointer, 50)},
      {"leaf has the wrong level", int32At(2 * kPage, 1)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    dir_->clear();
    Create();
    InsertAll(10, 50);
    c.damage(File());
    const MemoryFile::Bytes damaged = File();
    Reset();
    EXPECT_TRUE(Insert(15).IsCorruption());
    EXPECT_EQ(counters_.pageWrites, 0);
    EXPECT_EQ(File(), damaged);
  }
}

TEST_F(GiSTTest, FailedWritesAreReported) {
  Create();
  InsertAll(10, 40);
  for (FaultyFile::Effect effect : {FaultyFile::Effect::kFail, FaultyFile::Effect::kShorten}) {
    plan_->write = {1, effect, 10};  // the split writes its first half, then the disk fills
    EXPECT_TRUE(Insert(50).IsIOError());
    plan_->write.okCalls = -1;
  }
}

TEST_F(GiSTTest, EntriesThatCanNeverFitAreRefused) {
  Create();
  EXPECT_TRUE(Insert(1, kKeyLen + 1).IsInvalidArgument());
  EXPECT_EQ(counters_.pageWrites, 0);
  dir_->clear();
  Create(0);
  EXPECT_TRUE(Insert(1, 9000).IsInvalidArgument());  // more than half a page
  EXPECT_TRUE(Insert(1, 8000).ok());
  EXPECT_EQ(counters_.pageWrites, 1);
}

// A hand-built tree of the full 16 levels: page k holds level 16 - k, its
// first entry leads to page k + 1 and the others nowhere (never followed).
TEST_F(GiSTTest, FullHeightTreeRefusesToGrowBeforeWritingAnything) {
  struct Case {
    const char* what;
    std::int32_t keyLength;
    std::int32_t roomyPage;  // an inner page with one entry less; 0 for none
    int leafEntries;
    bool inserts;
  };
  const Case cases[] = {
      {"full path", kKeyLen, 0, 4, false},       {"room at level 7", kKeyLen, 9, 4, true},
      {"room in the root", kKeyLen, 1, 4, true}, {"room in the leaf", kKeyLen, 0, 3, true},
      {"variable keys", 0, 0, 1, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    dir_->clear();
    Create(c.keyLength);
    const std::int32_t keyLen = c.keyLength > 0 ? c.keyLength : kKeyLen;
    NodePath path = NodePath::Root();
    for (std::int32_t page = 1; page <= NodePath::kMaxLength; ++page) {
      if (page > 1) {
        std::int32_t allocated = 0;
        ASSERT_TRUE(tree_->Store()->AllocatePage(&allocated).ok());
        ASSERT_EQ(allocated, page);
        ASSERT_TRUE(path.Append(page).ok());
      }
      TestNode node(c.keyLength);
      node.SetLevel(NodePath::kMaxLength - page);
      node.SetPath(path);
      const bool leaf = page == NodePath::kMaxLength;
      const int entries = leaf ? c.leafEntries : (page == c.roomyPage ? 3 : 4);
      for (int i = 0; i < entries; ++i) {
        const std::int32_t pointer = leaf ? i : (i == 0 ? page + 1 : 999);
        node.InsertAt(TestEntry(leaf ? i : 1000 * (i + 1), keyLen, pointer), i);
      }
      ASSERT_TRUE(tree_->StoreNode(node).ok());
    }
    const MemoryFile::Bytes before = File();
    Reset();
    Status s = Insert(5, keyLen);
    if (c.inserts) {
      EXPECT_TRUE(s.ok()) << s.ToString();
    } else {
      EXPECT_EQ(s.code(), Status::Code::kFailedPrecondition);
      EXPECT_EQ(counters_.pageWrites, 0);
      EXPECT_EQ(File(), before);
    }
  }
}

}  // namespace
}  // namespace simdex
