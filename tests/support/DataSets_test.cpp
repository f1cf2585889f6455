#include "tests/support/DataSets.h"

#include <gtest/gtest.h>

namespace simdex::testing {
namespace {

TEST(DataSets, ClusteredVectorsRepeatAndStayInUnitCube) {
  const auto a = ClusteredVectors(200, 45);
  const auto b = ClusteredVectors(200, 45);
  ASSERT_EQ(a.size(), 200u * 45u);
  EXPECT_EQ(a, b);
  for (double v : a) {
    EXPECT_GE(v, 0.0);
    EXPECT_LE(v, 1.0);
  }
}

TEST(DataSets, SampleDataHasTheDocumentedShape) {
  const std::string dir = SampleDataDir();
  EXPECT_EQ(ReadDoubles(dir + "/hist45-small.bin", 45).size(), 5000u * 45u);
  EXPECT_EQ(ReadDoubles(dir + "/hist144-small_query.bin", 144).size(), 50u * 144u);
  const auto gt = ReadIvecs(dir + "/hist45-small_gt10.ivecs");
  ASSERT_EQ(gt.size(), 50u);
  EXPECT_EQ(gt[0].size(), 10u);
}

}  // namespace
}  // namespace simdex::testing
