#pragma once
// The answers of knn and range: one block per query (its results, each an
// identifier and a distance, and what the search cost) and the total cost.
//
//   table  per query a line "query Q: N results; D distances, R page reads,
//          W page writes", then its results as an aligned table; at the end a
//          "total" line with the sums and the means per query.
//   csv    a results section "query,rank,id,distance" (knn) or
//          "query,id,distance" (range), a blank line, then a cost section
//          "query,results,distances,page_reads,page_writes" whose last row is
//          the total.
//   json   one object: the search ("command", "index", "queries_file", "k"
//          or "radius", "method", "threshold"), "queries" (per query:
//          "query", "results" [{"id", "distance"}], "cost" {"distances",
//          "page_reads", "page_writes"}) and "total" (the sums, "queries" and
//          "results").
// Distances are printed so that they read back exactly (csv, json) or with 6
// significant digits (table). Results keep the order the search gave them.
#include <cstdint>
#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/Status.h"
#include "tools/simdex/IndexSession.h"

namespace simdex::cli {

enum class OutputFormat { kTable, kCsv, kJson };

// "table", "csv" or "json".
Status ParseOutputFormat(const std::string& text, OutputFormat* format);

// What was searched, for headers and the json object.
struct SearchDescription {
  std::string command;  // "knn" or "range"
  std::string index;
  std::string queriesFile;
  std::optional<int> k;
  std::optional<double> radius;
  int method = 0;
  std::optional<double> threshold;
};

class ResultWriter {
 public:
  // Writes to out (borrowed; stays open).
  ResultWriter(OutputFormat format, SearchDescription search, std::FILE* out);
  ~ResultWriter();

  // The answer of query number `query` (0-based row of the queries file).
  void Query(std::int64_t query, const std::vector<SearchHit>& hits, const SearchCost& cost);
  // Writes the totals (and, for json, everything) and flushes; IOError when
  // the stream failed.
  Status Finish();

  // Shortest text that reads back as the same double.
  static std::string Exact(double value);

 private:
  struct Rep;
  std::unique_ptr<Rep> rep_;
};

}  // namespace simdex::cli
