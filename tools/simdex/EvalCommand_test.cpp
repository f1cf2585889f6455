// simdex eval through the built command, on an index of the first 1000
// colour histograms of the sample data and their 50 queries, with the ground
// truth computed by simdex truth.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "tools/simdex/ToolRunner_test.h"

namespace simdex::cli {
namespace {

const std::string kData = SIMDEX_SAMPLE_DATA_DIR;
// An fvecs record of the 45-bin histograms: int32 45, then 45 float32.
constexpr std::size_t kRecordBytes = 4 + 45 * 4;
constexpr std::size_t kRows = 1000;

std::size_t Lines(const std::string& text) {
  return static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n'));
}

class EvalTest : public ::testing::Test {
 protected:
  void SetUp() override {
    base_ = dir_.File("base.fvecs");
    std::ofstream(base_, std::ios::binary)
        << Slurp(kData + "/hist45-small.fvecs").substr(0, kRows * kRecordBytes);
    index_ = dir_.File("idx");
    Run({"register", SIMDEX_SIMDEXDLL_MODULE, SIMDEX_VECTORA_MODULE, SIMDEX_VECTORB_MODULE});
    Run({"truth", base_, queries_, "-k", "10", "-o", dir_.File("gt10")});
    Run({"create", index_, "--class", "VectorA", "--max-distance", "1.5"});
    Run({"insert", index_, base_});
  }

  // Runs the command with this fixture's registry; it must succeed.
  ToolRun Run(std::vector<std::string> args) {
    ToolRun run = Tool(std::move(args));
    EXPECT_EQ(run.exitCode, 0) << run.err;
    return run;
  }
  ToolRun Tool(std::vector<std::string> args) {
    args.insert(args.begin(), {"-q", "--registry", dir_.File("registry.txt")});
    return RunTool(args);
  }
  std::vector<std::string> Eval(std::vector<std::string> more) {
    std::vector<std::string> args{"eval", index_, queries_, "--truth", dir_.File("gt10.ivecs")};
    args.insert(args.end(), more.begin(), more.end());
    return args;
  }

