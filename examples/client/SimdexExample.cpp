// simdex-example: a client of the index service, end to end.
//
//   simdex-example [--objects N] [--queries Q] [--directory DIR]
//                  [--threshold METHOD=VALUE ...]
//
// Creates an index in a new temporary directory (or in DIR, which must
// exist), inserts N generated 45-dimension vectors (10 Gaussian clusters,
// sigma 0.1, in [0,1]^45), measures their distance distribution, and runs
// Q queries drawn from the same clusters: a range search and a 10-nearest-
// neighbour search, exact and with the four approximation methods, printing
// the results with what each search cost and its recall against a brute-
// force scan of the same objects. The service and the vector objects are
// created through the registry ($SIMDEX_REGISTRY), so SimdexDLL and VectorA
// must be registered there (scripts/run-example.sh does it).
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <set>
#include <span>
#include <string>
#include <vector>

#include "SimdexDLL/ISimdex.h"
#include "examples/vector/VectorIds.h"
#include "platform/Activation.h"
#include "platform/Coding.h"
#include "platform/ComPtr.h"
#include "platform/LastError.h"
#include "tests/support/DataSets.h"

namespace {

using simdex::ComPtr;

constexpr int kDimension = 45;
constexpr int kNeighbours = 10;
// Larger than any distance in [0,1]^45 (sqrt(45) = 6.71).
constexpr double kMaxDistance = 7.0;
constexpr double kRadius = 0.9;

[[noreturn]] void Die(const char* what, HRESULT hr) {
  std::fprintf(stderr, "simdex-example: %s failed with status 0x%08X", what,
               static_cast<unsigned>(hr));
  const std::string& text = simdex::LastErrorText();
  if (!text.empty()) std::fprintf(stderr, ": %s", text.c_str());
  std::fprintf(stderr, "\n");
  std::exit(1);
}

void Check(HRESULT hr, const char* what) {
  if (FAILED(hr)) Die(what, hr);
}

ComPtr<IMTobject> MakeVector(std::span<const double> values) {
  ComPtr<IMTobject> o;
  Check(CoCreateInstance(CLSID_VectorAObject, nullptr, CLSCTX_SERVER, IID_IMTobject, o.PutVoid()),
        "creating a VectorA object (is VectorA registered?)");
  std::vector<unsigned char> bytes(values.size() * 8);
  for (std::size_t i = 0; i < values.size(); ++i)
    simdex::EncodeDouble(bytes.data() + 8 * i, values[i]);
  Check(o->initialize(bytes.data()), "VectorA initialize");
  return o;
}

struct Result {
  std::uint32_t oid;
  double distance;
};

struct Costs {
  int distances = 0;
  int reads = 0;
  int writes = 0;
};

Costs ReadCosts(ISimdex* s) {
  Costs c;
  Check(s->getComputedDistances(&c.distances), "getComputedDistances");
  Check(s->getIOReads(&c.reads), "getIOReads");
  Check(s->getIOwrites(&c.writes), "getIOwrites");
  return c;
}

std::vector<Result> ReadResults(ISimdex* s) {
  std::vector<Result> out;
  std::int32_t more = 0;
  for (;;) {
    Check(s->next(&more), "next");
    if (!more) break;
    Result r{};
    Check(s->getObjectId(&r.oid), "getObjectId");
    Check(s->getObjectDistance(&r.distance), "getObjectDistance");
    out.push_back(r);
  }
  return out;
}

void PrintResults(const std::vector<Result>& results, std::size_t shown) {
  std::printf("      ");
  for (std::size_t i = 0; i < results.size() && i < shown; ++i)
    std::printf(" %u:%.4f", results[i].oid, results[i].distance);
  if (results.size() > shown) std::printf(" ... (%zu in all)", results.size());
  std::printf("\n");
}

// Share of `exact`'s identifiers that `found` also holds.
double Recall(const std::vector<Result>& found, const std::vector<Result>& exact) {
  if (exact.empty()) return 1.0;
  std::multiset<std::uint32_t> want;
  for (const Result& r : exact) want.insert(r.oid);
  std::size_t hit = 0;
  for (const Result& r : found) {
    auto it = want.find(r.oid);
    if (it != want.end()) {
      want.erase(it);
      ++hit;
    }
  }
  return static_cast<double>(hit) / static_cast<double>(exact.size());
}

// Every stored object within kRadius of the query, or the kNeighbours
// nearest, by asking each object its distance.
std::vector<Result> BruteForce(const std::vector<ComPtr<IMTobject>>& stored, IMTobject* query,
                               bool nearest) {
  std::vector<Result> all;
  for (std::size_t i = 0; i < stored.size(); ++i) {
    Result r{static_cast<std::uint32_t>(i), 0.0};
    Check(query->distance(stored[i].get(), &r.distance), "VectorA distance");
    if (nearest || r.distance <= kRadius) all.push_back(r);
  }
  if (nearest) {
    std::size_t keep = std::min<std::size_t>(kNeighbours, all.size());
    std::partial_sort(all.begin(), all.begin() + static_cast<std::ptrdiff_t>(keep), all.end(),
                      [](const Result& a, const Result& b) { return a.distance < b.distance; });
    all.resize(keep);
  }
  return all;
}

struct Setting {
  int method;
  double threshold;
  const char* rule;
};

// One threshold per method (change them with --threshold): 0 exact; 1 skip
// regions whose proximity to the query ball is at most t; 2 skip when
// (1 + t) * least distance > radius; 3 stop once F(k-th distance) <= t;
// 4 stop when the k-th distance's slow-down slope (negative while it still
// falls) reaches t. The defaults trade a little recall for fewer distances
// on this data set.
Setting kSettings[] = {
    {0, 0.0, "exact"},        {1, 0.0003, "proximity <= t"}, {2, 0.2, "(1+t)*dmin > r"},
    {3, 0.005, "F(dk) <= t"}, {4, -0.0001, "slope >= t"},
};

}  // namespace

