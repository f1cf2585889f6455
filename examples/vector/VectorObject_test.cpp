#include "examples/vector/VectorObject.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <bit>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <random>
#include <vector>

#include "examples/vector/VectorIds.h"
#include "platform/Activation.h"
#include "platform/ClassFactory.h"
#include "platform/ComPtr.h"
#include "platform/Dispatcher.h"
#include "platform/Module.h"
#include "platform/Registry.h"
#include "platform/SharedLibrary.h"

namespace simdex {
namespace {

struct Plugin {
  const char* name;
  const char* path;
  CLSID clsid;
  IID classInterface;
  IID otherClassInterface;
  CLSID otherClsid;
  const char* progid;
  int dimension;
};

const Plugin kPlugins[] = {
    {"VectorA", SIMDEX_VECTORA_MODULE, CLSID_VectorAObject, IID_IVectorAObject, IID_IVectorBObject,
     CLSID_VectorBObject, "VectorA.VectorAObject", 45},
    {"VectorB", SIMDEX_VECTORB_MODULE, CLSID_VectorBObject, IID_IVectorBObject, IID_IVectorAObject,
     CLSID_VectorAObject, "VectorB.VectorBObject", 144},
};

void PrintTo(const Plugin& p, std::ostream* os) { *os << p.name; }

std::string MakeTempDir() {
  char tmpl[] = "/tmp/simdex-vector-XXXXXX";
  const char* dir = ::mkdtemp(tmpl);
  return dir ? dir : "";
}

HRESULT CallEntry(const std::string& path, const char* entry) {
  SharedLibrary lib;
  if (!SharedLibrary::Open(path, &lib).ok()) return E_FAIL;
  auto fn = reinterpret_cast<DllRegisterServerFn>(lib.Symbol(entry));
  return fn ? fn() : E_FAIL;
}

std::vector<unsigned char> Bytes(const std::vector<double>& v) {
  std::vector<unsigned char> b(v.size() * 8);
  for (std::size_t i = 0; i < v.size(); ++i) EncodeDouble(b.data() + 8 * i, v[i]);
  return b;
}

// An outer object for aggregation.
class Outer final : public IUnknown {
 public:
  HRESULT QueryInterface(REFIID, void** ppv) override {
    *ppv = nullptr;
    return E_NOINTERFACE;
  }
  ULONG AddRef() override { return ++refs; }
  ULONG Release() override { return --refs; }
  ULONG refs = 1;
};

class VectorPluginTest : public ::testing::TestWithParam<Plugin> {
 protected:
  // Registers both modules into a registry of the suite's own.
  static void SetUpTestSuite() {
    dir_ = MakeTempDir();
    ASSERT_FALSE(dir_.empty());
    ::setenv("SIMDEX_REGISTRY", (dir_ + "/registry.txt").c_str(), 1);
    for (const auto& p : kPlugins) ASSERT_EQ(CallEntry(p.path, "DllRegisterServer"), S_OK);
  }
  static void TearDownTestSuite() { std::filesystem::remove_all(dir_); }

  const Plugin& P() const { return GetParam(); }
  int N() const { return P().dimension; }

  ComPtr<IMTobject> New() {
    ComPtr<IMTobject> o;
    // Class context 5, as the engine creates the objects it keeps.
    EXPECT_EQ(
        CoCreateInstance(P().clsid, nullptr, CLSCTX_INPROC_OR_LOCAL, IID_IMTobject, o.PutVoid()),
        S_OK);
    return o;
  }
  ComPtr<IMTobject> Make(const std::vector<double>& values) {
    ComPtr<IMTobject> o = New();
    auto b = Bytes(values);
    EXPECT_EQ(o->initialize(b.data()), S_OK);
    return o;
  }
  std::vector<unsigned char> Compressed(IMTobject* o) {
    std::vector<unsigned char> b(static_cast<std::size_t>(8 * N()) + 16, 0xEE);
    int size = -1;
    EXPECT_EQ(o->compress(b.data(), &size), S_OK);
    EXPECT_EQ(size, 8 * N());
    EXPECT_EQ(b[8 * N()], 0xEE);  // nothing written past the form
    b.resize(static_cast<std::size_t>(8 * N()));
    return b;
  }

