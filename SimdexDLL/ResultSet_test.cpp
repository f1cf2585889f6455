#include "SimdexDLL/ResultSet.h"

#include <gtest/gtest.h>

#include <vector>

namespace simdex {
namespace {

struct CursorCase {
  const char* name;
  bool present;
  int results;
  std::vector<int> answers;  // of successive Next calls
  int finalCursor;
};

void PrintTo(const CursorCase& c, std::ostream* os) { *os << c.name; }

class ResultSetCursorTest : public ::testing::TestWithParam<CursorCase> {};

TEST_P(ResultSetCursorTest, NextWalksToThePastTheEndAndStays) {
  const CursorCase& c = GetParam();
  ResultSet r = c.present ? ResultSet::Empty() : ResultSet();
  for (int i = 0; i < c.results; ++i) r.Add(nullptr, 100u + static_cast<unsigned>(i), 0.5 * i);
  EXPECT_EQ(r.Size(), c.results);
  EXPECT_EQ(r.cursor(), -1);
  EXPECT_FALSE(r.HasCurrent());
  for (std::size_t i = 0; i < c.answers.size(); ++i) {
    ASSERT_EQ(r.Next(), c.answers[i]) << "call " << i;
    EXPECT_EQ(r.HasCurrent(), c.answers[i] == 1);
    if (r.HasCurrent()) {
      EXPECT_EQ(r.CurrentOid(), 100u + i);
      EXPECT_EQ(r.CurrentDistance(), 0.5 * static_cast<double>(i));
    }
  }
  EXPECT_EQ(r.cursor(), c.finalCursor);
}

INSTANTIATE_TEST_SUITE_P(Cases, ResultSetCursorTest,
                         ::testing::Values(CursorCase{"Absent", false, 0, {0, 0}, -1},
                                           CursorCase{"PresentButEmpty", true, 0, {0, 0}, 0},
                                           CursorCase{"ThreeResults", false, 3, {1, 1, 1, 0, 0}, 3},
                                           CursorCase{"OneResult", true, 1, {1, 0, 0}, 1}),
                         [](const auto& c) { return std::string(c.param.name); });

TEST(ResultSetDeathTest, ReadingWithoutACurrentResultIsAnInternalError) {
  ResultSet r;
  r.Add(nullptr, 1, 1.0);
  EXPECT_DEATH(r.CurrentOid(), "Assertion failed: cursor>=0 && cursor<resultCount");
}

}  // namespace
}  // namespace simdex
