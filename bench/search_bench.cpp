// 10-nearest-neighbour search over 100000 clustered 45-number vectors (10
// Gaussian clusters, sigma 0.1, in the unit cube), exact and under each
// approximation method with a few thresholds, against brute-force scans in
// the same run. 100 queries are further draws from the same clusters (the
// generator's stream continued past the stored objects), never stored.
//
//   build/bench/search_bench
//
// The index is built once per process in a temporary directory (100000
// insertions and a statistics pass of 3000 samples: about a minute) and
// shared by every case. Per case: mean distance computations and page reads
// per query as a share of the exact search's, recall@10 against brute force
// (results at or within the true 10th distance), and wall time per query.
// A table of all cases is printed at the end.
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "examples/vector/VectorIds.h"
#include "m_trees/MetricTree.h"
#include "m_trees/NearestQuery.h"
#include "m_trees/ObjectPredicate.h"
#include "platform/Coding.h"
#include "platform/ModuleEntryPoints.h"
#include "platform/SharedLibrary.h"
#include "tests/support/DataSets.h"

namespace {

using simdex::GiSTlist;
using simdex::MetricTree;
using simdex::MTentry;
using simdex::MTnode;
using simdex::MTobjectHandle;
using simdex::Status;

constexpr int kCount = 100000;
constexpr int kQueries = 100;
constexpr int kDim = 45;
constexpr int kK = 10;
// Vectors in [0,1]^45 are at most sqrt(45) = 6.708 apart.
constexpr double kMaxDistance = 6.71;

void Check(const Status& s, const char* what) {
  if (!s.ok()) {
    std::fprintf(stderr, "%s: %s\n", what, s.ToString().c_str());
    std::abort();
  }
}

// The vector plug-in's arithmetic, for the brute-force answers.
double Euclid(const double* a, const double* b) {
  double sum = 0;
  for (int i = 0; i < kDim; ++i) sum += std::pow(a[i] - b[i], 2.0);
  return std::sqrt(sum);
}

struct Figures {
  double distances = 0;  // per query
  double reads = 0;      // per query
  double recall = 0;     // mean recall@10
  double millis = 0;     // wall time per query
};

// The shared index, queries and brute-force answers.
class Fixture {
 public:
  static Fixture& Get() {
    static Fixture fixture;
    return fixture;
  }

  ~Fixture() {
    tree_.reset();
    std::error_code ec;
    std::filesystem::remove_all(dir_, ec);
  }

  MetricTree& tree() { return *tree_; }
  const double* Query(int i) const { return &data_[static_cast<std::size_t>(kCount + i) * kDim]; }
  const double* Object(int i) const { return &data_[static_cast<std::size_t>(i) * kDim]; }
  // The true 10th distance of query i.
  double KthDistance(int i) const { return kth_[static_cast<std::size_t>(i)]; }

  std::unique_ptr<MTobjectHandle> Handle(const double* v, std::uint32_t oid) {
    tree_->MakeActive();
    std::vector<std::byte> record(kDim * 8 + 4);
    auto* p = reinterpret_cast<unsigned char*>(record.data());
    for (int i = 0; i < kDim; ++i) simdex::EncodeDouble(p + 8 * i, v[i]);
    simdex::EncodeFixed32(p + 8 * kDim, oid);
    std::unique_ptr<MTobjectHandle> h;
    Check(MTobjectHandle::FromRecord(record, &h), "handle");
    return h;
  }

  void ResetCounters() {
    tree_->parameters().pageWrites = 0;
    tree_->parameters().pageReads = 0;
    tree_->parameters().computedDistances = 0;
  }

  std::map<std::string, Figures> results;
  std::vector<std::string> order;

