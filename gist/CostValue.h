#pragma once
// The cost of putting a new entry under an existing one (lower is better), as
// answered by TreeEntry::InsertionCost. Entry classes may derive richer costs.
namespace simdex {

class CostValue {
 public:
  CostValue() = default;
  explicit CostValue(double value) : value_(value) {}
  virtual ~CostValue() = default;

  // Stores value and returns it.
  virtual double SetValue(double value) { return value_ = value; }

  // Nonzero when this cost is strictly less than other's. A NaN on either side
  // also answers nonzero, so that a broken cost never hides a valid one behind
  // a "not less" answer.
  virtual int LessThan(const CostValue& other) const { return !(value_ >= other.value_); }

  double Value() const { return value_; }

 private:
  double value_ = 0;
};

}  // namespace simdex
