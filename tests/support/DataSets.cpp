#include "tests/support/DataSets.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <fstream>
#include <iterator>

#include "platform/Coding.h"

namespace simdex::testing {

std::vector<double> UniformVectors(int count, int dim, std::uint64_t seed) {
  SplitMix64 rng(seed);
  std::vector<double> out(static_cast<std::size_t>(count) * dim);
  for (double& v : out) v = rng.Uniform();
  return out;
}

std::string SharedDataDir() {
#ifdef SIMDEX_SHARED_DATA_DIR
  return SIMDEX_SHARED_DATA_DIR;
#else
  return "data";
#endif
}

namespace {
std::vector<unsigned char> ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return {};
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}
}  // namespace

std::vector<double> ReadRawDoubles(const std::string& path) {
  const std::vector<unsigned char> bytes = ReadFile(path);
  if (bytes.size() % 8 != 0) return {};
  std::vector<double> out(bytes.size() / 8);
  for (std::size_t i = 0; i < out.size(); ++i) out[i] = DecodeDouble(&bytes[i * 8]);
  return out;
}

std::vector<double> ReadDoubles(const std::string& path, int dim) {
  std::vector<double> out = ReadRawDoubles(path);
  if (dim <= 0 || out.size() % static_cast<std::size_t>(dim) != 0) return {};
  return out;
}

std::vector<std::vector<std::int32_t>> ReadIvecs(const std::string& path) {
  const std::vector<unsigned char> bytes = ReadFile(path);
  std::vector<std::vector<std::int32_t>> out;
  std::size_t pos = 0;
  while (pos + 4 <= bytes.size()) {
    const std::int32_t k = DecodeInt32(&bytes[pos]);
    pos += 4;
    if (k < 0 || bytes.size() - pos < static_cast<std::size_t>(k) * 4) return {};
    std::vector<std::int32_t> row(static_cast<std::size_t>(k));
    for (auto& v : row) {
      v = DecodeInt32(&bytes[pos]);
      pos += 4;
    }
    out.push_back(std::move(row));
  }
  return out;
}

}  // namespace simdex::testing
