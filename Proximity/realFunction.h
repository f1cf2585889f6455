#pragma once
// A real function of one real variable on the closed range
// [minXRange, maxXRange], looked at with the step `epsilon`. Storage and
// evaluation belong to the derived classes; the step, the range accessors, a
// numeric derivative and a numeric integral live here.
//
// The virtual operations keep this order: derived classes and the distance
// model override them slot by slot.
#include <string>

namespace simdex {

class realFunction {
 public:
  realFunction() = default;
  realFunction(const realFunction&) = delete;
  realFunction& operator=(const realFunction&) = delete;
  virtual ~realFunction();

  // Reads the function from a text file; false when it cannot.
  virtual bool load(const std::string& fileName) = 0;
  // Writes the function to a text file; false when it cannot.
  virtual bool save(const std::string& fileName) const = 0;
  // The value at x. Precondition: x within the range of a usable function.
  virtual double evaluate(double x) const = 0;
  // Merges the observation (x, y) into the function.
  virtual bool insertPair(double x, double y) = 0;
  // Replaces the value at x.
  virtual bool updatePair(double x, double y) = 0;
  // Removes what is known at x.
  virtual bool deletePair(double x) = 0;
  // Stores a new step.
  virtual void setEpsilon(double step);
  virtual double getEpsilon() const;
  // Backward difference: (f(x) - f(x - epsilon)) / epsilon.
  virtual double derivative(double x) const;
  // Trapezoid rule with step epsilon from a while the next step stays within b;
  // 0 when [a, b] is shorter than one step.
  virtual double integral(double a, double b) const;
  // Number of intervals of the sample grid.
  virtual void setSamples(int intervals) = 0;
  virtual int getSamples() const = 0;
  virtual double getMinXRange() const;
  virtual double getMaxXRange() const;

 protected:
  double epsilon = 0.0;
  double minXRange = 0.0;
  double maxXRange = 0.0;
};

}  // namespace simdex
