#include "Proximity/approximation.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include "Proximity/TempDir_test.h"

namespace simdex {
namespace {

using testing_support::AssertionReport;
using testing_support::TempDir;

constexpr double kNoDistance = std::numeric_limits<double>::max();

// Settings with a model over [0, 4] (step 1): f = 1, 2, 3, 4, 5 and
// F = 0.125, 0.25, 0.5, 0.75, 1.
class ApproximationTest : public testing::Test {
 protected:
  std::unique_ptr<distanceModel> LoadModel(bool usable = true) {
    const std::string f = dir_.Write("f.dat", "0 4 4\n0 1\n1 2\n2 3\n3 4\n4 5\n");
    const std::string F = dir_.Write("F.dat", "0 4 4\n0 0.125\n1 0.25\n2 0.5\n3 0.75\n4 1\n");
    return std::make_unique<distanceModel>(f, F, usable ? f : dir_.Path("missing"));
  }
  void Select(std::int32_t method, std::vector<double> thresholds) {
    settings_.approximationMethod = method;
    settings_.thresholds = std::move(thresholds);
  }

  TempDir dir_;
  ApproximationSettings settings_;
  approximation rules_{settings_};
};

TEST_F(ApproximationTest, NoRuleMeansExactSearch) {
  struct Case {
    std::int32_t method;
    std::vector<double> thresholds;
  };
  // Methods 1 to 4 without a threshold answer no as well, and never reach the
  // (absent) model.
  const Case cases[] = {{0, {0.5}}, {-1, {0.5}}, {5, {0.5}}, {99, {1e9}},
                        {1, {}},    {2, {}},     {3, {}},    {4, {}}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.method);
    Select(c.method, c.thresholds);
    rules_.resetTracker();
    EXPECT_FALSE(rules_.isPrunable(10, 1, 0));
    EXPECT_FALSE(rules_.isPrunableByParent(10, 0, 1, 0));
    EXPECT_FALSE(rules_.canStop(kNoDistance));
    EXPECT_FALSE(rules_.canStop(0.5));
    EXPECT_FALSE(rules_.canStop(0.25));
    EXPECT_EQ(rules_.getTracker().getCount(), 0);
  }
}

TEST_F(ApproximationTest, MethodTwoEnlargesTheSmallestPossibleDistance) {
  struct Case {
    double t, dqp, drp, rq, r;
    bool prune;
  };
  const Case cases[] = {
      {0, 1, 6, 2.9, 2, true},                                // t = 0: exactly d - r > rq
      {0, 6, 1, 3, 2, false},     {0.5, 1, 11, 11, 2, true},  // 1.5 * 8 = 12 > 11, though an exact
                                                              // search visits it
      {0.5, 11, 1, 12, 2, false}, {0.5, 1, 11, kNoDistance, 2, false}, {0.5, 1, 11, 11, 8, false},
  };
  settings_.model = LoadModel();
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "t=" << c.t << " d=" << std::fabs(c.dqp - c.drp)
                                    << " rq=" << c.rq << " r=" << c.r);
    for (const std::vector<double>& thresholds :
         {std::vector<double>{c.t}, std::vector<double>{c.t, 100, -100}}) {
      Select(2, thresholds);
      EXPECT_EQ(rules_.isPrunable(std::fabs(c.dqp - c.drp), c.rq, c.r), c.prune);
      EXPECT_EQ(rules_.isPrunableByParent(c.dqp, c.drp, c.rq, c.r), c.prune);
    }
    EXPECT_FALSE(rules_.canStop(0));
  }
}

TEST_F(ApproximationTest, MethodOneComparesTheProximityWithTheThreshold) {
  settings_.model = LoadModel();
  const distanceModel& model = *settings_.model;
  struct Case {
    double d, rq, r, t;
    bool prune;
  };
  const double overlap = model.proximity(2, 2, 2);  // 2.25
  const double clamped = model.proximity(1, 4, 4);
  const Case cases[] = {
      {3, 1, 1, 0, true},  // disjoint balls: proximity 0
      {3, 1, 1, 0.3, true},
      {2, 2, 2, overlap, true},
      {2, 2, 2, overlap - 0.01, false},
      // radii beyond the model's range are clamped to it, d is not
      {1, kNoDistance, 100, clamped, true},
      {1, kNoDistance, 100, clamped - 0.01, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message()
                 << "d=" << c.d << " rq=" << c.rq << " r=" << c.r << " t=" << c.t);
    Select(1, {c.t});
    EXPECT_EQ(rules_.isPrunable(c.d, c.rq, c.r), c.prune);
    EXPECT_FALSE(rules_.isPrunableByParent(c.d + 10, 0, c.rq, c.r));
  }
}

