// Reading ground-truth files: the shipped sample and damaged files.
#include "tools/simdex/GroundTruth.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <fstream>
#include <limits>
#include <string>
#include <vector>

#include "platform/Coding.h"
#include "tools/simdex/ToolRunner_test.h"

namespace simdex::cli {
namespace {

const std::string kData = SIMDEX_SAMPLE_DATA_DIR;

void WriteBytes(const std::string& path, const std::vector<unsigned char>& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
}

std::vector<unsigned char> Ints(const std::vector<std::int32_t>& values) {
  std::vector<unsigned char> bytes(values.size() * 4);
  for (std::size_t i = 0; i < values.size(); ++i) EncodeInt32(&bytes[i * 4], values[i]);
  return bytes;
}

std::vector<unsigned char> Doubles(const std::vector<double>& values) {
  std::vector<unsigned char> bytes(values.size() * 8);
  for (std::size_t i = 0; i < values.size(); ++i) EncodeDouble(&bytes[i * 8], values[i]);
  return bytes;
}

TEST(GroundTruth, ReadsTheShippedSampleBesideItsDistanceFile) {
  const std::string ids = kData + "/hist45-small_gt10.ivecs";
  EXPECT_EQ(GroundTruth::DistanceFileFor(ids), kData + "/hist45-small_gt10_dist.bin");
  GroundTruth truth;
  ASSERT_TRUE(GroundTruth::Load(ids, GroundTruth::DistanceFileFor(ids), &truth).ok());
  ASSERT_EQ(truth.queries(), 50u);
  int duplicates = 0;
  for (std::size_t q = 0; q < truth.queries(); ++q) {
    ASSERT_EQ(truth.ids(q).size(), 10u);
    ASSERT_EQ(truth.distances(q).size(), 10u);
    for (std::size_t i = 1; i < 10; ++i)
      EXPECT_LE(truth.distances(q)[i - 1], truth.distances(q)[i]);
    duplicates += truth.distances(q)[0] == 0.0;
  }
  // The sample's README: 10 queries have an exact duplicate in the base.
  EXPECT_EQ(duplicates, 10);
}

TEST(GroundTruth, DamagedFilesNameTheFileAndRow) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  struct Case {
    const char* name;
    std::vector<unsigned char> ids;
    std::vector<unsigned char> distances;
    const char* message;
  };
  std::vector<unsigned char> cut = Ints({2, 0, 1, 2, 3});
  cut.pop_back();
  const Case cases[] = {
      {"truncated", cut, Doubles({1, 2, 3}), "ids: row 1: truncated record"},
      {"half count", {2, 0}, {}, "ids: row 0: truncated record"},
      {"negative count", Ints({-1}), {}, "ids: row 0: negative count -1"},
      {"negative id", Ints({1, 0, 1, -4}), Doubles({1, 2}), "ids: row 1: negative identifier -4"},
      {"size", Ints({2, 0, 1}), Doubles({1}), "dist: holds 8 bytes, but the 2 neighbours"},
      {"nan", Ints({1, 0, 1, 1}), Doubles({1, nan}), "dist: row 1: distance 0 is not"},
      {"negative", Ints({1, 0}), Doubles({-1}), "dist: row 0: distance 0 is not"},
  };
  TempDir dir;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    WriteBytes(dir.File("ids"), c.ids);
    WriteBytes(dir.File("dist"), c.distances);
    GroundTruth truth;
    Status s = GroundTruth::Load(dir.File("ids"), dir.File("dist"), &truth);
    EXPECT_TRUE(s.IsCorruption()) << s.ToString();
    EXPECT_NE(s.message().find(dir.File(c.message)), std::string::npos) << s.ToString();
  }
  GroundTruth truth;
  Status missing = GroundTruth::Load(dir.File("ids"), dir.File("none"), &truth);
  EXPECT_TRUE(missing.IsNotFound()) << missing.ToString();
  EXPECT_NE(missing.message().find(dir.File("none")), std::string::npos);
}

}  // namespace
}  // namespace simdex::cli