 private:
  Fixture() {
    std::string pattern =
        (std::filesystem::temp_directory_path() / "simdex-search-bench-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) std::abort();
    dir_ = pattern;
    RegisterVectorA();
    // One stream: the first kCount points are ClusteredVectors(kCount, 45),
    // the rest fresh draws around the same centres.
    data_ = simdex::testing::ClusteredVectors(kCount + kQueries, kDim);

    tree_ = std::make_unique<MetricTree>();
    Check(tree_->Create(dir_, kMaxDistance, CLSID_VectorAObject), "create");
    auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < kCount; ++i) {
      MTentry entry(std::make_unique<simdex::MTball>(
                        Handle(Object(i), static_cast<std::uint32_t>(i)), 0.0, 0.0, -kMaxDistance),
                    i);
      Check(tree_->Insert(entry), "insert");
    }
    const double insertSeconds = Seconds(start);
    start = std::chrono::steady_clock::now();
    Check(tree_->GenerateStatistics(), "statistics");
    const double statsSeconds = Seconds(start);
    std::unique_ptr<MTnode> root;
    Check(tree_->LoadRoot(&root), "root");
    std::fprintf(stderr,
                 "index of %d objects: height %d, %d pages; insertions %.1f s, statistics pass "
                 "%.1f s\n",
                 kCount, root->Level() + 1, PageCount(), insertSeconds, statsSeconds);

    for (int q = 0; q < kQueries; ++q) {
      std::vector<double> d(kCount);
      for (int i = 0; i < kCount; ++i) d[static_cast<std::size_t>(i)] = Euclid(Query(q), Object(i));
      std::nth_element(d.begin(), d.begin() + (kK - 1), d.end());
      kth_.push_back(d[kK - 1]);
    }
  }

  static double Seconds(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  }

  int PageCount() const {
    return static_cast<int>(std::filesystem::file_size(MetricTree::FileIn(dir_, "index.M3")) /
                            16384);
  }

  void RegisterVectorA() {
    ::setenv("SIMDEX_REGISTRY", (dir_ + "/registry.txt").c_str(), 1);
    simdex::SharedLibrary lib;
    Check(simdex::SharedLibrary::Open(SIMDEX_VECTORA_MODULE, &lib), "VectorA module");
    auto fn = reinterpret_cast<simdex::DllRegisterServerFn>(lib.Symbol("DllRegisterServer"));
    if (fn == nullptr || FAILED(fn())) std::abort();
  }

  std::string dir_;
  std::vector<double> data_;
  std::vector<double> kth_;
  std::unique_ptr<MetricTree> tree_;
};

// Runs search(q) -> distances of the results for every query and records the
// mean costs, recall and time under name.
void Measure(benchmark::State& state, const std::string& name,
             const std::function<std::vector<double>(int)>& search) {
  Fixture& f = Fixture::Get();
  for (auto _ : state) {
    Figures fig;
    for (int q = 0; q < kQueries; ++q) {
      f.ResetCounters();
      const auto start = std::chrono::steady_clock::now();
      const std::vector<double> found = search(q);
      fig.millis +=
          std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
              .count();
      fig.distances += f.tree().parameters().computedDistances;
      fig.reads += f.tree().parameters().pageReads;
      int hits = 0;
      for (double d : found) hits += d <= f.KthDistance(q) ? 1 : 0;
      fig.recall += std::min(hits, kK) / static_cast<double>(kK);
    }
    fig.distances /= kQueries;
    fig.reads /= kQueries;
    fig.recall /= kQueries;
    fig.millis /= kQueries;
    if (f.results.count(name) == 0) f.order.push_back(name);
    f.results[name] = fig;
    state.counters["distances"] = fig.distances;
    state.counters["reads"] = fig.reads;
    state.counters["recall@10"] = fig.recall;
    state.counters["ms/query"] = fig.millis;
  }
}

std::vector<double> TreeSearch(int q) {
  Fixture& f = Fixture::Get();
  simdex::NearestQuery query(kK,
                             std::make_unique<simdex::ObjectPredicate>(*f.Handle(f.Query(q), 0)));
  GiSTlist<std::unique_ptr<MTentry>> list;
  Check(f.tree().SearchNearest(query, &list), "search");
  std::vector<double> out;
  while (!list.IsEmpty()) out.push_back(list.PopFront()->Ball().coverRadius);
  return out;
}

void BM_Nearest(benchmark::State& state, int method, double threshold) {
  Fixture& f = Fixture::Get();
  f.tree().SetApproximationMethod(method);
  f.tree().SetApproximationThresholds(method == 0 ? std::vector<double>{}
                                                  : std::vector<double>{threshold});
  char name[64];
  if (method == 0) {
    std::snprintf(name, sizeof name, "exact");
  } else {
    std::snprintf(name, sizeof name, "method %d, t = %g", method, threshold);
  }
  Measure(state, name, TreeSearch);
  f.tree().SetApproximationMethod(0);
}

// Keeps the k smallest of the distances offered, ascending.
class TopK {
 public:
  void Offer(double d) {
    if (best_.size() == kK && d >= best_.back()) return;
    best_.insert(std::upper_bound(best_.begin(), best_.end(), d), d);
    if (best_.size() > kK) best_.pop_back();
  }
  std::vector<double> Take() { return std::move(best_); }

