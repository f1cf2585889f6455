#pragma once
// Follows how fast the k-th distance of a nearest-neighbour search shrinks.
// It keeps the last 10 improvements as points (x = call count, y = distance
// divided by the largest distance of the model), fits y against ln x by least
// squares and reports the slope of the fit, which rises towards 0 as the
// improvements slow down.
#include <array>
#include <cstdint>

namespace simdex {

class slowdownTracker {
 public:
  // Capacity of the window: ten points are enough to fit the trend and few
  // enough to follow its latest stretch.
  static constexpr std::int32_t kWindow = 10;

  slowdownTracker() = default;
  slowdownTracker(const slowdownTracker&) = default;
  slowdownTracker& operator=(const slowdownTracker&) = default;
  virtual ~slowdownTracker();

  // Records the k-th distance dk, normalised by maxXRange (> 0). The largest
  // double (no k-th object yet) is not recorded. A smaller value than the
  // newest entry adds an entry (dropping the oldest when the window is full);
  // any other value moves the newest entry to the current count.
  void addDistance(double dk, double maxXRange);
  // The call count of the newest entry, 0 while the window is empty.
  int lastCount() const;
  // The least-squares line of y against ln x over the entries, at ln a. Needs
  // two entries; with fewer the result is not a number.
  double predict(double a) const;
  // Forward difference of predict at a with step 0.0001; the most negative
  // double while the window holds fewer than two entries.
  double slope(double a) const;

  std::int32_t getWindow() const { return window; }
  // Index of the newest entry, -1 while the window is empty.
  std::int32_t getLast() const { return last; }
  // Number of distances recorded since the tracker was made.
  std::int32_t getCount() const { return count; }
  // Entry i, 0 <= i <= getLast(), oldest first.
  std::int32_t getX(int i) const;
  double getY(int i) const;

 private:
  std::int32_t window = kWindow;
  std::array<std::int32_t, kWindow> x{};
  std::array<double, kWindow> y{};
  std::int32_t count = 0;
  std::int32_t last = -1;
};

}  // namespace simdex
