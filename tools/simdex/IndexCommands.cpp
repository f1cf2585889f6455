// simdex create, insert, stats, info and check.
#include <fcntl.h>
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <chrono>
#include <cinttypes>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <limits>
#include <memory>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

#include "gist/PageFile.h"
#include "m_trees/MetricTree.h"
#include "m_trees/TreeChecker.h"
#include "platform/Coding.h"
#include "tools/simdex/CommandContext.h"
#include "tools/simdex/DistanceDistribution.h"
#include "tools/simdex/DistributionSummary.h"
#include "tools/simdex/IndexSession.h"
#include "tools/simdex/OptionChecks.h"
#include "tools/simdex/Progress.h"
#include "tools/simdex/Table.h"
#include "tools/simdex/TreeSummary.h"
#include "tools/simdex/VectorReader.h"

namespace simdex::cli {
namespace {

namespace fs = std::filesystem;

constexpr std::int64_t kMaxId = std::numeric_limits<std::uint32_t>::max();
// How many rows the service counts before its 32-bit counters are read out.
constexpr std::int64_t kCostChunk = 4096;

std::string Number(double value, const char* format = "%.6g") {
  char text[64];
  std::snprintf(text, sizeof text, format, value);
  return text;
}

std::string PerRow(std::int64_t sum, std::int64_t rows) {
  return Number(rows > 0 ? static_cast<double>(sum) / static_cast<double>(rows) : 0.0, "%.1f");
}

// --class: which plug-in class an existing index holds, when the directory
// does not say.
void AddClassOption(CLI::App* cmd, std::string* objectClass) {
  cmd->add_option("--class", *objectClass,
                  "Object class of the index: VectorA, VectorB, a ProgID or a braced class id "
                  "(default: the one recorded by create)")
      ->type_name("NAME")
      ->default_str("");
}

// ---- create ----

struct CreateOptions {
  std::string dir;
  std::string objectClass;
  double maxDistance = 0;
  bool force = false;
};

Status RunCreate(const CreateOptions& o) {
  GUID clsid;
  SIMDEX_RETURN_IF_ERROR(ResolveClass(o.objectClass, &clsid));
  std::error_code ec;
  if (fs::exists(MetricTree::FileIn(o.dir, MetricTree::kIndexFile), ec) && !o.force) {
    return Status::AlreadyExists(o.dir + " already holds an index: pass --force to replace it");
  }
  if (!fs::is_directory(o.dir, ec)) {
    if (fs::exists(o.dir, ec)) return Status::InvalidArgument(o.dir + " is not a directory");
    if (!fs::create_directories(o.dir, ec) && ec) {
      return Status::IOError("cannot create directory " + o.dir + ": " + ec.message());
    }
    std::printf("created directory %s\n", o.dir.c_str());
  }
  std::unique_ptr<IndexSession> session;
  SIMDEX_RETURN_IF_ERROR(IndexSession::Create(o.dir, o.objectClass, o.maxDistance, &session));
  std::printf("created an empty index in %s: class %s %s, %d dimensions, maximum distance %s\n",
              o.dir.c_str(), session->className().c_str(),
              FormatGuid(session->objectClass()).c_str(), session->dimension(),
              Number(o.maxDistance).c_str());
  return Status::OK();
}

void AddCreate(CLI::App& app, CommandContext& ctx) {
  auto o = std::make_shared<CreateOptions>();
  CLI::App* cmd = app.add_subcommand("create", "Create a new, empty index in a directory");
  cmd->add_option("DIR", o->dir, "Index directory (created when missing)")->required();
  cmd->add_option("--class", o->objectClass,
                  "Object class: VectorA (45 doubles), VectorB (144 doubles), a ProgID or a "
                  "braced class id")
      ->required();
  cmd->add_option("--max-distance", o->maxDistance,
                  "Largest distance between two objects (the range of the distance "
                  "distribution)")
      ->required()
      ->check(FiniteAbove(0, false));
  cmd->add_flag("--force", o->force, "Replace an index that is already there");
  cmd->footer(
      "Examples:\n"
      "  simdex create idx --class VectorA --max-distance 1.5\n"
      "  simdex create idx --class VectorB.VectorBObject --max-distance 2 --force\n");
  cmd->callback([&ctx, o] { ctx.Finish("create", RunCreate(*o)); });
}

// ---- insert ----

struct InsertOptions {
  std::string dir;
  std::string file;
  std::string format;
  std::string objectClass;
  std::int64_t idOffset = 0;
  int idColumn = -1;
  std::string idsFile;
};

// Identifiers from a file: one per line, or an .ivecs file of one value per
// record.
Status ReadIds(const std::string& path, std::vector<std::uint32_t>* ids) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return Status::NotFound("cannot open " + path);
  ids->clear();
  const bool ivecs = path.size() >= 6 && path.compare(path.size() - 6, 6, ".ivecs") == 0;
  if (ivecs) {
    for (std::int64_t record = 0;; ++record) {
      unsigned char bytes[8];
      in.read(reinterpret_cast<char*>(bytes), sizeof bytes);
      if (in.gcount() == 0) break;
      if (in.gcount() != static_cast<std::streamsize>(sizeof bytes)) {
        return Status::Corruption(path + ": record " + std::to_string(record) + ": truncated");
      }
      const auto k = static_cast<std::int32_t>(DecodeFixed32(bytes));
      const auto id = static_cast<std::int32_t>(DecodeFixed32(bytes + 4));
      if (k != 1) {
        return Status::InvalidArgument(path + ": record " + std::to_string(record) + " holds " +
                                       std::to_string(k) +
                                       " values; an identifier file holds one per record");
      }
      if (id < 0) {
        return Status::InvalidArgument(path + ": record " + std::to_string(record) +
                                       ": negative identifier " + std::to_string(id));
      }
      ids->push_back(static_cast<std::uint32_t>(id));
    }
    return Status::OK();
  }
  std::string line;
  for (std::int64_t number = 1; std::getline(in, line); ++number) {
    while (!line.empty() && (line.back() == '\r' || line.back() == ' ' || line.back() == '\t')) {
      line.pop_back();
    }
    std::size_t start = line.find_first_not_of(" \t");
    if (start == std::string::npos) {
      // Blank lines only at the end: an identifier per line, no gaps.
      std::string rest;
      while (std::getline(in, rest)) {
        if (rest.find_first_not_of(" \t\r") != std::string::npos) {
          return Status::InvalidArgument(path + ": line " + std::to_string(number) + " is empty");
        }
      }
      break;
    }
    const std::string text = line.substr(start);
    std::uint64_t value = 0;
    bool ok = !text.empty() && text.size() <= 10;
    for (char c : text) {
      if (c < '0' || c > '9') ok = false;
      if (ok) value = value * 10 + static_cast<std::uint64_t>(c - '0');
    }
    if (!ok || value > static_cast<std::uint64_t>(kMaxId)) {
      return Status::InvalidArgument(path + ": line " + std::to_string(number) + ": '" + text +
                                     "' is not an identifier (0 to 4294967295)");
    }
    ids->push_back(static_cast<std::uint32_t>(value));
  }
  return Status::OK();
}

struct InsertState {
  std::int64_t inserted = 0;
  SearchCost cost;
};

Status AddCost(IndexSession& session, InsertState* state) {
  SearchCost part;
  SIMDEX_RETURN_IF_ERROR(session.TakeCost(&part));
  state->cost.distances += part.distances;
  state->cost.reads += part.reads;
  state->cost.writes += part.writes;
  return Status::OK();
}

Status InsertRows(const InsertOptions& o, const CommandContext& ctx, IndexSession& session,
                  InsertState* state) {
  ReaderOptions options;
  SIMDEX_RETURN_IF_ERROR(MakeReaderOptions(o.file, o.format, session.dimension(), &options));
  options.idColumn = o.idColumn;
  if (o.idColumn >= 0 && options.format != VectorFormat::kCsv) {
    return Status::InvalidArgument("--id-column applies to CSV files only");
  }
  std::vector<std::uint32_t> ids;
  if (!o.idsFile.empty()) SIMDEX_RETURN_IF_ERROR(ReadIds(o.idsFile, &ids));

  std::unique_ptr<VectorReader> reader;
  SIMDEX_RETURN_IF_ERROR(VectorReader::Open(o.file, options, &reader));
  const std::optional<std::int64_t> rows = reader->RowCount();
  // What can be known before the first row goes in is checked first.
  if (rows && !o.idsFile.empty() && static_cast<std::int64_t>(ids.size()) != *rows) {
    return Status::InvalidArgument(o.idsFile + " holds " + std::to_string(ids.size()) +
                                   " identifiers for the " + std::to_string(*rows) + " rows of " +
                                   o.file);
  }
  if (rows && o.idsFile.empty() && o.idColumn < 0 && *rows > 0 &&
      (o.idOffset < 0 || o.idOffset + *rows - 1 > kMaxId)) {
    return Status::InvalidArgument("identifiers " + std::to_string(o.idOffset) + " to " +
                                   std::to_string(o.idOffset + *rows - 1) +
                                   " do not fit 32 bits (0 to 4294967295)");
  }
  VectorRow row;
  bool more = false;
  SIMDEX_RETURN_IF_ERROR(reader->Next(&row, &more));
  // Only the insertions count.
  SearchCost before;
  SIMDEX_RETURN_IF_ERROR(session.TakeCost(&before));
  Progress progress("insert", "rows", rows, ctx.quiet);
  while (more) {
    std::int64_t id = 0;
    if (row.id) {
      id = *row.id;
    } else if (!o.idsFile.empty()) {
      if (row.row >= static_cast<std::int64_t>(ids.size())) {
        return Status::InvalidArgument(o.file + ": row " + std::to_string(row.row) +
                                       ": no identifier for it in " + o.idsFile + " (it holds " +
                                       std::to_string(ids.size()) + ")");
      }
      id = ids[static_cast<std::size_t>(row.row)];
    } else {
      id = row.row + o.idOffset;
      if (id < 0 || id > kMaxId) {
        return Status::InvalidArgument(o.file + ": row " + std::to_string(row.row) +
                                       ": identifier " + std::to_string(id) +
                                       " does not fit 32 bits (0 to 4294967295)");
      }
    }
    SIMDEX_RETURN_IF_ERROR(session.Insert(static_cast<std::uint32_t>(id), row.values));
    ++state->inserted;
    if (state->inserted % kCostChunk == 0) SIMDEX_RETURN_IF_ERROR(AddCost(session, state));
    progress.Update(state->inserted);
    SIMDEX_RETURN_IF_ERROR(reader->Next(&row, &more));
  }
  progress.Finish(state->inserted);
  SIMDEX_RETURN_IF_ERROR(AddCost(session, state));
  if (!o.idsFile.empty() && static_cast<std::int64_t>(ids.size()) > state->inserted) {
    return Status::InvalidArgument(o.idsFile + " holds " + std::to_string(ids.size()) +
                                   " identifiers, but " + o.file + " has only " +
                                   std::to_string(state->inserted) + " rows");
  }
  return Status::OK();
}

void RunInsert(const InsertOptions& o, CommandContext& ctx) {
  std::unique_ptr<IndexSession> session;
  Status s = IndexSession::Open(o.dir, o.objectClass, &session);
  if (!s.ok()) return ctx.Finish("insert", s);
  const auto start = std::chrono::steady_clock::now();
  InsertState state;
  s = InsertRows(o, ctx, *session, &state);
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  if (!s.ok()) {
    ctx.Finish("insert", s);
    const std::int64_t k = state.inserted;
    std::fprintf(stderr, "simdex insert: inserted %" PRId64 " rows%s before the error\n", k,
                 k > 0 ? (" (rows 0.." + std::to_string(k - 1) + ")").c_str() : "");
    return;
  }
  const std::int64_t n = state.inserted;
  std::printf("inserted %" PRId64
              " rows from %s into %s in %.2f s (%s rows/s)\n"
              "cost: %" PRId64 " distances (%s per row), %" PRId64
              " page reads (%s per row), %" PRId64 " page writes (%s per row)\n",
              n, o.file.c_str(), o.dir.c_str(), seconds,
              Number(seconds > 0 ? static_cast<double>(n) / seconds : 0.0, "%.0f").c_str(),
              state.cost.distances, PerRow(state.cost.distances, n).c_str(), state.cost.reads,
              PerRow(state.cost.reads, n).c_str(), state.cost.writes,
              PerRow(state.cost.writes, n).c_str());
}

void AddInsert(CLI::App& app, CommandContext& ctx) {
  auto o = std::make_shared<InsertOptions>();
  CLI::App* cmd = app.add_subcommand("insert", "Insert the vectors of a file into an index");
  cmd->add_option("DIR", o->dir, "Index directory")->required();
  cmd->add_option("FILE", o->file, "Vector file: .fvecs, .bvecs, .npy, .csv or .bin")->required();
  cmd->add_option("--format", o->format,
                  "File format when the extension does not tell: fvecs, bvecs, npy, csv, bin "
                  "(raw little-endian float64)")
      ->default_str("")
      ->check(CLI::IsMember({"fvecs", "bvecs", "npy", "csv", "bin"}));
  AddClassOption(cmd, &o->objectClass);
  auto* offset = cmd->add_option("--id-offset", o->idOffset,
                                 "Identifier of row N is N + offset (the default)");
  auto* column =
      cmd->add_option("--id-column", o->idColumn, "CSV: the identifiers are in this 0-based column")
          ->default_str("")
          ->check(CLI::NonNegativeNumber);
  auto* ids = cmd->add_option("--ids", o->idsFile,
                              "Identifiers from a file: one per line, or .ivecs of one value per "
                              "record")
                  ->type_name("FILE")
                  ->default_str("");
  offset->excludes(column)->excludes(ids);
  column->excludes(ids);
  cmd->footer(
      "Rows go in in file order. A bad row (wrong dimension, NaN, truncation) stops the\n"
      "insertion; the rows before it stay in the index and their number is reported.\n"
      "\n"
      "Examples:\n"
      "  simdex insert idx data/hist45-small.fvecs\n"
      "  simdex insert idx more.npy --id-offset 5000\n"
      "  simdex insert idx points.csv --id-column 0\n"
      "  simdex insert idx points.bin --ids points_ids.txt\n");
  cmd->callback([&ctx, o] { RunInsert(*o, ctx); });
}

// ---- stats ----

// Sends standard error to /dev/null while it lives (the engine's own
// progress lines under --quiet).
class SilencedStderr {
 public:
  explicit SilencedStderr(bool silence) {
    if (!silence) return;
    std::fflush(stderr);
    saved_ = ::dup(STDERR_FILENO);
    const int null = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
    if (saved_ >= 0 && null >= 0) ::dup2(null, STDERR_FILENO);
    if (null >= 0) ::close(null);
  }
  ~SilencedStderr() {
    if (saved_ < 0) return;
    std::fflush(stderr);
    ::dup2(saved_, STDERR_FILENO);
    ::close(saved_);
  }
  SilencedStderr(const SilencedStderr&) = delete;
  SilencedStderr& operator=(const SilencedStderr&) = delete;

