// simdex knn and range: searches for every vector of a query file.
#include <CLI/CLI.hpp>
#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "tools/simdex/CommandContext.h"
#include "tools/simdex/IndexSession.h"
#include "tools/simdex/OptionChecks.h"
#include "tools/simdex/ResultWriter.h"
#include "tools/simdex/VectorReader.h"

namespace simdex::cli {
namespace {

struct SearchOptions {
  std::string dir;
  std::string queries;
  std::string objectClass;
  std::string queryFormat;
  int k = 10;
  double radius = 0;
  int method = 0;
  std::optional<double> threshold;
  std::string format = "table";
  std::optional<std::int64_t> first;
  std::string output;
};

struct FileCloser {
  void operator()(std::FILE* f) const { std::fclose(f); }
};

Status RunSearch(const std::string& command, const SearchOptions& o) {
  if (o.method != 0 && !o.threshold) {
    return Status::InvalidArgument("approximation method " + std::to_string(o.method) +
                                   " needs --threshold T");
  }
  OutputFormat format;
  SIMDEX_RETURN_IF_ERROR(ParseOutputFormat(o.format, &format));
  std::unique_ptr<IndexSession> session;
  SIMDEX_RETURN_IF_ERROR(IndexSession::Open(o.dir, o.objectClass, &session));
  SIMDEX_RETURN_IF_ERROR(session->SetApproximation(o.method, o.threshold));

  ReaderOptions options;
  SIMDEX_RETURN_IF_ERROR(
      MakeReaderOptions(o.queries, o.queryFormat, session->dimension(), &options));
  std::vector<VectorRow> rows;
  SIMDEX_RETURN_IF_ERROR(ReadAllRows(o.queries, options, &rows));
  if (o.first && *o.first < static_cast<std::int64_t>(rows.size())) {
    rows.resize(static_cast<std::size_t>(*o.first));
  }

  std::unique_ptr<std::FILE, FileCloser> file;
  std::FILE* out = stdout;
  if (!o.output.empty()) {
    file.reset(std::fopen(o.output.c_str(), "w"));
    if (!file) return Status::IOError("cannot write " + o.output);
    out = file.get();
  }
  SearchDescription description;
  description.command = command;
  description.index = o.dir;
  description.queriesFile = o.queries;
  if (command == "knn") {
    description.k = o.k;
  } else {
    description.radius = o.radius;
  }
  description.method = o.method;
  description.threshold = o.threshold;
  ResultWriter writer(format, description, out);
  std::vector<SearchHit> hits;
  for (const VectorRow& row : rows) {
    SearchCost cost;
    Status s = command == "knn" ? session->Nearest(row.values, o.k, &hits, &cost)
                                : session->Range(row.values, o.radius, &hits, &cost);
    if (!s.ok()) {
      return Status::IOError(o.queries + ": query " + std::to_string(row.row) + ": " + s.message());
    }
    writer.Query(row.row, hits, cost);
  }
  Status s = writer.Finish();
  if (!s.ok()) return Status::IOError(s.message() + (o.output.empty() ? "" : " to " + o.output));
  if (file && std::fclose(file.release()) != 0) return Status::IOError("cannot write " + o.output);
  return Status::OK();
}

void AddSearch(CLI::App& app, CommandContext& ctx, const std::string& command) {
  const bool knn = command == "knn";
  auto o = std::make_shared<SearchOptions>();
  CLI::App* cmd = app.add_subcommand(
      command, knn ? "The k nearest stored objects of every query vector"
                   : "Every stored object within a radius of every query vector");
  cmd->add_option("DIR", o->dir, "Index directory")->required();
  cmd->add_option("QUERIES", o->queries, "Query vectors: .fvecs, .bvecs, .npy, .csv or .bin")
      ->required();
  if (knn) {
    cmd->add_option("-k", o->k, "Number of neighbours")->check(CLI::PositiveNumber);
  } else {
    cmd->add_option("-r,--radius", o->radius, "Search radius")
        ->required()
        ->check(FiniteAbove(0, true));
  }
  cmd->add_option("--method", o->method,
                  "0 exact; approximate: 1 region proximity, 2 enlarged lower bound, 3 distance "
                  "distribution, 4 slow-down of the k-th distance")
      ->check(CLI::Range(0, 4));
  cmd->add_option("--threshold", o->threshold, "Threshold of the approximation method")
      ->check(Finite());
  cmd->add_option("--format", o->format, "Output: table, csv or json")
      ->check(CLI::IsMember({"table", "csv", "json"}));
  cmd->add_option("--first", o->first, "Only the first N queries")->check(CLI::NonNegativeNumber);
  cmd->add_option("--output", o->output, "Write the results to FILE instead of standard output")
      ->type_name("FILE")
      ->default_str("");
  cmd->add_option("--query-format", o->queryFormat,
                  "Query file format when the extension does not tell: fvecs, bvecs, npy, csv, "
                  "bin")
      ->default_str("")
      ->check(CLI::IsMember({"fvecs", "bvecs", "npy", "csv", "bin"}));
  cmd->add_option("--class", o->objectClass,
                  "Object class of the index (default: the one recorded by create)")
      ->type_name("NAME")
      ->default_str("");
  cmd->footer(
      knn ? "Prints one block per query (rank, identifier, distance) with what the search cost\n"
            "(distances computed, page reads and writes), then the totals. Methods 1 and 3 need\n"
            "`simdex stats DIR` first.\n"
            "\n"
            "Examples:\n"
            "  simdex knn idx data/hist45-small_query.fvecs -k 10\n"
            "  simdex knn idx queries.npy -k 5 --method 2 --threshold 0.3 --format json\n"
            "  simdex knn idx queries.csv --first 10 --format csv --output answers.csv\n"
          : "Prints one block per query (identifier, distance, in tree order) with what the\n"
            "search cost (distances computed, page reads and writes), then the totals. Methods\n"
            "1 and 3 need `simdex stats DIR` first.\n"
            "\n"
            "Examples:\n"
            "  simdex range idx data/hist45-small_query.fvecs -r 0.2\n"
            "  simdex range idx queries.npy -r 0.5 --method 1 --threshold 0.01 --format csv\n");
  cmd->callback([&ctx, o, command] { ctx.Finish(command, RunSearch(command, *o)); });
}

}  // namespace

void AddSearchCommands(CLI::App& app, CommandContext& ctx) {
  AddSearch(app, ctx, "knn");
  AddSearch(app, ctx, "range");
}

}  // namespace simdex::cli
