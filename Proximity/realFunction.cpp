#include "Proximity/realFunction.h"

namespace simdex {

realFunction::~realFunction() = default;

void realFunction::setEpsilon(double step) { epsilon = step; }

double realFunction::getEpsilon() const { return epsilon; }

double realFunction::derivative(double x) const {
  return (evaluate(x) - evaluate(x - epsilon)) / epsilon;
}

double realFunction::integral(double a, double b) const {
  if (a > b - epsilon) return 0.0;
  double sum = 0.0;
  double x = a;
  do {
    sum += (evaluate(x) + evaluate(x + epsilon)) * 0.5;
    x += epsilon;
  } while (x <= b - epsilon);
  return epsilon * sum;
}

double realFunction::getMinXRange() const { return minXRange; }

double realFunction::getMaxXRange() const { return maxXRange; }

}  // namespace simdex
