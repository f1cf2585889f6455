// simdex create, insert, stats, info and check, driven through the built
// command on small files.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "platform/Coding.h"
#include "tools/simdex/IndexTool_test.h"
#include "tools/simdex/VectorWriter.h"

namespace simdex::cli {
namespace {

namespace fs = std::filesystem;

bool Has(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

std::string Csv(const std::vector<std::vector<double>>& rows, bool idColumn) {
  std::string text = "x0";
  for (std::size_t d = 1; d < rows[0].size(); ++d) text += ",x" + std::to_string(d);
  if (idColumn) text = "id," + text;
  text += "\n";
  for (std::size_t i = 0; i < rows.size(); ++i) {
    if (idColumn) text += std::to_string(1000 + i) + ",";
    for (std::size_t d = 0; d < rows[i].size(); ++d) {
      char v[32];
      std::snprintf(v, sizeof v, "%.17g", rows[i][d]);
      text += (d > 0 ? "," : "") + std::string(v);
    }
    text += "\n";
  }
  return text;
}

void WriteNpy(const std::string& path, const std::vector<std::vector<double>>& rows) {
  std::unique_ptr<VectorWriter> w;
  ASSERT_TRUE(
      VectorWriter::Create(path, VectorFormat::kNpy, static_cast<int>(rows[0].size()), &w).ok());
  for (const auto& row : rows) ASSERT_TRUE(w->Write(row).ok());
  ASSERT_TRUE(w->Close().ok());
}

// Bytes 0..255 per value: the rows scaled to bytes.
std::vector<std::vector<double>> ByteRows(const std::vector<std::vector<double>>& rows) {
  std::vector<std::vector<double>> bytes = rows;
  for (auto& row : bytes) {
    for (double& v : row) v = std::round(v * 255);
  }
  return bytes;
}

void WriteBvecs(const std::string& path, const std::vector<std::vector<double>>& rows) {
  std::ofstream out(path, std::ios::binary);
  for (const auto& row : rows) {
    unsigned char d[4];
    EncodeFixed32(d, static_cast<std::uint32_t>(row.size()));
    out.write(reinterpret_cast<const char*>(d), 4);
    for (double v : row) out.put(static_cast<char>(static_cast<unsigned char>(v)));
  }
  ASSERT_TRUE(out.good());
}

class IndexCommandsTest : public ::testing::Test {
 protected:
  IndexTool tool_;
};

// ---- create ----

TEST_F(IndexCommandsTest, CreateChecksItsArguments) {
  const std::string existing = tool_.MakeIndex("existing", 2.0);
  const struct {
    std::vector<std::string> args;
    int exitCode;
    const char* message;
  } kCases[] = {
      {{"create", tool_.Path("new/nested"), "--class", "VectorA", "--max-distance", "1.5"},
       0,
       "created directory"},
      {{"create", tool_.Path("b"), "--class", "VectorB.VectorBObject", "--max-distance", "3"},
       0,
       "144 dimensions"},
      {{"create", tool_.Path("c"), "--max-distance", "1"}, 2, "--class is required"},
      {{"create", tool_.Path("c"), "--class", "VectorA"}, 2, "--max-distance is required"},
      {{"create", tool_.Path("c"), "--class", "VectorA", "--max-distance", "0"}, 2, "> 0"},
      {{"create", tool_.Path("c"), "--class", "VectorA", "--max-distance", "-1"}, 2, "> 0"},
      {{"create", tool_.Path("c"), "--class", "VectorA", "--max-distance", "nan"}, 2, "finite"},
      {{"create", tool_.Path("c"), "--class", "VectorA", "--max-distance", "inf"}, 2, "finite"},
      {{"create", tool_.Path("c"), "--class", "VectorA", "--max-distance", "x"}, 2, "finite"},
      {{"create", tool_.Path("c"), "--class", "No.Such", "--max-distance", "1"},
       1,
       "run `simdex register`"},
      {{"create", existing, "--class", "VectorA", "--max-distance", "1"}, 1, "--force"},
      {{"create", existing, "--class", "VectorB", "--max-distance", "1", "--force"}, 0, ""},
  };
  for (const auto& c : kCases) {
    ToolRun r = tool_.Run(c.args);
    EXPECT_EQ(r.exitCode, c.exitCode) << c.args[1] << " " << r.err;
    EXPECT_TRUE(Has(r.out + r.err, c.message)) << r.out << r.err;
  }
  // A refused class leaves no directory behind.
  EXPECT_FALSE(fs::exists(tool_.Path("c")));
  EXPECT_EQ(tool_.Objects(tool_.Path("new/nested")), 0);
  // --force replaced the VectorA index by an empty VectorB one.
  ToolRun info = tool_.Run({"info", existing, "--format", "json"});
  EXPECT_EQ(nlohmann::json::parse(info.out)["dimension"], 144) << info.out << info.err;
}

// ---- insert ----

TEST_F(IndexCommandsTest, InsertReadsEveryFormatWithItsIdentifiers) {
  const auto rows = TestRows(60, 45);
  const auto bytes = ByteRows(rows);
  WriteFvecs(tool_.Path("v.fvecs"), rows);
  WriteBvecs(tool_.Path("v.bvecs"), bytes);
  WriteNpy(tool_.Path("v.npy"), rows);
  WriteText(tool_.Path("v.csv"), Csv(rows, false));
  WriteText(tool_.Path("ids.csv"), Csv(rows, true));
  WriteRawDoubles(tool_.Path("v.bin"), rows);
  WriteRawDoubles(tool_.Path("v.data"), rows);
  std::string ids;
  for (int i = 0; i < 60; ++i) ids += std::to_string(7 * i + 3) + "\n";
  WriteText(tool_.Path("ids.txt"), ids);

  const struct {
    const char* file;
    std::vector<std::string> options;
    bool bytes;
    std::int64_t idOfRow7;
  } kCases[] = {
      {"v.fvecs", {}, false, 7},
      {"v.bvecs", {"--id-offset", "100"}, true, 107},
      {"v.npy", {}, false, 7},
      {"v.csv", {}, false, 7},
      {"ids.csv", {"--id-column", "0"}, false, 1007},
      {"v.bin", {"--ids", tool_.Path("ids.txt")}, false, 52},
      {"v.data", {"--format", "bin", "--id-offset", "4294967236"}, false, 4294967243},
  };
  int n = 0;
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.file);
    const std::string index = tool_.MakeIndex("idx" + std::to_string(n++), 2000);
    std::vector<std::string> args = {"insert", index, tool_.Path(c.file)};
    args.insert(args.end(), c.options.begin(), c.options.end());
    ToolRun r = tool_.Run(args);
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_TRUE(Has(r.out, "inserted 60 rows")) << r.out;
    EXPECT_TRUE(Has(r.out, " distances (")) << r.out;
    EXPECT_EQ(tool_.Objects(index), 60);
    IndexTool::Nearest nearest = tool_.NearestOf(index, (c.bytes ? bytes : rows)[7]);
    EXPECT_EQ(nearest.id, c.idOfRow7);
    EXPECT_EQ(nearest.distance, 0.0);
  }
}

TEST_F(IndexCommandsTest, InsertStopsAtABadRowAndKeepsTheRowsBeforeIt) {
  auto rows = TestRows(60, 45);
  auto shortRow = rows;
  shortRow[25].pop_back();
  WriteFvecs(tool_.Path("short.fvecs"), shortRow);
  auto nanRow = rows;
  nanRow[40][3] = std::nan("");
  WriteText(tool_.Path("nan.csv"), Csv(nanRow, false));
  WriteRawDoubles(tool_.Path("cut.bin"), rows);
  fs::resize_file(tool_.Path("cut.bin"), 45 * 8 * 33 + 100);
  const struct {
    const char* file;
    int badRow;
  } kCases[] = {{"short.fvecs", 25}, {"nan.csv", 40}, {"cut.bin", 33}};
  int n = 0;
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.file);
    const std::string index = tool_.MakeIndex("bad" + std::to_string(n++), 2);
    ToolRun r = tool_.Run({"insert", index, tool_.Path(c.file)});
    EXPECT_EQ(r.exitCode, 1);
    // CSV adds the line: "FILE: row N (line L): reason".
    EXPECT_TRUE(Has(r.err, tool_.Path(c.file) + ": row " + std::to_string(c.badRow) + ":") ||
                Has(r.err, tool_.Path(c.file) + ": row " + std::to_string(c.badRow) + " ("))
        << r.err;
    EXPECT_TRUE(Has(r.err, "inserted " + std::to_string(c.badRow) + " rows (rows 0.." +
                               std::to_string(c.badRow - 1) + ") before the error"))
        << r.err;
    EXPECT_EQ(tool_.Objects(index), c.badRow);
    EXPECT_EQ(tool_.NearestOf(index, rows[c.badRow - 1]).distance, 0.0);
    EXPECT_NE(tool_.NearestOf(index, rows[c.badRow]).distance, 0.0);
  }
}

