#pragma once
// Test support for the index commands: the built simdex command with a
// registry of its own (the three modules registered by path), and small
// vector files written for a test.
#include <cstdint>
#include <string>
#include <vector>

#include "tools/simdex/ToolRunner_test.h"

namespace simdex::cli {

class IndexTool {
 public:
  // Registers SimdexDLL, VectorA and VectorB into a registry in a new
  // temporary directory (fails the test when that does not work).
  IndexTool();

  // Runs simdex with args and --registry of this tool.
  ToolRun Run(std::vector<std::string> args) const;
  // A path in the tool's temporary directory.
  std::string Path(const std::string& name) const { return dir_.File(name); }
  const std::string& registry() const { return registry_; }

  // Creates a VectorA index in Path(name) with the given maximum distance,
  // inserts `file` into it when not empty, and answers the directory.
  std::string MakeIndex(const std::string& name, double maxDistance,
                        const std::string& file = "") const;
  // The number of objects `simdex info --format json` reports (-1 on failure).
  std::int64_t Objects(const std::string& index) const;
  // The identifier and distance of the nearest stored object of `query`
  // (dimension 45), through `simdex knn -k 1`.
  struct Nearest {
    std::int64_t id = -1;
    double distance = -1;
  };
  Nearest NearestOf(const std::string& index, const std::vector<double>& query) const;

 private:
  TempDir dir_;
  std::string registry_;
};

// `count` rows of `dim` values: clustered, repeatable, within [0, 1], and
// exactly representable as floats.
std::vector<std::vector<double>> TestRows(int count, int dim, std::uint64_t seed = 11);

// Writers for test files (each fails the test when it cannot write).
void WriteFvecs(const std::string& path, const std::vector<std::vector<double>>& rows);
void WriteRawDoubles(const std::string& path, const std::vector<std::vector<double>>& rows);
void WriteText(const std::string& path, const std::string& text);

}  // namespace simdex::cli
