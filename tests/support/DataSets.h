#pragma once
// Data sets shared by tests, benchmarks and the example client: generated
// clustered vectors (repeatable on every platform: own generator and own
// normal deviates, no implementation-defined library distributions) and the
// real colour-histogram samples shipped beside the project.
#include <cstdint>
#include <string>
#include <vector>

#include "tools/generators/ClusteredGenerator.h"
#include "tools/generators/SplitMix64.h"

namespace simdex::testing {

// The generators live with the simdex command, which writes the same data.
using simdex::ClusteredVectors;
using simdex::SplitMix64;

// `count` vectors uniform in [0,1]^dim.
std::vector<double> UniformVectors(int count, int dim, std::uint64_t seed = 7);

// Directory of the real data samples shipped in data/ (hist45-small.bin, ...).
std::string SharedDataDir();

// Reads a raw little-endian float64 file of rows of `dim` doubles; empty on
// failure (missing file, size not a multiple of a row).
std::vector<double> ReadDoubles(const std::string& path, int dim);

// Reads a raw little-endian float64 file as is (for distance tables).
std::vector<double> ReadRawDoubles(const std::string& path);

// Reads an ivecs file (int32 k followed by k int32, per record).
std::vector<std::vector<std::int32_t>> ReadIvecs(const std::string& path);

}  // namespace simdex::testing
