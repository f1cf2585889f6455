// One proximity evaluation over a 1000-interval model next to one distance
// between two 45-dimension vectors, and their ratio.
//
//   build/bench/proximity_bench
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "Proximity/distanceModel.h"
#include "Proximity/simpleSampledFunction.h"

namespace {

constexpr int kIntervals = 1000;     // what every index writes
constexpr double kMaxDistance = 10;  // a round range; the walk length depends only on kIntervals
constexpr int kDimension = 45;

// The density and distribution files of a freshly created index, in a
// temporary directory, and the model built from them.
class ModelFiles {
 public:
  ModelFiles() {
    std::string pattern = (std::filesystem::temp_directory_path() / "simdex-bench-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) std::abort();
    dir_ = pattern;
    const double step = kMaxDistance / kIntervals;
    const double value = 0.000999000999000999 / step;  // uniform: 1/1001 per point
    simdex::simpleSampledFunction density, distribution;
    for (simdex::simpleSampledFunction* f : {&density, &distribution}) {
      f->setRange(0, kMaxDistance);
      f->setSamples(kIntervals);
    }
    double sum = 0;
    for (int i = 0; i <= kIntervals; ++i) {
      const double x = std::min(i * step, kMaxDistance);
      density.insertPair(x, value);
      sum += value * step;
      distribution.insertPair(x, sum);
    }
    if (!density.save(Path("Density.dat")) || !density.save(Path("T.dat")) ||
        !distribution.save(Path("Distribution.dat")))
      std::abort();
    model = std::make_unique<simdex::distanceModel>(Path("Density.dat"), Path("Distribution.dat"),
                                                    Path("T.dat"));
    if (!model->isInitialised()) std::abort();
  }
  ~ModelFiles() {
    std::error_code ec;
    std::filesystem::remove_all(dir_, ec);
  }
  std::string Path(const char* name) const { return (dir_ / name).string(); }

  std::unique_ptr<simdex::distanceModel> model;

 private:
  std::filesystem::path dir_;
};

ModelFiles& Files() {
  static ModelFiles files;
  return files;
}

// The query ball contains the region's centre: the walk covers all 1001 grid
// points, as in every test of a nearest-neighbour search before k objects are
// found (the radius is then clamped to the whole range).
void BM_ProximityFullWalk(benchmark::State& state) {
  const simdex::distanceModel& model = *Files().model;
  double d = 3, rq = 4, r = 2;
  for (auto _ : state) {
    benchmark::DoNotOptimize(d);
    benchmark::DoNotOptimize(rq);
    benchmark::DoNotOptimize(r);
    benchmark::DoNotOptimize(model.proximity(d, rq, r));
  }
}
BENCHMARK(BM_ProximityFullWalk)->Unit(benchmark::kNanosecond);

// The query ball does not contain the centre: the walk stops at rq (201 points).
void BM_ProximityUpToRadius(benchmark::State& state) {
  const simdex::distanceModel& model = *Files().model;
  double d = 5, rq = 2, r = 4;
  for (auto _ : state) {
    benchmark::DoNotOptimize(d);
    benchmark::DoNotOptimize(rq);
    benchmark::DoNotOptimize(r);
    benchmark::DoNotOptimize(model.proximity(d, rq, r));
  }
}
BENCHMARK(BM_ProximityUpToRadius)->Unit(benchmark::kNanosecond);

// The vector plug-in's distance loop: squared differences through pow, summed,
// then the square root.
double Euclidean(const double* a, const double* b) {
  double sum = 0;
  for (int i = 0; i < kDimension; ++i) sum += std::pow(a[i] - b[i], 2.0);
  return std::sqrt(sum);
}

void BM_Distance45(benchmark::State& state) {
  std::mt19937 rng(42);
  std::uniform_real_distribution<double> unit(0, 1);
  std::vector<double> a(kDimension), b(kDimension);
  for (int i = 0; i < kDimension; ++i) {
    a[i] = unit(rng);
    b[i] = unit(rng);
  }
  const double* pa = a.data();
  const double* pb = b.data();
  for (auto _ : state) {
    benchmark::DoNotOptimize(pa);
    benchmark::DoNotOptimize(pb);
    benchmark::ClobberMemory();
    benchmark::DoNotOptimize(Euclidean(pa, pb));
  }
}
BENCHMARK(BM_Distance45)->Unit(benchmark::kNanosecond);

// Prints the usual table and keeps each benchmark's time per iteration.
class RatioReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& run : runs)
      if (run.run_type == Run::RT_Iteration && !run.error_occurred)
        nanoseconds[run.benchmark_name()] = run.GetAdjustedRealTime();
    ConsoleReporter::ReportRuns(runs);
  }
  std::map<std::string, double> nanoseconds;
};

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  const auto& t = reporter.nanoseconds;
  const auto distance = t.find("BM_Distance45");
  if (distance == t.end() || distance->second <= 0) return 0;
  for (const char* name : {"BM_ProximityFullWalk", "BM_ProximityUpToRadius"}) {
    const auto it = t.find(name);
    if (it != t.end())
      std::printf("%s / BM_Distance45 = %.1f\n", name, it->second / distance->second);
  }
  return 0;
}
