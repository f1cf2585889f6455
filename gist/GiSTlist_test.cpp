#include "gist/GiSTlist.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "gist/NodePath.h"

namespace simdex {
namespace {

std::vector<std::string> Walk(const GiSTlist<std::string>& list) {
  std::vector<std::string> items;
  for (auto* n = list.Front(); n; n = n->Next()) items.push_back(n->item);
  return items;
}

TEST(GiSTlistTest, QueueAndStackOrder) {
  for (bool fromFront : {true, false}) {
    GiSTlist<std::string> list;
    for (const char* s : {"a", "b", "c"}) list.PushBack(s);
    EXPECT_EQ(list.Count(), 3);
    std::string popped;
    while (!list.IsEmpty()) popped += fromFront ? list.PopFront() : list.PopBack();
    EXPECT_EQ(popped, fromFront ? "abc" : "cba");
    EXPECT_EQ(list.Front(), nullptr);
    EXPECT_EQ(list.Rear(), nullptr);
    // After the last pop a new node is both front and rear.
    list.PushFront("z");
    EXPECT_EQ(list.Front(), list.Rear());
    EXPECT_EQ(list.Front()->Prev(), nullptr);
    EXPECT_EQ(list.Front()->Next(), nullptr);
  }
}

TEST(GiSTlistTest, InsertBeforeKeepsBothLinks) {
  GiSTlist<std::string> list;
  list.PushBack("b");
  list.PushFront("a");
  list.InsertBefore(list.Rear(), "ab");
  list.InsertBefore(nullptr, "c");
  EXPECT_EQ(Walk(list), (std::vector<std::string>{"a", "ab", "b", "c"}));
  std::vector<std::string> backwards;
  for (auto* n = list.Rear(); n; n = n->Prev()) backwards.push_back(n->item);
  EXPECT_EQ(backwards, (std::vector<std::string>{"c", "b", "ab", "a"}));
}

TEST(GiSTlistTest, OwnsItemsAndPathsByValue) {
  GiSTlist<std::unique_ptr<int>> owned;
  for (int i = 0; i < 100000; ++i) owned.PushBack(std::make_unique<int>(i));
  EXPECT_EQ(*owned.PopBack(), 99999);
  // The rest goes with the list, without recursing through the links.

  GiSTlist<NodePath> paths;
  NodePath path = NodePath::Root();
  paths.PushBack(path);
  ASSERT_TRUE(path.Append(7).ok());
  EXPECT_EQ(paths.PopFront(), NodePath::Root());
}

TEST(GiSTlistDeathTest, PoppingAnEmptyListStops) {
  GiSTlist<int> list;
  EXPECT_DEATH(list.PopFront(), "Assertion failed: front!=NULL, file ");
  EXPECT_DEATH(list.PopBack(), "Assertion failed: rear!=NULL, file ");
}

TEST(NodePathTest, HoldsSixteenPages) {
  NodePath path = NodePath::Root();
  EXPECT_TRUE(path.IsRoot());
  EXPECT_EQ(path.LastPage(), 1);
  for (std::int32_t page = 2; page <= 16; ++page) ASSERT_TRUE(path.Append(page).ok());
  EXPECT_EQ(path.Length(), 16);
  EXPECT_EQ(path.Append(17).code(), Status::Code::kFailedPrecondition);
  EXPECT_EQ(path.Length(), 16);

  NodePath parent = path.Parent();
  EXPECT_EQ(parent.Length(), 15);
  EXPECT_EQ(parent.LastPage(), 15);
  EXPECT_EQ(parent[0], 1);
  parent.SetLastPage(99);
  EXPECT_EQ(parent[14], 99);
  EXPECT_EQ(path[14], 15);  // a copy, not a view
}

}  // namespace
}  // namespace simdex
