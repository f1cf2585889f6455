#pragma once
// A repeatable 64-bit generator (splitmix64) with its own uniform and normal
// deviates: the same numbers on every platform and library, unlike the
// standard distributions, whose output is implementation-defined.
#include <cstdint>

namespace simdex {

class SplitMix64 {
 public:
  explicit SplitMix64(std::uint64_t seed) : state_(seed) {}
  std::uint64_t Next();
  // Uniform in [0, 1).
  double Uniform();
  // Standard normal deviate (Box-Muller, one value per call).
  double Normal();

 private:
  std::uint64_t state_;
};

}  // namespace simdex
