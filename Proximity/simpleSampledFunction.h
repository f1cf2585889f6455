#pragma once
// A real function held as ns + 1 equally spaced samples over
// [minXRange, maxXRange]: sample i stands for x = minXRange + i * epsilon.
// Filled by running means (insertPair, nearest sample) or by histogram
// accumulation (accumulatePair, sample at or below x), and kept on disk as a
// small text file: a header line "min max ns" and one "x y" line per sample,
// reals with 6 significant digits in general format.
//
// A sample whose value is exactly 0 counts as a sample without data: evaluate
// skips forward over it to the next non-zero sample.
#include <cstdint>
#include <string>
#include <vector>

#include "Proximity/realFunction.h"

namespace simdex {

class simpleSampledFunction : public realFunction {
 public:
  // One sample: its value and the number of observations merged into it.
  struct Sample {
    double value = 0.0;
    std::int32_t count = 0;
  };

  // The largest number of intervals `load` accepts. A file is untrusted input:
  // its header must not make us allocate gigabytes. Ten million intervals
  // (160 MB of samples) is far above the 1000 the index writes.
  static constexpr std::int32_t kMaxLoadIntervals = 10'000'000;

  // Empty: range [0, 0], no samples, not initialised.
  simpleSampledFunction() = default;
  ~simpleSampledFunction() override;

  // Replaces the function by the content of a sampled-function text file.
  // Each "x y" pair is merged with insertPair, so two pairs for one sample
  // give their mean and samples that no pair reaches stay 0. Returns false,
  // leaving the function reset (not initialised), when the file cannot be
  // opened, a token is not a finite number, the header is incomplete, the
  // range is empty or unusable, ns is not an integer in 1..kMaxLoadIntervals,
  // the last pair is cut short, or a position lies outside the range.
  // Never creates the file.
  bool load(const std::string& fileName) override;
  // Writes the header and one line per sample (position, evaluate(position)).
  // False when the file cannot be created or written, or the function is not
  // initialised.
  bool save(const std::string& fileName) const override;
  // The sample at or below x; a zero sample takes the value of the next
  // non-zero one above it (0 if there is none).
  double evaluate(double x) const override;
  // Running mean into the nearest sample (a point halfway goes up). Always true.
  bool insertPair(double x, double y) override;
  // Refused: prints "updatePair disabled" and stops the process.
  bool updatePair(double x, double y) override;
  // Refused: prints "deletePair disabled" and stops the process.
  bool deletePair(double x) override;
  // Refused: prints "setEpsilon disabled" and stops the process. The step
  // follows from the range and the number of intervals.
  void setEpsilon(double step) override;
  // Sets the number of intervals (precondition >= 0) and clears every sample.
  // With a range already set and at least one interval the function becomes
  // initialised. Zero intervals would give an infinite step, so the function
  // then stays (or becomes) not initialised.
  void setSamples(int intervals) override;
  int getSamples() const override;

  // Sets the range (precondition min < max); with intervals already set the
  // step is derived and the function becomes initialised.
  void setRange(double min, double max);
  // Back to empty: range [0, 0], no samples, not initialised. The step stays.
  void reset();
  // Histogram: adds y to the sample at or below x. Always true.
  bool accumulatePair(double x, double y);

  bool isInitialised() const { return initialised; }
  // Sample i, 0 <= i <= ns.
  const Sample& getSample(int i) const;

 private:
  // Index of the sample at or below x (floor of the quotient) or, with
  // `nearest`, of the nearest one (floor of the quotient + 0.5).
  int indexOf(double x, bool nearest) const;
  void checkArgument(double x) const;

  std::vector<Sample> samples;
  bool initialised = false;
  std::int32_t ns = 0;
};

}  // namespace simdex
