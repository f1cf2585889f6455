#include "tools/generators/SplitMix64.h"

#include <cmath>

namespace simdex {

std::uint64_t SplitMix64::Next() {
  std::uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
  return z ^ (z >> 31);
}

// The top 53 bits fill a double's mantissa exactly.
double SplitMix64::Uniform() { return static_cast<double>(Next() >> 11) * 0x1.0p-53; }

double SplitMix64::Normal() {
  // 1 - u keeps the logarithm's argument in (0, 1].
  const double u1 = 1.0 - Uniform();
  const double u2 = Uniform();
  return std::sqrt(-2.0 * std::log(u1)) * std::cos(6.283185307179586 * u2);
}

}  // namespace simdex
