// simdex generate: clustered test data; simdex truth: brute-force ground
// truth of a query file against a base file.
#include <CLI/CLI.hpp>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include "tools/generators/ClusteredGenerator.h"
#include "tools/simdex/BruteForceKnn.h"
#include "tools/simdex/CommandContext.h"
#include "tools/simdex/VectorReader.h"
#include "tools/simdex/VectorWriter.h"

namespace simdex::cli {
namespace {

struct GenerateOptions {
  std::string out;
  std::int64_t count = 0;
  int dimension = 45;
  int clusters = 10;
  double sigma = 0.1;
  std::uint64_t seed = 20261211;
  std::int64_t queries = 0;
  std::string queryOut;
  std::string format;
};

// Keeps the cluster centres (clusters x dimension doubles) within 1 GiB.
constexpr std::int64_t kMaxCentreValues = std::int64_t{1} << 27;

Status OutputFormat(const std::string& path, const std::string& format, VectorFormat* out) {
  SIMDEX_RETURN_IF_ERROR(ParseVectorFormat(path, format, out));
  if (*out == VectorFormat::kBvecs) {
    return Status::InvalidArgument(path + ": cannot write bvecs (it holds bytes, not doubles)");
  }
  return Status::OK();
}

Status Generate(const GenerateOptions& o, std::string* summary) {
  if (!std::isfinite(o.sigma) || o.sigma < 0) {
    return Status::InvalidArgument("--sigma must be a finite number >= 0");
  }
  if (std::int64_t{o.clusters} * o.dimension > kMaxCentreValues) {
    return Status::InvalidArgument("--clusters x --dimension must be at most " +
                                   std::to_string(kMaxCentreValues));
  }
  VectorFormat format, queryFormat = VectorFormat::kFvecs;
  SIMDEX_RETURN_IF_ERROR(OutputFormat(o.out, o.format, &format));
  if (o.queries > 0) {
    SIMDEX_RETURN_IF_ERROR(OutputFormat(o.queryOut, o.format, &queryFormat));
    std::error_code ec;
    if (std::filesystem::weakly_canonical(o.out, ec) ==
        std::filesystem::weakly_canonical(o.queryOut, ec)) {
      return Status::InvalidArgument(o.queryOut + ": the query file must differ from " + o.out);
    }
  }
  std::unique_ptr<VectorWriter> base, queries;
  SIMDEX_RETURN_IF_ERROR(VectorWriter::Create(o.out, format, o.dimension, &base));
  if (o.queries > 0) {
    SIMDEX_RETURN_IF_ERROR(VectorWriter::Create(o.queryOut, queryFormat, o.dimension, &queries));
  }
  // One stream: the queries are the points that follow the base, from the
  // same clusters.
  ClusteredGenerator generator(o.dimension, o.clusters, o.sigma, o.seed);
  std::vector<double> row(static_cast<std::size_t>(o.dimension));
  for (std::int64_t i = 0; i < o.count + o.queries; ++i) {
    generator.Next(row);
    SIMDEX_RETURN_IF_ERROR((i < o.count ? base : queries)->Write(row));
  }
  SIMDEX_RETURN_IF_ERROR(base->Close());
  const auto describe = [&](const std::string& path, std::int64_t n, VectorFormat f) {
    return path + ": " + std::to_string(n) + " vectors of " + std::to_string(o.dimension) +
           " values (" + VectorFormatName(f) + (f == VectorFormat::kFvecs ? ", float32" : "") +
           ")\n";
  };
  *summary = describe(o.out, o.count, format);
  if (queries) {
    SIMDEX_RETURN_IF_ERROR(queries->Close());
    *summary += describe(o.queryOut, o.queries, queryFormat);
  }
  return Status::OK();
}

struct TruthOptions {
  std::string base;
  std::string queries;
  int k = 0;
  std::string prefix;
  std::string format;
  int dimension = 0;
  std::int64_t idOffset = 0;
};

Status Truth(const TruthOptions& o, std::string* summary) {
  ReaderOptions options;
  SIMDEX_RETURN_IF_ERROR(MakeReaderOptions(o.queries, o.format, o.dimension, &options));
  std::vector<VectorRow> rows;
  SIMDEX_RETURN_IF_ERROR(ReadAllRows(o.queries, options, &rows));
  std::vector<std::vector<double>> queries;
  queries.reserve(rows.size());
  for (VectorRow& r : rows) queries.push_back(std::move(r.values));
  // The base is read with the queries' dimension, in its own format.
  SIMDEX_RETURN_IF_ERROR(
      MakeReaderOptions(o.base, o.format, static_cast<int>(queries.front().size()), &options));

  std::unique_ptr<VectorReader> reader;
  SIMDEX_RETURN_IF_ERROR(VectorReader::Open(o.base, options, &reader));
  const std::size_t queryCount = queries.size();
  BruteForceKnn knn(std::move(queries), o.k);
  constexpr std::int64_t kMaxId = std::numeric_limits<std::int32_t>::max();
  for (;;) {
    VectorRow row;
    bool more = false;
    SIMDEX_RETURN_IF_ERROR(reader->Next(&row, &more));
    if (!more) break;
    const std::int64_t id = row.row + o.idOffset;
    // ivecs stores identifiers as int32.
    if (id > kMaxId) {
      return Status::InvalidArgument(o.base + ": row " + std::to_string(row.row) + ": identifier " +
                                     std::to_string(id) +
                                     " does not fit the int32 of an ivecs file");
    }
    knn.Add(static_cast<std::uint64_t>(id), row.values);
  }
  if (knn.added() < o.k) {
    return Status::InvalidArgument(o.base + ": " + std::to_string(knn.added()) +
                                   " vectors, fewer than k = " + std::to_string(o.k));
  }
  std::vector<std::vector<std::int32_t>> ids;
  std::vector<double> distances;
  ids.reserve(queryCount);
  distances.reserve(queryCount * static_cast<std::size_t>(o.k));
  for (const std::vector<Neighbour>& nearest : knn.Result()) {
    ids.emplace_back();
    for (const Neighbour& n : nearest) {
      ids.back().push_back(static_cast<std::int32_t>(n.id));
      distances.push_back(n.distance);
    }
  }
  const std::string idsFile = o.prefix + ".ivecs";
  const std::string distFile = o.prefix + "_dist.bin";
  SIMDEX_RETURN_IF_ERROR(WriteIvecs(idsFile, ids));
  SIMDEX_RETURN_IF_ERROR(WriteRawDoubles(distFile, distances));
  *summary = idsFile + ", " + distFile + ": " + std::to_string(queryCount) + " queries x " +
             std::to_string(o.k) + " nearest of " + std::to_string(knn.added()) + " vectors\n";
  return Status::OK();
}

const std::vector<std::string> kWritable = {"fvecs", "npy", "csv", "bin"};
const std::vector<std::string> kReadable = {"fvecs", "bvecs", "npy", "csv", "bin"};

void AddGenerate(CLI::App& app, CommandContext& ctx) {
  auto o = std::make_shared<GenerateOptions>();
  CLI::App* cmd = app.add_subcommand(
      "generate",
      "Write clustered vectors: Gaussian clusters around centres uniform in [0,1]^d, "
      "coordinates clamped to [0,1], points round-robin over the clusters");
  cmd->add_option("OUT", o->out, "Output file (format from its extension: .fvecs .npy .csv .bin)")
      ->required();
  cmd->add_option("-n,--count", o->count, "Number of vectors in OUT")
      ->required()
      ->default_str("")
      ->check(CLI::Range(std::int64_t{1}, std::numeric_limits<std::int64_t>::max() / 2));
  cmd->add_option("-d,--dimension", o->dimension, "Values per vector")
      ->check(CLI::Range(1, 1 << 20));
  cmd->add_option("--clusters", o->clusters, "Number of clusters")
      ->check(CLI::Range(1, std::numeric_limits<int>::max()));
  cmd->add_option("--sigma", o->sigma, "Standard deviation of each cluster")
      ->check(CLI::NonNegativeNumber);
  cmd->add_option("--seed", o->seed, "Seed of the generator: same seed, same bytes");
  CLI::Option* queryOut = cmd->add_option("--query-out", o->queryOut,
                                          "File of the queries (format from its extension)");
  cmd->add_option("--queries", o->queries,
                  "Number of query vectors drawn after OUT's, from the same clusters")
      ->default_str("")
      ->check(CLI::Range(std::int64_t{1}, std::numeric_limits<std::int64_t>::max() / 2))
      ->needs(queryOut);
  queryOut->needs(cmd->get_option("--queries"));
  cmd->add_option("--format", o->format, "Format of the output files, instead of the extensions")
      ->check(CLI::IsMember(kWritable));
  cmd->footer(
      "fvecs stores float32: the values are rounded to it. npy stores float64, csv the "
      "shortest decimal text of each double, bin raw little-endian float64.\n\n"
      "Examples:\n"
      "  simdex generate base.fvecs -n 10000\n"
      "  simdex generate base.npy -n 100000 -d 20 --clusters 50 --sigma 0.05 --seed 7 \\\n"
      "      --queries 100 --query-out queries.npy");
  cmd->callback([o, &ctx] {
    std::string summary;
    const Status s = Generate(*o, &summary);
    if (s.ok()) std::fputs(summary.c_str(), stdout);
    ctx.Finish("generate", s);
  });
}

void AddTruth(CLI::App& app, CommandContext& ctx) {
  auto o = std::make_shared<TruthOptions>();
  CLI::App* cmd = app.add_subcommand(
      "truth",
      "Brute-force ground truth: the k nearest base vectors of every query (Euclidean "
      "distance in double, ties broken by the smaller identifier)");
  cmd->add_option("BASE", o->base, "Vectors searched (.fvecs .bvecs .npy .csv .bin)")->required();
  cmd->add_option("QUERIES", o->queries, "Query vectors (same formats)")->required();
  cmd->add_option("-k", o->k, "Neighbours per query")
      ->required()
      ->default_str("")
      ->check(CLI::Range(1, std::numeric_limits<std::int32_t>::max()));
  cmd->add_option("-o,--output", o->prefix,
                  "Writes PREFIX.ivecs (per query int32 k, then k int32 identifiers) and "
                  "PREFIX_dist.bin (their distances, queries x k little-endian float64)")
      ->required()
      ->type_name("PREFIX");
  cmd->add_option("--format", o->format, "Format of both inputs, instead of the extensions")
      ->check(CLI::IsMember(kReadable));
  cmd->add_option(
         "--dimension", o->dimension,
         "Values per vector (needed when the queries are a .bin file; the base then must match)")
      ->default_str("")
      ->check(CLI::Range(1, std::numeric_limits<std::int32_t>::max()));
  cmd->add_option("--id-offset", o->idOffset, "Identifier of the base's first row (then +1 a row)")
      ->check(CLI::Range(std::int64_t{0}, std::int64_t{std::numeric_limits<std::int32_t>::max()}));
  cmd->footer(
      "Examples:\n"
      "  simdex truth data/hist45-small.fvecs data/hist45-small_query.fvecs -k 10 -o gt10\n"
      "  simdex truth base.bin queries.bin --dimension 20 -k 100 -o truth/gt100");
  cmd->callback([o, &ctx] {
    std::string summary;
    const Status s = Truth(*o, &summary);
    if (s.ok()) std::fputs(summary.c_str(), stdout);
    ctx.Finish("truth", s);
  });
}

}  // namespace

void AddDataCommands(CLI::App& app, CommandContext& ctx) {
  AddGenerate(app, ctx);
  AddTruth(app, ctx);
}

}  // namespace simdex::cli
