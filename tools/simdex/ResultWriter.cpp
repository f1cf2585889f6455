#include "tools/simdex/ResultWriter.h"

#include <charconv>
#include <cmath>
#include <nlohmann/json.hpp>
#include <utility>

#include "tools/simdex/Table.h"

namespace simdex::cli {
namespace {

std::string Short(double value) {
  char text[32];
  std::snprintf(text, sizeof text, "%.6g", value);
  return text;
}

std::string Mean(std::int64_t sum, std::int64_t n) {
  char text[32];
  std::snprintf(text, sizeof text, "%.1f", n > 0 ? static_cast<double>(sum) / n : 0.0);
  return text;
}

}  // namespace

Status ParseOutputFormat(const std::string& text, OutputFormat* format) {
  if (text == "table") {
    *format = OutputFormat::kTable;
  } else if (text == "csv") {
    *format = OutputFormat::kCsv;
  } else if (text == "json") {
    *format = OutputFormat::kJson;
  } else {
    return Status::InvalidArgument("unknown output format '" + text + "' (table, csv or json)");
  }
  return Status::OK();
}

std::string ResultWriter::Exact(double value) {
  char text[32];
  auto [end, ec] = std::to_chars(text, text + sizeof text, value);
  if (ec != std::errc()) return Short(value);
  return std::string(text, end);
}

struct ResultWriter::Rep {
  OutputFormat format = OutputFormat::kTable;
  SearchDescription search;
  std::FILE* out = nullptr;
  std::int64_t queries = 0;
  std::int64_t results = 0;
  SearchCost total;
  bool headerDone = false;
  std::vector<std::vector<std::string>> costRows;  // csv
  nlohmann::ordered_json json;

  bool knn() const { return search.command == "knn"; }
  void Put(const std::string& text) { std::fwrite(text.data(), 1, text.size(), out); }
};

ResultWriter::ResultWriter(OutputFormat format, SearchDescription search, std::FILE* out)
    : rep_(std::make_unique<Rep>()) {
  rep_->format = format;
  rep_->search = std::move(search);
  rep_->out = out;
  if (format == OutputFormat::kJson) {
    const SearchDescription& s = rep_->search;
    nlohmann::ordered_json& j = rep_->json;
    j["command"] = s.command;
    j["index"] = s.index;
    j["queries_file"] = s.queriesFile;
    if (s.k) j["k"] = *s.k;
    if (s.radius) j["radius"] = *s.radius;
    j["method"] = s.method;
    j["threshold"] =
        s.threshold ? nlohmann::ordered_json(*s.threshold) : nlohmann::ordered_json(nullptr);
    j["queries"] = nlohmann::ordered_json::array();
  }
}

ResultWriter::~ResultWriter() = default;

void ResultWriter::Query(std::int64_t query, const std::vector<SearchHit>& hits,
                         const SearchCost& cost) {
  Rep& r = *rep_;
  ++r.queries;
  r.results += static_cast<std::int64_t>(hits.size());
  r.total.distances += cost.distances;
  r.total.reads += cost.reads;
  r.total.writes += cost.writes;
  switch (r.format) {
    case OutputFormat::kTable: {
      r.Put("query " + std::to_string(query) + ": " + std::to_string(hits.size()) +
            (hits.size() == 1 ? " result; " : " results; ") + std::to_string(cost.distances) +
            " distances, " + std::to_string(cost.reads) + " page reads, " +
            std::to_string(cost.writes) + " page writes\n");
      if (!hits.empty()) {
        Table t(r.knn() ? std::vector<std::string>{"rank", "id", "distance"}
                        : std::vector<std::string>{"id", "distance"});
        for (std::size_t i = 0; i < hits.size(); ++i) {
          std::vector<std::string> row;
          if (r.knn()) row.push_back(std::to_string(i + 1));
          row.push_back(std::to_string(hits[i].id));
          row.push_back(Short(hits[i].distance));
          t.AddRow(std::move(row));
        }
        r.Put(t.ToText());
      }
      r.Put("\n");
      break;
    }
    case OutputFormat::kCsv: {
      if (!r.headerDone) {
        r.Put(r.knn() ? "query,rank,id,distance\n" : "query,id,distance\n");
        r.headerDone = true;
      }
      for (std::size_t i = 0; i < hits.size(); ++i) {
        std::string line = std::to_string(query) + ",";
        if (r.knn()) line += std::to_string(i + 1) + ",";
        line += std::to_string(hits[i].id) + "," + Exact(hits[i].distance) + "\n";
        r.Put(line);
      }
      r.costRows.push_back({std::to_string(query), std::to_string(hits.size()),
                            std::to_string(cost.distances), std::to_string(cost.reads),
                            std::to_string(cost.writes)});
      break;
    }
    case OutputFormat::kJson: {
      nlohmann::ordered_json results = nlohmann::ordered_json::array();
      for (const SearchHit& h : hits) results.push_back({{"id", h.id}, {"distance", h.distance}});
      r.json["queries"].push_back({{"query", query},
                                   {"results", std::move(results)},
                                   {"cost",
                                    {{"distances", cost.distances},
                                     {"page_reads", cost.reads},
                                     {"page_writes", cost.writes}}}});
      break;
    }
  }
}

Status ResultWriter::Finish() {
  Rep& r = *rep_;
  switch (r.format) {
    case OutputFormat::kTable:
      r.Put("total: " + std::to_string(r.queries) + (r.queries == 1 ? " query, " : " queries, ") +
            std::to_string(r.results) + " results; " + std::to_string(r.total.distances) +
            " distances (" + Mean(r.total.distances, r.queries) + " per query), " +
            std::to_string(r.total.reads) + " page reads (" + Mean(r.total.reads, r.queries) +
            " per query), " + std::to_string(r.total.writes) + " page writes (" +
            Mean(r.total.writes, r.queries) + " per query)\n");
      break;
    case OutputFormat::kCsv: {
      if (!r.headerDone) r.Put(r.knn() ? "query,rank,id,distance\n" : "query,id,distance\n");
      Table costs({"query", "results", "distances", "page_reads", "page_writes"});
      for (auto& row : r.costRows) costs.AddRow(std::move(row));
      costs.AddRow({"total", std::to_string(r.results), std::to_string(r.total.distances),
                    std::to_string(r.total.reads), std::to_string(r.total.writes)});
      r.Put("\n" + costs.ToCsv());
      break;
    }
    case OutputFormat::kJson:
      r.json["total"] = {{"queries", r.queries},
                         {"results", r.results},
                         {"distances", r.total.distances},
                         {"page_reads", r.total.reads},
                         {"page_writes", r.total.writes}};
      // Non-finite numbers have no JSON form; nlohmann writes them as null.
      r.Put(r.json.dump(2) + "\n");
      break;
  }
  if (std::fflush(r.out) != 0 || std::ferror(r.out)) {
    return Status::IOError("cannot write the results");
  }
  return Status::OK();
}

}  // namespace simdex::cli
