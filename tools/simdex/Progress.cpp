#include "tools/simdex/Progress.h"

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <utility>

namespace simdex::cli {
namespace {

// The bar redraws at most this often (seconds): drawing every row would cost
// more than inserting it.
constexpr double kRedrawInterval = 0.1;
// A plain line at least this often (seconds) when not on a terminal.
constexpr double kLineInterval = 5.0;
constexpr int kBarWidth = 30;

double SteadySeconds() {
  using namespace std::chrono;
  return duration<double>(steady_clock::now().time_since_epoch()).count();
}

std::string Duration(double seconds) {
  if (!std::isfinite(seconds) || seconds < 0) return "?";
  const auto s = static_cast<long long>(std::llround(seconds));
  char text[32];
  if (s >= 3600) {
    std::snprintf(text, sizeof text, "%lld:%02lld:%02lld", s / 3600, s / 60 % 60, s % 60);
  } else {
    std::snprintf(text, sizeof text, "%lld:%02lld", s / 60, s % 60);
  }
  return text;
}

}  // namespace

Progress::Progress(std::string label, std::string unit, std::optional<std::int64_t> total,
                   bool quiet)
    : Progress(std::move(label), std::move(unit), total, quiet ? nullptr : stderr,
               ::isatty(STDERR_FILENO) == 1, SteadySeconds) {}

Progress::Progress(std::string label, std::string unit, std::optional<std::int64_t> total,
                   std::FILE* out, bool terminal, Clock clock)
    : label_(std::move(label)),
      unit_(std::move(unit)),
      total_(total),
      out_(out),
      terminal_(terminal),
      clock_(std::move(clock)) {
  start_ = clock_();
  lastShown_ = start_;
}

Progress::~Progress() {
  if (out_ != nullptr && terminal_ && drawn_ && !finished_) {
    std::fputc('\n', out_);
    std::fflush(out_);
  }
}

std::string Progress::Rate(std::int64_t done, double now) const {
  const double elapsed = now - start_;
  char text[64];
  if (elapsed <= 0) return "";
  std::snprintf(text, sizeof text, "%.0f %s/s", static_cast<double>(done) / elapsed, unit_.c_str());
  return text;
}

void Progress::Update(std::int64_t done) {
  if (out_ == nullptr) return;
  const double now = clock_();
  if (terminal_) {
    if (now - lastShown_ >= kRedrawInterval) Draw(done, now);
    return;
  }
  int tenth = 0;
  if (total_ && *total_ > 0)
    tenth = static_cast<int>(std::min<std::int64_t>(done * 10 / *total_, 10));
  if (tenth > lastTenth_ || now - lastShown_ >= kLineInterval) {
    lastTenth_ = std::max(tenth, lastTenth_);
    Line(done, now);
  }
}

void Progress::Finish(std::int64_t done) {
  if (out_ == nullptr || finished_) return;
  finished_ = true;
  const double now = clock_();
  if (terminal_) {
    Draw(done, now);
    std::fputc('\n', out_);
  } else if (drawn_ && (!total_ || lastTenth_ < 10)) {
    // The periodic lines stopped short of the end: say where it ended.
    Line(done, now);
  }
  std::fflush(out_);
}

void Progress::Draw(std::int64_t done, double now) {
  lastShown_ = now;
  drawn_ = true;
  std::string text = "\r" + label_ + " ";
  if (total_ && *total_ > 0) {
    const double share = std::min(1.0, static_cast<double>(done) / static_cast<double>(*total_));
    const int filled = static_cast<int>(share * kBarWidth);
    text += "[" + std::string(filled, '#') + std::string(kBarWidth - filled, '.') + "] ";
    char counts[96];
    std::snprintf(counts, sizeof counts, "%lld/%lld %3.0f%%", static_cast<long long>(done),
                  static_cast<long long>(*total_), share * 100);
    text += counts;
    const double elapsed = now - start_;
    if (done > 0 && elapsed > 0) {
      const double left = elapsed / static_cast<double>(done) * static_cast<double>(*total_ - done);
      text += "  " + Rate(done, now) + "  " + Duration(left) + " left";
    }
  } else {
    text += std::to_string(done) + " " + unit_ + "  " + Rate(done, now);
  }
  // Clears what a longer previous drawing left on the line.
  text += "\033[K";
  std::fputs(text.c_str(), out_);
  std::fflush(out_);
}

void Progress::Line(std::int64_t done, double now) {
  lastShown_ = now;
  drawn_ = true;
  std::string text = label_ + ": " + std::to_string(done);
  if (total_ && *total_ > 0) {
    char share[32];
    std::snprintf(share, sizeof share, " (%.0f%%)",
                  100.0 * static_cast<double>(done) / static_cast<double>(*total_));
    text += " of " + std::to_string(*total_) + " " + unit_ + share;
  } else {
    text += " " + unit_;
  }
  const std::string rate = Rate(done, now);
  if (!rate.empty()) text += ", " + rate;
  const double elapsed = now - start_;
  if (total_ && done > 0 && elapsed > 0 && done < *total_) {
    text += ", " +
            Duration(elapsed / static_cast<double>(done) * static_cast<double>(*total_ - done)) +
            " left";
  }
  text += '\n';
  std::fputs(text.c_str(), out_);
  std::fflush(out_);
}

}  // namespace simdex::cli
