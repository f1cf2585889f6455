#pragma once
// The distance distribution of one index: the density f, the distribution F
// and the T function, loaded from three sampled-function text files that must
// agree on their range. The model's step is the smallest of the three steps;
// it is the grid of the region proximity.
#include <string>

#include "Proximity/realFunction.h"
#include "Proximity/simpleSampledFunction.h"

namespace simdex {

class distanceModel : public realFunction {
 public:
  // Loads the three files in this order, stopping at the first that fails.
  // Always yields a model; isInitialised() tells whether it is usable. A model
  // that failed reports the range [0, 0] and the step 0.
  distanceModel(const std::string& densityFile, const std::string& distributionFile,
                const std::string& tFile);
  ~distanceModel() override;

  // A model is built from three files, never loaded or saved as one: false.
  bool load(const std::string& fileName) override;
  bool save(const std::string& fileName) const override;
  // Not a function of one variable: stops the process ("false").
  double evaluate(double x) const override;
  // The model never changes after construction: false.
  bool insertPair(double x, double y) override;
  bool updatePair(double x, double y) override;
  bool deletePair(double x) override;
  // The step follows from the files: stops the process ("false").
  void setEpsilon(double step) override;
  void setSamples(int intervals) override;
  int getSamples() const override;

  // Estimate of what the query ball (radius rq, centre at distance d from the
  // region's centre) and the region's ball (radius r) have in common: a left
  // Riemann sum over the model's grid of f(x) * (F(m(x)) - F(0)).
  // Preconditions: the model is initialised (assertion "initialised"),
  // 0 <= rq, r <= maxXRange and d >= 0. Allocates nothing.
  double proximity(double d, double rq, double r) const;

  bool isInitialised() const { return initialised; }
  const simpleSampledFunction& getDensity() const { return density; }
  const simpleSampledFunction& getDistribution() const { return distribution; }
  const simpleSampledFunction& getTFunction() const { return tFunction; }

 private:
  simpleSampledFunction density;
  simpleSampledFunction distribution;
  simpleSampledFunction tFunction;
  bool initialised = false;
};

}  // namespace simdex
