// simdex eval: how much recall the approximate nearest-neighbour searches
// trade for how many fewer distance computations and page reads, measured
// against a ground truth and against the exact search of the same index.
#include <CLI/CLI.hpp>
#include <algorithm>
#include <charconv>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <map>
#include <memory>
#include <nlohmann/json.hpp>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "tools/simdex/CommandContext.h"
#include "tools/simdex/DistanceDistribution.h"
#include "tools/simdex/Evaluation.h"
#include "tools/simdex/Gnuplot.h"
#include "tools/simdex/GroundTruth.h"
#include "tools/simdex/IndexSession.h"
#include "tools/simdex/Progress.h"
#include "tools/simdex/Table.h"
#include "tools/simdex/VectorReader.h"

namespace simdex::cli {
namespace {

struct EvalOptions {
  std::string directory;
  std::string queries;
  std::string truth;
  std::string truthDistances;
  std::string objectClass;
  int k = 10;
  std::vector<int> methods{0, 1, 2, 3, 4};
  bool methodsGiven = false;
  std::vector<std::string> thresholds;
  std::string plot;
  std::string size = "900x600";
  std::string format = "table";
  int first = 0;
};

// What each method's threshold means, for the table and the plot.
const char* Rule(int method) {
  switch (method) {
    case 1:
      return "proximity <= t";
    case 2:
      return "(1+t)*dmin > r";
    case 3:
      return "F(dk) <= t";
    case 4:
      return "slope >= t";
    default:
      return "exact";
  }
}

// Default thresholds, from nearly exact answers to a small share of the
// exact search's distance computations (tried on the shipped colour
// histograms and on generated clusters, k = 10):
//   1: a region whose proximity to the query ball (the estimated share of
//      the data in both) is at most t is skipped;
//   2: a region is skipped when its least distance, times 1 + t, exceeds the
//      search radius: t bounds the relative error of what is skipped;
//   3: the search stops once at most the share t of all distances lies below
//      the current k-th distance;
//   4: the search stops once the decrease of the k-th distance (over the
//      maximum distance, against the log of the nodes processed) has
//      flattened to the slope t.
// Methods 1 and 3 compare shares of the distance distribution, whose scale
// depends on the data and on k: their defaults are multiples of F*, the
// median over the queries of F(true k-th distance). At t = F* method 3
// stops about half the queries once their k-th distance is the true one.
constexpr double kProximityFactors[] = {0.003, 0.01, 0.03, 0.1, 0.3};
constexpr double kStopShareFactors[] = {0.3, 0.5, 0.7, 1.0, 1.5};

// v rounded to two significant digits, for thresholds that read well.
double TwoDigits(double v) {
  char text[32];
  std::snprintf(text, sizeof text, "%.1e", v);
  return std::strtod(text, nullptr);
}

std::vector<double> DefaultThresholds(int method, double shareScale) {
  std::vector<double> list;
  switch (method) {
    case 1:
      for (double f : kProximityFactors) list.push_back(TwoDigits(f * shareScale));
      return list;
    case 2:
      return {0.1, 0.3, 1, 3, 10};
    case 3:
      for (double f : kStopShareFactors) list.push_back(TwoDigits(f * shareScale));
      return list;
    case 4:
      return {-3e-5, -1e-4, -3e-4, -1e-3, -3e-3};
    default:
      return {};
  }
}

Status ParseNumber(const std::string& text, double* value) {
  const char* begin = text.data();
  const char* end = begin + text.size();
  auto [ptr, ec] = std::from_chars(begin, end, *value);
  if (ec != std::errc() || ptr != end || !std::isfinite(*value)) {
    return Status::InvalidArgument("threshold '" + text + "' is not a finite number");
  }
  return Status::OK();
}

// "--thresholds 2=0.1,0.5" sets method 2's list; "--thresholds 0.1,0.5"
// sets the list of every approximate method evaluated.
Status ParseThresholds(const std::vector<std::string>& specs, const std::vector<int>& methods,
                       std::map<int, std::vector<double>>* lists) {
  for (const std::string& spec : specs) {
    std::vector<int> targets;
    std::string values = spec;
    const std::size_t eq = spec.find('=');
    if (eq != std::string::npos) {
      const std::string m = spec.substr(0, eq);
      if (m.size() != 1 || m[0] < '1' || m[0] > '4') {
        return Status::InvalidArgument("--thresholds " + spec +
                                       ": the method before '=' is 1 to 4");
      }
      targets.push_back(m[0] - '0');
      values = spec.substr(eq + 1);
    } else {
      for (int m : methods) {
        if (m != 0) targets.push_back(m);
      }
    }
    std::vector<double> list;
    std::size_t start = 0;
    for (;;) {
      const std::size_t comma = values.find(',', start);
      double v = 0;
      SIMDEX_RETURN_IF_ERROR(ParseNumber(values.substr(start, comma - start), &v));
      list.push_back(v);
      if (comma == std::string::npos) break;
      start = comma + 1;
    }
    for (int m : targets) (*lists)[m] = list;
  }
  return Status::OK();
}

// F*: the median over the queries of the distribution at the true k-th
// distance (the last true one when the truth holds fewer than k).
double MedianShareAtTrueKth(const DistanceDistribution& distribution, const GroundTruth& truth,
                            std::size_t queries, int k) {
  std::vector<double> shares;
  for (std::size_t q = 0; q < queries; ++q) {
    const std::vector<double>& d = truth.distances(q);
    if (d.empty()) continue;
    const std::size_t kth = std::min(d.size(), static_cast<std::size_t>(k)) - 1;
    shares.push_back(distribution.F(d[kth]));
  }
  if (shares.empty()) return 0;
  std::nth_element(shares.begin(), shares.begin() + shares.size() / 2, shares.end());
  return shares[shares.size() / 2];
}

struct Setting {
  int method = 0;
  std::optional<double> threshold;
};

struct Result {
  Setting setting;
  Evaluation evaluation;
};

class Evaluator {
 public:
  Evaluator(IndexSession& session, const std::vector<VectorRow>& queries, const GroundTruth& truth,
            int k)
      : session_(session), queries_(queries), truth_(truth), k_(k) {}