 private:
  int saved_ = -1;
};

struct IndexOptions {
  std::string dir;
  std::string objectClass;
  std::string format = "table";
};

Status RunStats(const IndexOptions& o, const CommandContext& ctx) {
  std::unique_ptr<IndexSession> session;
  SIMDEX_RETURN_IF_ERROR(IndexSession::Open(o.dir, o.objectClass, &session));
  SearchCost cost;
  const auto start = std::chrono::steady_clock::now();
  {
    SilencedStderr quiet(ctx.quiet);
    SIMDEX_RETURN_IF_ERROR(session->GenerateStatistics(&cost));
  }
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  const std::int64_t objects = session->tree()->parameters().totalObjects;
  const std::int64_t sampled = std::min<std::int64_t>(objects, MetricTree::kMaxSamples);
  DistanceDistribution distribution;
  SIMDEX_RETURN_IF_ERROR(DistanceDistribution::Load(o.dir, &distribution));
  DistributionSummary d;
  SIMDEX_RETURN_IF_ERROR(DistributionSummary::Of(distribution, &d));
  std::printf("statistics of %s: %" PRId64 " of %" PRId64 " objects sampled, %.2f s; cost: %" PRId64
              " distances, %" PRId64 " page reads\n",
              o.dir.c_str(), sampled, objects, seconds, cost.distances, cost.reads);
  std::printf("distance distribution (%s):\n", MetricTree::kDensityFile);
  const struct {
    const char* name;
    double value;
  } kLines[] = {{"maximum distance", d.maxDistance},
                {"mean", d.mean},
                {"standard deviation", d.stddev},
                {"1st percentile", d.p1},
                {"10th percentile", d.p10},
                {"median", d.median},
                {"90th percentile", d.p90},
                {"99th percentile", d.p99},
                {"intrinsic dimensionality", d.intrinsicDimensionality}};
  for (const auto& line : kLines) {
    std::printf("  %-26s %s\n", line.name, Number(line.value, "%.4g").c_str());
  }
  std::printf("  (intrinsic dimensionality = mean^2 / (2 variance))\n");
  return Status::OK();
}

void AddStats(CLI::App& app, CommandContext& ctx) {
  auto o = std::make_shared<IndexOptions>();
  CLI::App* cmd = app.add_subcommand(
      "stats", "Measure the distance distribution of an index (used by approximate search)");
  cmd->add_option("DIR", o->dir, "Index directory")->required();
  AddClassOption(cmd, &o->objectClass);
  cmd->footer(
      "Samples up to 3000 stored objects, measures the distances between them and rewrites\n"
      "Density.dat and Distribution.dat; approximation methods 1 and 3 need it. Run it again\n"
      "after large insertions.\n"
      "\n"
      "Examples:\n"
      "  simdex stats idx\n"
      "  simdex -q stats idx\n");
  cmd->callback([&ctx, o] { ctx.Finish("stats", RunStats(*o, ctx)); });
}

// ---- info ----

Status RunInfo(const IndexOptions& o) {
  std::unique_ptr<IndexSession> session;
  SIMDEX_RETURN_IF_ERROR(IndexSession::Open(o.dir, o.objectClass, &session));
  TreeSummary t;
  SIMDEX_RETURN_IF_ERROR(TreeSummary::Of(*session->tree(), &t));
  std::error_code ec;
  const std::string indexFile = MetricTree::FileIn(o.dir, MetricTree::kIndexFile);
  const auto fileSize = static_cast<std::int64_t>(fs::file_size(indexFile, ec));
  const bool measured = session->StatisticsMeasured();
  if (o.format == "json") {
    nlohmann::ordered_json j;
    j["index"] = o.dir;
    j["class"] = session->className();
    j["class_id"] = FormatGuid(session->objectClass());
    j["dimension"] = session->dimension();
    j["max_distance"] = session->maxDistance();
    j["height"] = t.height;
    j["objects"] = t.objects;
    j["file_bytes"] = fileSize;
    j["page_size"] = PageFile::kPageSize;
    j["statistics_measured"] = measured;
    j["levels"] = nlohmann::ordered_json::array();
    for (const LevelSummary& l : t.levels) {
      nlohmann::ordered_json level = {{"level", l.level},
                                      {"nodes", l.nodes},
                                      {"entries", l.entries},
                                      {"mean_entries", l.MeanEntries()},
                                      {"fill", l.Fill()}};
      if (l.radii > 0) {
        level["radius"] = {{"min", l.minRadius}, {"mean", l.MeanRadius()}, {"max", l.maxRadius}};
      }
      j["levels"].push_back(std::move(level));
    }
    std::printf("%s\n", j.dump(2).c_str());
    return Status::OK();
  }
  std::printf("index          %s\n", o.dir.c_str());
  std::printf("class          %s %s, %d dimensions\n", session->className().c_str(),
              FormatGuid(session->objectClass()).c_str(), session->dimension());
  std::printf("max distance   %s\n", Number(session->maxDistance()).c_str());
  std::printf("objects        %" PRId64 "\n", t.objects);
  std::printf("height         %d\n", t.height);
  std::printf("index.M3       %" PRId64 " bytes (%" PRId64 " pages of %d)\n", fileSize,
              fileSize / PageFile::kPageSize, PageFile::kPageSize);
  std::printf("statistics     %s\n",
              measured ? "measured" : "not measured (run `simdex stats` for methods 1 and 3)");
  std::printf("\n");
  Table table({"level", "nodes", "entries", "entries/node", "fill", "radius min", "radius mean",
               "radius max"});
  for (const LevelSummary& l : t.levels) {
    const bool r = l.radii > 0;
    table.AddRow({std::to_string(l.level), std::to_string(l.nodes), std::to_string(l.entries),
                  Number(l.MeanEntries(), "%.1f"), Number(100 * l.Fill(), "%.1f%%"),
                  r ? Number(l.minRadius, "%.4g") : "", r ? Number(l.MeanRadius(), "%.4g") : "",
                  r ? Number(l.maxRadius, "%.4g") : ""});
  }
  std::printf("%s", table.ToText().c_str());
  return Status::OK();
}

void AddInfo(CLI::App& app, CommandContext& ctx) {
  auto o = std::make_shared<IndexOptions>();
  CLI::App* cmd = app.add_subcommand("info", "Describe an index: class, size, levels, fill");
  cmd->add_option("DIR", o->dir, "Index directory")->required();
  AddClassOption(cmd, &o->objectClass);
  cmd->add_option("--format", o->format, "Output format: table or json")
      ->check(CLI::IsMember({"table", "json"}));
  cmd->footer(
      "Per level (0 = leaves): nodes, entries, mean entries per node, page fill (bytes\n"
      "used / 16384) and the covering radii of the level's nodes.\n"
      "\n"
      "Examples:\n"
      "  simdex info idx\n"
      "  simdex info idx --format json\n");
  cmd->callback([&ctx, o] { ctx.Finish("info", RunInfo(*o)); });
}

// ---- check ----

Status RunCheck(const IndexOptions& o) {
  std::unique_ptr<IndexSession> session;
  SIMDEX_RETURN_IF_ERROR(IndexSession::Open(o.dir, o.objectClass, &session));
  const std::vector<std::string> problems = TreeChecker::Check(*session->tree());
  if (!problems.empty()) {
    for (const std::string& p : problems) std::printf("%s\n", p.c_str());
    std::fflush(stdout);
    return Status::Corruption("the index in " + o.dir + " is damaged (" +
                              std::to_string(problems.size()) +
                              (problems.size() == 1 ? " problem" : " problems") + " listed)");
  }
  TreeSummary t;
  SIMDEX_RETURN_IF_ERROR(TreeSummary::Of(*session->tree(), &t));
  std::printf("ok: %" PRId64 " objects, height %d\n", t.objects, t.height);
  return Status::OK();
}

void AddCheck(CLI::App& app, CommandContext& ctx) {
  auto o = std::make_shared<IndexOptions>();
  CLI::App* cmd =
      app.add_subcommand("check", "Check every invariant of an index's tree (exit 1 if broken)");
  cmd->add_option("DIR", o->dir, "Index directory")->required();
  AddClassOption(cmd, &o->objectClass);
  cmd->footer(
      "Walks every node: page references, levels, entry order, stored distances and\n"
      "covering radii. Prints \"ok: N objects, height H\", or every problem found and\n"
      "exits with status 1.\n"
      "\n"
      "Examples:\n"
      "  simdex check idx\n");
  cmd->callback([&ctx, o] { ctx.Finish("check", RunCheck(*o)); });
}

}  // namespace

void AddIndexCommands(CLI::App& app, CommandContext& ctx) {
  AddCreate(app, ctx);
  AddInsert(app, ctx);
  AddStats(app, ctx);
  AddInfo(app, ctx);
  AddCheck(app, ctx);
}

}  // namespace simdex::cli
