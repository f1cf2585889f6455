#pragma once
// Progress of a long pass (insertion) for the user, on standard error.
// On a terminal a bar redrawn in place with the count, the rate and the time
// left; elsewhere (a log, a pipe) a plain line at every tenth of the work or
// every 5 seconds, whichever comes first; nothing at all when quiet. Without
// a known total it shows the count and the rate only.
#include <cstdint>
#include <cstdio>
#include <functional>
#include <optional>
#include <string>

namespace simdex::cli {

class Progress {
 public:
  // Seconds since any fixed start.
  using Clock = std::function<double()>;

  // On standard error, a terminal when it is one.
  Progress(std::string label, std::string unit, std::optional<std::int64_t> total, bool quiet);
  // For tests: the stream, whether it counts as a terminal, and the clock.
  Progress(std::string label, std::string unit, std::optional<std::int64_t> total, std::FILE* out,
           bool terminal, Clock clock);

  // Ends a bar left on the terminal's line by work that stopped early.
  ~Progress();
  Progress(const Progress&) = delete;
  Progress& operator=(const Progress&) = delete;

  // done units of the work are finished.
  void Update(std::int64_t done);
  // The work ended after done units: the bar is drawn a last time and its
  // line ended.
  void Finish(std::int64_t done);

 private:
  void Draw(std::int64_t done, double now);
  void Line(std::int64_t done, double now);
  std::string Rate(std::int64_t done, double now) const;

  std::string label_;
  std::string unit_;
  std::optional<std::int64_t> total_;
  std::FILE* out_;
  bool terminal_;
  Clock clock_;
  double start_ = 0;
  double lastShown_ = 0;
  int lastTenth_ = 0;
  bool drawn_ = false;
  bool finished_ = false;
};

}  // namespace simdex::cli
