#include "tools/simdex/IndexTool_test.h"

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <nlohmann/json.hpp>

#include "platform/Coding.h"
#include "tests/support/DataSets.h"

namespace simdex::cli {

IndexTool::IndexTool() : registry_(dir_.File("registry.txt")) {
  ToolRun r =
      Run({"register", SIMDEX_SIMDEXDLL_MODULE, SIMDEX_VECTORA_MODULE, SIMDEX_VECTORB_MODULE});
  EXPECT_EQ(r.exitCode, 0) << r.err;
}

ToolRun IndexTool::Run(std::vector<std::string> args) const {
  args.push_back("--registry");
  args.push_back(registry_);
  return RunTool(args);
}

std::string IndexTool::MakeIndex(const std::string& name, double maxDistance,
                                 const std::string& file) const {
  const std::string dir = Path(name);
  ToolRun r =
      Run({"create", dir, "--class", "VectorA", "--max-distance", std::to_string(maxDistance)});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  if (!file.empty()) {
    r = Run({"-q", "insert", dir, file});
    EXPECT_EQ(r.exitCode, 0) << r.err;
  }
  return dir;
}

std::int64_t IndexTool::Objects(const std::string& index) const {
  ToolRun r = Run({"info", index, "--format", "json"});
  if (r.exitCode != 0) return -1;
  auto j = nlohmann::json::parse(r.out, nullptr, false);
  if (j.is_discarded()) return -1;
  return j.value("objects", std::int64_t{-1});
}

IndexTool::Nearest IndexTool::NearestOf(const std::string& index,
                                        const std::vector<double>& query) const {
  const std::string file = Path("nearest-query.bin");
  WriteRawDoubles(file, {query});
  ToolRun r = Run({"knn", index, file, "-k", "1", "--format", "json"});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  auto j = nlohmann::json::parse(r.out, nullptr, false);
  Nearest n;
  if (j.is_discarded() || j["queries"].empty() || j["queries"][0]["results"].empty()) return n;
  n.id = j["queries"][0]["results"][0]["id"];
  n.distance = j["queries"][0]["results"][0]["distance"];
  return n;
}

std::vector<std::vector<double>> TestRows(int count, int dim, std::uint64_t seed) {
  const std::vector<double> flat = testing::ClusteredVectors(count, dim, 5, 0.1, seed);
  std::vector<std::vector<double>> rows;
  for (int i = 0; i < count; ++i) {
    std::vector<double> row;
    // Values a float holds exactly: every file format then stores the same
    // vector.
    for (int d = 0; d < dim; ++d) {
      row.push_back(static_cast<float>(flat[static_cast<std::size_t>(i) * dim + d]));
    }
    rows.push_back(std::move(row));
  }
  return rows;
}

void WriteFvecs(const std::string& path, const std::vector<std::vector<double>>& rows) {
  std::ofstream out(path, std::ios::binary);
  for (const auto& row : rows) {
    unsigned char bytes[4];
    EncodeFixed32(bytes, static_cast<std::uint32_t>(row.size()));
    out.write(reinterpret_cast<const char*>(bytes), 4);
    for (double v : row) {
      const auto f = static_cast<float>(v);
      std::uint32_t bits = 0;
      std::memcpy(&bits, &f, 4);
      EncodeFixed32(bytes, bits);
      out.write(reinterpret_cast<const char*>(bytes), 4);
    }
  }
  ASSERT_TRUE(out.good()) << path;
}

void WriteRawDoubles(const std::string& path, const std::vector<std::vector<double>>& rows) {
  std::ofstream out(path, std::ios::binary);
  for (const auto& row : rows) {
    for (double v : row) {
      unsigned char bytes[8];
      EncodeDouble(bytes, v);
      out.write(reinterpret_cast<const char*>(bytes), 8);
    }
  }
  ASSERT_TRUE(out.good()) << path;
}

void WriteText(const std::string& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary);
  out << text;
  ASSERT_TRUE(out.good()) << path;
}

}  // namespace simdex::cli