  TempDir dir_;
  std::string base_;
  std::string index_;
  const std::string queries_ = kData + "/hist45-small_query.fvecs";
};

TEST_F(EvalTest, ExactSearchIsTheBaselineOfEveryMethod) {
  Run({"stats", index_});
  ToolRun run = Run(Eval({"--format", "json", "--plot", dir_.File("recall.svg")}));
  const auto doc = nlohmann::json::parse(run.out);
  EXPECT_EQ(doc["k"], 10);
  EXPECT_EQ(doc["evaluated_queries"], 50);
  EXPECT_GT(doc["median_share_at_true_kth"].get<double>(), 0.0);
  const auto& rows = doc["results"];
  ASSERT_EQ(rows.size(), 1u + 4 * 5);
  const auto& exact = rows[0];
  EXPECT_EQ(exact["method"], 0);
  EXPECT_TRUE(exact["threshold"].is_null());
  EXPECT_EQ(exact["recall"], 1.0);
  EXPECT_EQ(exact["mean_relative_error"], 0.0);
  EXPECT_EQ(exact["distances_ratio"], 1.0);
  EXPECT_EQ(exact["reads_ratio"], 1.0);
  EXPECT_GT(exact["mean_distances"].get<double>(), 0.0);
  std::set<int> methods;
  double leastRecall = 1;
  for (const auto& row : rows) {
    const int method = row["method"];
    methods.insert(method);
    const double recall = row["recall"];
    EXPECT_GE(recall, 0.0);
    EXPECT_LE(recall, 1.0);
    leastRecall = std::min(leastRecall, recall);
    EXPECT_NEAR(row["distances_ratio"].get<double>(),
                row["mean_distances"].get<double>() / exact["mean_distances"].get<double>(), 1e-12);
    // Methods 3 and 4 stop the exact search's own walk early, so they can
    // only save. Methods 1 and 2 skip regions, which can leave the k-th
    // distance larger and make the search visit more: no bound for them.
    if (method == 3 || method == 4) {
      EXPECT_LE(row["distances_ratio"].get<double>(), 1.0);
      EXPECT_LE(row["reads_ratio"].get<double>(), 1.0);
    }
  }
  EXPECT_EQ(methods, (std::set<int>{0, 1, 2, 3, 4}));
  // The default thresholds reach well below the exact answers.
  EXPECT_LT(leastRecall, 0.9);
  const std::string svg = Slurp(dir_.File("recall.svg"));
  EXPECT_NE(svg.find("<svg"), std::string::npos);
  EXPECT_NE(svg.find("</svg>"), std::string::npos);
  EXPECT_NE(run.err.find("wrote " + dir_.File("recall.svg")), std::string::npos);
}

TEST_F(EvalTest, TableCsvAndChosenThresholds) {
  // A plain list applies to every method evaluated; M=... to method M only.
  ToolRun csv = Run(Eval({"--format", "csv", "--methods", "2,4", "--thresholds", "0.5",
                          "--thresholds", "4=-0.001,-0.01", "--first", "5", "-k", "3"}));
  EXPECT_EQ(csv.out.substr(0, csv.out.find('\n')),
            "method,rule,threshold,recall@3,rel.error,distances,reads,dist.ratio,reads.ratio,"
            "ms/query");
  EXPECT_EQ(Lines(csv.out), 1u + 1 + 1 + 2);
  EXPECT_NE(csv.out.find("\n2,(1+t)*dmin > r,0.5,"), std::string::npos) << csv.out;
  EXPECT_NE(csv.out.find("\n4,slope >= t,-0.01,"), std::string::npos) << csv.out;

  ToolRun table = Run(Eval({"--methods", "0", "--first", "3"}));
  EXPECT_NE(table.out.find("3 queries from " + queries_ + ", k = 10"), std::string::npos);
  EXPECT_NE(table.out.find("recall@10"), std::string::npos);
  EXPECT_NE(table.out.find("     0  exact"), std::string::npos) << table.out;
}

TEST_F(EvalTest, MethodsOneAndThreeWaitForTheStatistics) {
  // Not asked for: skipped with a note. Asked for: refused.
  ToolRun skipped = Run(Eval({"--format", "json", "--first", "2"}));
  EXPECT_NE(skipped.err.find("skipping methods 1 and 3"), std::string::npos) << skipped.err;
  const auto doc = nlohmann::json::parse(skipped.out);
  EXPECT_EQ(doc["skipped_methods"], nlohmann::json::array({1, 3}));
  for (const auto& row : doc["results"]) {
    EXPECT_NE(row["method"], 1);
    EXPECT_NE(row["method"], 3);
  }
  ToolRun refused = Tool(Eval({"--methods", "2,3"}));
  EXPECT_EQ(refused.exitCode, 1);
  EXPECT_NE(refused.err.find("method 3 needs the measured distance distribution of the index: run "
                             "'simdex stats " +
                             index_ + "' first"),
            std::string::npos)
      << refused.err;
}

TEST_F(EvalTest, TruthOfAnotherIndexIsFlagged) {
  // The shipped truth is that of all 5000 histograms; the index holds 1000.
  ToolRun run = Run(
      {"eval", index_, queries_, "--truth", kData + "/hist45-small_gt10.ivecs", "--methods", "0"});
  EXPECT_NE(run.err.find("warning: exact search has recall@10 0."), std::string::npos) << run.err;
  EXPECT_NE(run.err.find("does not hold the true neighbours of " + queries_ + " in this index"),
            std::string::npos)
      << run.err;
}

TEST_F(EvalTest, BadInputFailsClearly) {
  std::filesystem::copy_file(dir_.File("gt10.ivecs"), dir_.File("lonely.ivecs"));
  struct Case {
    std::vector<std::string> args;
    int exitCode;
    std::string message;
  };
  const Case cases[] = {
      {{"eval", index_, queries_, "--truth", dir_.File("lonely.ivecs")},
       1,
       dir_.File("lonely_dist.bin")},
      {Eval({"--truth-dist", dir_.File("none.bin")}), 1, dir_.File("none.bin")},
      // The truth of 50 queries does not describe a file of 1000.
      {{"eval", index_, base_, "--truth", dir_.File("gt10.ivecs")}, 1, "has 1000"},
      {Eval({"--thresholds", "5=0.1"}), 1, "the method before '=' is 1 to 4"},
      {Eval({"--thresholds", "2=0.1,x"}), 1, "threshold 'x' is not a finite number"},
      {Eval({"--plot", dir_.File("recall.gif")}), 1, "unknown image type '.gif'"},
      {Eval({"--methods", "5"}), 2, ""},
      {Eval({"-k", "0"}), 2, ""},
      {{"eval", dir_.File("nowhere"), queries_, "--truth", dir_.File("gt10.ivecs")}, 1, "nowhere"},
  };
  for (const Case& c : cases) {
    ToolRun run = Tool(c.args);
    EXPECT_EQ(run.exitCode, c.exitCode) << c.message << "\n" << run.err;
    EXPECT_NE(run.err.find(c.message), std::string::npos) << run.err;
    EXPECT_TRUE(run.out.empty()) << run.out;
  }
  EXPECT_FALSE(std::filesystem::exists(dir_.File("recall.gif")));
}

}  // namespace
}  // namespace simdex::cli
