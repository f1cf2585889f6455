#include "tools/simdex/Progress.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace simdex::cli {
namespace {

// What a Progress wrote into memory, read after it is gone.
class Captured {
 public:
  Captured() : file_(open_memstream(&data_, &size_)) {}
  ~Captured() {
    if (file_) std::fclose(file_);
    std::free(data_);
  }
  std::FILE* file() { return file_; }
  std::string Text() {
    std::fflush(file_);
    return std::string(data_, size_);
  }

 private:
  char* data_ = nullptr;
  std::size_t size_ = 0;
  std::FILE* file_;
};

int Lines(const std::string& text) {
  int n = 0;
  for (char c : text) n += c == '\n';
  return n;
}

TEST(Progress, PlainLinesComeEveryTenthOrEveryFiveSeconds) {
  double now = 0;
  Captured out;
  {
    Progress p("insert", "rows", 1000, out.file(), false, [&] { return now; });
    for (int done = 1; done <= 1000; ++done) {
      now = done * 0.001;
      p.Update(done);
    }
    p.Finish(1000);
  }
  const std::string text = out.Text();
  EXPECT_EQ(Lines(text), 10) << text;
  EXPECT_NE(text.find("insert: 500 of 1000 rows (50%), 1000 rows/s, 0:01 left\n"),
            std::string::npos)
      << text;
  EXPECT_NE(text.find("insert: 1000 of 1000 rows (100%), 1000 rows/s\n"), std::string::npos)
      << text;

  // Slow work without a known total: one line per 5 seconds, and one for the
  // end.
  Captured slow;
  now = 0;
  {
    Progress p("insert", "rows", std::nullopt, slow.file(), false, [&] { return now; });
    for (int done = 1; done <= 12; ++done) {
      now = done;
      p.Update(done);
    }
    p.Finish(12);
  }
  EXPECT_EQ(slow.Text(),
            "insert: 5 rows, 1 rows/s\ninsert: 10 rows, 1 rows/s\n"
            "insert: 12 rows, 1 rows/s\n");
}

TEST(Progress, TheBarRedrawsInPlaceAndEndsItsLine) {
  double now = 0;
  Captured out;
  {
    Progress p("insert", "rows", 4, out.file(), true, [&] { return now; });
    now = 1;
    p.Update(1);
    now = 2;
    p.Update(2);
  }  // stopped early: the line still ends
  const std::string text = out.Text();
  EXPECT_EQ(text.find('\n'), text.size() - 1) << text;
  EXPECT_NE(text.find("\rinsert [" + std::string(15, '#') + std::string(15, '.') + "] 2/4  50%"),
            std::string::npos)
      << text;
  EXPECT_NE(text.find("0:02 left"), std::string::npos) << text;

  Progress quiet("insert", "rows", 4, true);
  quiet.Update(4);
  quiet.Finish(4);  // writes nowhere: nothing to see, nothing to crash
}

}  // namespace
}  // namespace simdex::cli
