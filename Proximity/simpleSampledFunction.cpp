#include "Proximity/simpleSampledFunction.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <fstream>
#include <iostream>
#include <locale>
#include <new>
#include <streambuf>
#include <string_view>
#include <system_error>

#include "platform/Assert.h"

namespace simdex {
namespace {

// A number in these files is at most a couple of dozen characters; a longer
// token is not one of ours and is rejected without buffering it whole.
constexpr std::size_t kMaxTokenLength = 64;

enum class Read { kValue, kEnd, kBad };

// Reads whitespace-separated numbers from a stream buffer. Parsing does not
// depend on the process locale, so a file reads back the same everywhere.
class NumberReader {
 public:
  explicit NumberReader(std::streambuf* buffer) : buffer_(buffer) {}

  Read NextReal(double& value) {
    std::string_view token;
    Read r = NextToken(token);
    if (r != Read::kValue) return r;
    // The writer never puts a '+' in front, but a hand-edited file may.
    if (token.size() > 1 && token.front() == '+' && token[1] != '-' && token[1] != '+')
      token.remove_prefix(1);
    const char* end = token.data() + token.size();
    auto [ptr, ec] = std::from_chars(token.data(), end, value, std::chars_format::general);
    if (ec != std::errc() || ptr != end || !std::isfinite(value)) return Read::kBad;
    return Read::kValue;
  }

  Read NextInteger(long long& value) {
    std::string_view token;
    Read r = NextToken(token);
    if (r != Read::kValue) return r;
    const char* end = token.data() + token.size();
    auto [ptr, ec] = std::from_chars(token.data(), end, value);
    if (ec != std::errc() || ptr != end) return Read::kBad;
    return Read::kValue;
  }

 private:
  static bool IsSpace(int c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
  }

  Read NextToken(std::string_view& token) {
    using Traits = std::streambuf::traits_type;
    int c = buffer_->sgetc();
    while (c != Traits::eof() && IsSpace(c)) c = buffer_->snextc();
    if (c == Traits::eof()) return Read::kEnd;
    std::size_t length = 0;
    while (c != Traits::eof() && !IsSpace(c)) {
      if (length == kMaxTokenLength) return Read::kBad;
      text_[length++] = Traits::to_char_type(c);
      c = buffer_->snextc();
    }
    token = std::string_view(text_, length);
    return Read::kValue;
  }

