// The index service through its interface, as a client uses it: error
// statuses, the result set and its cursor, objects handed out, costs, and
// two services at once.
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <latch>
#include <limits>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "SimdexDLL/ServiceFixture_test.h"
#include "platform/Coding.h"
#include "tests/support/DataSets.h"
#include "tests/support/StubMTobject.h"

namespace simdex::testing {
namespace {

namespace fs = std::filesystem;

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();
// The distance between Flat(a) and Flat(b) is |a - b| * sqrt(45).
const double kRoot45 = std::sqrt(45.0);

// A client object that only reports sizes: it shows what the service asks
// before it lets an object write into its buffer.
class SizedObject final : public StubMTobject {
 public:
  // Reports `size` as its compressed size, and `written` as the count its
  // compress wrote (it writes min(size, written) bytes).
  SizedObject(int size, int written) : size_(size), written_(written) {}
  HRESULT compress(unsigned char* buff, int* size) override {
    ++compressCalls;
    std::memset(buff, 0, static_cast<std::size_t>(std::min(size_, written_)));
    *size = written_;
    return S_OK;
  }
  HRESULT compressedSize(int* size) override {
    *size = size_;
    return S_OK;
  }

  int compressCalls = 0;

 private:
  int size_;
  int written_;
};

using Call = std::function<HRESULT(ISimdex*)>;
struct NamedCall {
  const char* name;
  Call call;
};

// Every method that needs an index, with arguments that are fine otherwise.
std::vector<NamedCall> CallsThatNeedAnIndex(IMTobject* object) {
  static double thresholds[] = {0.5, 0.25};
  return {
      {"NNSearch", [=](ISimdex* s) { return s->NNSearch(object, 3); }},
      {"RangeSearch", [=](ISimdex* s) { return s->RangeSearch(object, 1.0); }},
      {"Insert", [=](ISimdex* s) { return s->Insert(1, object); }},
      {"setMaxDistance", [](ISimdex* s) { return s->setMaxDistance(5.0); }},
      {"setApproximationMethod", [](ISimdex* s) { return s->setApproximationMethod(2); }},
      {"setApproximationThresholds",
       [](ISimdex* s) { return s->setApproximationThresholds(thresholds, 2); }},
      {"generateStatistics", [](ISimdex* s) { return s->generateStatistics(); }},
      {"resetCounters", [](ISimdex* s) { return s->resetCounters(); }},
      {"getComputedDistances",
       [](ISimdex* s) {
         int n = 0;
         return s->getComputedDistances(&n);
       }},
      {"getIOReads",
       [](ISimdex* s) {
         int n = 0;
         return s->getIOReads(&n);
       }},
      {"getIOwrites",
       [](ISimdex* s) {
         int n = 0;
         return s->getIOwrites(&n);
       }},
      {"getObject",
       [](ISimdex* s) {
         ComPtr<IMTobject> o;
         return s->getObject(o.Put());
       }},
      {"getObjectId",
       [](ISimdex* s) {
         std::uint32_t oid = 0;
         return s->getObjectId(&oid);
       }},
      {"getObjectDistance",
       [](ISimdex* s) {
         double d = 0;
         return s->getObjectDistance(&d);
       }},
  };
}

// Without an index every such method answers E_UNEXPECTED, while next and
// getResultSetSize report an empty result set.
void ExpectNoIndex(ISimdex* service, const char* when) {
  ComPtr<IMTobject> object = ServiceTest::Flat(0.5);
  for (const NamedCall& c : CallsThatNeedAnIndex(object.get()))
    EXPECT_EQ(c.call(service), E_UNEXPECTED) << c.name << " " << when;
  int n = -1;
  EXPECT_EQ(service->getResultSetSize(&n), S_OK);
  EXPECT_EQ(n, 0) << when;
  std::int32_t b = -1;
  EXPECT_EQ(service->next(&b), S_OK);
  EXPECT_EQ(b, 0) << when;
}

class SimdexTest : public ServiceTest {};

TEST_F(SimdexTest, MethodsThatNeedAnIndexFailUntilCreateOrOpenSucceeds) {
  ComPtr<ISimdex> service = NewService();
  ExpectNoIndex(service.get(), "before Create");
  std::string missing = dir_ + "/missing";
  EXPECT_TRUE(FAILED(service->Create(Path(missing), 10.0, CLSID_VectorAObject)));
  ExpectNoIndex(service.get(), "after a failed Create");
  EXPECT_TRUE(FAILED(service->Open(Path(missing), CLSID_VectorAObject)));
  ExpectNoIndex(service.get(), "after a failed Open");

  // A failed Create also drops the index that was open before.
  std::string dir = NewDirectory();
  ASSERT_EQ(service->Create(Path(dir), 10.0, CLSID_VectorAObject), S_OK);
  EXPECT_EQ(service->resetCounters(), S_OK);
  EXPECT_EQ(service->Create(Path(dir), -1.0, CLSID_VectorAObject), E_INVALIDARG);
  ExpectNoIndex(service.get(), "after a failed second Create");
}

TEST_F(SimdexTest, NullPointersAreRefused) {
  ComPtr<ISimdex> service = IndexOf({0.0});
  ComPtr<IMTobject> object = Flat(0.0);
  const NamedCall cases[] = {
      {"Create", [](ISimdex* s) { return s->Create(nullptr, 10.0, CLSID_VectorAObject); }},
      {"Open", [](ISimdex* s) { return s->Open(nullptr, CLSID_VectorAObject); }},
      {"NNSearch", [](ISimdex* s) { return s->NNSearch(nullptr, 1); }},
      {"RangeSearch", [](ISimdex* s) { return s->RangeSearch(nullptr, 1.0); }},
      {"Insert", [](ISimdex* s) { return s->Insert(1, nullptr); }},
      {"next", [](ISimdex* s) { return s->next(nullptr); }},
      {"getObject", [](ISimdex* s) { return s->getObject(nullptr); }},
      {"getObjectId", [](ISimdex* s) { return s->getObjectId(nullptr); }},
      {"getResultSetSize", [](ISimdex* s) { return s->getResultSetSize(nullptr); }},
      {"setApproximationThresholds",
       [](ISimdex* s) { return s->setApproximationThresholds(nullptr, 2); }},
      {"getObjectDistance", [](ISimdex* s) { return s->getObjectDistance(nullptr); }},
      {"getComputedDistances", [](ISimdex* s) { return s->getComputedDistances(nullptr); }},
      {"getIOReads", [](ISimdex* s) { return s->getIOReads(nullptr); }},
      {"getIOwrites", [](ISimdex* s) { return s->getIOwrites(nullptr); }},
  };
  ASSERT_EQ(service->RangeSearch(object.get(), 1.0), S_OK);
  std::int32_t b = 0;
  ASSERT_EQ(service->next(&b), S_OK);
  ASSERT_EQ(b, 1);  // a current result: only the pointer is wrong
  for (const NamedCall& c : cases) EXPECT_EQ(c.call(service.get()), E_POINTER) << c.name;
  // No thresholds need no array.
  EXPECT_EQ(service->setApproximationThresholds(nullptr, 0), S_OK);
  // The index survived all of it.
  int n = 0;
  EXPECT_EQ(service->getResultSetSize(&n), S_OK);
  EXPECT_EQ(n, 1);
}

TEST_F(SimdexTest, CreateRefusesUnusableDirectoriesDistancesAndClasses) {
  std::string file = NewDirectory() + "/plain-file";
  std::ofstream(file) << "not a directory";
  // Root may write anywhere but in /proc.
  std::string unwritable = NewDirectory();
  if (::geteuid() == 0)
    unwritable = "/proc";
  else
    ::chmod(unwritable.c_str(), 0555);
  const CLSID unregistered = GuidLiteral("{0F1E2D3C-4B5A-6978-8796-A5B4C3D2E1F0}");
  struct Case {
    const char* name;
    std::string dir;
    double maxDistance;
    CLSID objectClass;
    HRESULT expected;  // 0: any failure
  };
  const Case cases[] = {
      {"MissingDirectory", dir_ + "/missing", 10.0, CLSID_VectorAObject, 0},
      {"PathThroughAFile", file + "/index", 10.0, CLSID_VectorAObject, 0},
      {"UnwritableDirectory", unwritable, 10.0, CLSID_VectorAObject, 0},
      {"ZeroDistance", NewDirectory(), 0.0, CLSID_VectorAObject, E_INVALIDARG},
      {"NegativeDistance", NewDirectory(), -10.0, CLSID_VectorAObject, E_INVALIDARG},
      {"NaNDistance", NewDirectory(), kNaN, CLSID_VectorAObject, E_INVALIDARG},
      {"InfiniteDistance", NewDirectory(), kInf, CLSID_VectorAObject, E_INVALIDARG},
      {"UnregisteredClass", NewDirectory(), 10.0, unregistered, 0},
  };
  for (const Case& c : cases) {
    ComPtr<ISimdex> service = NewService();
    std::string dir = c.dir;
    HRESULT hr = service->Create(Path(dir), c.maxDistance, c.objectClass);
    EXPECT_TRUE(FAILED(hr)) << c.name;
    if (c.expected != 0) {
      EXPECT_EQ(hr, c.expected) << c.name;
    }
    int n = 0;
    EXPECT_EQ(service->getIOReads(&n), E_UNEXPECTED) << c.name;
  }
  if (::geteuid() != 0) ::chmod(unwritable.c_str(), 0755);
}

TEST_F(SimdexTest, OpenRefusesDirectoriesWithoutAValidIndex) {
  // A created index with a few objects, closed by releasing its service.
  auto created = [&](std::uint32_t count) {
    std::string dir = NewDirectory();
    ComPtr<ISimdex> s = NewService();
    EXPECT_EQ(s->Create(Path(dir), 10.0, CLSID_VectorAObject), S_OK);
    for (std::uint32_t i = 0; i < count; ++i) EXPECT_EQ(s->Insert(i, Flat(0.01 * i).get()), S_OK);
    return dir;
  };
  auto damaged = [&](void (*damage)(const std::string& index)) {
    std::string dir = created(3);
    damage(dir + "/index.M3");
    return dir;
  };
  struct Case {
    const char* name;
    std::string dir;
    CLSID objectClass = CLSID_VectorAObject;
  };
  const Case cases[] = {
      {"MissingDirectory", dir_ + "/missing"},
      {"EmptyDirectory", NewDirectory()},
      {"NoPageFile", damaged([](const std::string& f) { fs::remove(f); })},
      {"EmptyPageFile", damaged([](const std::string& f) { fs::resize_file(f, 0); })},
      {"HeaderPageOnly", damaged([](const std::string& f) { fs::resize_file(f, 16384); })},
      {"RootCutShort", damaged([](const std::string& f) { fs::resize_file(f, 16384 + 100); })},
      {"NotAPageFile", damaged([](const std::string& f) {
         std::ofstream(f, std::ios::binary | std::ios::trunc) << std::string(3 * 16384, 'x');
       })},
      {"AnotherObjectClass", created(3), CLSID_VectorBObject},
  };
  for (const Case& c : cases) {
    ComPtr<ISimdex> service = NewService();
    std::string dir = c.dir;
    EXPECT_TRUE(FAILED(service->Open(Path(dir), c.objectClass))) << c.name;
    int n = 0;
    EXPECT_EQ(service->getIOReads(&n), E_UNEXPECTED) << c.name;
  }

  std::string dir = created(3);
  ComPtr<ISimdex> service = NewService();
  ASSERT_EQ(service->Open(Path(dir), CLSID_VectorAObject), S_OK);
  EXPECT_EQ(CostsOf(service.get()), (Costs{0, 0, 0}));  // opening transfers no page
  ComPtr<IMTobject> query = Flat(0.0);
  ASSERT_EQ(service->NNSearch(query.get(), 5), S_OK);
  const std::vector<Hit> expected = {{0, 0.0}, {1, 0.01 * kRoot45}, {2, 0.02 * kRoot45}};
  std::vector<Hit> hits = Walk(service.get());
  ASSERT_EQ(hits.size(), 3u);
  for (std::size_t i = 0; i < 3; ++i) {
    EXPECT_EQ(hits[i].oid, expected[i].oid);
    EXPECT_NEAR(hits[i].distance, expected[i].distance, 1e-12);
  }
}

TEST_F(SimdexTest, ObjectsOfAnotherSizeAreRefusedBeforeTheyWrite) {
  ComPtr<ISimdex> a = IndexOf({0.0});
  ComPtr<ISimdex> b = NewService();
  std::string dir = NewDirectory();
  ASSERT_EQ(b->Create(Path(dir), 10.0, CLSID_VectorBObject), S_OK);
  ASSERT_EQ(a->resetCounters(), S_OK);
  ASSERT_EQ(b->resetCounters(), S_OK);

  ComPtr<IMTobject> big = Vector(CLSID_VectorBObject, std::vector<double>(144, 0.0));
  ComPtr<IMTobject> small = Flat(0.0);
  SizedObject larger(361, 361), shorter(359, 359), lying(360, 364), quiet(360, 0);
  struct Case {
    const char* name;
    ISimdex* service;
    IMTobject* object;
    int compressCalls;  // -1: not a SizedObject
  };
  const Case cases[] = {
      {"VectorBIntoVectorA", a.get(), big.get(), -1},
      {"VectorAIntoVectorB", b.get(), small.get(), -1},
      {"OneByteMore", a.get(), &larger, 0},
      {"OneByteLess", a.get(), &shorter, 0},
      {"WritesMoreThanItSaid", a.get(), &lying, 3},
      {"WritesNothing", a.get(), &quiet, 3},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(c.service->Insert(7, c.object), E_INVALIDARG) << c.name;
    EXPECT_EQ(c.service->NNSearch(c.object, 1), E_INVALIDARG) << c.name;
    EXPECT_EQ(c.service->RangeSearch(c.object, 1.0), E_INVALIDARG) << c.name;
    if (c.compressCalls >= 0) {
      EXPECT_EQ(static_cast<SizedObject*>(c.object)->compressCalls, c.compressCalls) << c.name;
    }
  }
  // Nothing reached either index.
  EXPECT_EQ(CostsOf(a.get()), (Costs{0, 0, 0}));
  EXPECT_EQ(CostsOf(b.get()), (Costs{0, 0, 0}));
}

TEST_F(SimdexTest, CursorWalksTheResultsInSearchOrderAndStaysPastTheEnd) {
  ComPtr<ISimdex> service = IndexOf({0.0, 0.3, 0.1, 0.9}, 10);
  auto expectNoCurrent = [&](const char* when) {
    std::uint32_t oid = 0;
    double d = 0;
    ComPtr<IMTobject> o;
    EXPECT_EQ(service->getObjectId(&oid), E_UNEXPECTED) << when;
    EXPECT_EQ(service->getObjectDistance(&d), E_UNEXPECTED) << when;
    EXPECT_EQ(service->getObject(o.Put()), E_UNEXPECTED) << when;
    EXPECT_FALSE(o) << when;
  };
  int n = -1;
  EXPECT_EQ(service->getResultSetSize(&n), S_OK);
  EXPECT_EQ(n, 0);
  expectNoCurrent("before any search");

  ComPtr<IMTobject> query = Flat(0.0);
  ASSERT_EQ(service->NNSearch(query.get(), 3), S_OK);
  EXPECT_EQ(service->getResultSetSize(&n), S_OK);
  EXPECT_EQ(n, 3);
  expectNoCurrent("before the first next");
  const std::uint32_t oids[] = {10, 12, 11};
  for (int i = 0; i < 5; ++i) {
    std::int32_t b = -1;
    ASSERT_EQ(service->next(&b), S_OK);
    EXPECT_EQ(b, i < 3 ? 1 : 0) << "next " << i;
    if (i < 3) {
      std::uint32_t oid = 0;
      EXPECT_EQ(service->getObjectId(&oid), S_OK);
      EXPECT_EQ(oid, oids[i]);
    }
  }
  expectNoCurrent("past the end");

  // A search without results: size 0, the first next answers 0.
  ComPtr<IMTobject> far = Flat(5.0);
  ASSERT_EQ(service->RangeSearch(far.get(), 1.0), S_OK);
  EXPECT_EQ(service->getResultSetSize(&n), S_OK);
  EXPECT_EQ(n, 0);
  EXPECT_TRUE(Walk(service.get()).empty());
  expectNoCurrent("after an empty search");
}

TEST_F(SimdexTest, KBelowOneGivesAnEmptyResultAndKAboveAllGivesEverything) {
  ComPtr<ISimdex> service = IndexOf({0.2, 0.0, 0.1});
  ComPtr<IMTobject> query = Flat(0.0);
  for (int k : {0, -1, INT_MIN}) {
    ASSERT_EQ(service->NNSearch(query.get(), 2), S_OK);  // results to replace
    EXPECT_EQ(service->NNSearch(query.get(), k), S_OK) << k;
    int n = -1;
    EXPECT_EQ(service->getResultSetSize(&n), S_OK);
    EXPECT_EQ(n, 0) << k;
    EXPECT_TRUE(Walk(service.get()).empty()) << k;
  }
  ASSERT_EQ(service->NNSearch(query.get(), 10), S_OK);
  std::vector<Hit> hits = Walk(service.get());
  ASSERT_EQ(hits.size(), 3u);
  EXPECT_EQ(hits[0], (Hit{1, 0.0}));
  EXPECT_EQ(hits[1].oid, 2u);
  EXPECT_EQ(hits[2].oid, 0u);
}

TEST_F(SimdexTest, GetObjectHandsOutNewObjectsThatOutliveTheResults) {
  ComPtr<IMTobject> stored = Flat(0.25);
  ComPtr<ISimdex> service = IndexOf({0.25, 0.75});
  ComPtr<IMTobject> query = Flat(0.2);
  ASSERT_EQ(service->NNSearch(query.get(), 1), S_OK);
  std::int32_t b = 0;
  ASSERT_EQ(service->next(&b), S_OK);
  ASSERT_EQ(b, 1);
  ComPtr<IMTobject> first, second;
  ASSERT_EQ(service->getObject(first.Put()), S_OK);
  ASSERT_EQ(service->getObject(second.Put()), S_OK);
  ASSERT_TRUE(first && second);
  EXPECT_NE(first.get(), second.get());
  EXPECT_NE(first.get(), stored.get());
  int same = 0;
  EXPECT_EQ(first->equal(second.get(), &same), S_OK);
  EXPECT_EQ(same, 1);

  // Another search replaces the results; the objects stay the client's.
  ASSERT_EQ(service->NNSearch(query.get(), 2), S_OK);
  service.Reset();
  same = 0;
  EXPECT_EQ(first->equal(stored.get(), &same), S_OK);
  EXPECT_EQ(same, 1);
  double d = -1;
  EXPECT_EQ(second->distance(query.get(), &d), S_OK);
  EXPECT_NEAR(d, 0.05 * kRoot45, 1e-12);
}

TEST_F(SimdexTest, TheSameOidTwiceStoresTwoEntries) {
  ComPtr<ISimdex> service = NewService();
  std::string dir = NewDirectory();
  ASSERT_EQ(service->Create(Path(dir), 10.0, CLSID_VectorAObject), S_OK);
  ASSERT_EQ(service->Insert(7, Flat(0.1).get()), S_OK);
  ASSERT_EQ(service->Insert(7, Flat(0.2).get()), S_OK);
  ComPtr<IMTobject> query = Flat(0.0);
  ASSERT_EQ(service->RangeSearch(query.get(), 5.0), S_OK);
  std::vector<Hit> hits = Walk(service.get());
  ASSERT_EQ(hits.size(), 2u);
  EXPECT_EQ(hits[0].oid, 7u);
  EXPECT_EQ(hits[1].oid, 7u);
  EXPECT_NE(hits[0].distance, hits[1].distance);
}

// A VectorA index of `count` clustered objects (several levels for a few
// hundred), oid = row.
ComPtr<ISimdex> ClusteredIndex(const std::vector<double>& rows, int count, std::string* dir) {
  ComPtr<ISimdex> service = ServiceTest::NewService();
  *dir = ServiceTest::NewDirectory();
  EXPECT_EQ(service->Create(ServiceTest::Path(*dir), 10.0, CLSID_VectorAObject), S_OK);
  for (int i = 0; i < count; ++i)
    EXPECT_EQ(service->Insert(static_cast<std::uint32_t>(i), ServiceTest::Row(rows, i).get()),
              S_OK);
  return service;
}

std::string FirstLine(const std::string& path) {
  std::ifstream in(path);
  std::string line;
  std::getline(in, line);
  return line;
}

TEST_F(SimdexTest, SettingsHoldUntilTheStatisticsAreReloaded) {
  const std::vector<double> rows = ClusteredVectors(300, 45);
  std::string dir;
  ComPtr<ISimdex> service = ClusteredIndex(rows, 300, &dir);
  for (double bad : {0.0, -1.0, kNaN, kInf})
    EXPECT_EQ(service->setMaxDistance(bad), E_INVALIDARG) << bad;
  EXPECT_EQ(service->setMaxDistance(5.0), S_OK);
  // The pass samples the density over the reloaded maximum distance (the
  // 10 of Create), not over the 5 set before it.
  ASSERT_EQ(service->generateStatistics(), S_OK);
  EXPECT_EQ(FirstLine(dir + "/Density.dat"), "0 10 1000");

  double thresholds[] = {0.01, 0.5};
  ComPtr<IMTobject> query = Row(rows, 0);
  ASSERT_EQ(service->NNSearch(query.get(), 10), S_OK);
  const std::vector<Hit> exact = Walk(service.get());
  EXPECT_EQ(service->setApproximationThresholds(thresholds, 2), S_OK);
  for (int method = 0; method <= 4; ++method) {
    ASSERT_EQ(service->setApproximationMethod(method), S_OK) << method;
    ASSERT_EQ(service->NNSearch(query.get(), 10), S_OK) << method;
    std::vector<Hit> hits = Walk(service.get());
    EXPECT_LE(hits.size(), 10u) << method;
    ASSERT_FALSE(hits.empty()) << method;
    EXPECT_EQ(hits[0], (Hit{0, 0.0})) << method;  // the query itself
    if (method == 0) {
      EXPECT_EQ(hits, exact);
    }
  }
}

TEST_F(SimdexTest, CountersReportExactlyOneSearch) {
  const int kCount = 400;
  const std::vector<double> rows = ClusteredVectors(kCount, 45);
  std::string dir;
  ComPtr<ISimdex> service = ClusteredIndex(rows, kCount, &dir);
  // TreeStats.dat has one record per node below the root, so a search that
  // visits everything reads records + 1 pages and computes a distance for
  // every entry: the records (internal entries) and the objects.
  ASSERT_EQ(service->generateStatistics(), S_OK);
  std::ifstream stats(dir + "/TreeStats.dat");
  int records = 0;
  for (std::string line; std::getline(stats, line);) ++records;
  ASSERT_GT(records, 1);  // the tree has more than one level

  ASSERT_EQ(service->resetCounters(), S_OK);
  EXPECT_EQ(CostsOf(service.get()), (Costs{0, 0, 0}));
  ComPtr<IMTobject> query = Row(rows, 3);
  ASSERT_EQ(service->RangeSearch(query.get(), 100.0), S_OK);
  EXPECT_EQ(CostsOf(service.get()), (Costs{records + kCount, records + 1, 0}));
  int n = 0;
  EXPECT_EQ(service->getResultSetSize(&n), S_OK);
  EXPECT_EQ(n, kCount);

  // A narrower search costs less, and the same again the second time.
  ASSERT_EQ(service->resetCounters(), S_OK);
  ASSERT_EQ(service->NNSearch(query.get(), 5), S_OK);
  const Costs nn = CostsOf(service.get());
  EXPECT_EQ(nn.writes, 0);
  EXPECT_GE(nn.reads, 2);
  EXPECT_LT(nn.reads, records + 1);
  EXPECT_LT(nn.distances, records + kCount);
  ASSERT_EQ(service->resetCounters(), S_OK);
  ASSERT_EQ(service->NNSearch(query.get(), 5), S_OK);
  EXPECT_EQ(CostsOf(service.get()), nn);
}

TEST_F(SimdexTest, TwoServicesCountApart) {
  ComPtr<ISimdex> a = IndexOf({0.0, 0.1, 0.2});
  ComPtr<ISimdex> b = IndexOf({0.5});
  ASSERT_EQ(a->resetCounters(), S_OK);
  ASSERT_EQ(b->resetCounters(), S_OK);
  ComPtr<IMTobject> query = Flat(0.0);
  ASSERT_EQ(a->RangeSearch(query.get(), 1.0), S_OK);
  // One root leaf: one read, a distance per entry.
  EXPECT_EQ(CostsOf(a.get()), (Costs{3, 1, 0}));
  EXPECT_EQ(CostsOf(b.get()), (Costs{0, 0, 0}));
  ASSERT_EQ(b->Insert(9, Flat(0.6).get()), S_OK);
  ASSERT_EQ(b->NNSearch(query.get(), 1), S_OK);
  EXPECT_EQ(CostsOf(a.get()), (Costs{3, 1, 0}));
  const Costs costsB = CostsOf(b.get());
  EXPECT_GT(costsB.writes, 0);  // the insertion
  EXPECT_EQ(a->NNSearch(query.get(), 1), S_OK);
  EXPECT_EQ(CostsOf(b.get()), costsB);
}

TEST_F(SimdexTest, TwoServicesOnTwoThreadsSearchAtTheSameTime) {
  const int kCount = 300;
  const std::vector<double> rows = ClusteredVectors(kCount, 45);
  const std::vector<double> other = UniformVectors(kCount, 45);
  struct Answer {
    std::vector<Hit> hits;
    Costs costs;
  };
  // Each thread builds its own index and searches it; the answers and costs
  // of the searches must be those of a run alone.
  auto run = [&](const std::vector<double>& data, std::latch* start, std::vector<Answer>* out) {
    std::string dir;
    ComPtr<ISimdex> s = ClusteredIndex(data, kCount, &dir);
    if (start) start->arrive_and_wait();
    for (int q = 0; q < 20; ++q) {
      ComPtr<IMTobject> query = Row(data, q * 7);
      EXPECT_EQ(s->resetCounters(), S_OK);
      EXPECT_EQ(q % 2 ? s->NNSearch(query.get(), 10) : s->RangeSearch(query.get(), 0.9), S_OK);
      out->push_back({Walk(s.get()), CostsOf(s.get())});
    }
  };
  std::vector<Answer> aloneA, aloneB, togetherA, togetherB;
  run(rows, nullptr, &aloneA);
  run(other, nullptr, &aloneB);
  std::latch start(2);
  std::thread ta(run, std::cref(rows), &start, &togetherA);
  std::thread tb(run, std::cref(other), &start, &togetherB);
  ta.join();
  tb.join();
  ASSERT_EQ(togetherA.size(), aloneA.size());
  ASSERT_EQ(togetherB.size(), aloneB.size());
  for (std::size_t i = 0; i < aloneA.size(); ++i) {
    EXPECT_EQ(togetherA[i].hits, aloneA[i].hits) << i;
    EXPECT_EQ(togetherA[i].costs, aloneA[i].costs) << i;
    EXPECT_EQ(togetherB[i].hits, aloneB[i].hits) << i;
    EXPECT_EQ(togetherB[i].costs, aloneB[i].costs) << i;
  }
}

TEST_F(SimdexTest, ADamagedPageMetDuringASearchIsReportedAsCorruption) {
  const int kCount = 300;
  const std::vector<double> rows = ClusteredVectors(kCount, 45);
  struct Case {
    const char* name;
    std::int64_t offset;  // into page 2; -1: cut the file there instead
    std::uint32_t value;
  };
  const Case cases[] = {
      {"EntryCountBeyondThePage", 4, 0x7FFFFFFF},
      {"WrongLevel", 0, 9},
      {"FileCutShort", -1, 0},
  };
  for (const Case& c : cases) {
    std::string dir;
    ComPtr<ISimdex> service = ClusteredIndex(rows, kCount, &dir);
    ComPtr<IMTobject> query = Row(rows, 0);
    ASSERT_EQ(service->NNSearch(query.get(), 3), S_OK) << c.name;  // results to replace
    // Pages are read from the file at every visit, so damage done now is
    // met by the next search.
    const std::string index = dir + "/index.M3";
    if (c.offset < 0) {
      fs::resize_file(index, 2 * 16384 + 100);
    } else {
      std::fstream f(index, std::ios::in | std::ios::out | std::ios::binary);
      unsigned char bytes[4];
      EncodeFixed32(bytes, c.value);
      f.seekp(2 * 16384 + c.offset);
      f.write(reinterpret_cast<const char*>(bytes), 4);
    }
    // A search that visits every node meets the damaged page.
    EXPECT_EQ(service->RangeSearch(query.get(), 100.0), STG_E_DOCFILECORRUPT) << c.name;
    EXPECT_EQ(service->NNSearch(query.get(), kCount), STG_E_DOCFILECORRUPT) << c.name;
    int n = -1;
    EXPECT_EQ(service->getResultSetSize(&n), S_OK);
    EXPECT_EQ(n, 0) << c.name;
    EXPECT_TRUE(Walk(service.get()).empty()) << c.name;
  }
}

}  // namespace
}  // namespace simdex::testing
