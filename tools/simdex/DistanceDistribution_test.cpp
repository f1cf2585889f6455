// Reading the distance statistics of an index directory.
#include "tools/simdex/DistanceDistribution.h"

#include <gtest/gtest.h>

#include <fstream>
#include <string>

#include "tools/simdex/ToolRunner_test.h"

namespace simdex::cli {
namespace {

void Write(const std::string& path, const std::string& text) {
  std::ofstream(path, std::ios::trunc) << text;
}

// Four intervals over [0, 2]; a new index's density is flat like this one.
const char* kUniform = "0 2 4\n0 0.5\n0.5 0.5\n1 0.5\n1.5 0.5\n2 0.5\n";
const char* kMeasured = "0 2 4\n0 0.1\n0.5 0.2\n1 1\n1.5 0.6\n2 0.1\n";
const char* kDistribution = "0 2 4\n0 0.05\n0.5 0.15\n1 0.65\n1.5 0.95\n2 1\n";

TEST(DistanceDistribution, ReadsSamplesObjectsAndWhetherMeasured) {
  TempDir dir;
  Write(dir.File("Density.dat"), kUniform);
  Write(dir.File("Distribution.dat"), kDistribution);
  // A new index's unterminated record does not count.
  Write(dir.File("TreeStats.dat"), "0 2 0");
  DistanceDistribution d;
  ASSERT_TRUE(DistanceDistribution::Load(dir.path(), &d).ok());
  EXPECT_FALSE(d.measured());
  EXPECT_EQ(d.objects(), 0);
  EXPECT_DOUBLE_EQ(d.maxDistance(), 2.0);
  EXPECT_EQ(d.positions(), (std::vector<double>{0, 0.5, 1, 1.5, 2}));
  EXPECT_EQ(d.distribution(), (std::vector<double>{0.05, 0.15, 0.65, 0.95, 1}));

  Write(dir.File("Density.dat"), kMeasured);
  // Leaf records (level 0) hold the objects; routing levels do not count.
  Write(dir.File("TreeStats.dat"), "1 0.9 2\n0 0.4 30\n0 0.5 12\n");
  ASSERT_TRUE(DistanceDistribution::Load(dir.path(), &d).ok());
  EXPECT_TRUE(d.measured());
  EXPECT_EQ(d.objects(), 42);
  EXPECT_EQ(d.density(), (std::vector<double>{0.1, 0.2, 1, 0.6, 0.1}));
  EXPECT_DOUBLE_EQ(d.Quantile(0.5), 1.0);
  EXPECT_DOUBLE_EQ(d.Quantile(0.0), 0.0);
  EXPECT_DOUBLE_EQ(d.Quantile(1.0), 2.0);
  // F reads the sample at or below x, as the approximate searches do.
  EXPECT_DOUBLE_EQ(d.F(0.6), 0.15);
  EXPECT_DOUBLE_EQ(d.F(9.0), 1.0);

  // Leading zero samples take the next non-zero value.
  Write(dir.File("Distribution.dat"), "0 2 4\n0 0\n0.5 0\n1 0.4\n1.5 0.9\n2 1\n");
  ASSERT_TRUE(DistanceDistribution::Load(dir.path(), &d).ok());
  EXPECT_DOUBLE_EQ(d.F(0.1), 0.4);
  EXPECT_DOUBLE_EQ(d.F(1.2), 0.4);
}

TEST(DistanceDistribution, MissingOrUnreadableFilesAreNamed) {
  TempDir dir;
  DistanceDistribution d;
  Status s = DistanceDistribution::Load(dir.File("nowhere"), &d);
  EXPECT_TRUE(s.IsNotFound());
  EXPECT_NE(s.message().find("does not exist"), std::string::npos) << s.ToString();

  s = DistanceDistribution::Load(dir.path(), &d);
  EXPECT_TRUE(s.IsNotFound());
  EXPECT_NE(s.message().find("has no Density.dat"), std::string::npos) << s.ToString();

  Write(dir.File("Density.dat"), kMeasured);
  Write(dir.File("Distribution.dat"), "0 2 4\n0 0.05\n0.5 oops\n");
  s = DistanceDistribution::Load(dir.path(), &d);
  EXPECT_TRUE(s.IsCorruption());
  EXPECT_NE(s.message().find(dir.File("Distribution.dat")), std::string::npos) << s.ToString();

  Write(dir.File("Distribution.dat"), "0 3 4\n0 0\n3 1\n");
  s = DistanceDistribution::Load(dir.path(), &d);
  EXPECT_TRUE(s.IsCorruption());
  EXPECT_NE(s.message().find("do not cover the same distances"), std::string::npos) << s.ToString();
}

}  // namespace
}  // namespace simdex::cli
