#include "tests/support/DataSets.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <fstream>
#include <iterator>

#include "platform/Coding.h"

namespace simdex::testing {

std::uint64_t SplitMix64::Next() {
  std::uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
  return z ^ (z >> 31);
}

double SplitMix64::Uniform() { return static_cast<double>(Next() >> 11) * 0x1.0p-53; }

double SplitMix64::Normal() {
  // 1 - u keeps the logarithm's argument in (0, 1].
  const double u1 = 1.0 - Uniform();
  const double u2 = Uniform();
  return std::sqrt(-2.0 * std::log(u1)) * std::cos(6.283185307179586 * u2);
}

std::vector<double> ClusteredVectors(int count, int dim, int clusters, double sigma,
                                     std::uint64_t seed) {
  SplitMix64 rng(seed);
  std::vector<double> centres(static_cast<std::size_t>(clusters) * dim);
  for (double& c : centres) c = rng.Uniform();
  std::vector<double> out(static_cast<std::size_t>(count) * dim);
  for (int i = 0; i < count; ++i) {
    const double* centre = &centres[static_cast<std::size_t>(i % clusters) * dim];
    for (int k = 0; k < dim; ++k) {
      out[static_cast<std::size_t>(i) * dim + k] =
          std::clamp(centre[k] + sigma * rng.Normal(), 0.0, 1.0);
    }
  }
  return out;
}

std::vector<double> UniformVectors(int count, int dim, std::uint64_t seed) {
  SplitMix64 rng(seed);
  std::vector<double> out(static_cast<std::size_t>(count) * dim);
  for (double& v : out) v = rng.Uniform();
  return out;
}

std::string SampleDataDir() {
#ifdef SIMDEX_SAMPLE_DATA_DIR
  return SIMDEX_SAMPLE_DATA_DIR;
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
