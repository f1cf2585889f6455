// The generated data are shared by tests, benchmarks and files users made
// with `simdex generate`: pinned values catch any change to the stream.
#include "tools/generators/ClusteredGenerator.h"

#include <gtest/gtest.h>

#include <vector>

namespace simdex {
namespace {

TEST(ClusteredGenerator, DefaultStreamIsPinned) {
  const std::vector<double> v = ClusteredVectors(12, 45);
  EXPECT_EQ(v[0], 0x1.80d8358515fcdp-1);
  EXPECT_EQ(v[1], 0x1.d17166800db36p-1);
  EXPECT_EQ(v[44], 0x1.9f313e506175cp-1);
  EXPECT_EQ(v[45], 0x1.cdd0ffcfdb8c1p-2);
  EXPECT_EQ(v[12 * 45 - 1], 0x1.a76cde01a7427p-1);
}

TEST(ClusteredGenerator, ClampsToTheUnitCube) {
  // A wide sigma makes clamping happen on both sides.
  const std::vector<double> shortRun = ClusteredVectors(3, 4, 2, 1.0, 5);
  EXPECT_EQ(shortRun,
            (std::vector<double>{0, 1, 0, 1, 0, 0, 1, 0x1.eac2346724dc6p-1, 0x1.0141ae0210b0ap-2, 1,
                                 0x1.b3c475499f5edp-1, 0x1.7ca2765a413d4p-2}));
}

}  // namespace
}  // namespace simdex
