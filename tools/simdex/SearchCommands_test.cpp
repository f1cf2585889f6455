// simdex knn and range on the real colour histograms shipped in data/,
// judged against their brute-force ground truth by distance (the data hold
// exact duplicates, so neighbours tie), and simdex info on the same index.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <memory>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <vector>

#include "tests/support/DataSets.h"
#include "tools/simdex/IndexTool_test.h"

namespace simdex::cli {
namespace {

const std::string kData = SIMDEX_SAMPLE_DATA_DIR;
const std::string kBase = kData + "/hist45-small.fvecs";
const std::string kQueries = kData + "/hist45-small_query.fvecs";
constexpr int kDim = 45;
constexpr int kQueryCount = 50;

bool Has(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

// The distance the vector plug-in computes; exact on these data.
double Distance(const double* a, const double* b) {
  double sum = 0;
  for (int i = 0; i < kDim; ++i) sum += std::pow(a[i] - b[i], 2.0);
  return std::sqrt(sum);
}

class SearchCommandsTest : public ::testing::Test {
 public:
  static void SetUpTestSuite() {
    tool_ = std::make_unique<IndexTool>();
    // sqrt(2) is the largest distance between two normalised histograms.
    index_ = tool_->MakeIndex("hist45", 1.5, kBase);
    base_ = testing::ReadDoubles(kData + "/hist45-small.bin", kDim);
    queries_ = testing::ReadDoubles(kData + "/hist45-small_query.bin", kDim);
    truth_ = testing::ReadRawDoubles(kData + "/hist45-small_gt10_dist.bin");
  }
  static void TearDownTestSuite() { tool_.reset(); }

 protected:
  static nlohmann::json Json(std::vector<std::string> args) {
    args.push_back("--format");
    args.push_back("json");
    ToolRun r = tool_->Run(args);
    EXPECT_EQ(r.exitCode, 0) << r.err;
    auto j = nlohmann::json::parse(r.out, nullptr, false);
    EXPECT_FALSE(j.is_discarded()) << r.out;
    return j;
  }
  // The distance from query q to stored object id.
  static double TrueDistance(int q, std::int64_t id) {
    return Distance(&queries_[static_cast<std::size_t>(q) * kDim],
                    &base_[static_cast<std::size_t>(id) * kDim]);
  }

  static std::unique_ptr<IndexTool> tool_;
  static std::string index_;
  static std::vector<double> base_;
  static std::vector<double> queries_;
  static std::vector<double> truth_;
};

std::unique_ptr<IndexTool> SearchCommandsTest::tool_;
std::string SearchCommandsTest::index_;
std::vector<double> SearchCommandsTest::base_;
std::vector<double> SearchCommandsTest::queries_;
std::vector<double> SearchCommandsTest::truth_;

TEST_F(SearchCommandsTest, NearestNeighboursMatchTheGroundTruthByDistance) {
  ASSERT_EQ(truth_.size(), static_cast<std::size_t>(kQueryCount) * 10);
  nlohmann::json j = Json({"knn", index_, kQueries, "-k", "10"});
  ASSERT_EQ(j["queries"].size(), static_cast<std::size_t>(kQueryCount));
  std::int64_t distances = 0;
  for (int q = 0; q < kQueryCount; ++q) {
    const auto& block = j["queries"][q];
    ASSERT_EQ(block["query"], q);
    const auto& results = block["results"];
    ASSERT_EQ(results.size(), 10u) << q;
    for (int i = 0; i < 10; ++i) {
      const double d = results[i]["distance"];
      EXPECT_EQ(d, truth_[static_cast<std::size_t>(q) * 10 + i]) << q << " rank " << i;
      EXPECT_EQ(d, TrueDistance(q, results[i]["id"])) << q << " rank " << i;
    }
    distances += block["cost"]["distances"].get<std::int64_t>();
    EXPECT_GT(block["cost"]["page_reads"].get<int>(), 0);
    EXPECT_EQ(block["cost"]["page_writes"], 0);
  }
  EXPECT_EQ(j["total"]["distances"], distances);
  EXPECT_EQ(j["total"]["results"], kQueryCount * 10);
  // The index saves work over a scan of the 5000 objects.
  EXPECT_LT(distances, std::int64_t{kQueryCount} * 5000);
}

TEST_F(SearchCommandsTest, RangeFindsExactlyTheObjectsWithinTheRadius) {
  const double radius = 0.2;
  ToolRun r = tool_->Run({"range", index_, kQueries, "-r", "0.2", "--format", "csv"});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  std::istringstream lines(r.out);
  std::string line;
  std::getline(lines, line);
  ASSERT_EQ(line, "query,id,distance");
  std::vector<std::vector<std::int64_t>> found(kQueryCount);
  while (std::getline(lines, line) && !line.empty()) {
    int q = 0;
    long long id = 0;
    char distance[64] = {};
    ASSERT_EQ(std::sscanf(line.c_str(), "%d,%lld,%63s", &q, &id, distance), 3) << line;
    ASSERT_TRUE(q >= 0 && q < kQueryCount && id >= 0 && id < 5000) << line;
    EXPECT_EQ(std::stod(distance), TrueDistance(q, id)) << line;
    found[q].push_back(id);
  }
  std::getline(lines, line);
  EXPECT_EQ(line, "query,results,distances,page_reads,page_writes");
  std::int64_t total = 0;
  for (int q = 0; q < kQueryCount; ++q) {
    std::vector<std::int64_t> expected;
    for (std::int64_t id = 0; id < 5000; ++id) {
      if (TrueDistance(q, id) <= radius) expected.push_back(id);
    }
    std::sort(found[q].begin(), found[q].end());
    EXPECT_EQ(found[q], expected) << q;
    total += static_cast<std::int64_t>(expected.size());
  }
  EXPECT_GT(total, 0);
  EXPECT_TRUE(Has(r.out, "\ntotal," + std::to_string(total) + ",")) << r.out;
}

TEST_F(SearchCommandsTest, TheThreeFormatsAgree) {
  const std::vector<std::string> search = {"knn", index_, kQueries, "-k", "3", "--first", "4"};
  const std::string output = tool_->Path("answers.json");
  std::vector<std::string> args = search;
  args.insert(args.end(), {"--format", "json", "--output", output});
  ToolRun r = tool_->Run(args);
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(r.out, "");
  std::ifstream in(output);
  nlohmann::json j = nlohmann::json::parse(in, nullptr, false);
  ASSERT_FALSE(j.is_discarded());
  ASSERT_EQ(j["queries"].size(), 4u);
  EXPECT_EQ(j["k"], 3);
  EXPECT_EQ(j["method"], 0);
  EXPECT_TRUE(j["threshold"].is_null());

  args = search;
  args.insert(args.end(), {"--format", "csv"});
  ToolRun csv = tool_->Run(args);
  ToolRun table = tool_->Run(search);
  ASSERT_EQ(csv.exitCode, 0) << csv.err;
  ASSERT_EQ(table.exitCode, 0) << table.err;
  // The csv sections as rows of cells.
  std::vector<std::vector<std::vector<std::string>>> sections(1);
  std::istringstream lines(csv.out);
  for (std::string line; std::getline(lines, line);) {
    if (line.empty()) {
      sections.emplace_back();
      continue;
    }
    std::vector<std::string> cells;
    std::istringstream fields(line);
    for (std::string cell; std::getline(fields, cell, ',');) cells.push_back(cell);
    sections.back().push_back(cells);
  }
  ASSERT_EQ(sections.size(), 2u) << csv.out;
  const auto& hits = sections[0];
  const auto& costs = sections[1];
  ASSERT_EQ(hits.size(), 1u + 12u) << csv.out;
  ASSERT_EQ(costs.size(), 1u + 4u + 1u) << csv.out;
  EXPECT_EQ(hits[0], (std::vector<std::string>{"query", "rank", "id", "distance"}));
  std::size_t row = 1;
  for (int q = 0; q < 4; ++q) {
    const auto& block = j["queries"][q];
    for (int rank = 1; rank <= 3; ++rank, ++row) {
      const auto& hit = block["results"][rank - 1];
      ASSERT_EQ(hits[row].size(), 4u);
      EXPECT_EQ(hits[row][0], std::to_string(q));
      EXPECT_EQ(hits[row][1], std::to_string(rank));
      EXPECT_EQ(hits[row][2], std::to_string(hit["id"].get<int>()));
      EXPECT_EQ(std::stod(hits[row][3]), hit["distance"].get<double>());
    }
    const auto& cost = block["cost"];
    const std::string distances = std::to_string(cost["distances"].get<int>());
    const std::string reads = std::to_string(cost["page_reads"].get<int>());
    EXPECT_EQ(costs[1 + q],
              (std::vector<std::string>{std::to_string(q), "3", distances, reads, "0"}));
    EXPECT_TRUE(Has(table.out, "query " + std::to_string(q) + ": 3 results; " + distances +
                                   " distances, " + reads + " page reads, 0 page writes\n"))
        << table.out;
  }
  const auto& total = j["total"];
  const std::string distances = std::to_string(total["distances"].get<int>());
  const std::string reads = std::to_string(total["page_reads"].get<int>());
  EXPECT_EQ(costs.back(), (std::vector<std::string>{"total", "12", distances, reads, "0"}));
  EXPECT_TRUE(Has(table.out, "total: 4 queries, 12 results; " + distances + " distances"))
      << table.out;
}

TEST_F(SearchCommandsTest, InfoNumbersAgreeWithEachOther) {
  nlohmann::json j = Json({"info", index_});
  EXPECT_EQ(j["class"], "VectorA");
  EXPECT_EQ(j["dimension"], kDim);
  EXPECT_EQ(j["max_distance"], 1.5);
  EXPECT_EQ(j["objects"], 5000);
  EXPECT_EQ(j["statistics_measured"], false);
  const auto& levels = j["levels"];
  ASSERT_EQ(levels.size(), j["height"].get<std::size_t>());
  ASSERT_GE(levels.size(), 2u);
  EXPECT_EQ(levels[0]["nodes"], 1);
  EXPECT_FALSE(levels[0].contains("radius"));
  std::int64_t nodes = 0;
  for (std::size_t i = 0; i < levels.size(); ++i) {
    const auto& l = levels[i];
    EXPECT_EQ(l["level"], static_cast<int>(levels.size() - 1 - i));
    nodes += l["nodes"].get<std::int64_t>();
    // Every entry above the leaves is a node of the level below.
    if (i + 1 < levels.size()) {
      EXPECT_EQ(l["entries"], levels[i + 1]["nodes"]);
    }
    EXPECT_GT(l["fill"].get<double>(), 0.0);
    EXPECT_LE(l["fill"].get<double>(), 1.0);
    if (i > 0) {
      EXPECT_LE(l["radius"]["min"].get<double>(), l["radius"]["mean"].get<double>());
      EXPECT_LE(l["radius"]["mean"].get<double>(), l["radius"]["max"].get<double>());
    }
  }
  EXPECT_EQ(levels.back()["entries"], 5000);
  const std::int64_t bytes = j["file_bytes"];
  EXPECT_EQ(bytes, static_cast<std::int64_t>(std::filesystem::file_size(index_ + "/index.M3")));
  EXPECT_EQ(bytes % 16384, 0);
  // The header page and every node; free pages may come on top.
  EXPECT_GE(bytes / 16384, nodes + 1);

  ToolRun check = tool_->Run({"check", index_});
  EXPECT_EQ(check.exitCode, 0) << check.out << check.err;
  EXPECT_EQ(check.out, "ok: 5000 objects, height " + std::to_string(j["height"].get<int>()) + "\n");
}

TEST_F(SearchCommandsTest, BadQueriesAndOptionsFailClearly) {
  const struct {
    std::vector<std::string> args;
    int exitCode;
    const char* message;
  } kCases[] = {
      {{"knn", index_, tool_->Path("none.fvecs")}, 1, "none.fvecs"},
      {{"knn", index_, kData + "/hist144-small_query.fvecs"}, 1, "row 0"},
      {{"knn", tool_->Path("no-index"), kQueries}, 1, "no directory"},
      {{"knn", index_, kQueries, "-k", "0"}, 2, "-k"},
      {{"knn", index_, kQueries, "--method", "5", "--threshold", "1"}, 2, "--method"},
      {{"knn", index_, kQueries, "--method", "2"}, 1, "needs --threshold"},
      {{"knn", index_, kQueries, "--format", "xml"}, 2, "--format"},
      {{"range", index_, kQueries}, 2, "--radius"},
      {{"range", index_, kQueries, "-r", "-1"}, 2, ">= 0"},
      {{"knn", index_, kQueries, "--output", tool_->Path("no/such/dir/out")}, 1, "cannot write"},
  };
  for (const auto& c : kCases) {
    ToolRun r = tool_->Run(c.args);
    EXPECT_EQ(r.exitCode, c.exitCode) << c.args[2] << " " << r.err;
    EXPECT_TRUE(Has(r.err, c.message)) << r.err;
  }
}

}  // namespace
}  // namespace simdex::cli

namespace simdex::cli {
namespace {

// Approximate answers are never better than exact ones, rank by rank; the
// methods that read the measured distribution wait for `simdex stats`.
TEST(ApproximateSearch, MethodsNeedTheirStatisticsAndNeverBeatExactSearch) {
  IndexTool tool;
  WriteFvecs(tool.Path("base.fvecs"), TestRows(400, 45));
  WriteRawDoubles(tool.Path("queries.bin"), TestRows(8, 45, 99));
  const std::string index = tool.MakeIndex("idx", 7, tool.Path("base.fvecs"));
  auto knn = [&](std::vector<std::string> extra, ToolRun* run) {
    std::vector<std::string> args = {"knn",      index, tool.Path("queries.bin"), "-k", "5",
                                     "--format", "json"};
    args.insert(args.end(), extra.begin(), extra.end());
    *run = tool.Run(args);
    return nlohmann::json::parse(run->out, nullptr, false);
  };
  ToolRun run;
  const nlohmann::json exact = knn({}, &run);
  ASSERT_EQ(run.exitCode, 0) << run.err;
  const struct {
    int method;
    const char* threshold;
    bool needsStatistics;
  } kMethods[] = {{1, "0.01", true}, {2, "0.5", false}, {3, "0.05", true}, {4, "-0.001", false}};
  for (bool measured : {false, true}) {
    if (measured) {
      ToolRun stats = tool.Run({"-q", "stats", index});
      ASSERT_EQ(stats.exitCode, 0) << stats.err;
    }
    for (const auto& m : kMethods) {
      SCOPED_TRACE("method " + std::to_string(m.method) + (measured ? " measured" : ""));
      const nlohmann::json j =
          knn({"--method", std::to_string(m.method), "--threshold", m.threshold}, &run);
      if (m.needsStatistics && !measured) {
        EXPECT_EQ(run.exitCode, 1);
        EXPECT_TRUE(Has(run.err, "run `simdex stats " + index + "` first")) << run.err;
        continue;
      }
      ASSERT_EQ(run.exitCode, 0) << run.err;
      EXPECT_EQ(j["method"], m.method);
      EXPECT_EQ(j["threshold"], std::stod(m.threshold));
      for (std::size_t q = 0; q < 8; ++q) {
        const auto& approximate = j["queries"][q]["results"];
        EXPECT_LE(approximate.size(), 5u);
        for (std::size_t i = 0; i < approximate.size(); ++i) {
          EXPECT_GE(approximate[i]["distance"].get<double>(),
                    exact["queries"][q]["results"][i]["distance"].get<double>())
              << q << " rank " << i;
        }
      }
    }
  }
}

}  // namespace
}  // namespace simdex::cli
