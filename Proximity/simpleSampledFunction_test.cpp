#include "Proximity/simpleSampledFunction.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "Proximity/TempDir_test.h"

namespace simdex {
namespace {

using testing_support::AssertionReport;
using testing_support::TempDir;

std::unique_ptr<simpleSampledFunction> Make(double min, double max, int intervals) {
  auto f = std::make_unique<simpleSampledFunction>();
  f->setRange(min, max);
  f->setSamples(intervals);
  return f;
}

// Sets sample i to values[i] (one observation each).
void Fill(simpleSampledFunction& f, const std::vector<double>& values) {
  for (std::size_t i = 0; i < values.size(); ++i) {
    double x = f.getMinXRange() + static_cast<double>(i) * f.getEpsilon();
    f.insertPair(std::min(x, f.getMaxXRange()), values[i]);
  }
}

struct IndexCase {
  double min, max;
  int intervals;
  double x;
  int evaluateIndex, insertIndex, accumulateIndex;
};

TEST(SimpleSampledFunction, ChoosesSampleBelowForLookupAndNearestForRunningMean) {
  const IndexCase cases[] = {
      {0, 2, 4, 0.0, 0, 0, 0},
      {0, 2, 4, 0.2499, 0, 0, 0},
      {0, 2, 4, 0.25, 0, 1, 0},  // halfway goes to the upper sample
      {0, 2, 4, 0.75, 1, 2, 1},
      {0, 2, 4, 1.9, 3, 4, 3},
      {0, 2, 4, 2.0, 4, 4, 4},
      {0, 1, 10, 0.26, 2, 3, 2},
      {1, 3, 4, 2.25, 2, 3, 2},
      // 0.005 / (0.005 / 1000) rounds to just below 1000.
      {0, 0.005, 1000, 0.005, 999, 1000, 999},
  };
  for (const IndexCase& c : cases) {
    SCOPED_TRACE(testing::Message()
                 << "[" << c.min << "," << c.max << "]/" << c.intervals << " x=" << c.x);
    auto lookup = Make(c.min, c.max, c.intervals);
    std::vector<double> values;
    for (int i = 0; i <= c.intervals; ++i) values.push_back(i + 1);
    Fill(*lookup, values);
    EXPECT_EQ(lookup->evaluate(c.x), c.evaluateIndex + 1);

    auto mean = Make(c.min, c.max, c.intervals);
    mean->insertPair(c.x, 7);
    EXPECT_EQ(mean->getSample(c.insertIndex).count, 1);
    EXPECT_EQ(mean->getSample(c.insertIndex).value, 7);

    auto histogram = Make(c.min, c.max, c.intervals);
    histogram->accumulatePair(c.x, 7);
    EXPECT_EQ(histogram->getSample(c.accumulateIndex).count, 1);
    EXPECT_EQ(histogram->getSample(c.accumulateIndex).value, 7);
  }
}

TEST(SimpleSampledFunction, EvaluateSkipsZeroSamplesForward) {
  struct Case {
    std::vector<double> samples;
    double x;
    double expected;
  };
  const Case cases[] = {
      {{0, 0, 5, 7}, 0.0, 5}, {{0, 0, 5, 7}, 0.9, 5}, {{0, 0, 5, 7}, 1.5, 5},
      {{0, 0, 5, 7}, 3.0, 7}, {{4, 0, 0, 0}, 1.5, 0}, {{4, 0, 0, 0}, 0.5, 4},
      {{4, 0, 0, 9}, 1.2, 9}, {{0, 0, 0, 0}, 0.0, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "x=" << c.x);
    auto f = Make(0, 3, 3);
    Fill(*f, c.samples);
    EXPECT_EQ(f->evaluate(c.x), c.expected);
  }
}

TEST(SimpleSampledFunction, RunningMeanAndHistogramCountObservations) {
  auto f = Make(0, 1, 10);
  f->insertPair(0.5, 2);
  f->insertPair(0.5, 4);
  EXPECT_EQ(f->getSample(5).value, 3);
  EXPECT_EQ(f->getSample(5).count, 2);
  f->accumulatePair(0.35, 2);
  f->accumulatePair(0.35, 4);
  EXPECT_EQ(f->getSample(3).value, 6);
  EXPECT_EQ(f->getSample(3).count, 2);
}

TEST(SimpleSampledFunction, BecomesInitialisedWhenRangeAndSamplesAreKnown) {
  simpleSampledFunction rangeFirst;
  rangeFirst.setRange(0, 2);
  EXPECT_FALSE(rangeFirst.isInitialised());
  rangeFirst.setSamples(4);
  simpleSampledFunction samplesFirst;
  samplesFirst.setSamples(4);
  EXPECT_FALSE(samplesFirst.isInitialised());
  samplesFirst.setRange(0, 2);
  for (const simpleSampledFunction* f : {&rangeFirst, &samplesFirst}) {
    EXPECT_TRUE(f->isInitialised());
    EXPECT_EQ(f->getEpsilon(), 0.5);
    EXPECT_EQ(f->getSamples(), 4);
  }

  // setSamples clears what was there; zero intervals give no usable step.
  rangeFirst.insertPair(1, 3);
  rangeFirst.setSamples(4);
  EXPECT_EQ(rangeFirst.getSample(2).count, 0);
  rangeFirst.setSamples(0);
  EXPECT_FALSE(rangeFirst.isInitialised());

  samplesFirst.reset();
  EXPECT_FALSE(samplesFirst.isInitialised());
  EXPECT_EQ(samplesFirst.getMinXRange(), 0);
  EXPECT_EQ(samplesFirst.getMaxXRange(), 0);
  EXPECT_EQ(samplesFirst.getSamples(), 0);
  EXPECT_EQ(samplesFirst.getEpsilon(), 0.5);  // the step survives a reset
}

TEST(SimpleSampledFunction, DerivativeAndIntegralUseTheStep) {
  auto f = Make(0, 2, 4);
  Fill(*f, {1, 2.5, 4, 5.5, 7});  // 3x + 1
  EXPECT_EQ(f->derivative(1.0), 3);
  EXPECT_EQ(f->integral(0, 2), 8);
  EXPECT_EQ(f->integral(0.5, 1.5), 4);
  EXPECT_EQ(f->integral(1.8, 2), 0);  // shorter than one step
}

TEST(SimpleSampledFunction, SaveWritesSixSignificantDigitsAndReloadsByteExact) {
  struct Case {
    double min, max;
    int intervals;
    std::vector<double> values;
    std::string expected;  // empty: only the round trip is checked
  };
  const double uniform = 0.000999000999000999 / 0.01;
  const Case cases[] = {
      {0,
       2,
       4,
       {0.001, 2, 9.99001e-05, 1234567, 0.1 + 0.2},
       "0 2 4\n0 0.001\n0.5 2\n1 9.99001e-05\n1.5 1.23457e+06\n2 0.3\n"},
      {0, 10, 1000, std::vector<double>(1001, uniform), ""},
      // 100 steps of 3.3 / 100 add up to just above 3.3.
      {0, 3.3, 100, std::vector<double>(101, 0.25), ""},
      {-1.5, 1234.5, 3, {1e-300, 3.14159265, 0, 42}, ""},  // sample 2 is saved as 42
  };
  TempDir dir;
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "[" << c.min << "," << c.max << "]/" << c.intervals);
    auto f = Make(c.min, c.max, c.intervals);
    Fill(*f, c.values);
    const std::string first = dir.Path("first.dat");
    ASSERT_TRUE(f->save(first));
    const std::string text = TempDir::Read(first);
    if (!c.expected.empty()) {
      EXPECT_EQ(text, c.expected);
    }