TEST_F(IndexCommandsTest, InsertRefusesBeforeInsertingWhatCannotWork) {
  const auto rows = TestRows(30, 45);
  WriteFvecs(tool_.Path("a.fvecs"), rows);
  WriteFvecs(tool_.Path("wide.fvecs"), TestRows(3, 144));
  WriteText(tool_.Path("few.txt"), "1\n2\n");
  WriteText(tool_.Path("bad.txt"), std::string("1\n2\n-3\n"));
  const std::string index = tool_.MakeIndex("idx", 2);
  const struct {
    std::vector<std::string> args;
    int exitCode;
    const char* message;
  } kCases[] = {
      {{"insert", index, tool_.Path("missing.fvecs")}, 1, "missing.fvecs"},
      {{"insert", index, tool_.Path("wide.fvecs")}, 1, "row 0"},
      {{"insert", index, tool_.Path("a.fvecs"), "--id-offset", "4294967290"},
       1,
       "do not fit 32 bits"},
      {{"insert", index, tool_.Path("a.fvecs"), "--ids", tool_.Path("few.txt")},
       1,
       "holds 2 identifiers for the 30 rows"},
      {{"insert", index, tool_.Path("a.fvecs"), "--ids", tool_.Path("bad.txt")}, 1, "line 3"},
      {{"insert", index, tool_.Path("a.fvecs"), "--id-column", "0"}, 1, "CSV files only"},
      {{"insert", index, tool_.Path("a.fvecs"), "--id-offset", "1", "--ids", tool_.Path("few.txt")},
       2,
       "excludes"},
      {{"insert", tool_.Path("nothing"), tool_.Path("a.fvecs")}, 1, "no directory"},
  };
  for (const auto& c : kCases) {
    ToolRun r = tool_.Run(c.args);
    EXPECT_EQ(r.exitCode, c.exitCode) << c.args[2] << " " << r.err;
    EXPECT_TRUE(Has(r.err, c.message)) << r.err;
  }
  EXPECT_EQ(tool_.Objects(index), 0);
}

