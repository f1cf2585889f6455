// The range and nearest-neighbour searches on small trees whose every
// distance is known: results, their order, and the exact costs.
#include <gtest/gtest.h>

#include <cstdint>
#include <fstream>
#include <limits>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include "m_trees/SearchTestSupport_test.h"

namespace simdex {
namespace {

using namespace mtree_testing;

constexpr double kMaxDistance = 100.0;

// An object of the 45-number class on the first axis at x, so that distances
// between them are differences of coordinates (exact in binary fractions).
std::vector<double> At(double x) { return Point(45, {x}); }

using Expected = std::vector<std::pair<std::uint32_t, double>>;

std::string Describe(const std::vector<Found>& found) {
  std::string s;
  for (const Found& f : found) s += std::to_string(f.oid) + ":" + std::to_string(f.distance) + " ";
  return s;
}

Expected InOrder(const std::vector<Found>& found) {
  Expected out;
  for (const Found& f : found) out.emplace_back(f.oid, f.distance);
  return out;
}

// A tree of height 2 built page by page:
//   root (page 1): oid 1 at 1 (radius 1) -> page 2;  oid 4 at 10 (radius 2) -> page 3
//   page 2: oid 1 at 1 (parentDist 0), oid 2 at 0 (1), oid 3 at 2 (1)
//   page 3: oid 4 at 10 (0), oid 5 at 9 (1), oid 6 at 12 (2)
class HandTree : public ::testing::Test {
 protected:
  void SetUp() override {
    MetricTree& tree = index_.tree();
    tree.MakeActive();
    const std::int32_t left = StoreLeaf({{1, 1, 0}, {0, 2, 1}, {2, 3, 1}});
    const std::int32_t right = StoreLeaf({{10, 4, 0}, {9, 5, 1}, {12, 6, 2}});
    MTnode root;
    root.SetLevel(1);
    root.InsertAt(*Entry(At(1), 1, -kMaxDistance, 1.0, left), 0);
    root.InsertAt(*Entry(At(10), 4, -kMaxDistance, 2.0, right), 1);
    root.SetPath(NodePath::Root());
    ASSERT_TRUE(tree.StoreNode(root).ok());
    index_.ResetCounters();
  }

  struct Object {
    double x;
    std::uint32_t oid;
    double parentDist;
  };

  std::int32_t StoreLeaf(const std::vector<Object>& objects) {
    MTnode leaf;
    for (const Object& o : objects) {
      leaf.InsertAt(*Entry(At(o.x), o.oid, o.parentDist), leaf.NumEntries());
    }
    std::int32_t page = 0;
    EXPECT_TRUE(index_.tree().Store()->AllocatePage(&page).ok());
    NodePath path = NodePath::Root();
    EXPECT_TRUE(path.Append(page).ok());
    leaf.SetPath(path);
    EXPECT_TRUE(index_.tree().StoreNode(leaf).ok());
    return page;
  }

  // Overwrites the 32-bit little-endian field at offset of page.
  void Damage(std::int32_t page, int offset, std::int32_t value) {
    std::fstream file(index_.indexFile(), std::ios::in | std::ios::out | std::ios::binary);
    ASSERT_TRUE(file.is_open());
    unsigned char bytes[4];
    EncodeInt32(bytes, value);
    file.seekp(static_cast<std::streamoff>(page) * 16384 + offset);
    file.write(reinterpret_cast<const char*>(bytes), 4);
    ASSERT_TRUE(file.good());
  }

