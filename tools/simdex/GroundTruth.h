#pragma once
// The exact k nearest neighbours of each query of a query file: identifiers
// in a TEXMEX .ivecs file (per query int32 k, then k int32 row numbers) and
// their distances in a raw little-endian float64 file (every query's k
// distances one after another, no header), nearest first. This is the layout
// of the shipped sample data and of `simdex truth`.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/Status.h"

namespace simdex::cli {

class GroundTruth {
 public:
  // The distance file that goes with idsFile: its name without the extension
  // plus "_dist.bin", in the same directory.
  static std::string DistanceFileFor(const std::string& idsFile);

  // Reads both files. Every failure names the file and, where it concerns
  // one, the query row: a truncated record, a negative count or identifier, a
  // distance that is negative or not a number, or a distance file whose size
  // does not match the identifiers.
  static Status Load(const std::string& idsFile, const std::string& distancesFile,
                     GroundTruth* out);

  std::size_t queries() const { return ids_.size(); }
  const std::vector<std::uint32_t>& ids(std::size_t query) const { return ids_[query]; }
  const std::vector<double>& distances(std::size_t query) const { return distances_[query]; }

 private:
  std::vector<std::vector<std::uint32_t>> ids_;
  std::vector<std::vector<double>> distances_;
};

}  // namespace simdex::cli