  std::streambuf* buffer_;
  char text_[kMaxTokenLength];
};

}  // namespace

simpleSampledFunction::~simpleSampledFunction() = default;

bool simpleSampledFunction::load(const std::string& fileName) {
  auto fail = [this] {
    reset();
    return false;
  };
  std::ifstream in(fileName, std::ios::in);
  if (!in) return fail();
  // The reader works on the stream buffer, whose read errors (a directory
  // given as the file, a failing disk) arrive as exceptions.
  try {
    NumberReader reader(in.rdbuf());

    double min = 0.0;
    double max = 0.0;
    long long intervals = 0;
    if (reader.NextReal(min) != Read::kValue || reader.NextReal(max) != Read::kValue ||
        reader.NextInteger(intervals) != Read::kValue)
      return fail();
    if (!(min < max) || !std::isfinite(max - min)) return fail();
    if (intervals < 1 || intervals > kMaxLoadIntervals) return fail();
    // A range so narrow that its step underflows can't be sampled.
    if (!((max - min) / static_cast<double>(intervals) > 0.0)) return fail();

    reset();
    setRange(min, max);
    try {
      setSamples(static_cast<int>(intervals));
    } catch (const std::bad_alloc&) {
      return fail();
    }

    for (;;) {
      double x = 0.0;
      double y = 0.0;
      Read r = reader.NextReal(x);
      if (r == Read::kEnd) break;
      if (r == Read::kBad) return fail();
      if (reader.NextReal(y) != Read::kValue) return fail();  // a pair cut short, or not a number
      if (x < minXRange || x > maxXRange) return fail();
      insertPair(x, y);
      // The running mean of finite values can still overflow.
      if (!std::isfinite(samples[indexOf(x, true)].value)) return fail();
    }
    if (in.bad()) return fail();
    return true;
  } catch (const std::ios_base::failure&) {
    return fail();
  }
}

bool simpleSampledFunction::save(const std::string& fileName) const {
  if (!initialised) return false;
  std::ofstream out(fileName, std::ios::out | std::ios::trunc);
  if (!out) return false;
  // Default precision (6 significant digits, general format) is the file
  // format; only the locale is pinned so the decimal point is always '.'.
  out.imbue(std::locale::classic());
  out << minXRange << ' ' << maxXRange << ' ' << ns << std::endl;
  for (std::int32_t i = 0; i <= ns; ++i) {
    // minXRange + ns * epsilon can land one rounding step above maxXRange.
    double x = std::min(minXRange + i * epsilon, maxXRange);
    out << x << ' ' << evaluate(x) << std::endl;
    if (!out) return false;
  }
  out.close();
  return !out.fail();
}

double simpleSampledFunction::evaluate(double x) const {
  checkArgument(x);
  int i = indexOf(x, false);
  while (samples[i].value == 0.0 && i < ns) ++i;
  return samples[i].value;
}

bool simpleSampledFunction::insertPair(double x, double y) {
  checkArgument(x);
  Sample& s = samples[indexOf(x, true)];
  s.value = (s.count * s.value + y) / (s.count + 1);
  ++s.count;
  return true;
}

bool simpleSampledFunction::updatePair(double, double) {
  std::cerr << "updatePair disabled" << std::endl;
  SIMDEX_ASSERT(false, "false");
  return false;
}

bool simpleSampledFunction::deletePair(double) {
  std::cerr << "deletePair disabled" << std::endl;
  SIMDEX_ASSERT(false, "false");
  return false;
}

void simpleSampledFunction::setEpsilon(double) {
  std::cerr << "setEpsilon disabled" << std::endl;
  SIMDEX_ASSERT(false, "false");
}

void simpleSampledFunction::setSamples(int intervals) {
  SIMDEX_ASSERT(intervals >= 0, "ns>=0");
  samples = std::vector<Sample>(static_cast<std::size_t>(intervals) + 1);
  ns = intervals;
  if (ns == 0) {
    initialised = false;
  } else if (minXRange != 0.0 || maxXRange != 0.0) {
    epsilon = (maxXRange - minXRange) / ns;
    initialised = true;
  }
}

int simpleSampledFunction::getSamples() const { return ns; }

void simpleSampledFunction::setRange(double min, double max) {
  SIMDEX_ASSERT(min < max, "min<max");
  minXRange = min;
  maxXRange = max;
  if (ns > 0) {
    epsilon = (max - min) / ns;
    initialised = true;
  }
}

void simpleSampledFunction::reset() {
  minXRange = 0.0;
  maxXRange = 0.0;
  ns = 0;
  std::vector<Sample>().swap(samples);
  initialised = false;
}

bool simpleSampledFunction::accumulatePair(double x, double y) {
  checkArgument(x);
  Sample& s = samples[indexOf(x, false)];
  s.value += y;
  ++s.count;
  return true;
}

const simpleSampledFunction::Sample& simpleSampledFunction::getSample(int i) const {
  SIMDEX_ASSERT(i >= 0 && static_cast<std::size_t>(i) < samples.size(), "(0<=i)&&(i<=ns)");
  return samples[static_cast<std::size_t>(i)];
}

int simpleSampledFunction::indexOf(double x, bool nearest) const {
  double q = (x - minXRange) / epsilon;
  if (nearest) q += 0.5;
  // Truncation is floor here: the precondition keeps q non-negative. The
  // quotient of the upper end can't exceed ns by a whole step, but the clamp
  // keeps every lookup inside the array whatever the rounding.
  return std::min(static_cast<int>(q), ns);
}

void simpleSampledFunction::checkArgument(double x) const {
  SIMDEX_ASSERT(initialised && (minXRange <= x) && (x <= maxXRange),
                "initialised&&(minXRange<=x)&&(x<=maxXRange)");
}

}  // namespace simdex