  static std::string dir_;
};

std::string VectorPluginTest::dir_;

TEST_P(VectorPluginTest, CreatedByClassIdAndProgIdReportsItsSize) {
  CLSID byProgId{};
  ASSERT_EQ(CLSIDFromProgID(P().progid, &byProgId), S_OK);
  EXPECT_EQ(byProgId, P().clsid);
  ASSERT_EQ(CLSIDFromProgID((std::string(P().progid) + ".1").c_str(), &byProgId), S_OK);
  EXPECT_EQ(byProgId, P().clsid);
  ComPtr<IMTobject> o;
  ASSERT_EQ(CoCreateInstance(byProgId, nullptr, CLSCTX_SERVER, IID_IMTobject, o.PutVoid()), S_OK);
  int size = 0;
  ASSERT_EQ(o->compressedSize(&size), S_OK);
  EXPECT_EQ(size, P().dimension == 45 ? 360 : 1152);
}

TEST_P(VectorPluginTest, DistanceIsEuclideanSummedInIndexOrder) {
  std::vector<double> a(N(), 1.5), b(N(), 1.5);
  b[0] += 3;
  b[N() - 1] -= 4;
  double d = -1;
  ASSERT_EQ(Make(a)->distance(Make(b).get(), &d), S_OK);
  EXPECT_EQ(d, 5.0);

  std::mt19937_64 rng(7);
  std::uniform_real_distribution<double> value(-1e3, 1e3);
  for (double& x : a) x = value(rng);
  for (double& x : b) x = value(rng);
  double sum = 0;
  for (int i = 0; i < N(); ++i) sum += std::pow(a[i] - b[i], 2.0);
  auto oa = Make(a), ob = Make(b);
  double ab = 0, ba = 0, aa = -1;
  ASSERT_EQ(oa->distance(ob.get(), &ab), S_OK);
  ASSERT_EQ(ob->distance(oa.get(), &ba), S_OK);
  ASSERT_EQ(oa->distance(Make(a).get(), &aa), S_OK);
  EXPECT_EQ(std::bit_cast<std::uint64_t>(ab), std::bit_cast<std::uint64_t>(std::sqrt(sum)));
  EXPECT_EQ(std::bit_cast<std::uint64_t>(ab), std::bit_cast<std::uint64_t>(ba));
  EXPECT_EQ(aa, 0.0);
}

TEST_P(VectorPluginTest, CompressedFormIsLittleEndianAndRoundTripsByteForByte) {
  std::vector<double> v(N(), 0.0);
  v[0] = 1.0;
  auto bytes = Compressed(Make(v).get());
  const unsigned char one[8] = {0, 0, 0, 0, 0, 0, 0xF0, 0x3F};
  EXPECT_EQ(std::memcmp(bytes.data(), one, 8), 0);

  // Any bit patterns, NaN payloads and negative zeros included.
  std::mt19937_64 rng(11);
  std::vector<unsigned char> raw(static_cast<std::size_t>(8 * N()));
  for (auto& c : raw) c = static_cast<unsigned char>(rng());
  EncodeFixed64(raw.data(), 0x7FF8DEADBEEF0001ull);
  EncodeFixed64(raw.data() + 8, 0x8000000000000000ull);
  ComPtr<IMTobject> o = Make(v);
  ASSERT_EQ(o->initialize(raw.data()), S_OK);  // replaces the first value completely
  EXPECT_EQ(Compressed(o.get()), raw);
}

TEST_P(VectorPluginTest, EqualComparesBytesNotNumbers) {
  std::vector<double> zero(N(), 0.0), negative(N(), 0.0), nan(N(), std::nan(""));
  negative[N() / 2] = -0.0;
  struct Case {
    const std::vector<double>* a;
    const std::vector<double>* b;
    int expected;
  };
  const Case cases[] = {{&zero, &zero, 1}, {&zero, &negative, 0}, {&nan, &nan, 1}};
  for (const auto& c : cases) {
    int res = -1;
    ASSERT_EQ(Make(*c.a)->equal(Make(*c.b).get(), &res), S_OK);
    EXPECT_EQ(res, c.expected);
  }
  double d = -1;
  ASSERT_EQ(Make(zero)->distance(Make(negative).get(), &d), S_OK);
  EXPECT_EQ(d, 0.0);  // equal as numbers, different as bytes
}

TEST_P(VectorPluginTest, XMLInitializeIsNotImplementedAndChangesNothing) {
  std::vector<double> v(N(), 2.5);
  ComPtr<IMTobject> o = Make(v);
  char xml[] = "<vector/>";
  EXPECT_EQ(o->XMLInitialize(xml), MakeHResult(0x80004001u));
  EXPECT_EQ(Compressed(o.get()), Bytes(v));
  ComPtr<IMTobject> empty = New();
  EXPECT_EQ(empty->XMLInitialize(xml), E_NOTIMPL);
}

TEST_P(VectorPluginTest, QueryInterfaceServesClassInterfaceAndIMTobjectOnly) {
  ComPtr<IMTobject> o = New();
  ComPtr<IUnknown> u1, u2, classItf, mt;
  EXPECT_EQ(o->QueryInterface(IID_IUnknown, u1.PutVoid()), S_OK);
  EXPECT_EQ(o->QueryInterface(P().classInterface, classItf.PutVoid()), S_OK);
  EXPECT_EQ(classItf->QueryInterface(IID_IMTobject, mt.PutVoid()), S_OK);
  EXPECT_EQ(mt.get(), static_cast<IUnknown*>(o.get()));
  EXPECT_EQ(classItf->QueryInterface(IID_IUnknown, u2.PutVoid()), S_OK);
  EXPECT_EQ(u1.get(), u2.get());
  for (const IID& refused : {IID_IDispatch, P().otherClassInterface, IID_IClassFactory}) {
    void* p = reinterpret_cast<void*>(1);
    EXPECT_EQ(o->QueryInterface(refused, &p), MakeHResult(0x80004002u));
    EXPECT_EQ(p, nullptr);
  }
  EXPECT_EQ(o->QueryInterface(IID_IMTobject, nullptr), MakeHResult(0x80004003u));
}

TEST_P(VectorPluginTest, MissingValuesAndForeignObjectsAreRefusedNotRead) {
  ComPtr<IMTobject> empty = New(), full = Make(std::vector<double>(N(), 1.0));
  std::vector<unsigned char> buffer(static_cast<std::size_t>(8 * N()));
  int size = -1;
  EXPECT_TRUE(FAILED(empty->compress(buffer.data(), &size)));
  EXPECT_EQ(size, 0);
  double d = -1;
  EXPECT_TRUE(FAILED(empty->distance(full.get(), &d)));
  EXPECT_TRUE(FAILED(full->distance(empty.get(), &d)));
  EXPECT_EQ(d, 0.0);
  int res = -1;
  EXPECT_TRUE(FAILED(full->equal(empty.get(), &res)));
  EXPECT_EQ(res, 0);
  EXPECT_EQ(full->distance(nullptr, &d), E_POINTER);
  EXPECT_EQ(full->initialize(nullptr), E_POINTER);
  EXPECT_EQ(full->compressedSize(nullptr), E_POINTER);

  // An object of the other plug-in: the larger form is never read past its
  // end and never given too small a buffer.
  const Plugin& other = P().dimension == 45 ? kPlugins[1] : kPlugins[0];
  ComPtr<IMTobject> foreign;
  ASSERT_EQ(CoCreateInstance(other.clsid, nullptr, CLSCTX_SERVER, IID_IMTobject, foreign.PutVoid()),
            S_OK);
  std::vector<unsigned char> ones = Bytes(std::vector<double>(other.dimension, 1.0));
  ASSERT_EQ(foreign->initialize(ones.data()), S_OK);
  EXPECT_EQ(full->equal(foreign.get(), &res), S_OK);
  EXPECT_EQ(res, 0);
  HRESULT hr = full->distance(foreign.get(), &d);
  if (other.dimension < N())
    EXPECT_EQ(hr, E_INVALIDARG);
  else
    EXPECT_EQ(hr, S_OK);
}

TEST_P(VectorPluginTest, EntryPointsFollowTheLockCountAndAggregationRules) {
  // A private copy of the module, so its lock count is this test's alone.
  const std::string dir = MakeTempDir();
  const std::string copy = dir + "/" + P().name + ".so";
  std::filesystem::copy_file(P().path, copy);
  SharedLibrary lib;
  ASSERT_TRUE(SharedLibrary::Open(copy, &lib).ok());
  auto canUnload = reinterpret_cast<DllCanUnloadNowFn>(lib.Symbol("DllCanUnloadNow"));
  auto getClassObject = reinterpret_cast<DllGetClassObjectFn>(lib.Symbol("DllGetClassObject"));
  ASSERT_TRUE(canUnload && getClassObject);

  EXPECT_EQ(canUnload(), S_OK);
  void* p = reinterpret_cast<void*>(1);
  EXPECT_EQ(getClassObject(P().otherClsid, IID_IClassFactory, &p), MakeHResult(0x80040111u));
  EXPECT_EQ(p, nullptr);
  EXPECT_EQ(getClassObject(P().clsid, IID_IClassFactory, nullptr), E_POINTER);
  ComPtr<IClassFactory> factory;
  ASSERT_EQ(getClassObject(P().clsid, IID_IClassFactory, factory.PutVoid()), S_OK);
  ComPtr<IMTobject> object;
  ASSERT_EQ(factory->CreateInstance(nullptr, IID_IMTobject, object.PutVoid()), S_OK);
  factory.Reset();
  EXPECT_EQ(canUnload(), S_FALSE);
  object.Reset();
  EXPECT_EQ(canUnload(), S_OK);

  ASSERT_EQ(getClassObject(P().clsid, IID_IClassFactory, factory.PutVoid()), S_OK);
  Outer outer;
  EXPECT_EQ(factory->CreateInstance(&outer, IID_IMTobject, &p), MakeHResult(0x80040110u));
  EXPECT_EQ(factory->CreateInstance(&outer, IID_IDispatch, &p), CLASS_E_NOAGGREGATION);
  ComPtr<IUnknown> inner;
  ASSERT_EQ(factory->CreateInstance(&outer, IID_IUnknown, inner.PutVoid()), S_OK);
  IMTobject* mt = nullptr;
  ASSERT_EQ(inner->QueryInterface(IID_IMTobject, reinterpret_cast<void**>(&mt)), S_OK);
  EXPECT_EQ(outer.refs, 2u);
  mt->Release();
  EXPECT_EQ(outer.refs, 1u);
  EXPECT_EQ(factory->LockServer(1), S_OK);
  factory.Reset();
  inner.Reset();
  EXPECT_EQ(canUnload(), S_FALSE);  // the server lock
  ASSERT_EQ(getClassObject(P().clsid, IID_IClassFactory, factory.PutVoid()), S_OK);
  EXPECT_EQ(factory->LockServer(0), S_OK);
  factory.Reset();
  EXPECT_EQ(canUnload(), S_OK);
  std::filesystem::remove_all(dir);
}

TEST_P(VectorPluginTest, RegistrationWritesTheClassEntries) {
  RegistryKey root;
  ASSERT_TRUE(Registry(dir_ + "/registry.txt").Read(&root).ok());
  const std::string clsid = FormatGuid(P().clsid);
  const std::string progid = P().progid;
  const std::string description = std::string(P().name) + "Object Class";
  auto value = [&](const std::string& path) -> std::string {
    const RegistryKey* k = root.Find(path);
    return k && k->DefaultValue() ? *k->DefaultValue() : "<missing>";
  };
  EXPECT_EQ(value(progid), description);
  EXPECT_EQ(value(progid + "\\CurVer"), progid + ".1");
  EXPECT_EQ(value(progid + "\\CLSID"), clsid);
  EXPECT_EQ(value(progid + ".1"), description);
  EXPECT_EQ(value(progid + ".1\\CLSID"), clsid);
  const std::string key = "CLSID\\" + clsid;
  EXPECT_EQ(value(key), description);
  EXPECT_EQ(value(key + "\\ProgID"), progid + ".1");
  EXPECT_EQ(value(key + "\\VersionIndependentProgID"), progid);
  ASSERT_NE(root.Find(key + "\\Programmable"), nullptr);
  EXPECT_TRUE(root.Find(key + "\\Programmable")->IsEmpty());
  EXPECT_EQ(value(key + "\\InprocServer32"), std::filesystem::canonical(P().path).string());
  EXPECT_EQ(*root.Find(key + "\\InprocServer32")->Value("ThreadingModel"), "Apartment");
  const std::string libid = value(key + "\\TypeLib");
  EXPECT_EQ(value("TypeLib\\" + libid + "\\1.0"), std::string(P().name) + " 1.0 Type Library");
}

TEST_P(VectorPluginTest, DispatchCallsReachTheVtableMethods) {
  ComPtr<IMTobject> o = New(), other = Make(std::vector<double>(N(), 0.0));
  Variant r;
  ASSERT_EQ(CallByDispatch(o.get(), 3, {}, &r), S_OK);
  EXPECT_EQ(r.vt(), VT_I4);
  EXPECT_EQ(r.raw().lVal, 8 * N());

  std::vector<double> v(N(), 0.0);
  v[1] = 3;
  v[2] = 4;
  auto bytes = Bytes(v);
  std::vector<Variant> args;
  args.push_back(Variant::Bytes(bytes.data()));
  ASSERT_EQ(CallByDispatch(o.get(), 4, args), S_OK);
  args.clear();
  args.push_back(Variant::Object(other.get()));
  ASSERT_EQ(CallByDispatch(o.get(), 1, args, &r), S_OK);
  EXPECT_EQ(r.vt(), VT_R8);
  EXPECT_EQ(r.raw().dblVal, 5.0);
  std::vector<unsigned char> out(bytes.size());
  args.clear();
  args.push_back(Variant::Bytes(out.data()));
  ASSERT_EQ(CallByDispatch(o.get(), 2, args, &r), S_OK);
  EXPECT_EQ(out, bytes);
  args.clear();
  args.push_back(Variant::String("<v/>"));
  EXPECT_EQ(CallByDispatch(o.get(), 6, args), E_NOTIMPL);
  EXPECT_EQ(CallByDispatch(o.get(), 11, {}), DISP_E_MEMBERNOTFOUND);

  // The class interface answers the same way.
  ComPtr<IDispatch> classItf;
  ASSERT_EQ(o->QueryInterface(P().classInterface, classItf.PutVoid()), S_OK);
  const char* names[] = {"Equal"};
  DISPID id = 0;
  ASSERT_EQ(classItf->GetIDsOfNames(IID_NULL, names, 1, 0x409, &id), S_OK);
  EXPECT_EQ(id, 5);
  unsigned count = 0;
  ASSERT_EQ(classItf->GetTypeInfoCount(&count), S_OK);
  EXPECT_EQ(count, 1u);
}

INSTANTIATE_TEST_SUITE_P(Plugins, VectorPluginTest, ::testing::ValuesIn(kPlugins),
                         [](const auto& plugin) { return std::string(plugin.param.name); });

TEST(VectorRegistrationTest, UnregistrationRemovesEntriesButNotTheClsidRoot) {
  const std::string dir = MakeTempDir();
  const char* saved = std::getenv("SIMDEX_REGISTRY");
  std::string restore = saved ? saved : "";
  const std::string path = dir + "/registry.txt";
  ::setenv("SIMDEX_REGISTRY", path.c_str(), 1);
  for (const auto& p : kPlugins) ASSERT_EQ(CallEntry(p.path, "DllRegisterServer"), S_OK);
  ASSERT_EQ(CallEntry(kPlugins[0].path, "DllUnregisterServer"), S_OK);

  RegistryKey root;
  ASSERT_TRUE(Registry(path).Read(&root).ok());
  EXPECT_EQ(root.Find("CLSID\\" + FormatGuid(CLSID_VectorAObject)), nullptr);
  EXPECT_EQ(root.Find("VectorA.VectorAObject"), nullptr);
  EXPECT_EQ(root.Find("VectorA.VectorAObject.1"), nullptr);
  EXPECT_EQ(root.Find("TypeLib\\" + FormatGuid(LIBID_VectorALib)), nullptr);
  EXPECT_NE(root.Find("CLSID\\" + FormatGuid(CLSID_VectorBObject)), nullptr);
  EXPECT_NE(root.Find("VectorB.VectorBObject"), nullptr);
  // IMTobject's library was registered last by VectorB: it stays.
  EXPECT_NE(root.Find("TypeLib\\" + FormatGuid(LIBID_IMTobjectLib)), nullptr);

  ASSERT_EQ(CallEntry(kPlugins[1].path, "DllUnregisterServer"), S_OK);
  root = RegistryKey();
  ASSERT_TRUE(Registry(path).Read(&root).ok());
  ASSERT_NE(root.Find("CLSID"), nullptr);
  EXPECT_TRUE(root.Find("CLSID")->IsEmpty());
  EXPECT_EQ(root.Find("VectorB.VectorBObject"), nullptr);
  EXPECT_EQ(root.Find("TypeLib\\" + FormatGuid(LIBID_IMTobjectLib)), nullptr);

  if (saved)
    ::setenv("SIMDEX_REGISTRY", restore.c_str(), 1);
  else
    ::unsetenv("SIMDEX_REGISTRY");
  std::filesystem::remove_all(dir);
}

}  // namespace
}  // namespace simdex
