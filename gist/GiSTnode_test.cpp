#include "gist/GiSTnode.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <initializer_list>
#include <memory>
#include <vector>

#include "gist/MatchAllPredicate.h"
#include "gist/PageFile.h"
#include "gist/TestNode.h"
#include "gist/TestTree.h"
#include "platform/Coding.h"
#include "platform/MemoryFile.h"

namespace simdex {
namespace {

constexpr std::size_t kPage = PageFile::kPageSize;
using Page = std::vector<std::byte>;

struct Record {
  std::int32_t value;
  std::int32_t keyLen;
  std::int32_t pointer;
};

std::unique_ptr<TestNode> MakeNode(std::int32_t fixlen, std::initializer_list<Record> records,
                                   std::int32_t level = 0) {
  auto node = std::make_unique<TestNode>(fixlen);
  node->SetLevel(level);
  for (const Record& s : records) {
    node->InsertAt(TestEntry(s.value, s.keyLen, s.pointer), node->NumEntries());
  }
  return node;
}

Page Pack(const GiSTnode& node) {
  Page page(kPage, std::byte{0xEE});  // packing clears whatever was there
  node.PackPage(page);
  return page;
}

void Put(Page& page, std::size_t offset, std::initializer_list<int> bytes) {
  for (int b : bytes) page[offset++] = static_cast<std::byte>(b);
}

std::vector<std::int32_t> Values(const TestNode& node) {
  std::vector<std::int32_t> values;
  for (int i = 0; i < node.NumEntries(); ++i) values.push_back(node.At(i).Value());
  return values;
}

// Every entry knows its node, index and level.
void ExpectLinked(const GiSTnode& node) {
  for (int i = 0; i < node.NumEntries(); ++i) {
    EXPECT_EQ(node.EntryAt(i)->Node(), &node);
    EXPECT_EQ(node.EntryAt(i)->Position(), i);
    EXPECT_EQ(node.EntryAt(i)->Level(), node.Level());
  }
}

TEST(GiSTnodeTest, EmptyNodePacksToHeaderAndEndOffset) {
  for (std::int32_t fixlen : {0, 8}) {
    TestNode node(fixlen);
    node.SetLevel(3);
    node.SetRightSibling(9);
    Page expected(kPage);
    Put(expected, 0, {3});
    Put(expected, 12, {9});
    Put(expected, kPage - 2, {0x10, 0x00});
    EXPECT_EQ(Pack(node), expected);
    EXPECT_EQ(node.PackedSize(), 18);
  }
}

TEST(GiSTnodeTest, FixedLengthPageIsGoldenAndReadsBack) {
  auto node = MakeNode(6, {{1, 6, 100}, {2, 6, -2}}, 1);
  node->SetRightSibling(0x0304);
  Page expected(kPage);
  Put(expected, 0, {1, 0, 0, 0, 2, 0, 0, 0, 0, 0, 0, 0, 0x04, 0x03, 0, 0});
  Put(expected, 16, {1, 0, 0, 0, 5, 6, 100, 0, 0, 0});
  Put(expected, 26, {2, 0, 0, 0, 6, 7, 0xFE, 0xFF, 0xFF, 0xFF});
  Put(expected, kPage - 2, {36, 0});  // 16 + 2 * (6 + 4)
  const Page page = Pack(*node);
  EXPECT_EQ(page, expected);
  EXPECT_EQ(node->PackedSize(), 38);

  TestNode back(6);
  ASSERT_TRUE(back.UnpackPage(page).ok());
  EXPECT_EQ(back.Level(), 1);
  EXPECT_EQ(back.RightSibling(), 0x0304);
  EXPECT_EQ(Values(back), (std::vector<std::int32_t>{1, 2}));
  EXPECT_EQ(back.At(1).Pointer(), -2);
  EXPECT_EQ(back.At(0).Bytes(), node->At(0).Bytes());
  ExpectLinked(back);
}

TEST(GiSTnodeTest, VariableLengthPageIsGoldenAndReadsBack) {
  auto node = MakeNode(0, {{5, 4, 1}, {0, 0, 2}, {9, 7, 3}});
  Page expected(kPage);
  Put(expected, 4, {3});
  Put(expected, 16, {5, 0, 0, 0, 1, 0, 0, 0});              // 4 key bytes, pointer
  Put(expected, 24, {2, 0, 0, 0});                          // no key bytes
  Put(expected, 28, {9, 0, 0, 0, 13, 14, 15, 3, 0, 0, 0});  // 7 key bytes, pointer
  // Offset table from the page end down: starts 16, 24, 28, then the end 39.
  Put(expected, kPage - 8, {39, 0, 28, 0, 24, 0, 16, 0});
  const Page page = Pack(*node);
  EXPECT_EQ(page, expected);
  EXPECT_EQ(node->PackedSize(), 18 + (4 + 6) + (0 + 6) + (7 + 6));

  TestNode back(0);
  ASSERT_TRUE(back.UnpackPage(page).ok());
  EXPECT_EQ(Values(back), (std::vector<std::int32_t>{5, 0, 9}));
  EXPECT_EQ(back.At(1).CompressedKeyLength(), 0);
  EXPECT_EQ(back.At(1).Pointer(), 2);
  EXPECT_EQ(back.At(2).Bytes(), node->At(2).Bytes());
  ExpectLinked(back);

  // Reloading a node discards what it held.
  ASSERT_TRUE(back.UnpackPage(Pack(*MakeNode(0, {{7, 4, 7}}))).ok());
  EXPECT_EQ(Values(back), std::vector<std::int32_t>{7});
}

TEST(GiSTnodeTest, OverflowStartsPastThePage) {
  PageFile store;
  // Entry records of 400 bytes: 40 fit in 16384 bytes, the 41st does not.
  auto fixed = MakeNode(396, {});
  for (int i = 0; i < 41; ++i) {
    EXPECT_EQ(fixed->Overflows(store), 0) << i;
    fixed->InsertAt(TestEntry(i, 396, i), i);
  }
  EXPECT_EQ(fixed->PackedSize(), 18 + 41 * 400);
  EXPECT_EQ(fixed->Overflows(store), 1);
  fixed->RemoveAt(40);
  EXPECT_EQ(Pack(*fixed)[kPage - 2], static_cast<std::byte>((16 + 40 * 400) & 0xff));

  // Records of 1000 + 6 bytes with variable keys: 16 fit (16114), 17 do not.
  auto variable = MakeNode(0, {});
  for (int i = 0; i < 16; ++i) variable->InsertAt(TestEntry(i, 1000, i), i);
  EXPECT_EQ(variable->Overflows(store), 0);
  variable->InsertAt(TestEntry(16, 264, 16), 16);  // exactly 16384
  EXPECT_EQ(variable->Overflows(store), 0);
  Pack(*variable);
  variable->InsertAt(TestEntry(17, 0, 17), 17);
  EXPECT_EQ(variable->Overflows(store), 1);
}

TEST(GiSTnodeTest, EntryArrayKeepsPositionsAndGrowsBy32) {
  auto node = MakeNode(4, {{10, 4, 0}, {20, 4, 1}, {30, 4, 2}, {40, 4, 3}});
  EXPECT_EQ(node->Capacity(), 32);
  EXPECT_EQ(node->EntryAt(31), nullptr);
  EXPECT_EQ(node->EntryAt(32), nullptr);  // beyond the capacity: no entry, no failure

  node->InsertAt(TestEntry(15, 4, 9), 1);
  node->InsertAt(TestEntry(50, 4, 9), node->NumEntries());  // appends
  EXPECT_EQ(Values(*node), (std::vector<std::int32_t>{10, 15, 20, 30, 40, 50}));
  node->RemoveAt(0);
  ExpectLinked(*node);

  // Sorted, then removed from the back so the indices stay valid.
  auto four = MakeNode(4, {{0, 4, 0}, {1, 4, 1}, {2, 4, 2}, {3, 4, 3}});
  std::vector<int> indices = {2, 0, 1};
  four->RemoveSet(indices);
  EXPECT_EQ(Values(*four), std::vector<std::int32_t>{3});
  EXPECT_EQ(four->At(0).Position(), 0);

  // Growth: capacity + 32, or index + 33 when that is not enough.
  for (int i = 0; i < 33; ++i) four->InsertAt(TestEntry(i, 4, i), four->NumEntries());
  EXPECT_EQ(four->Capacity(), 64);
  TestNode empty(4);
  empty.SlotAt(100);
  EXPECT_EQ(empty.Capacity(), 133);
  EXPECT_EQ(empty.NumEntries(), 0);
}

TEST(GiSTnodeTest, InsertOrderedGoesAfterEqualKeys) {
  auto node = MakeNode(4, {{1, 4, 0}, {5, 4, 1}, {5, 4, 2}, {9, 4, 3}});
  node->InsertOrdered(TestEntry(5, 4, 7));
  node->InsertOrdered(TestEntry(0, 4, 8));
  node->InsertOrdered(TestEntry(10, 4, 9));
  std::vector<std::int32_t> pointers;
  for (int i = 0; i < node->NumEntries(); ++i) pointers.push_back(node->At(i).Pointer());
  EXPECT_EQ(pointers, (std::vector<std::int32_t>{8, 0, 1, 2, 7, 3, 9}));
  ExpectLinked(*node);
}

TEST(GiSTnodeTest, FindChooseAndCollectHandOutClones) {
  auto node = MakeNode(4, {{10, 4, 7}, {30, 4, 8}, {50, 4, 7}, {70, 4, 9}});
  std::unique_ptr<TreeEntry> found = node->FindByPointer(7);
  ASSERT_NE(found, nullptr);
  EXPECT_EQ(static_cast<TestEntry&>(*found).Value(), 10);  // the lower index
  EXPECT_NE(found.get(), node->EntryAt(0));
  EXPECT_EQ(node->FindByPointer(5), nullptr);

  // Least cost wins, the first among equal costs: 40 is 10 from 30 and 50.
  std::int32_t child = 0;
  TestEntry probe(40, 4, 0);
  ASSERT_TRUE(node->ChooseChild(probe, &child).ok());
  EXPECT_EQ(child, 8);
  TestEntry far(1000, 4, 0);
  ASSERT_TRUE(node->ChooseChild(far, &child).ok());
  EXPECT_EQ(child, 9);
  TestNode empty(4);
  empty.SetLevel(1);
  EXPECT_TRUE(empty.ChooseChild(probe, &child).IsCorruption());

  GiSTlist<std::unique_ptr<TreeEntry>> all = node->CollectMatches(MatchAllPredicate());
  std::vector<std::int32_t> values;
  while (!all.IsEmpty()) values.push_back(static_cast<TestEntry&>(*all.PopFront()).Value());
  EXPECT_EQ(values, (std::vector<std::int32_t>{10, 30, 50, 70}));
  EXPECT_TRUE(empty.CollectMatches(MatchAllPredicate()).IsEmpty());
}

TEST(GiSTnodeTest, CloneOwnsCopiesOfTheEntries) {
  auto node = MakeNode(4, {{1, 4, 0}, {2, 4, 1}}, 2);
  NodePath path = NodePath::Root();
  ASSERT_TRUE(path.Append(5).ok());
  node->SetPath(path);
  std::unique_ptr<GiSTnode> copy = node->Clone();
  EXPECT_EQ(copy->Path(), path);
  EXPECT_EQ(copy->Capacity(), node->Capacity());
  EXPECT_EQ(Values(static_cast<TestNode&>(*copy)), Values(*node));
  EXPECT_NE(copy->EntryAt(0), node->EntryAt(0));
  ExpectLinked(*copy);
}

TEST(GiSTnodeTest, SplitCutsWhereTheLargerHalfIsSmallest) {
  TestTree tree(MemoryFile::Opener(std::make_shared<MemoryFile::Directory>()), 0);
  struct Case {
    std::int32_t fixlen;
    std::vector<std::int32_t> keyLens;
    int kept;
  };
  const Case cases[] = {
      {8, {8, 8, 8, 8, 8}, 3},       // equal records: the first half takes the odd one
      {8, {8, 8, 8, 8}, 2},          //
      {0, {100, 10, 10, 10}, 1},     // bytes, not counts
      {0, {10, 10, 10, 100}, 3},     //
      {0, {40, 0, 0, 0, 0, 40}, 3},  //
  };
  for (const Case& c : cases) {
    auto node = MakeNode(c.fixlen, {}, 1);
    for (std::size_t i = 0; i < c.keyLens.size(); ++i) {
      const auto v = static_cast<std::int32_t>(i);
      node->InsertAt(TestEntry(v, c.keyLens[i], v), v);
    }
    node->SetTree(&tree);
    node->SetPath(NodePath::Root());
    std::unique_ptr<GiSTnode> sibling;
    ASSERT_TRUE(node->SplitNode(&sibling).ok());
    EXPECT_EQ(node->NumEntries(), c.kept);
    ASSERT_EQ(sibling->NumEntries(), static_cast<int>(c.keyLens.size()) - c.kept);
    EXPECT_EQ(sibling->EntryAt(0)->Pointer(), c.kept);
    EXPECT_EQ(sibling->Level(), 1);
    EXPECT_EQ(sibling->Path(), NodePath::Root());
    EXPECT_EQ(sibling->Tree(), &tree);
    ExpectLinked(*node);
    ExpectLinked(*sibling);
  }
}

TEST(GiSTnodeTest, DamagedPagesAreRejected) {
  struct Case {
    const char* what;
    std::int32_t fixlen;
    std::function<void(Page&)> damage;
  };
  auto int32At = [](std::size_t offset, std::int32_t v) {
    return [=](Page& p) { EncodeInt32(reinterpret_cast<unsigned char*>(p.data()) + offset, v); };
  };
  auto u16At = [](std::size_t offset, std::uint16_t v) {
    return [=](Page& p) { EncodeFixed16(reinterpret_cast<unsigned char*>(p.data()) + offset, v); };
  };
  const Case cases[] = {
      {"negative level", 6, int32At(0, -1)},
      {"level beyond a path", 6, int32At(0, 16)},
      {"negative sibling", 6, int32At(12, -3)},
      {"negative count", 6, int32At(4, -1)},
      {"count beyond the page", 6, int32At(4, 2000)},
      {"count against end offset", 6, int32At(4, 4)},
      {"end offset", 6, u16At(kPage - 2, 56)},
      {"variable: huge count", 0, int32At(4, 0x7fffffff)},
      {"variable: count beyond the page", 0, int32At(4, 2731)},
      {"variable: count against table", 0, int32At(4, 4)},
      {"variable: entry inside the header", 0, u16At(kPage - 2, 8)},
      {"variable: entry shorter than a pointer", 0, u16At(kPage - 4, 18)},
      {"variable: entries out of order", 0, u16At(kPage - 4, 12)},
      {"variable: end inside the table", 0, u16At(kPage - 8, kPage - 6)},
      {"variable: end beyond the page", 0, u16At(kPage - 8, 0xffff)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    auto good = MakeNode(c.fixlen, {{1, 6, 1}, {2, 6, 2}, {3, 6, 3}});
    Page page = Pack(*good);
    c.damage(page);
    TestNode node(c.fixlen);
    EXPECT_TRUE(node.UnpackPage(page).IsCorruption());
    EXPECT_EQ(node.NumEntries(), 0);
  }
  TestNode node(6);
  EXPECT_TRUE(node.UnpackPage(Page(17)).IsInvalidArgument());
  const Page one = Pack(*MakeNode(6, {{1, 6, 1}}));
  CompressedEntry entry;
  ASSERT_TRUE(node.PageEntryAt(one, 0, &entry).ok());
  EXPECT_EQ(entry.pointer, 1);
  EXPECT_TRUE(node.PageEntryAt(one, 1, &entry).IsInvalidArgument());
}

TEST(GiSTnodeDeathTest, BrokenInvariantsStopTheProcess) {
  auto node = MakeNode(4, {{1, 4, 0}, {2, 4, 1}});
  EXPECT_DEATH(node->EntryAt(-1), "Assertion failed: index>=0, file ");
  EXPECT_DEATH(node->InsertAt(TestEntry(3, 4, 2), 3), "Assertion failed: index<=NumEntries\\(\\)");
  EXPECT_DEATH(node->RemoveAt(2), "Assertion failed: index<numEntries");
  EXPECT_DEATH(Pack(*MakeNode(4, {{1, 5, 0}})), "Assertion failed: fixlen==compressedEntry.keyLen");
  EXPECT_DEATH(
      {
        node->EntryAt(1)->SetNode(nullptr);
        std::int32_t child;
        TestEntry probe(1, 4, 0);
        (void)node->ChooseChild(probe, &child);
      },
      "Assertion failed: e->Node\\(\\)==this");
}

TEST(CostValueTest, LessThanIsTrueForNaN) {
  const double nan = std::nan("");
  struct Case {
    double a, b;
    int less;
  };
  for (const Case& c :
       {Case{1, 2, 1}, Case{2, 1, 0}, Case{1, 1, 0}, Case{nan, 1, 1}, Case{1, nan, 1}}) {
    EXPECT_EQ(CostValue(c.a).LessThan(CostValue(c.b)), c.less) << c.a << " < " << c.b;
  }
  CostValue v;
  EXPECT_EQ(v.SetValue(4.5), 4.5);
  EXPECT_EQ(v.Value(), 4.5);
}

}  // namespace
}  // namespace simdex