TEST_F(IndexCommandsTest, AnIndexWithoutItsClassFileNeedsClass) {
  WriteFvecs(tool_.Path("a.fvecs"), TestRows(10, 45));
  const std::string index = tool_.MakeIndex("idx", 2);
  fs::remove(index + "/ObjectClass.txt");
  ToolRun r = tool_.Run({"insert", index, tool_.Path("a.fvecs")});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_TRUE(Has(r.err, "pass --class")) << r.err;
  r = tool_.Run({"insert", index, tool_.Path("a.fvecs"), "--class", "VectorA"});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  // The wrong class: its objects have another size.
  r = tool_.Run({"info", index, "--class", "VectorB"});
  EXPECT_EQ(r.exitCode, 1) << r.out;
}

// ---- stats ----

TEST_F(IndexCommandsTest, StatsSummarisesAKnownDistribution) {
  // Half the objects at the origin, half at distance 1 from it: half the
  // sampled pairs lie at 0, half at 1. The stored density gives an empty
  // interval the value of the next non-empty one, so Density.dat holds a
  // uniform density over [0, 1]: mean 1/2, standard deviation 1/sqrt(12).
  std::vector<std::vector<double>> rows(100, std::vector<double>(45, 0.0));
  for (int i = 50; i < 100; ++i) rows[i][0] = 1.0;
  WriteFvecs(tool_.Path("two.fvecs"), rows);
  const std::string index = tool_.MakeIndex("idx", 1.5, tool_.Path("two.fvecs"));
  ToolRun r = tool_.Run({"stats", index});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_TRUE(Has(r.out, "100 of 100 objects sampled")) << r.out;
  EXPECT_TRUE(Has(r.err, "Computing density with 100 samples")) << r.err;
  auto value = [&](const std::string& name) {
    const auto at = r.out.find(name);
    return at == std::string::npos ? -1.0 : std::stod(r.out.substr(at + name.size()));
  };
  const double step = 1.5 / 1000;
  EXPECT_EQ(value("maximum distance"), 1.5);
  EXPECT_NEAR(value("mean"), 0.5, step);
  EXPECT_NEAR(value("standard deviation"), 1 / std::sqrt(12.0), step);
  EXPECT_NEAR(value("1st percentile"), 0.01, step);
  EXPECT_NEAR(value("median"), 0.5, step);
  EXPECT_NEAR(value("90th percentile"), 0.9, step);
  EXPECT_NEAR(value("intrinsic dimensionality"), 1.5, 0.01);

  r = tool_.Run({"-q", "stats", index});
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_EQ(r.err, "");
}