  Status Run(const Setting& setting, Evaluation* out) {
    SIMDEX_RETURN_IF_ERROR(session_.SetApproximation(setting.method, setting.threshold));
    Evaluation e;
    std::vector<SearchHit> hits;
    std::vector<double> distances;
    for (std::size_t q = 0; q < queries_.size(); ++q) {
      SearchCost cost;
      const auto start = std::chrono::steady_clock::now();
      SIMDEX_RETURN_IF_ERROR(session_.Nearest(queries_[q].values, k_, &hits, &cost));
      const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
      distances.clear();
      for (const SearchHit& h : hits) distances.push_back(h.distance);
      e.Add(distances, truth_.distances(q), k_, cost, took.count());
    }
    *out = e;
    return Status::OK();
  }

 private:
  IndexSession& session_;
  const std::vector<VectorRow>& queries_;
  const GroundTruth& truth_;
  int k_;
};

double Ratio(double value, double base) {
  return base > 0 ? value / base : std::numeric_limits<double>::quiet_NaN();
}

std::string Cell(const char* pattern, double v) {
  if (std::isnan(v)) return "-";
  char text[64];
  std::snprintf(text, sizeof text, pattern, v);
  return text;
}

Table MakeTable(const std::vector<Result>& results, const Evaluation& exact, int k, bool precise) {
  Table table({"method", "rule", "threshold", "recall@" + std::to_string(k), "rel.error",
               "distances", "reads", "dist.ratio", "reads.ratio", "ms/query"});
  for (const Result& r : results) {
    const Evaluation& e = r.evaluation;
    const char* f = precise ? "%.17g" : nullptr;
    table.AddRow({std::to_string(r.setting.method), Rule(r.setting.method),
                  r.setting.threshold ? Cell("%g", *r.setting.threshold) : "-",
                  Cell(f ? f : "%.4f", e.recall()), Cell(f ? f : "%.4f", e.meanRelativeError()),
                  Cell(f ? f : "%.1f", e.meanDistances()), Cell(f ? f : "%.1f", e.meanReads()),
                  Cell(f ? f : "%.3f", Ratio(e.meanDistances(), exact.meanDistances())),
                  Cell(f ? f : "%.3f", Ratio(e.meanReads(), exact.meanReads())),
                  Cell(f ? f : "%.3f", e.secondsPerQuery() * 1000)});
  }
  table.SetAlign(1, Table::Align::kLeft);
  return table;
}

nlohmann::ordered_json Number(double v) {
  if (!std::isfinite(v)) return nullptr;
  return v;
}

std::string MakeJson(const EvalOptions& o, const std::string& truthDistances, std::size_t queries,
                     double shareScale, const std::vector<Result>& results, const Evaluation& exact,
                     const std::vector<int>& skipped) {
  nlohmann::ordered_json rows = nlohmann::ordered_json::array();
  for (const Result& r : results) {
    const Evaluation& e = r.evaluation;
    rows.push_back({
        {"method", r.setting.method},
        {"rule", Rule(r.setting.method)},
        {"threshold", r.setting.threshold ? Number(*r.setting.threshold) : nullptr},
        {"recall", Number(e.recall())},
        {"mean_relative_error", Number(e.meanRelativeError())},
        {"mean_distances", Number(e.meanDistances())},
        {"mean_reads", Number(e.meanReads())},
        {"distances_ratio", Number(Ratio(e.meanDistances(), exact.meanDistances()))},
        {"reads_ratio", Number(Ratio(e.meanReads(), exact.meanReads()))},
        {"ms_per_query", Number(e.secondsPerQuery() * 1000)},
    });
  }
  nlohmann::ordered_json doc = {
      {"index", o.directory},
      {"queries", o.queries},
      {"truth", o.truth},
      {"truth_distances", truthDistances},
      {"k", o.k},
      {"evaluated_queries", queries},
      {"median_share_at_true_kth", shareScale > 0 ? Number(shareScale) : nullptr},
      {"skipped_methods", skipped},
      {"results", rows},
  };
  return doc.dump(2) + "\n";
}

Status DrawPlot(const EvalOptions& o, std::size_t queries, const std::vector<Result>& results) {
  Gnuplot::Format format;
  SIMDEX_RETURN_IF_ERROR(Gnuplot::FormatOf(o.plot, &format));
  int width = 0;
  int height = 0;
  SIMDEX_RETURN_IF_ERROR(Gnuplot::ParseSize(o.size, &width, &height));
  Gnuplot plot(o.plot, format, width, height);

  // One data block per method: distances, recall, threshold.
  std::map<int, std::vector<std::vector<double>>> series;
  double least = 0;
  double most = 0;
  for (const Result& r : results) {
    const double x = r.evaluation.meanDistances();
    series[r.setting.method].push_back(
        {x, r.evaluation.recall(), r.setting.threshold.value_or(0.0)});
    least = least == 0 ? x : std::min(least, x);
    most = std::max(most, x);
  }
  for (const auto& [method, rows] : series) plot.Data("m" + std::to_string(method), rows);

  const std::string k = std::to_string(o.k);
  plot.Command("set title " +
               Gnuplot::Quote(o.directory + ": recall@" + k + " against distance computations (" +
                              std::to_string(queries) + " queries)"));
  plot.Command("set xlabel 'distance computations per query'");
  plot.Command("set ylabel " + Gnuplot::Quote("recall@" + k));
  plot.Command("set yrange [0:1.05]");
  plot.Command("set grid");
  plot.Command("set key bottom right box opaque");
  // Costs spread over more than a decade read better on a log scale.
  if (least > 0 && most / least > 10) plot.Command("set logscale x");
  std::string command = "plot ";
  for (const auto& [method, rows] : series) {
    if (method == 0) continue;
    const std::string block = "$m" + std::to_string(method);
    // A fixed colour per method, the same in every plot (none of them black,
    // which is the baseline's).
    static const char* const kColours[] = {"", "#1b9e77", "#d95f02", "#7570b3", "#e7298a"};
    command += block + " using 1:2 with linespoints linewidth 2 linecolor rgb '" +
               kColours[method] + "' pointtype " + std::to_string(4 + method) + " title " +
               Gnuplot::Quote("method " + std::to_string(method) + ": " + Rule(method)) + ", " +
               block +
               " using 1:2:(sprintf('%g', $3)) with labels offset 0.5,0.7 font ',8' notitle, ";
  }
  // The baseline last, drawn over the curves that start at it.
  command +=
      "$m0 using 1:2 with points pointtype 3 pointsize 2.5 linewidth 2 linecolor rgb 'black' "
      "title 'exact search'";
  plot.Command(command);
  return plot.Render();
}

Status RunEval(const EvalOptions& o, bool quiet) {
  // Bad plot options fail before the searches, not after them.
  if (!o.plot.empty()) {
    Gnuplot::Format format;
    SIMDEX_RETURN_IF_ERROR(Gnuplot::FormatOf(o.plot, &format));
    int width = 0;
    int height = 0;
    SIMDEX_RETURN_IF_ERROR(Gnuplot::ParseSize(o.size, &width, &height));
  }
  std::map<int, std::vector<double>> thresholds;
  SIMDEX_RETURN_IF_ERROR(ParseThresholds(o.thresholds, o.methods, &thresholds));

  std::unique_ptr<IndexSession> session;
  SIMDEX_RETURN_IF_ERROR(IndexSession::Open(o.directory, o.objectClass, &session));

  // Methods 1 and 3 read the distance distribution, which means nothing until
  // the statistics pass has measured it.
  std::vector<int> skipped;
  std::set<int> methods(o.methods.begin(), o.methods.end());
  if (!session->StatisticsMeasured()) {
    for (int m : {1, 3}) {
      if (methods.count(m) == 0) continue;
      if (o.methodsGiven) {
        return Status::FailedPrecondition(
            "method " + std::to_string(m) +
            " needs the measured distance distribution of the index: run 'simdex stats " +
            o.directory + "' first");
      }
      skipped.push_back(m);
      methods.erase(m);
    }
    if (!skipped.empty()) {
      std::fprintf(stderr,
                   "simdex eval: note: skipping method%s, which need%s the measured distance "
                   "distribution: run 'simdex stats %s' first\n",
                   skipped.size() == 1 ? (" " + std::to_string(skipped[0])).c_str() : "s 1 and 3",
                   skipped.size() == 1 ? "s" : "", o.directory.c_str());
    }
  }

  ReaderOptions readerOptions;
  readerOptions.dimension = session->dimension();
  std::vector<VectorRow> queries;
  SIMDEX_RETURN_IF_ERROR(ReadAllRows(o.queries, readerOptions, &queries));
  const std::size_t fileQueries = queries.size();
  if (o.first > 0 && static_cast<std::size_t>(o.first) < queries.size()) queries.resize(o.first);
  if (queries.empty()) return Status::InvalidArgument(o.queries + " holds no queries");

  const std::string truthDistances =
      o.truthDistances.empty() ? GroundTruth::DistanceFileFor(o.truth) : o.truthDistances;
  GroundTruth truth;
  SIMDEX_RETURN_IF_ERROR(GroundTruth::Load(o.truth, truthDistances, &truth));
  if (truth.queries() < queries.size() || (o.first == 0 && truth.queries() != fileQueries)) {
    return Status::InvalidArgument(
        o.truth + " holds the neighbours of " + std::to_string(truth.queries()) + " queries, but " +
        o.queries + " has " + std::to_string(fileQueries) + " (--first N evaluates the first N)");
  }
  for (std::size_t q = 0; q < queries.size(); ++q) {
    if (truth.distances(q).size() < static_cast<std::size_t>(o.k)) {
      std::fprintf(stderr,
                   "simdex eval: note: %s holds %zu neighbours for query %zu, fewer than k = %d; "
                   "such queries are judged on the neighbours it holds\n",
                   o.truth.c_str(), truth.distances(q).size(), q, o.k);
      break;
    }
  }

  double shareScale = 0;
  if (methods.count(1) + methods.count(3) > 0) {
    DistanceDistribution distribution;
    SIMDEX_RETURN_IF_ERROR(DistanceDistribution::Load(o.directory, &distribution));
    shareScale = MedianShareAtTrueKth(distribution, truth, queries.size(), o.k);
  }
  std::vector<Setting> settings{{0, std::nullopt}};
  for (int m : methods) {
    if (m == 0) continue;
    if (thresholds.count(m) == 0) thresholds[m] = DefaultThresholds(m, shareScale);
    for (double t : thresholds[m]) settings.push_back({m, t});
  }
  Evaluator evaluator(*session, queries, truth, o.k);
  std::vector<Result> results;
  Progress progress("eval", "settings", static_cast<std::int64_t>(settings.size()), quiet);
  for (const Setting& s : settings) {
    Result r{s, {}};
    SIMDEX_RETURN_IF_ERROR(evaluator.Run(s, &r.evaluation));
    results.push_back(r);
    progress.Update(static_cast<std::int64_t>(results.size()));
  }
  progress.Finish(static_cast<std::int64_t>(results.size()));
  const Evaluation& exact = results.front().evaluation;
  if (exact.recall() < 1.0) {
    std::fprintf(stderr,
                 "simdex eval: warning: exact search has recall@%d %.4f, not 1: %s does not hold "
                 "the true neighbours of %s in this index\n",
                 o.k, exact.recall(), o.truth.c_str(), o.queries.c_str());
  }

  if (o.format == "json") {
    std::fputs(
        MakeJson(o, truthDistances, queries.size(), shareScale, results, exact, skipped).c_str(),
        stdout);
  } else if (o.format == "csv") {
    std::fputs(MakeTable(results, exact, o.k, true).ToCsv().c_str(), stdout);
  } else {
    std::printf("%s: %zu queries from %s, k = %d, judged against %s\n", o.directory.c_str(),
                queries.size(), o.queries.c_str(), o.k, o.truth.c_str());
    if (shareScale > 0) {
      std::printf("F(true k-th distance), median over the queries: %.3g\n", shareScale);
    }
    std::fputs(MakeTable(results, exact, o.k, false).ToText().c_str(), stdout);
  }
  std::fflush(stdout);
  if (!o.plot.empty()) {
    SIMDEX_RETURN_IF_ERROR(DrawPlot(o, queries.size(), results));
    std::fprintf(o.format == "table" ? stdout : stderr, "wrote %s\n", o.plot.c_str());
  }
  return Status::OK();
}

}  // namespace

void AddEvalCommand(CLI::App& app, CommandContext& ctx) {
  auto o = std::make_shared<EvalOptions>();
  CLI::App* cmd = app.add_subcommand(
      "eval", "Measure recall and cost of the approximate k-NN searches against a ground truth");
  cmd->add_option("DIR", o->directory, "Index directory")->required();
  cmd->add_option("QUERIES", o->queries, "Query vectors (.fvecs, .bvecs, .npy, .csv, .bin)")
      ->required();
  cmd->add_option("--truth", o->truth,
                  "True neighbours of each query: .ivecs of row numbers, nearest first")
      ->required()
      ->type_name("FILE");
  cmd->add_option("--truth-dist", o->truthDistances,
                  "Their distances, raw float64 (default: the truth file's name without its "
                  "extension + _dist.bin)")
      ->type_name("FILE");
  cmd->add_option("-k", o->k, "Neighbours per query")->check(CLI::Range(1, 1000000));
  CLI::Option* methods =
      cmd->add_option("--methods", o->methods, "Methods to evaluate (0 = exact, always run)")
          ->delimiter(',')
          ->check(CLI::Range(0, 4))
          ->type_name("LIST");
  cmd->add_option("--thresholds", o->thresholds,
                  "Thresholds: M=T1,T2,... for method M, or T1,T2,... for every method "
                  "evaluated (repeatable)")
      ->type_name("LIST");
  cmd->add_option("--plot", o->plot, "Draw recall against distance computations (.png or .svg)")
      ->type_name("FILE");
  cmd->add_option("--size", o->size, "Plot size in pixels")->type_name("WxH");
  cmd->add_option("--format", o->format, "Output format")
      ->check(CLI::IsMember({"table", "csv", "json"}));
  cmd->add_option("--first", o->first, "Evaluate only the first N queries")
      ->check(CLI::PositiveNumber)
      ->type_name("N");
  cmd->add_option("--class", o->objectClass,
                  "Object class, when the index was not made by simdex create")
      ->type_name("CLASS");
  cmd->footer(
      "Exact search (method 0) runs once as the baseline: the ratios compare each row's mean\n"
      "distance computations and page reads per query with it. recall@k counts the returned\n"
      "neighbours within the true k-th distance (ties are equally right); rel.error is the\n"
      "mean of (returned - true) / true distance over ranks with a true distance above 0.\n"
      "Methods 1 and 3 need the measured distance distribution (simdex stats DIR).\n"
      "Default thresholds: 2: 0.1,0.3,1,3,10  4: -3e-5,-1e-4,-3e-4,-1e-3,-3e-3; methods 1 and 3\n"
      "compare shares of the distance distribution F, so theirs scale with F*, the median over\n"
      "the queries of F(true k-th distance): 1: F* x 0.003,0.01,0.03,0.1,0.3\n"
      "3: F* x 0.3,0.5,0.7,1,1.5.\n"
      "\nExamples:\n"
      "  simdex eval idx data/hist45-small_query.fvecs --truth data/hist45-small_gt10.ivecs\n"
      "  simdex eval idx q.fvecs --truth gt.ivecs --methods 2,4 --thresholds 2=0.1,0.3 "
      "--plot recall.png\n"
      "  simdex eval idx q.fvecs --truth gt.ivecs --format json --first 10");
  cmd->callback([o, methods, &ctx] {
    o->methodsGiven = methods->count() > 0;
    ctx.Finish("eval", RunEval(*o, ctx.quiet));
  });
}

}  // namespace simdex::cli