    simpleSampledFunction reloaded;
    ASSERT_TRUE(reloaded.load(first));
    EXPECT_EQ(reloaded.getSamples(), c.intervals);
    const std::string second = dir.Path("second.dat");
    ASSERT_TRUE(reloaded.save(second));
    EXPECT_EQ(TempDir::Read(second), text);
  }
  // The last line of the overshooting grid sits at the upper end.
  auto f = Make(0, 3.3, 100);
  ASSERT_TRUE(f->save(dir.Path("end.dat")));
  const std::string text = TempDir::Read(dir.Path("end.dat"));
  EXPECT_EQ(text.substr(text.rfind('\n', text.size() - 2) + 1), "3.3 0\n");
}

TEST(SimpleSampledFunction, LoadReadsAnyWhitespaceAndMapsPositionsToNearestSample) {
  struct Case {
    std::string content;
    double x;
    double expected;
  };
  const Case cases[] = {
      {"0 2 4\n", 1.0, 0},                          // header only
      {"0 2 4\n1 3\n1 5\n", 1.0, 4},                // two pairs: their mean
      {"0 2 4\n0 1\n0.5 1\n1 1\n1.5 1\n", 2.0, 0},  // last line missing
      {"0 2 4\n0 1\n0.5 1\n1 1\n1.5 1\n", 1.9, 1},
      {"0\t2   4\r\n1\r\n  6\r\n", 1.0, 6},                   // tabs, CRLF, split pair
      {"0 1 3\n0 1\n0.333333 2\n0.666667 3\n1 4\n", 0.5, 2},  // 6-digit positions
      {"+0 +2 4\n1 +8\n", 1.0, 8},
  };
  TempDir dir;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.content);
    simpleSampledFunction f;
    ASSERT_TRUE(f.load(dir.Write("f.dat", c.content)));
    EXPECT_TRUE(f.isInitialised());
    EXPECT_EQ(f.evaluate(c.x), c.expected);
  }
}