TEST_F(IndexCommandsTest, StatsOnAnIndexThatIsOnlyItsRootSaysWhy) {
  WriteFvecs(tool_.Path("a.fvecs"), TestRows(5, 45));
  const std::string index = tool_.MakeIndex("idx", 2, tool_.Path("a.fvecs"));
  ToolRun r = tool_.Run({"-q", "stats", index});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_TRUE(Has(r.err, "no measured distance")) << r.err;
}

// ---- check ----

// Index pages: 16384 bytes, page 0 the header, page 1 the root. A node page
// starts with level (4 bytes) and entry count (4), and its entries start at
// byte 16, 400 bytes each for VectorA (360 object bytes, identifier, then
// minRadius, coverRadius and parentDist as doubles).
constexpr std::int64_t kPage = 16384;
constexpr std::int64_t kEntry = 400;
constexpr std::int64_t kParentDist = 380;

void Overwrite(const std::string& file, std::int64_t at, const std::vector<unsigned char>& bytes) {
  std::fstream f(file, std::ios::in | std::ios::out | std::ios::binary);
  f.seekp(at);
  f.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  ASSERT_TRUE(f.good());
}

std::vector<unsigned char> Le32(std::uint32_t v) {
  std::vector<unsigned char> b(4);
  EncodeFixed32(b.data(), v);
  return b;
}

std::vector<unsigned char> LeDouble(double v) {
  std::vector<unsigned char> b(8);
  EncodeDouble(b.data(), v);
  return b;
}

TEST_F(IndexCommandsTest, CheckReportsADamagedIndexAndNeverCrashes) {
  WriteFvecs(tool_.Path("a.fvecs"), TestRows(200, 45));
  const std::string sound = tool_.MakeIndex("sound", 2, tool_.Path("a.fvecs"));
  ToolRun r = tool_.Run({"check", sound});
  ASSERT_EQ(r.exitCode, 0) << r.out << r.err;
  EXPECT_EQ(r.out, "ok: 200 objects, height 2\n");

  std::vector<unsigned char> garbage(kPage);
  std::uint64_t x = 88172645463325252ull;
  for (auto& b : garbage) {
    x ^= x << 13, x ^= x >> 7, x ^= x << 17;
    b = static_cast<unsigned char>(x);
  }
  const struct {
    const char* name;
    std::int64_t at;  // -1: cut the file to 1.5 pages instead
    std::vector<unsigned char> bytes;
    bool listsProblems;  // the walk finds it (else the index does not open)
  } kCases[] = {
      {"parent distance", 2 * kPage + 16 + kEntry + kParentDist, LeDouble(12345.0), true},
      {"leaf level", 2 * kPage, Le32(5), true},
      {"entry count", 2 * kPage + 4, Le32(0x7fffffff), true},
      {"garbage leaf", 2 * kPage, garbage, true},
      {"root entry count", kPage + 4, Le32(0x10000), false},
      {"garbage root", kPage, garbage, false},
      {"header", 0, Le32(0xdeadbeef), false},
      {"truncated", -1, {}, false},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    const std::string damaged = tool_.Path(std::string("damaged ") + c.name);
    fs::copy(sound, damaged);
    const std::string file = damaged + "/index.M3";
    if (c.at < 0) {
      fs::resize_file(file, kPage + kPage / 2);
    } else {
      Overwrite(file, c.at, c.bytes);
    }
    r = tool_.Run({"check", damaged});
    EXPECT_EQ(r.exitCode, 1) << r.out << r.err;
    EXPECT_TRUE(Has(r.err, "simdex check: ")) << r.err;
    if (c.listsProblems) {
      EXPECT_TRUE(Has(r.out, "page 2")) << r.out;
      EXPECT_TRUE(Has(r.err, "is damaged")) << r.err;
    }
    // info walks the same pages: an error, never a crash.
    r = tool_.Run({"info", damaged});
    EXPECT_TRUE(r.exitCode == 0 || r.exitCode == 1) << r.exitCode << r.err;
  }
}

}  // namespace
}  // namespace simdex::cli
