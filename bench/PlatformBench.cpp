// Cost of creating a plug-in object by class identifier (after the first
// creation has loaded the module and cached its factory) next to creating
// the same object directly, and the cost of one distance call per dimension
// next to the same arithmetic inline.
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "examples/vector/VectorObject.h"
#include "platform/Activation.h"
#include "platform/ComObject.h"
#include "platform/ComPtr.h"
#include "platform/Module.h"
#include "platform/SharedLibrary.h"

namespace {

using simdex::ComPtr;

template <class Object>
struct Plugin;
template <>
struct Plugin<simdex::VectorAObject> {
  static constexpr const CLSID& kClsid = CLSID_VectorAObject;
};
template <>
struct Plugin<simdex::VectorBObject> {
  static constexpr const CLSID& kClsid = CLSID_VectorBObject;
};

template <class Object>
void BM_CreateByClassId(benchmark::State& state) {
  IMTobject* p = nullptr;
  // Warm-up: loads the module and caches its class factory.
  if (FAILED(CoCreateInstance(Plugin<Object>::kClsid, nullptr, CLSCTX_INPROC_OR_LOCAL,
                              IID_IMTobject, reinterpret_cast<void**>(&p)))) {
    state.SkipWithError("class not registered");
    return;
  }
  p->Release();
  for (auto _ : state) {
    CoCreateInstance(Plugin<Object>::kClsid, nullptr, CLSCTX_INPROC_OR_LOCAL, IID_IMTobject,
                     reinterpret_cast<void**>(&p));
    benchmark::DoNotOptimize(p);
    p->Release();
  }
}

template <class Object>
void BM_PlainNew(benchmark::State& state) {
  IMTobject* p = nullptr;
  for (auto _ : state) {
    simdex::ComObject<Object>::Create(nullptr, IID_IMTobject, reinterpret_cast<void**>(&p));
    benchmark::DoNotOptimize(p);
    p->Release();
  }
}

std::vector<double> RandomValues(int n, unsigned seed) {
  std::mt19937_64 rng(seed);
  std::uniform_real_distribution<double> value(-1.0, 1.0);
  std::vector<double> v(static_cast<std::size_t>(n));
  for (double& x : v) x = value(rng);
  return v;
}

template <class Object>
void BM_DistanceCall(benchmark::State& state) {
  constexpr int n = Object::kDimension;
  ComPtr<IMTobject> a, b;
  if (FAILED(CoCreateInstance(Plugin<Object>::kClsid, nullptr, CLSCTX_INPROC_OR_LOCAL,
                              IID_IMTobject, a.PutVoid())) ||
      FAILED(CoCreateInstance(Plugin<Object>::kClsid, nullptr, CLSCTX_INPROC_OR_LOCAL,
                              IID_IMTobject, b.PutVoid()))) {
    state.SkipWithError("class not registered");
    return;
  }
  for (auto [object, seed] : {std::pair{a.get(), 1u}, std::pair{b.get(), 2u}}) {
    std::vector<unsigned char> bytes(8 * n);
    auto v = RandomValues(n, seed);
    for (int i = 0; i < n; ++i) simdex::EncodeDouble(bytes.data() + 8 * i, v[i]);
    object->initialize(bytes.data());
  }
  double d = 0;
  for (auto _ : state) {
    a->distance(b.get(), &d);
    benchmark::DoNotOptimize(d);
  }
}

// The same arithmetic on two arrays in this process: the floor of a call.
template <class Object>
void BM_DistanceInline(benchmark::State& state) {
  constexpr int n = Object::kDimension;
  auto a = RandomValues(n, 1), b = RandomValues(n, 2);
  for (auto _ : state) {
    benchmark::DoNotOptimize(a.data());
    benchmark::DoNotOptimize(b.data());
    double sum = 0;
    for (int i = 0; i < n; ++i) sum += std::pow(a[i] - b[i], 2.0);
    double d = std::sqrt(sum);
    benchmark::DoNotOptimize(d);
  }
}

BENCHMARK_TEMPLATE(BM_CreateByClassId, simdex::VectorAObject);
BENCHMARK_TEMPLATE(BM_PlainNew, simdex::VectorAObject);
BENCHMARK_TEMPLATE(BM_CreateByClassId, simdex::VectorBObject);
BENCHMARK_TEMPLATE(BM_PlainNew, simdex::VectorBObject);
BENCHMARK_TEMPLATE(BM_DistanceCall, simdex::VectorAObject);
BENCHMARK_TEMPLATE(BM_DistanceInline, simdex::VectorAObject);
BENCHMARK_TEMPLATE(BM_DistanceCall, simdex::VectorBObject);
BENCHMARK_TEMPLATE(BM_DistanceInline, simdex::VectorBObject);

// Registers the freshly built modules into a registry of the benchmark's own.
bool RegisterModules(const std::string& dir) {
  ::setenv("SIMDEX_REGISTRY", (dir + "/registry.txt").c_str(), 1);
  for (const char* path : {SIMDEX_VECTORA_MODULE, SIMDEX_VECTORB_MODULE}) {
    simdex::SharedLibrary lib;
    if (!simdex::SharedLibrary::Open(path, &lib).ok()) return false;
    auto fn = reinterpret_cast<simdex::DllRegisterServerFn>(lib.Symbol("DllRegisterServer"));
    if (!fn || FAILED(fn())) return false;
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  char tmpl[] = "/tmp/simdex-bench-XXXXXX";
  const char* dir = ::mkdtemp(tmpl);
  if (!dir || !RegisterModules(dir)) {
    std::fprintf(stderr, "platform_bench: cannot register the vector modules\n");
    return 1;
  }
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  std::filesystem::remove_all(dir);
  return 0;
}
