// Insertion into the metric tree: n clustered objects of 45 numbers (10
// Gaussian clusters, sigma 0.1, in [0,1]^45, fixed seed) inserted one by one
// into a new index on disk. Counters per run:
//   objects_per_s           insertion throughput
//   distances_per_insert    distance computations per insertion
//   reads_per_insert        page reads per insertion
//   writes_per_insert       page writes per insertion
//   insert_vs_distances     total insertion time divided by the time of the
//                           same number of distance computations alone (the
//                           baseline, measured in the same run through the
//                           same object handles)
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "m_trees/MetricTree.h"
#include "platform/Coding.h"
#include "platform/Module.h"
#include "platform/SharedLibrary.h"
#include "tests/support/DataSets.h"

namespace simdex {
namespace {

constexpr int kDim = 45;
constexpr GUID kVectorA = GuidLiteral("{EA421A0D-DE21-4151-8AB6-64682A72994E}");

std::string g_dir;  // the benchmark's scratch directory

std::unique_ptr<MTobjectHandle> Handle(const double* v, std::uint32_t oid) {
  std::vector<std::byte> record(kDim * 8 + 4);
  auto* p = reinterpret_cast<unsigned char*>(record.data());
  for (int i = 0; i < kDim; ++i) EncodeDouble(p + 8 * i, v[i]);
  EncodeFixed32(p + 8 * kDim, oid);
  std::unique_ptr<MTobjectHandle> h;
  if (!MTobjectHandle::FromRecord(record, &h).ok()) std::abort();
  return h;
}

double Seconds(std::chrono::steady_clock::duration d) {
  return std::chrono::duration<double>(d).count();
}

void BM_Insert(benchmark::State& state) {
  const int n = static_cast<int>(state.range(0));
  const std::vector<double> data = testing::ClusteredVectors(n, kDim);
  for (auto _ : state) {
    const std::string dir = g_dir + "/index-" + std::to_string(n);
    std::filesystem::remove_all(dir);
    std::filesystem::create_directory(dir);
    MetricTree tree;
    if (!tree.Create(dir, std::sqrt(double(kDim)), kVectorA).ok()) {
      state.SkipWithError("cannot create the index");
      return;
    }
    // Entries are made before the clock starts: the service's copy of the
    // client's object is not the tree's work.
    std::vector<std::unique_ptr<MTentry>> entries;
    for (int i = 0; i < n; ++i) {
      entries.push_back(std::make_unique<MTentry>(
          std::make_unique<MTball>(Handle(&data[std::size_t(i) * kDim], i), 0.0, 0.0,
                                   -MTobjectHandle::MaxDistance()),
          i));
    }
    TreeParameters& p = tree.parameters();
    p.computedDistances = p.pageReads = p.pageWrites = 0;
    const auto start = std::chrono::steady_clock::now();
    for (auto& e : entries) {
      if (!tree.Insert(*e).ok()) {
        state.SkipWithError("insertion failed");
        return;
      }
    }
    const double insertSeconds = Seconds(std::chrono::steady_clock::now() - start);
    const std::int64_t distances = p.computedDistances;
    const std::int64_t reads = p.pageReads;
    const std::int64_t writes = p.pageWrites;

    // Baseline: as many distances between the same objects, nothing else.
    std::vector<std::unique_ptr<MTobjectHandle>> handles;
    for (int i = 0; i < std::min(n, 1000); ++i)
      handles.push_back(Handle(&data[std::size_t(i) * kDim], i));
    const std::size_t m = handles.size();
    double sink = 0;
    const auto baseline = std::chrono::steady_clock::now();
    for (std::int64_t k = 0; k < distances; ++k) {
      sink += handles[std::size_t(k) % m]->Distance(*handles[std::size_t(k * 7 + 1) % m]);
    }
    const double distanceSeconds = Seconds(std::chrono::steady_clock::now() - baseline);
    benchmark::DoNotOptimize(sink);

    state.SetIterationTime(insertSeconds);
    state.counters["objects_per_s"] = n / insertSeconds;
    state.counters["distances_per_insert"] = double(distances) / n;
    state.counters["reads_per_insert"] = double(reads) / n;
    state.counters["writes_per_insert"] = double(writes) / n;
    state.counters["insert_vs_distances"] = insertSeconds / distanceSeconds;
    std::unique_ptr<MTnode> root;
    if (tree.LoadRoot(&root).ok()) state.counters["height"] = root->Level() + 1;
  }
}
BENCHMARK(BM_Insert)->Arg(10000)->Arg(100000)->Iterations(1)->UseManualTime()->Unit(
    benchmark::kMillisecond);

// Registers the freshly built modules into a registry of the benchmark's own.
bool RegisterModules(const std::string& dir) {
  ::setenv("SIMDEX_REGISTRY", (dir + "/registry.txt").c_str(), 1);
  for (const char* path : {SIMDEX_VECTORA_MODULE, SIMDEX_VECTORB_MODULE}) {
    SharedLibrary lib;
    if (!SharedLibrary::Open(path, &lib).ok()) return false;
    auto fn = reinterpret_cast<DllRegisterServerFn>(lib.Symbol("DllRegisterServer"));
    if (!fn || FAILED(fn())) return false;
  }
  return true;
}

}  // namespace
}  // namespace simdex

int main(int argc, char** argv) {
  char tmpl[] = "/tmp/simdex-mtree-bench-XXXXXX";
  const char* dir = ::mkdtemp(tmpl);
  if (!dir || !simdex::RegisterModules(dir)) {
    std::fprintf(stderr, "mtree_bench: cannot register the vector modules\n");
    return 1;
  }
  simdex::g_dir = dir;
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  std::filesystem::remove_all(dir);
  return 0;
}