TEST_F(ApproximationTest, MethodThreeStopsWhenTheDistributionBelowDkIsSmall) {
  settings_.model = LoadModel();
  struct Case {
    double dk, t;
    bool stop;
  };
  const Case cases[] = {
      {kNoDistance, 1, true},  // fewer than k found yet: dk is clamped to M, F(M) = 1
      {kNoDistance, 0.99, false}, {100, 1, true},   {1.5, 0.25, true},
      {1.5, 0.2, false},          {0, 0.125, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "dk=" << c.dk << " t=" << c.t);
    Select(3, {c.t});
    EXPECT_EQ(rules_.canStop(c.dk), c.stop);
    EXPECT_FALSE(rules_.isPrunable(10, 1, 0));
  }
  EXPECT_EQ(rules_.getTracker().getCount(), 0);
}

TEST_F(ApproximationTest, MethodFourStopsWhenTheImprovementSlowsToTheThreshold) {
  settings_.model = LoadModel();  // M = 4
  // k-th distances on y = 2 - 0.5 ln n: the slope at n is about -0.5 / n and
  // reaches -0.05 at the tenth finite distance.
  Select(4, {-0.05});
  EXPECT_FALSE(rules_.canStop(kNoDistance));
  EXPECT_FALSE(rules_.canStop(kNoDistance));
  for (int n = 1; n <= 10; ++n) {
    SCOPED_TRACE(n);
    EXPECT_EQ(rules_.canStop(4 * (2 - 0.5 * std::log(n))), n == 10);
  }
  EXPECT_EQ(rules_.getTracker().getCount(), 10);

  // With a single point there is no slope, whatever the threshold.
  rules_.resetTracker();
  EXPECT_EQ(rules_.getTracker().getCount(), 0);
  Select(4, {std::numeric_limits<double>::lowest() / 2});
  EXPECT_FALSE(rules_.canStop(3));
  EXPECT_TRUE(rules_.canStop(2));

  // Without a usable model there is no scale: never stops.
  rules_.resetTracker();
  settings_.model = LoadModel(false);
  EXPECT_FALSE(rules_.canStop(3));
  EXPECT_FALSE(rules_.canStop(2));
}

TEST_F(ApproximationTest, TellsWhichMethodsNeedAModel) {
  for (std::int32_t method : {-1, 0, 1, 2, 3, 4, 5})
    EXPECT_EQ(approximation::RequiresModel(method), method == 1 || method == 3) << method;
  EXPECT_FALSE(rules_.ModelReady());
  settings_.model = LoadModel(false);
  EXPECT_FALSE(rules_.ModelReady());
  settings_.model = LoadModel();
  EXPECT_TRUE(rules_.ModelReady());
}

using ApproximationDeathTest = ApproximationTest;

TEST_F(ApproximationDeathTest, MethodsOneAndThreeStopTheProcessWithoutAModel) {
  struct Case {
    std::int32_t method;
    bool loadUnusable;
    std::function<void(approximation&)> call;
  };
  const Case cases[] = {
      {1, false, [](approximation& a) { a.isPrunable(1, 1, 1); }},
      {1, true, [](approximation& a) { a.isPrunable(1, 1, 1); }},
      {3, false, [](approximation& a) { a.canStop(1); }},
      {3, true, [](approximation& a) { a.canStop(1); }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message()
                 << "method " << c.method << (c.loadUnusable ? " unusable" : " none"));
    settings_.model = c.loadUnusable ? LoadModel(false) : nullptr;
    Select(c.method, {0.5});
    EXPECT_DEATH(c.call(rules_), AssertionReport("initialised"));
  }
}

}  // namespace
}  // namespace simdex