TEST(SimpleSampledFunction, LoadRejectsMalformedFilesAndStaysUnusable) {
  const std::string tooMany = std::to_string(simpleSampledFunction::kMaxLoadIntervals + 1);
  const std::string cases[] = {
      "",
      "0 2",
      "0 2 x",
      "0 2 4.5\n",
      "0 2 0\n",
      "0 2 -3\n",
      "0 2 " + tooMany + "\n",
      "0 2 2147483648\n",
      "0 2 99999999999999999999999\n",
      "2 2 4\n",
      "3 2 4\n",
      "nan 2 4\n",
      "0 inf 4\n",
      "0 1e400 4\n",
      "-1e308 1e308 4\n",
      "0 5e-324 4\n",  // the step underflows to 0
      "0 2 4\n0 abc\n",
      "0 2 4\n0 1\n0.5\n",
      "0 2 4\n0 nan\n",
      "0 2 4\ninf 1\n",
      "0 2 4\n0 -inf\n",
      "0 2 4\n3 1\n",
      "0 2 4\n-0.1 1\n",
      "0 2 4\n1 1.5e308\n1 1.5e308\n",  // the mean overflows
      "0 2 4\n1 " + std::string(100, '1') + "\n",
      "0 2 4\n1 0x10\n",
      "0 2 4\n1 1,5\n",
  };
  TempDir dir;
  for (const std::string& content : cases) {
    SCOPED_TRACE(content);
    auto f = Make(0, 1, 10);
    EXPECT_FALSE(f->load(dir.Write("bad.dat", content)));
    EXPECT_FALSE(f->isInitialised());
  }
}

TEST(SimpleSampledFunction, LoadOfMissingFileFailsWithoutCreatingIt) {
  TempDir dir;
  simpleSampledFunction f;
  EXPECT_FALSE(f.load(dir.Path("missing.dat")));
  EXPECT_FALSE(std::filesystem::exists(dir.Path("missing.dat")));
  // A directory opens as a stream but fails on the first read.
  EXPECT_FALSE(f.load(dir.Path("")));
}

TEST(SimpleSampledFunction, SaveFailsWhenItCannotWrite) {
  TempDir dir;
  auto f = Make(0, 1, 2);
  EXPECT_FALSE(f->save(dir.Path("no-such-dir/f.dat")));
  EXPECT_FALSE(simpleSampledFunction().save(dir.Path("empty.dat")));
  if (std::filesystem::exists("/dev/full")) {
    EXPECT_FALSE(f->save("/dev/full"));
  }
}

TEST(SimpleSampledFunctionDeathTest, ProgrammingErrorsStopTheProcess) {
  struct Case {
    std::function<void()> call;
    std::string report;
  };
  const std::string argument = AssertionReport("initialised&&(minXRange<=x)&&(x<=maxXRange)");
  const Case cases[] = {
      {[] { simpleSampledFunction().setRange(1, 1); }, AssertionReport("min<max")},
      {[] { simpleSampledFunction().setRange(2, 1); }, AssertionReport("min<max")},
      {[] { simpleSampledFunction().setSamples(-1); }, AssertionReport("ns>=0")},
      {[] { simpleSampledFunction().evaluate(0); }, argument},
      {[] { Make(0, 1, 4)->evaluate(-0.001); }, argument},
      {[] { Make(0, 1, 4)->evaluate(1.001); }, argument},
      {[] { Make(0, 1, 4)->insertPair(1.5, 1); }, argument},
      {[] { Make(0, 1, 4)->accumulatePair(-1, 1); }, argument},
      {[] { Make(0, 1, 4)->updatePair(0.5, 1); },
       "updatePair disabled\n" + AssertionReport("false")},
      {[] { Make(0, 1, 4)->deletePair(0.5); }, "deletePair disabled\n" + AssertionReport("false")},
      {[] { Make(0, 1, 4)->setEpsilon(0.5); }, "setEpsilon disabled\n" + AssertionReport("false")},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.report);
    EXPECT_DEATH(c.call(), c.report);
  }
}

}  // namespace
}  // namespace simdex
