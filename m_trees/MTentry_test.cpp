#include "m_trees/MTentry.h"

#include <gtest/gtest.h>

#include <limits>

#include "Proximity/TempDir_test.h"
#include "gist/TestEntry.h"
#include "m_trees/MTreeTestSupport_test.h"

namespace simdex {
namespace {

using namespace mtree_testing;
using testing_support::AssertionReport;

constexpr double kLargest = std::numeric_limits<double>::max();

TEST(MTentry, KeyBytesAreRecordThenFields) {
  ActiveBlock block;
  MTentry e(std::make_unique<MTball>(Handle(Point(45, {2.5}), 0xA1B2C3D4), 0.25, 1.5, -10.0, 1, 0),
            77);
  CompressedEntry c = e.ToCompressed();
  ASSERT_EQ(c.keyLen, 396);
  ASSERT_EQ(e.CompressedKeyLength(), 396);
  EXPECT_EQ(c.pointer, 77);
  const auto* p = reinterpret_cast<const unsigned char*>(c.keyBytes.data());
  EXPECT_EQ(DecodeDouble(p), 2.5);
  EXPECT_EQ(DecodeFixed32(p + 360), 0xA1B2C3D4u);
  EXPECT_EQ(DecodeDouble(p + 364), 0.25);
  EXPECT_EQ(DecodeDouble(p + 372), 1.5);
  EXPECT_EQ(DecodeDouble(p + 380), -10.0);
  EXPECT_EQ(DecodeInt32(p + 388), 1);
  EXPECT_EQ(DecodeInt32(p + 392), 0);

  MTentry back;
  ASSERT_TRUE(back.FromCompressed(c).ok());
  EXPECT_EQ(back.Pointer(), 77);
  EXPECT_EQ(back.Ball().Object().Oid(), 0xA1B2C3D4u);
  EXPECT_EQ(back.Ball().minRadius, 0.25);
  EXPECT_EQ(back.Ball().coverRadius, 1.5);
  EXPECT_EQ(back.Ball().parentDist, -10.0);
  EXPECT_EQ(back.Ball().childSplit, 1);
  EXPECT_EQ(back.Ball().changed, 0);
  EXPECT_EQ(back.ToCompressed().keyBytes, c.keyBytes);
}

TEST(MTentry, DamagedKeyBytesAreCorruption) {
  ActiveBlock block;
  CompressedEntry c = LeafEntry(Point(45, {1}), 3)->ToCompressed();
  for (int cut : {1, 36, 395}) {
    CompressedEntry shorter = c;
    shorter.keyBytes.resize(static_cast<std::size_t>(395 - cut + 1));
    shorter.keyLen = static_cast<std::int32_t>(shorter.keyBytes.size());
    MTentry e;
    EXPECT_TRUE(e.FromCompressed(shorter).IsCorruption()) << cut;
  }
}

TEST(MTentry, CloneIsDeep) {
  ActiveBlock block;
  auto e = Entry(Point(45, {1}), 9, 2.0, 3.0);
  e->SetPosition(4);
  e->SetLevel(1);
  auto c = e->CloneEntry();
  EXPECT_NE(c->Ball().Object().Plugin(), e->Ball().Object().Plugin());
  EXPECT_EQ(c->Position(), 4);
  EXPECT_EQ(c->Level(), 1);
  EXPECT_EQ(c->Ball().coverRadius, 3.0);
  EXPECT_EQ(c->ToCompressed().keyBytes, e->ToCompressed().keyBytes);
}

TEST(MTentry, SameAsComparesIdentifierAndRadiiUnlessChanged) {
  ActiveBlock block;
  auto base = Entry(Point(45, {1}), 1, 2.0, 3.0);
  struct Case {
    const char* what;
    std::uint32_t oid;
    double x;
    double parentDist;
    double coverRadius;
    std::int32_t childSplit;
    std::int32_t changed;
    int same;
  } cases[] = {
      {"other value, same id", 1, 5.0, 2.0, 3.0, 0, 0, 1},
      {"childSplit ignored", 1, 1.0, 2.0, 3.0, 1, 0, 1},
      {"changed", 1, 1.0, 2.0, 3.0, 0, 1, 0},
      {"other id", 2, 1.0, 2.0, 3.0, 0, 0, 0},
      {"other parentDist", 1, 1.0, 2.5, 3.0, 0, 0, 0},
      {"other coverRadius", 1, 1.0, 2.0, 3.5, 0, 0, 0},
  };
  for (const Case& c : cases) {
    auto other = Entry(Point(45, {c.x}), c.oid, c.parentDist, c.coverRadius);
    other->Ball().childSplit = c.childSplit;
    other->Ball().changed = c.changed;
    EXPECT_EQ(base->SameAs(*other), c.same) << c.what;
    EXPECT_EQ(other->SameAs(*base), c.same) << c.what;
  }
  TestEntry foreign(1, 4, 1);
  EXPECT_EQ(base->SameAs(foreign), 0);
}

TEST(MTentry, CompareOrderFollowsParentDistance) {
  ActiveBlock block;
  auto e = Entry(Point(45, {1}), 1, 2.0);
  EXPECT_EQ(e->CompareOrder(*Entry(Point(45, {}), 2, 1.0)), 1);
  EXPECT_EQ(e->CompareOrder(*Entry(Point(45, {7}), 3, 2.0)), 0);
  EXPECT_EQ(e->CompareOrder(*Entry(Point(45, {}), 4, 3.0)), -1);
  EXPECT_EQ(e->CompareOrder(*Entry(Point(45, {}), 5, std::nan(""))), -1);
}

TEST(MTentryDeathTest, ForeignEntriesStopTheProcess) {
  ActiveBlock block;
  auto e = Entry(Point(45, {1}), 1, 2.0);
  TestEntry foreign(1, 4, 1);
  EXPECT_DEATH(e->CompareOrder(foreign), AssertionReport("entry.IsA()==MTENTRY_CLASS"));
  EXPECT_DEATH(e->InsertionCost(foreign), AssertionReport("newEntry.IsA()==MTENTRY_CLASS"));
}

TEST(MTentry, InsertionCostHasTwoBandsAndAShortcut) {
  ActiveBlock block(kVectorA, 10.0);
  struct Case {
    const char* what;
    double coverRadius;    // of the candidate entry, whose parentDist is 2
    double distance;       // of the new object from the candidate's
    double newCover;       // coverRadius of the new entry
    double newParentDist;  // of the new entry
    double best;           // NaN: no best given
    double value;
    double costDistance;
    int computed;
  } cases[] = {
      {"inside the ball", 5, 3, 0, -10, NAN, 3 - 10.0, 3, 1},
      {"outside the ball", 5, 7, 0, -10, NAN, 2, 7, 1},
      {"the new ball's radius adds", 5, 3, 1, -10, NAN, 4 - 10.0, 4, 1},
      {"bound 4 does not beat 1", 4, 7, 0, 10, 1.0, kLargest, 0, 0},
      {"bound 4 beats 5", 4, 7, 0, 10, 5.0, 3, 7, 1},
      {"unmeasured: no shortcut", 4, 7, 0, -1, 1.0, 3, 7, 1},
      {"zero: no shortcut", 4, 7, 0, 0, 1.0, 3, 7, 1},
  };
  for (const Case& c : cases) {
    auto e = Entry(Point(45, {}), 1, 2.0, c.coverRadius);
    auto n = Entry(Point(45, {c.distance}), 2, c.newParentDist, c.newCover);
    MTinsertCost best(c.best, 0);
    const std::int32_t before = block.Distances();
    auto cost = e->InsertionCost(*n, std::isnan(c.best) ? nullptr : &best);
    EXPECT_EQ(cost->Value(), c.value) << c.what;
    EXPECT_EQ(cost->Distance(), c.costDistance) << c.what;
    EXPECT_EQ(block.Distances() - before, c.computed) << c.what;
  }
}

}  // namespace
}  // namespace simdex
