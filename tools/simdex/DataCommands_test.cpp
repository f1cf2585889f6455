// simdex generate and simdex truth, through the built command.
#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <iterator>

#include "tests/support/DataSets.h"
#include "tools/simdex/ToolRunner_test.h"
#include "tools/simdex/VectorReader.h"

namespace simdex::cli {
namespace {

std::string Sample(const std::string& name) {
  return std::string(SIMDEX_SAMPLE_DATA_DIR) + "/" + name;
}

// Every value of path, row after row.
std::vector<double> ReadValues(const std::string& path, int dimension = 0,
                               const std::string& format = "") {
  ReaderOptions options;
  options.dimension = dimension;
  if (!format.empty()) {
    VectorFormat f;
    EXPECT_TRUE(ParseVectorFormat(path, format, &f).ok());
    options.format = f;
  }
  std::vector<VectorRow> rows;
  Status s = ReadAllRows(path, options, &rows);
  EXPECT_TRUE(s.ok()) << s.ToString();
  std::vector<double> values;
  for (const VectorRow& r : rows) values.insert(values.end(), r.values.begin(), r.values.end());
  return values;
}

TEST(Generate, SameSeedSameBytesAndQueriesContinueTheStream) {
  TempDir dir;
  const auto generate = [&](const std::string& out, const std::string& queries,
                            const std::string& seed) {
    ToolRun run =
        RunTool({"generate", dir.File(out), "-n", "30", "-d", "5", "--clusters", "3", "--sigma",
                 "0.2", "--seed", seed, "--queries", "7", "--query-out", dir.File(queries)});
    EXPECT_EQ(run.exitCode, 0) << run.err;
    return run;
  };
  const ToolRun first = generate("a.bin", "qa.bin", "9");
  EXPECT_NE(first.out.find(dir.File("a.bin") + ": 30 vectors of 5 values (bin)"), std::string::npos)
      << first.out;
  generate("b.bin", "qb.bin", "9");
  generate("c.bin", "qc.bin", "10");
  EXPECT_EQ(Slurp(dir.File("a.bin")), Slurp(dir.File("b.bin")));
  EXPECT_EQ(Slurp(dir.File("qa.bin")), Slurp(dir.File("qb.bin")));
  EXPECT_NE(Slurp(dir.File("a.bin")), Slurp(dir.File("c.bin")));

  // The queries are the 7 points that follow the base in the one stream the
  // tests' data sets use.
  std::vector<double> all = ReadValues(dir.File("a.bin"), 5);
  const std::vector<double> queries = ReadValues(dir.File("qa.bin"), 5);
  all.insert(all.end(), queries.begin(), queries.end());
  EXPECT_EQ(all, ClusteredVectors(37, 5, 3, 0.2, 9));
}

TEST(Generate, WritesEveryFormat) {
  struct Case {
    const char* file;
    std::vector<std::string> extra;
    const char* readAs;  // format given to the reader, else the extension
    bool float32;
  };
  const Case cases[] = {{"g.fvecs", {}, "", true},
                        {"g.npy", {}, "", false},
                        {"g.csv", {}, "", false},
                        {"g.bin", {}, "", false},
                        {"g.data", {"--format", "csv"}, "csv", false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.file);
    TempDir dir;
    std::vector<std::string> args{"generate", dir.File(c.file), "-n", "40"};
    args.insert(args.end(), c.extra.begin(), c.extra.end());
    const ToolRun run = RunTool(args);
    ASSERT_EQ(run.exitCode, 0) << run.err;
    std::vector<double> want = ClusteredVectors(40, 45);
    if (c.float32) {
      for (double& v : want) v = static_cast<float>(v);
    }
    EXPECT_EQ(ReadValues(dir.File(c.file), 45, c.readAs), want);
  }
}

TEST(Truth, ReproducesTheSampleGroundTruth) {
  struct Case {
    const char* base;
    const char* queries;
    const char* k;
    std::vector<std::string> extra;
    const char* truth;
  };
  const Case cases[] = {
      {"hist45-small.fvecs", "hist45-small_query.fvecs", "10", {}, "hist45-small_gt10"},
      {"hist144-small.fvecs", "hist144-small_query.fvecs", "10", {}, "hist144-small_gt10"},
      {"hist45-small.bin",
       "hist45-small_query.bin",
       "100",
       {"--dimension", "45"},
       "hist45-small_gt100"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.truth);
    TempDir dir;
    std::vector<std::string> args{"truth", Sample(c.base), Sample(c.queries), "-k",
                                  c.k,     "-o",           dir.File("gt")};
    args.insert(args.end(), c.extra.begin(), c.extra.end());
    const ToolRun run = RunTool(args);
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_NE(run.out.find("50 queries x " + std::string(c.k) + " nearest of 5000 vectors"),
              std::string::npos)
        << run.out;
    EXPECT_EQ(Slurp(dir.File("gt.ivecs")), Slurp(Sample(std::string(c.truth) + ".ivecs")));
    EXPECT_EQ(Slurp(dir.File("gt_dist.bin")), Slurp(Sample(std::string(c.truth) + "_dist.bin")));
  }
}

TEST(Truth, TiesGoToTheSmallerIdentifierAndTheOffsetShiftsThem) {
  TempDir dir;
  std::ofstream(dir.File("base.csv")) << "x,y\n0,0\n3,4\n0,0\n1,0\n-1,0\n";
  std::ofstream(dir.File("queries.csv")) << "0,0\n3,4\n";
  const ToolRun run = RunTool({"truth", dir.File("base.csv"), dir.File("queries.csv"), "-k", "4",
                               "-o", dir.File("t"), "--id-offset", "100"});
  ASSERT_EQ(run.exitCode, 0) << run.err;
  EXPECT_EQ(simdex::testing::ReadIvecs(dir.File("t.ivecs")),
            (std::vector<std::vector<std::int32_t>>{{100, 102, 103, 104}, {101, 103, 100, 102}}));
  EXPECT_EQ(simdex::testing::ReadRawDoubles(dir.File("t_dist.bin")),
            (std::vector<double>{0, 0, 1, 1, 0, std::sqrt(20.0), 5, 5}));
}

TEST(DataCommands, BadInputFailsWithStatusAndMessage) {
  TempDir dir;
  std::ofstream(dir.File("two.csv")) << "1,2\n3,4\n";
  std::ofstream(dir.File("three.csv")) << "1,2,3\n";
  const std::string two = dir.File("two.csv"), three = dir.File("three.csv");
  struct Case {
    std::vector<std::string> args;
    int exitCode;
    std::string message;
  };
  const Case cases[] = {
      {{"generate", dir.File("x.fvecs")}, 2, "--count is required"},
      {{"generate", dir.File("x.fvecs"), "-n", "0"}, 2, "--count"},
      {{"generate", dir.File("x.fvecs"), "-n", "5", "--queries", "3"}, 2, "--query-out"},
      {{"generate", dir.File("x.fvecs"), "-n", "5", "--format", "bvecs"}, 2, "--format"},
      {{"generate", dir.File("x.bvecs"), "-n", "5"},
       1,
       "simdex generate: Invalid argument: " + dir.File("x.bvecs") + ": cannot write bvecs"},
      {{"generate", dir.File("x.txt"), "-n", "5"}, 1, "unknown file type '.txt'"},
      {{"generate", dir.File("x.fvecs"), "-n", "5", "--queries", "2", "--query-out",
        dir.File("x.fvecs")},
       1,
       "the query file must differ"},
      {{"generate", dir.File("no/x.fvecs"), "-n", "5"}, 1, "cannot create"},
      {{"truth", two, two, "-o", dir.File("t")}, 2, "-k is required"},
      {{"truth", two, two, "-k", "3", "-o", dir.File("t")},
       1,
       two + ": 2 vectors, fewer than k = 3"},
      {{"truth", two, three, "-k", "1", "-o", dir.File("t")},
       1,
       two + ": row 0 (line 1): expected 3 values, found 2"},
      {{"truth", two, two, "-k", "1", "-o", dir.File("t"), "--id-offset", "2147483647"},
       1,
       two + ": row 1: identifier 2147483648 does not fit the int32 of an ivecs file"},
      {{"truth", Sample("hist45-small.fvecs"), Sample("hist45-small_query.bin"), "-k", "1", "-o",
        dir.File("t")},
       1,
       "a raw float64 file has no header: give its dimension"},
      {{"truth", dir.File("none.fvecs"), two, "-k", "1", "-o", dir.File("t")},
       1,
       dir.File("none.fvecs") + ": cannot open"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args[0] + " " + c.message);
    const ToolRun run = RunTool(c.args);
    EXPECT_EQ(run.exitCode, c.exitCode) << run.err;
    EXPECT_NE(run.err.find(c.message), std::string::npos) << run.err;
  }
  // Failed runs leave no output behind.
  EXPECT_FALSE(std::ifstream(dir.File("x.fvecs")).good());
  EXPECT_FALSE(std::ifstream(dir.File("t.ivecs")).good());
}

}  // namespace
}  // namespace simdex::cli
