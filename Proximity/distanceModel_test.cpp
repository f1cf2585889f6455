#include "Proximity/distanceModel.h"

#include <gtest/gtest.h>

#include <functional>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "Proximity/TempDir_test.h"

namespace simdex {
namespace {

using testing_support::AssertionReport;
using testing_support::TempDir;

// Text of a sampled-function file with samples at min + i * (max - min) / n.
std::string FunctionText(const std::string& min, const std::string& max, int intervals,
                         const std::vector<double>& values = {}) {
  std::string text = min + " " + max + " " + std::to_string(intervals) + "\n";
  const double lo = std::stod(min), hi = std::stod(max);
  for (std::size_t i = 0; i < values.size(); ++i) {
    std::ostringstream line;
    line << lo + static_cast<double>(i) * (hi - lo) / intervals << ' ' << values[i] << '\n';
    text += line.str();
  }
  return text;
}

// Writes the three files (a missing one when its text is nullopt) and builds
// the model from them.
distanceModel Build(const TempDir& dir, const std::optional<std::string>& density,
                    const std::optional<std::string>& distribution,
                    const std::optional<std::string>& t) {
  auto place = [&](const char* name, const std::optional<std::string>& text) {
    return text ? dir.Write(name, *text) : dir.Path(std::string("missing-") + name);
  };
  return distanceModel(place("Density.dat", density), place("Distribution.dat", distribution),
                       place("T.dat", t));
}

TEST(DistanceModel, TakesTheCommonRangeAndTheSmallestStep) {
  TempDir dir;
  distanceModel model = Build(dir, FunctionText("0", "10", 1000), FunctionText("0", "10", 500),
                              FunctionText("0", "10", 2000));
  ASSERT_TRUE(model.isInitialised());
  EXPECT_EQ(model.getEpsilon(), 10.0 / 2000);
  EXPECT_EQ(model.getMinXRange(), 0);
  EXPECT_EQ(model.getMaxXRange(), 10);
}

TEST(DistanceModel, RangeIsTheHeaderUpperEndNotTheLastSample) {
  TempDir dir;
  const std::string text = "0 9.99999 4\n0 1\n2.5 1\n";
  distanceModel model = Build(dir, text, text, text);
  ASSERT_TRUE(model.isInitialised());
  EXPECT_EQ(model.getMaxXRange(), 9.99999);
}

TEST(DistanceModel, StaysUnusableWhenAFileFailsOrTheRangesDisagree) {
  struct Case {
    const char* what;
    std::optional<std::string> density, distribution, t;
  };
  const std::string good = FunctionText("0", "10", 1000);
  const Case cases[] = {
      {"density missing", std::nullopt, good, good},
      {"distribution missing", good, std::nullopt, good},
      {"T missing", good, good, std::nullopt},
      {"distribution unreadable", good, "0 10 abc\n", good},
      {"upper end differs in the sixth digit", good, FunctionText("0", "10.0001", 1000), good},
      {"T upper end differs", good, good, FunctionText("0", "9.99999", 1000)},
      {"lower end differs", good, FunctionText("0.001", "10", 1000), good},
      // proximity needs F(0) inside the range
      {"range starts above 0", FunctionText("1", "10", 9), FunctionText("1", "10", 9),
       FunctionText("1", "10", 9)},
  };
  TempDir dir;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    distanceModel model = Build(dir, c.density, c.distribution, c.t);
    EXPECT_FALSE(model.isInitialised());
    EXPECT_EQ(model.getMinXRange(), 0);
    EXPECT_EQ(model.getMaxXRange(), 0);
    EXPECT_EQ(model.getEpsilon(), 0);
  }
}

TEST(DistanceModel, RefusesToChangeOrActAsOneFunction) {
  TempDir dir;
  const std::string text = FunctionText("0", "4", 4, {1, 1, 1, 1, 1});
  distanceModel model = Build(dir, text, text, text);
  EXPECT_FALSE(model.load(dir.Path("Density.dat")));
  EXPECT_FALSE(model.save(dir.Path("out.dat")));
  EXPECT_FALSE(model.insertPair(1, 1));
  EXPECT_FALSE(model.updatePair(1, 1));
  EXPECT_FALSE(model.deletePair(1));
  EXPECT_TRUE(model.isInitialised());
}

// f = 1, 2, 3, 4, 5 and F = 0.125, 0.25, 0.5, 0.75, 1 on [0, 4] with step 1,
// so every sum below is exact in binary.
struct ProximityCase {
  const char* what;
  std::vector<double> distribution;
  double d, rq, r;
  double expected;
};

class ProximityTest : public testing::Test {
 protected:
  distanceModel Model(const std::vector<double>& distribution) {
    const std::string f = FunctionText("0", "4", 4, {1, 2, 3, 4, 5});
    return Build(dir_, f, FunctionText("0", "4", 4, distribution), f);
  }
  TempDir dir_;
};

TEST_F(ProximityTest, SumsDensityTimesShareOverTheGrid) {
  const std::vector<double> F = {0.125, 0.25, 0.5, 0.75, 1};
  const ProximityCase cases[] = {
      {"disjoint balls", F, 3, 1, 1, 0},
      {"disjoint, centre far outside the range", F, 100, 4, 4, 0},
      {"rq = d does not contain the centre: stops at rq", F, 2, 2, 2, 6 * 0.375},
      {"rq > d runs up to M", F, 2, 3, 2, 10 * 0.375 + 5 * 0.125},
      {"rq < d stops at the last point not above rq", F, 3, 2.5, 3, 6 * 0.625},
      {"d = 0, rq = r = 2", F, 0, 2, 2, 1 * 0.875 + 2 * 0.875 + (3 + 4 + 5) * 0.375},
      {"region inside query, r > d", F, 1, 4, 2, 1 * 0.875 + (2 + 3 + 4 + 5) * 0.375},
      {"region inside query, r = d", F, 1, 3, 1, 15 * 0.125},
      // F(0) skips the zero samples to 0.5, and every share is measured from it.
      {"F starting with zeros", {0, 0, 0.5, 0.75, 1}, 3, 2, 3, 6 * 0.25},
  };
  for (const ProximityCase& c : cases) {
    SCOPED_TRACE(c.what);
    distanceModel model = Model(c.distribution);
    ASSERT_TRUE(model.isInitialised());
    EXPECT_EQ(model.proximity(c.d, c.rq, c.r), c.expected);
  }
}

TEST(DistanceModelDeathTest, StopsOnUnusableModelOrFunctionCalls) {
  TempDir dir;
  const std::string text = FunctionText("0", "4", 4, {1, 1, 1, 1, 1});
  struct Case {
    std::function<void(distanceModel&)> call;
    bool initialised;
    std::string report;
  };
  const Case cases[] = {
      {[](distanceModel& m) { m.proximity(1, 1, 1); }, false, AssertionReport("initialised")},
      {[](distanceModel& m) { m.evaluate(1); }, true, AssertionReport("false")},
      {[](distanceModel& m) { m.setEpsilon(1); }, true, AssertionReport("false")},
      {[](distanceModel& m) { m.setSamples(4); }, true, AssertionReport("false")},
      {[](distanceModel& m) { m.getSamples(); }, true, AssertionReport("false")},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.report);
    distanceModel model =
        Build(dir, text, text, c.initialised ? std::optional(text) : std::nullopt);
    ASSERT_EQ(model.isInitialised(), c.initialised);
    EXPECT_DEATH(c.call(model), c.report);
  }
}

}  // namespace
}  // namespace simdex