 private:
  std::vector<double> best_;
};

// Brute force through the index: every page read and unpacked, one counted
// distance per stored object.
void ScanNode(MetricTree& tree, const MTnode& node, const simdex::ObjectPredicate& predicate,
              TopK* top) {
  for (int i = 0; i < node.NumEntries(); ++i) {
    if (node.IsLeaf()) {
      top->Offer(predicate.Distance(node.Entry(i).Ball().Object()));
      continue;
    }
    std::unique_ptr<MTnode> child;
    Check(tree.LoadChild(node, i, &child), "scan");
    ScanNode(tree, *child, predicate, top);
  }
}

void BM_ScanPages(benchmark::State& state) {
  Measure(state, "brute force, index pages", [](int q) {
    Fixture& f = Fixture::Get();
    simdex::ObjectPredicate predicate(*f.Handle(f.Query(q), 0));
    std::unique_ptr<MTnode> root;
    Check(f.tree().LoadRoot(&root), "root");
    TopK top;
    ScanNode(f.tree(), *root, predicate, &top);
    return top.Take();
  });
}

// Brute force over the vectors in memory (no plug-in, no pages).
void BM_ScanMemory(benchmark::State& state) {
  Measure(state, "brute force, in memory", [](int q) {
    Fixture& f = Fixture::Get();
    TopK top;
    for (int i = 0; i < kCount; ++i) top.Offer(Euclid(f.Query(q), f.Object(i)));
    // Counted here by hand: the scan bypasses the engine's counters.
    f.tree().parameters().computedDistances += kCount;
    return top.Take();
  });
}

struct Setting {
  int method;
  double threshold;
};
// Thresholds chosen to span recall from about 0.3 to 0.95 on this data.
constexpr Setting kSettings[] = {
    {0, 0},      {1, 1e-6},  {1, 1e-5},  {1, 1e-4},  {2, 2},     {2, 5},     {2, 10},
    {3, 0.0005}, {3, 0.001}, {3, 0.002}, {4, -3e-6}, {4, -1e-5}, {4, -3e-5},
};

void PrintTable() {
  Fixture& f = Fixture::Get();
  const auto exact = f.results.find("exact");
  if (exact == f.results.end()) return;
  const Figures& e = exact->second;
  std::printf("\n%-26s %10s %9s %10s %9s %10s %9s\n", "10-NN, 100 queries", "distances", "share",
              "page reads", "share", "recall@10", "ms/query");
  for (const std::string& name : f.order) {
    const Figures& r = f.results[name];
    std::printf("%-26s %10.0f %9.3f %10.1f %9.3f %10.3f %9.2f\n", name.c_str(), r.distances,
                r.distances / e.distances, r.reads, r.reads / e.reads, r.recall, r.millis);
  }
}

}  // namespace

int main(int argc, char** argv) {
  for (const Setting& s : kSettings) {
    char name[64];
    std::snprintf(name, sizeof name, "Nearest10/method:%d/t:%g", s.method, s.threshold);
    benchmark::RegisterBenchmark(name, BM_Nearest, s.method, s.threshold)
        ->Iterations(1)
        ->Unit(benchmark::kMillisecond);
  }
  benchmark::RegisterBenchmark("Nearest10/BruteForceIndexPages", BM_ScanPages)
      ->Iterations(1)
      ->Unit(benchmark::kMillisecond);
  benchmark::RegisterBenchmark("Nearest10/BruteForceInMemory", BM_ScanMemory)
      ->Iterations(1)
      ->Unit(benchmark::kMillisecond);
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  PrintTable();
  return 0;
}