  TestIndex index_{kVectorAClass, kMaxDistance};
};

struct ExactCase {
  const char* name;
  bool nearest;
  double query;
  double radius;  // range search
  int k;          // nearest-neighbour search
  Expected expected;
  int distances;
  int reads;
};

void PrintTo(const ExactCase& c, std::ostream* os) { *os << c.name; }

const ExactCase kExactCases[] = {
    // Root: 2 distances. Page 2 at lastDist 0.75: oid 1 (parentDist 0) is
    // rejected by |0.75 - 0| > 0.25 without a distance; oid 2 and 3 are
    // measured. Page 3 is never read.
    {"RangeRejectsByParentDistance", false, 0.25, 0.25, 0, {{2, 0.25}}, 4, 2},
    {"RangeIncludesDistanceEqualToRadius", false, 1, 1, 0, {{1, 0}, {2, 1}, {3, 1}}, 5, 2},
    {"RangeRadiusZeroFindsTheObjectAtZero", false, 9, 0, 0, {{5, 0}}, 3, 2},
    {"RangeReturnsTreeOrderNotDistanceOrder",
     false,
     5.5,
     10,
     0,
     {{1, 4.5}, {2, 5.5}, {3, 3.5}, {4, 4.5}, {5, 3.5}, {6, 6.5}},
     8,
     3},
    {"RangeFarFromEverythingReadsOnlyTheRoot", false, 50, 1, 0, {}, 2, 1},
    // Root: oid 1 at 0.75 and oid 4 at 9.75 become candidates. Page 2 is
    // scanned from its middle outward: oid 2 (0.25) pushes oid 4 out, oid 3 is
    // measured and fails, oid 1 is met again in its leaf. Page 3 (dmin 7.75)
    // cannot beat 0.75 and is never read.
    {"NearestGoesBestFirst", true, 0.25, 0, 2, {{2, 0.25}, {1, 0.75}}, 5, 2},
    // oid 6 and then oid 4 are both at distance 1: the one tested later wins.
    {"NearestTieGoesToTheObjectTestedLast", true, 11, 0, 1, {{4, 1}}, 5, 2},
    // oid 4 is a routing object and a leaf object: returned once.
    {"NearestReturnsRoutingObjectOnce", true, 50, 0, 3, {{6, 38}, {4, 40}, {5, 41}}, 5, 2},
    {"NearestWithFewerObjectsThanKReturnsAll",
     true,
     0.25,
     0,
     10,
     {{2, 0.25}, {1, 0.75}, {3, 1.75}, {5, 8.75}, {4, 9.75}, {6, 11.75}},
     8,
     3},
    {"NearestWithKZeroReturnsNothing", true, 0.25, 0, 0, {}, 0, 0},
    {"NearestWithNegativeKReturnsNothing", true, 0.25, 0, -3, {}, 0, 0},
};

class HandTreeExact : public HandTree, public ::testing::WithParamInterface<ExactCase> {};

TEST_P(HandTreeExact, ResultsAndCosts) {
  const ExactCase& c = GetParam();
  std::vector<Found> found;
  const Status s = c.nearest ? NearestSearch(index_.tree(), At(c.query), c.k, &found)
                             : RangeSearch(index_.tree(), At(c.query), c.radius, &found);
  ASSERT_TRUE(s.ok()) << s.ToString();
  EXPECT_EQ(InOrder(found), c.expected) << Describe(found);
  EXPECT_EQ(index_.Distances(), c.distances);
  EXPECT_EQ(index_.Reads(), c.reads);
  EXPECT_EQ(index_.Writes(), 0);
  // Results hold their object at the reported distance, and a routing copy
  // listed first takes the pointer of the leaf entry, the identifier.
  for (const Found& f : found) {
    EXPECT_EQ(f.pointer, static_cast<std::int32_t>(f.oid));
    EXPECT_EQ(Euclid(f.object.data(), At(c.query).data(), 45), f.distance) << f.oid;
  }
}

INSTANTIATE_TEST_SUITE_P(Cases, HandTreeExact, ::testing::ValuesIn(kExactCases),
                         [](const auto& c) { return std::string(c.param.name); });

struct DamageCase {
  const char* name;
  std::int32_t page;
  int offset;
  std::int32_t value;
};

void PrintTo(const DamageCase& c, std::ostream* os) { *os << c.name; }

// Entry 0 of the root: its pointer follows the key.
constexpr int kRootPointer0 = 16 + 45 * 8 + 36;

const DamageCase kDamageCases[] = {
    {"LeafWithWrongLevel", 2, 0, 5},
    {"LeafWithImpossibleEntryCount", 2, 4, 100000},
    {"RootWithImpossibleEntryCount", 1, 4, 100000},
    {"PointerToHeaderPage", 1, kRootPointer0, 0},
    {"PointerToRoot", 1, kRootPointer0, 1},
    {"PointerPastEndOfFile", 1, kRootPointer0, 50},
    {"PointerBeyondAnyPage", 1, kRootPointer0, 1 << 30},
    {"NegativePointer", 1, kRootPointer0, -7},
};

class HandTreeDamage : public HandTree, public ::testing::WithParamInterface<DamageCase> {};

TEST_P(HandTreeDamage, SearchesReportCorruption) {
  const DamageCase& c = GetParam();
  Damage(c.page, c.offset, c.value);
  std::vector<Found> found;
  Status s = RangeSearch(index_.tree(), At(5.5), 10, &found);
  EXPECT_TRUE(s.IsCorruption()) << s.ToString();
  EXPECT_TRUE(found.empty());
  s = NearestSearch(index_.tree(), At(0.25), 10, &found);
  EXPECT_TRUE(s.IsCorruption()) << s.ToString();
  EXPECT_TRUE(found.empty());
}

INSTANTIATE_TEST_SUITE_P(Cases, HandTreeDamage, ::testing::ValuesIn(kDamageCases),
                         [](const auto& c) { return std::string(c.param.name); });

TEST_F(HandTree, MethodsThatNeedAModelRefuseToRunWithoutOne) {
  index_.tree().parameters().model.reset();
  index_.tree().SetApproximationThresholds({0.5});
  std::vector<Found> found;
  for (int method : {1, 3}) {
    SCOPED_TRACE(method);
    index_.tree().SetApproximationMethod(method);
    EXPECT_EQ(NearestSearch(index_.tree(), At(0.25), 2, &found).code(),
              Status::Code::kFailedPrecondition);
  }
  index_.tree().SetApproximationMethod(1);
  EXPECT_EQ(RangeSearch(index_.tree(), At(0.25), 1, &found).code(),
            Status::Code::kFailedPrecondition);
  // Method 4 only normalises by the model: without one it never stops.
  index_.tree().SetApproximationMethod(4);
  ASSERT_TRUE(NearestSearch(index_.tree(), At(0.25), 2, &found).ok());
  EXPECT_EQ(InOrder(found), (Expected{{2, 0.25}, {1, 0.75}}));
}

TEST(SearchTest, ClosedIndexIsRefused) {
  MetricTree closed;
  ActiveBlock block;
  RangeQuery range(0, std::make_unique<ObjectPredicate>(*Handle(At(1), 0)), 1);
  NearestQuery nearest(3, std::make_unique<ObjectPredicate>(*Handle(At(1), 0)));
  GiSTlist<std::unique_ptr<MTentry>> list;
  EXPECT_EQ(closed.SearchRange(range, &list).code(), Status::Code::kFailedPrecondition);
  EXPECT_EQ(closed.SearchNearest(nearest, &list).code(), Status::Code::kFailedPrecondition);
  EXPECT_TRUE(list.IsEmpty());
}

// Indexes whose root is still a leaf: the entries keep insertion order.
struct RootLeafCase {
  const char* name;
  std::vector<std::pair<double, std::uint32_t>> objects;  // position, oid
  bool nearest;
  double query;
  double radius;
  int k;
  Expected expected;
};

void PrintTo(const RootLeafCase& c, std::ostream* os) { *os << c.name; }

const RootLeafCase kRootLeafCases[] = {
    {"EmptyIndexRange", {}, false, 0, 5, 0, {}},
    {"EmptyIndexNearest", {}, true, 0, 0, 3, {}},
    {"RangeReturnsSameObjectOncePerIdentifier",
     {{3, 20}, {3, 21}, {5, 22}},
     false,
     3,
     0,
     0,
     {{20, 0}, {21, 0}}},
    {"NearestReturnsSameObjectOncePerIdentifier",
     {{3, 20}, {3, 21}, {5, 22}},
     true,
     3,
     0,
     3,
     {{21, 0}, {20, 0}, {22, 2}}},
    {"RangeReturnsEveryEntryOfARepeatedIdentifier",
     {{4, 30}, {2, 31}, {1, 30}},
     false,
     0,
     10,
     0,
     {{30, 4}, {31, 2}, {30, 1}}},
    // One result per identifier, with the identifier's nearest object
    // whether it is met first or last.
    {"NearestTakesNearerObjectOfRepeatedIdentifierMetLater",
     {{4, 30}, {2, 31}, {1, 30}},
     true,
     0,
     0,
     2,
     {{30, 1}, {31, 2}}},
    {"NearestKeepsNearerObjectOfRepeatedIdentifierMetFirst",
     {{1, 40}, {2, 41}, {4, 40}},
     true,
     0,
     0,
     3,
     {{40, 1}, {41, 2}}},
    {"NearestQueryEqualToStoredObjectComesFirst",
     {{1, 50}, {7, 51}, {2, 52}},
     true,
     7,
     0,
     2,
     {{51, 0}, {52, 5}}},
};

class RootLeaf : public ::testing::TestWithParam<RootLeafCase> {};

TEST_P(RootLeaf, ResultsAndCosts) {
  const RootLeafCase& c = GetParam();
  TestIndex index(kVectorAClass, kMaxDistance);
  for (const auto& [x, oid] : c.objects) index.Insert(At(x), oid);
  index.ResetCounters();
  std::vector<Found> found;
  const Status s = c.nearest ? NearestSearch(index.tree(), At(c.query), c.k, &found)
                             : RangeSearch(index.tree(), At(c.query), c.radius, &found);
  ASSERT_TRUE(s.ok()) << s.ToString();
  EXPECT_EQ(InOrder(found), c.expected) << Describe(found);
  // Every returned object is at its reported distance.
  for (const Found& f : found) {
    EXPECT_EQ(Euclid(f.object.data(), At(c.query).data(), 45), f.distance) << f.oid;
  }
  EXPECT_EQ(index.Distances(), static_cast<int>(c.objects.size()));
  EXPECT_EQ(index.Reads(), 1);
  EXPECT_EQ(index.Writes(), 0);
}

INSTANTIATE_TEST_SUITE_P(Cases, RootLeaf, ::testing::ValuesIn(kRootLeafCases),
                         [](const auto& c) { return std::string(c.param.name); });

}  // namespace
}  // namespace simdex
