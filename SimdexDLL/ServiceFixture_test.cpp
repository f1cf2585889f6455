#include "SimdexDLL/ServiceFixture_test.h"

#include <stdlib.h>

#include <filesystem>
#include <ostream>

#include "platform/Activation.h"
#include "platform/Coding.h"
#include "platform/Module.h"
#include "platform/SharedLibrary.h"

namespace simdex::testing {

std::string ServiceTest::dir_;
std::string ServiceTest::simdexModule_ = SIMDEX_SIMDEXDLL_MODULE;

void PrintTo(const Hit& h, std::ostream* os) { *os << "{" << h.oid << ", " << h.distance << "}"; }

namespace {

HRESULT Register(const std::string& path) {
  SharedLibrary lib;
  if (!SharedLibrary::Open(path, &lib).ok()) return E_FAIL;
  auto fn = reinterpret_cast<DllRegisterServerFn>(lib.Symbol("DllRegisterServer"));
  return fn ? fn() : E_FAIL;
}

}  // namespace

void ServiceTest::SetUpTestSuite() {
  char tmpl[] = "/tmp/simdex-service-XXXXXX";
  const char* made = ::mkdtemp(tmpl);
  ASSERT_NE(made, nullptr);
  dir_ = made;
  ::setenv("SIMDEX_REGISTRY", (dir_ + "/registry.txt").c_str(), 1);
  for (const char* module : {SIMDEX_SIMDEXDLL_MODULE, SIMDEX_VECTORA_MODULE, SIMDEX_VECTORB_MODULE})
    ASSERT_EQ(Register(module), S_OK) << module;
}

void ServiceTest::TearDownTestSuite() {
  std::error_code ec;
  std::filesystem::remove_all(dir_, ec);
}

ComPtr<ISimdex> ServiceTest::NewService() {
  ComPtr<ISimdex> s;
  EXPECT_EQ(CoCreateInstance(CLSID_Simdex, nullptr, CLSCTX_SERVER, IID_ISimdex, s.PutVoid()), S_OK);
  return s;
}

std::string ServiceTest::NewDirectory() {
  std::string tmpl = dir_ + "/index-XXXXXX";
  const char* made = ::mkdtemp(tmpl.data());
  EXPECT_NE(made, nullptr);
  return tmpl;
}

unsigned char* ServiceTest::Path(std::string& path) {
  return reinterpret_cast<unsigned char*>(path.data());
}

ComPtr<IMTobject> ServiceTest::Vector(const CLSID& clsid, std::span<const double> values) {
  ComPtr<IMTobject> o;
  EXPECT_EQ(CoCreateInstance(clsid, nullptr, CLSCTX_SERVER, IID_IMTobject, o.PutVoid()), S_OK);
  std::vector<unsigned char> bytes(values.size() * 8);
  for (std::size_t i = 0; i < values.size(); ++i) EncodeDouble(bytes.data() + 8 * i, values[i]);
  EXPECT_EQ(o->initialize(bytes.data()), S_OK);
  return o;
}

ComPtr<IMTobject> ServiceTest::Flat(double x) {
  std::vector<double> v(45, x);
  return Vector(CLSID_VectorAObject, v);
}

ComPtr<IMTobject> ServiceTest::Row(const std::vector<double>& rows, int i) {
  return Vector(CLSID_VectorAObject,
                std::span<const double>(rows).subspan(static_cast<std::size_t>(i) * 45, 45));
}

ComPtr<ISimdex> ServiceTest::IndexOf(const std::vector<double>& flats, std::uint32_t first) {
  ComPtr<ISimdex> s = NewService();
  std::string dir = NewDirectory();
  EXPECT_EQ(s->Create(Path(dir), 10.0, CLSID_VectorAObject), S_OK);
  for (std::size_t i = 0; i < flats.size(); ++i)
    EXPECT_EQ(s->Insert(first + static_cast<std::uint32_t>(i), Flat(flats[i]).get()), S_OK);
  return s;
}

std::vector<Hit> ServiceTest::Walk(ISimdex* service) {
  std::vector<Hit> hits;
  std::int32_t more = 0;
  while (service->next(&more) == S_OK && more == 1) {
    Hit h{};
    EXPECT_EQ(service->getObjectId(&h.oid), S_OK);
    EXPECT_EQ(service->getObjectDistance(&h.distance), S_OK);
    hits.push_back(h);
  }
  return hits;
}

ServiceTest::Costs ServiceTest::CostsOf(ISimdex* service) {
  Costs c{-1, -1, -1};
  EXPECT_EQ(service->getComputedDistances(&c.distances), S_OK);
  EXPECT_EQ(service->getIOReads(&c.reads), S_OK);
  EXPECT_EQ(service->getIOwrites(&c.writes), S_OK);
  return c;
}

}  // namespace simdex::testing