int main(int argc, char** argv) {
  int objects = 10000;
  int queries = 3;
  std::string directory;
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    if (a == "--objects" && i + 1 < argc) {
      objects = std::atoi(argv[++i]);
    } else if (a == "--queries" && i + 1 < argc) {
      queries = std::atoi(argv[++i]);
    } else if (a == "--directory" && i + 1 < argc) {
      directory = argv[++i];
    } else if (a == "--threshold" && i + 1 < argc) {
      int method = 0;
      double value = 0;
      if (std::sscanf(argv[++i], "%d=%lf", &method, &value) != 2 || method < 1 || method > 4) {
        std::fprintf(stderr, "simdex-example: --threshold wants METHOD=VALUE, METHOD 1 to 4\n");
        return 2;
      }
      kSettings[method].threshold = value;
    } else {
      std::fprintf(stderr, "usage: simdex-example [--objects N] [--queries Q] [--directory DIR]\n");
      return 2;
    }
  }
  if (objects < 1 || queries < 1) {
    std::fprintf(stderr, "simdex-example: --objects and --queries must be at least 1\n");
    return 2;
  }
  bool temporary = directory.empty();
  if (temporary) {
    char tmpl[] = "/tmp/simdex-example-XXXXXX";
    if (!::mkdtemp(tmpl)) {
      std::perror("simdex-example: mkdtemp");
      return 1;
    }
    directory = tmpl;
  }

  ComPtr<ISimdex> service;
  Check(CoCreateInstance(CLSID_Simdex, nullptr, CLSCTX_SERVER, IID_ISimdex, service.PutVoid()),
        "creating the Simdex service (is SimdexDLL registered?)");
  Check(service->Create(reinterpret_cast<unsigned char*>(directory.data()), kMaxDistance,
                        CLSID_VectorAObject),
        "Create");
  std::printf("index in %s (VectorA objects, maximum distance %g)\n", directory.c_str(),
              kMaxDistance);

  // The queries come from the same clusters as the data: the last rows.
  const std::vector<double> rows = simdex::testing::ClusteredVectors(objects + queries, kDimension);
  auto row = [&](int i) {
    return std::span<const double>(rows).subspan(static_cast<std::size_t>(i) * kDimension,
                                                 kDimension);
  };
  using Clock = std::chrono::steady_clock;
  auto t0 = Clock::now();
  // The client keeps its objects for the brute-force answers below.
  std::vector<ComPtr<IMTobject>> stored;
  stored.reserve(static_cast<std::size_t>(objects));
  for (int i = 0; i < objects; ++i) {
    stored.push_back(MakeVector(row(i)));
    Check(service->Insert(static_cast<std::uint32_t>(i), stored.back().get()), "Insert");
  }
  double seconds = std::chrono::duration<double>(Clock::now() - t0).count();
  Costs built = ReadCosts(service.get());
  std::printf("inserted %d objects in %.2f s: %d distances, %d page reads, %d page writes\n",
              objects, seconds, built.distances, built.reads, built.writes);

  t0 = Clock::now();
  Check(service->generateStatistics(), "generateStatistics");
  std::printf("distance distribution measured in %.2f s\n\n",
              std::chrono::duration<double>(Clock::now() - t0).count());

  std::printf("%-8s %-6s %-16s %9s %11s %11s %7s %7s %9s\n", "query", "method", "rule", "threshold",
              "distances", "page reads", "writes", "recall", "ms");
  for (int q = 0; q < queries; ++q) {
    ComPtr<IMTobject> query = MakeVector(row(objects + q));
    for (bool nearest : {false, true}) {
      char label[32];
      std::snprintf(label, sizeof label, "%d %s", q, nearest ? "10-NN" : "range");
      // The answer without an index: a distance to every object.
      t0 = Clock::now();
      std::vector<Result> exact = BruteForce(stored, query.get(), nearest);
      double ms = std::chrono::duration<double, std::milli>(Clock::now() - t0).count();
      std::printf("%-8s %-6s %-16s %9s %11d %11s %7s %7.2f %9.2f\n", label, "-", "brute force", "-",
                  objects, "-", "-", 1.0, ms);
      for (const Setting& s : kSettings) {
        Check(service->setApproximationMethod(s.method), "setApproximationMethod");
        double threshold = s.threshold;
        Check(service->setApproximationThresholds(&threshold, s.method == 0 ? 0 : 1),
              "setApproximationThresholds");
        Check(service->resetCounters(), "resetCounters");
        t0 = Clock::now();
        Check(nearest ? service->NNSearch(query.get(), kNeighbours)
                      : service->RangeSearch(query.get(), kRadius),
              nearest ? "NNSearch" : "RangeSearch");
        ms = std::chrono::duration<double, std::milli>(Clock::now() - t0).count();
        Costs c = ReadCosts(service.get());
        std::vector<Result> found = ReadResults(service.get());
        std::printf("%-8s %-6d %-16s %9g %11d %11d %7d %7.2f %9.2f\n", label, s.method, s.rule,
                    s.threshold, c.distances, c.reads, c.writes, Recall(found, exact), ms);
        PrintResults(found, nearest ? kNeighbours : 5);
      }
    }
  }
  service.Reset();
  if (temporary) {
    std::error_code ec;
    std::filesystem::remove_all(directory, ec);
  }
  return 0;
}
