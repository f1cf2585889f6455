// The SimdexDLL module as the platform and clients see it: registration,
// embedded resources, entry points, interfaces and the dispatch side.
#include <stdlib.h>

#include <cstring>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "SimdexDLL/ServiceFixture_test.h"
#include "platform/Activation.h"
#include "platform/ClassFactory.h"
#include "platform/Dispatcher.h"
#include "platform/Module.h"
#include "platform/ModuleResources.h"
#include "platform/Registry.h"
#include "platform/SharedLibrary.h"
#include "platform/TypeInfo.h"
#include "platform/Variant.h"

namespace simdex::testing {
namespace {

struct Method {
  const char* name;
  DISPID id;
};

// ISimdex after IDispatch's seven methods, in vtable order.
constexpr Method kMethods[] = {
    {"Create", 1},
    {"Open", 2},
    {"NNSearch", 3},
    {"RangeSearch", 4},
    {"Insert", 5},
    {"next", 6},
    {"getObject", 7},
    {"getObjectId", 8},
    {"getResultSetSize", 9},
    {"setMaxDistance", 10},
    {"setApproximationMethod", 12},
    {"setApproximationThresholds", 13},
    {"generateStatistics", 14},
    {"getObjectDistance", 15},
    {"resetCounters", 16},
    {"getComputedDistances", 17},
    {"getIOReads", 18},
    {"getIOwrites", 19},
};

class SimdexModuleTest : public ServiceTest {};

TEST_F(SimdexModuleTest, RegistrationWritesTheClassEntriesAndUnregistrationRemovesThem) {
  // A registry of this test's own, so that unregistering leaves the suite's.
  const std::string registry = NewDirectory() + "/registry.txt";
  const std::string saved = std::getenv("SIMDEX_REGISTRY");
  ::setenv("SIMDEX_REGISTRY", registry.c_str(), 1);
  SharedLibrary lib;
  ASSERT_TRUE(SharedLibrary::Open(simdexModule_, &lib).ok());
  auto reg = reinterpret_cast<DllRegisterServerFn>(lib.Symbol("DllRegisterServer"));
  auto unreg = reinterpret_cast<DllUnregisterServerFn>(lib.Symbol("DllUnregisterServer"));
  ASSERT_TRUE(reg && unreg);
  ASSERT_EQ(reg(), S_OK);

  RegistryKey root;
  ASSERT_TRUE(Registry(registry).Read(&root).ok());
  auto value = [&](const std::string& path) -> std::string {
    const RegistryKey* k = root.Find(path);
    return k && k->DefaultValue() ? *k->DefaultValue() : "<missing>";
  };
  const std::string clsid = SIMDEX_CLSID_SIMDEX_TEXT;
  EXPECT_EQ(value("SimdexDLL.Simdex"), "Simdex Class");
  EXPECT_EQ(value("SimdexDLL.Simdex\\CurVer"), "SimdexDLL.Simdex.1");
  EXPECT_EQ(value("SimdexDLL.Simdex\\CLSID"), clsid);
  EXPECT_EQ(value("SimdexDLL.Simdex.1"), "Simdex Class");
  EXPECT_EQ(value("SimdexDLL.Simdex.1\\CLSID"), clsid);
  const std::string key = "CLSID\\" + clsid;
  EXPECT_EQ(value(key), "Simdex Class");
  EXPECT_EQ(value(key + "\\ProgID"), "SimdexDLL.Simdex.1");
  EXPECT_EQ(value(key + "\\VersionIndependentProgID"), "SimdexDLL.Simdex");
  ASSERT_NE(root.Find(key + "\\Programmable"), nullptr);
  EXPECT_TRUE(root.Find(key + "\\Programmable")->IsEmpty());
  EXPECT_EQ(value(key + "\\InprocServer32"), std::filesystem::canonical(simdexModule_).string());
  ASSERT_NE(root.Find(key + "\\InprocServer32"), nullptr);
  EXPECT_EQ(*root.Find(key + "\\InprocServer32")->Value("ThreadingModel"), "Apartment");
  EXPECT_EQ(value(key + "\\TypeLib"), SIMDEX_LIBID_SIMDEXDLL_TEXT);
  EXPECT_EQ(value("TypeLib\\" SIMDEX_LIBID_SIMDEXDLL_TEXT "\\1.0"), "SimdexDLL 1.0 Type Library");
  CLSID byProgId{};
  EXPECT_EQ(CLSIDFromProgID("SimdexDLL.Simdex", &byProgId), S_OK);
  EXPECT_EQ(byProgId, CLSID_Simdex);

  EXPECT_EQ(unreg(), S_OK);
  RegistryKey after;
  ASSERT_TRUE(Registry(registry).Read(&after).ok());
  EXPECT_EQ(after.Find("SimdexDLL.Simdex"), nullptr);
  EXPECT_EQ(after.Find("SimdexDLL.Simdex.1"), nullptr);
  EXPECT_EQ(after.Find(key), nullptr);
  EXPECT_EQ(after.Find("TypeLib\\" SIMDEX_LIBID_SIMDEXDLL_TEXT), nullptr);
  EXPECT_NE(after.Find("CLSID"), nullptr);  // never removed
  ::setenv("SIMDEX_REGISTRY", saved.c_str(), 1);
}

TEST_F(SimdexModuleTest, ResourcesDescribeTheServiceInVtableOrder) {
  ModuleResources res;
  ASSERT_TRUE(ModuleResources::ReadFromFile(simdexModule_, &res).ok());
  const Resource* name = res.Find(kStringResource, kModuleNameStringId);
  ASSERT_NE(name, nullptr);
  EXPECT_EQ(name->data, "SimdexDLL");
  const Resource* version = res.Find(kVersionResource, 1);
  ASSERT_NE(version, nullptr);
  for (const char* line :
       {"FileVersion=1.0.0.1\n", "ProductVersion=1.0.0.1\n", "FileDescription=SimdexDLL Module\n",
        "InternalName=SimdexDLL\n", "OriginalFilename=SimdexDLL.DLL\n"})
    EXPECT_NE(version->data.find(line), std::string::npos) << line;
  ASSERT_NE(res.Find(kRegistryResource, kRegistryScriptId), nullptr);

  const Resource* text = res.Find(kTypeLibResource, 1);
  ASSERT_NE(text, nullptr);
  TypeLibDescription lib;
  ASSERT_TRUE(ParseTypeLib(text->data, &lib).ok());
  EXPECT_EQ(lib.name, "SIMDEXDLLLib");
  EXPECT_EQ(lib.libid, LIBID_SIMDEXDLLLib);
  EXPECT_EQ(lib.major, 1);
  EXPECT_EQ(lib.minor, 0);
  EXPECT_EQ(lib.lcid, 0x409u);
  EXPECT_EQ(lib.doc, "SimdexDLL 1.0 Type Library");
  ASSERT_EQ(lib.coclasses.size(), 1u);
  EXPECT_EQ(lib.coclasses[0].name, "Simdex");
  EXPECT_EQ(lib.coclasses[0].clsid, CLSID_Simdex);
  EXPECT_EQ(lib.coclasses[0].doc, "Simdex Class");
  EXPECT_EQ(lib.coclasses[0].defaultInterface, "ISimdex");
  ASSERT_EQ(lib.interfaces.size(), 2u);
  EXPECT_EQ(lib.interfaces[1].name, "IMTobject");
  EXPECT_EQ(lib.interfaces[1].iid, IID_IMTobject);
  const InterfaceDescription& itf = lib.interfaces[0];
  EXPECT_EQ(itf.name, "ISimdex");
  EXPECT_EQ(itf.iid, IID_ISimdex);
  EXPECT_TRUE(itf.dual);
  ASSERT_EQ(itf.methods.size(), std::size(kMethods));
  for (std::size_t i = 0; i < itf.methods.size(); ++i) {
    EXPECT_EQ(itf.methods[i].name, kMethods[i].name);
    EXPECT_EQ(itf.methods[i].id, kMethods[i].id) << kMethods[i].name;
    EXPECT_EQ(itf.methods[i].vtableIndex, 7 + i) << kMethods[i].name;
  }
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

TEST_F(SimdexModuleTest, EntryPointsFollowTheLockCountAndAggregationRules) {
  // A private copy of the module, so its lock count is this test's alone.
  const std::string copy = NewDirectory() + "/SimdexDLL.so";
  std::filesystem::copy_file(simdexModule_, copy);
  SharedLibrary lib;
  ASSERT_TRUE(SharedLibrary::Open(copy, &lib).ok());
  auto canUnload = reinterpret_cast<DllCanUnloadNowFn>(lib.Symbol("DllCanUnloadNow"));
  auto getClassObject = reinterpret_cast<DllGetClassObjectFn>(lib.Symbol("DllGetClassObject"));
  ASSERT_TRUE(canUnload && getClassObject);

  EXPECT_EQ(canUnload(), S_OK);
  void* p = reinterpret_cast<void*>(1);
  EXPECT_EQ(getClassObject(CLSID_VectorAObject, IID_IClassFactory, &p), MakeHResult(0x80040111u));
  EXPECT_EQ(p, nullptr);
  EXPECT_EQ(getClassObject(CLSID_Simdex, IID_IClassFactory, nullptr), E_POINTER);
  ComPtr<IClassFactory> factory;
  ASSERT_EQ(getClassObject(CLSID_Simdex, IID_IClassFactory, factory.PutVoid()), S_OK);
  ComPtr<ISimdex> service;
  ASSERT_EQ(factory->CreateInstance(nullptr, IID_ISimdex, service.PutVoid()), S_OK);
  factory.Reset();
  EXPECT_EQ(canUnload(), S_FALSE);
  service.Reset();
  EXPECT_EQ(canUnload(), S_OK);

  ASSERT_EQ(getClassObject(CLSID_Simdex, IID_IClassFactory, factory.PutVoid()), S_OK);
  Outer outer;
  for (const IID* iid : {&IID_ISimdex, &IID_IMTobject, &IID_IDispatch})
    EXPECT_EQ(factory->CreateInstance(&outer, *iid, &p), MakeHResult(0x80040110u));
  ComPtr<IUnknown> inner;
  ASSERT_EQ(factory->CreateInstance(&outer, IID_IUnknown, inner.PutVoid()), S_OK);
  ISimdex* aggregated = nullptr;
  ASSERT_EQ(inner->QueryInterface(IID_ISimdex, reinterpret_cast<void**>(&aggregated)), S_OK);
  EXPECT_EQ(outer.refs, 2u);  // counted on the outer object
  aggregated->Release();
  EXPECT_EQ(outer.refs, 1u);
  factory.Reset();
  inner.Reset();
  EXPECT_EQ(canUnload(), S_OK);
}

TEST_F(SimdexModuleTest, QueryInterfaceAnswersTheServiceInterfacesOnly) {
  ComPtr<ISimdex> service = NewService();
  ASSERT_TRUE(service);
  struct Case {
    const IID* iid;
    HRESULT expected;
  };
  const Case cases[] = {{&IID_IUnknown, S_OK},
                        {&IID_IDispatch, S_OK},
                        {&IID_ISimdex, S_OK},
                        {&IID_IMTobject, E_NOINTERFACE},
                        {&IID_IClassFactory, E_NOINTERFACE}};
  for (const Case& c : cases) {
    ComPtr<IUnknown> answer;
    EXPECT_EQ(service->QueryInterface(*c.iid, answer.PutVoid()), c.expected) << FormatGuid(*c.iid);
    EXPECT_EQ(static_cast<bool>(answer), c.expected == S_OK);
  }
  EXPECT_EQ(service->QueryInterface(IID_ISimdex, nullptr), E_POINTER);
}

TEST_F(SimdexModuleTest, DispatchNamesEveryMethodAndRefusesDispid11) {
  ComPtr<ISimdex> service = NewService();
  ASSERT_TRUE(service);
  for (const Method& m : kMethods) {
    DISPID id = -7;
    EXPECT_EQ(service->GetIDsOfNames(IID_NULL, &m.name, 1, 0x409, &id), S_OK) << m.name;
    EXPECT_EQ(id, m.id) << m.name;
  }
  const char* unknown = "getObjects";
  DISPID id = 0;
  EXPECT_EQ(service->GetIDsOfNames(IID_NULL, &unknown, 1, 0x409, &id), DISP_E_UNKNOWNNAME);
  EXPECT_EQ(CallByDispatch(service.get(), 11, {}), DISP_E_MEMBERNOTFOUND);
  Variant arg = Variant::Int32(1);
  EXPECT_EQ(CallByDispatch(service.get(), 11, std::span<const Variant>(&arg, 1)),
            DISP_E_MEMBERNOTFOUND);
}

// A scripting client: every call by name, every argument and answer a
// VARIANT.
class ScriptClient {
 public:
  explicit ScriptClient(IDispatch* target) : target_(target) {}
  HRESULT Call(const char* name, std::vector<Variant> args = {}, Variant* result = nullptr) {
    DISPID id = DISPID_UNKNOWN;
    HRESULT hr = target_->GetIDsOfNames(IID_NULL, &name, 1, 0x409, &id);
    if (FAILED(hr)) return hr;
    return CallByDispatch(target_, id, args, result);
  }
  template <class... A>
  HRESULT operator()(const char* name, A&&... args) {
    std::vector<Variant> v;
    (v.push_back(std::forward<A>(args)), ...);
    return Call(name, std::move(v));
  }
  Variant Get(const char* name) {
    Variant r;
    EXPECT_EQ(Call(name, {}, &r), S_OK) << name;
    return r;
  }

 private:
  IDispatch* target_;
};

TEST_F(SimdexModuleTest, AScriptingClientCallsEveryMethodByName) {
  ComPtr<ISimdex> service = NewService();
  ASSERT_TRUE(service);
  ComPtr<IDispatch> dispatch;
  ASSERT_EQ(service->QueryInterface(IID_IDispatch, dispatch.PutVoid()), S_OK);
  ScriptClient script(dispatch.get());
  std::string dir = NewDirectory();
  ASSERT_EQ(script("Create", Variant::String(dir), Variant::Double(10.0),
                   Variant::Guid(CLSID_VectorAObject)),
            S_OK);
  for (unsigned i = 0; i < 3; ++i) {
    ComPtr<IMTobject> o = Flat(0.1 * i);
    ASSERT_EQ(script("Insert", Variant::UInt32(40 + i), Variant::Object(o.get())), S_OK);
  }
  double thresholds[] = {0.5, 0.25};
  EXPECT_EQ(script("setApproximationThresholds", Variant::Doubles(thresholds), Variant::Int32(2)),
            S_OK);
  EXPECT_EQ(script("setApproximationMethod", Variant::Int32(0)), S_OK);
  EXPECT_EQ(script("setMaxDistance", Variant::Double(10.0)), S_OK);
  EXPECT_EQ(script("resetCounters"), S_OK);

  ComPtr<IMTobject> query = Flat(0.0);
  ASSERT_EQ(script("RangeSearch", Variant::Object(query.get()), Variant::Double(0.7)), S_OK);
  Variant n = script.Get("getResultSetSize");
  EXPECT_EQ(n.vt(), VT_I4);
  EXPECT_EQ(n.raw().lVal, 2);
  Variant more = script.Get("next");
  EXPECT_EQ(more.vt(), VT_I4);
  EXPECT_EQ(more.raw().lVal, 1);
  Variant oid = script.Get("getObjectId");
  EXPECT_EQ(oid.vt(), VT_UI4);
  EXPECT_EQ(oid.raw().ulVal, 40u);
  Variant dist = script.Get("getObjectDistance");
  EXPECT_EQ(dist.vt(), VT_R8);
  EXPECT_EQ(dist.raw().dblVal, 0.0);
  Variant object = script.Get("getObject");
  ASSERT_EQ(object.vt(), VT_UNKNOWN);
  ComPtr<IMTobject> found;
  ASSERT_EQ(object.raw().punkVal->QueryInterface(IID_IMTobject, found.PutVoid()), S_OK);
  int same = 0;
  EXPECT_EQ(found->equal(query.get(), &same), S_OK);
  EXPECT_EQ(same, 1);
  Variant distances = script.Get("getComputedDistances");
  EXPECT_EQ(distances.vt(), VT_I4);
  EXPECT_EQ(distances.raw().lVal, 3);  // one root leaf: a distance per entry
  EXPECT_EQ(script.Get("getIOReads").raw().lVal, 1);
  EXPECT_EQ(script.Get("getIOwrites").raw().lVal, 0);

  ASSERT_EQ(script("NNSearch", Variant::Object(query.get()), Variant::Int32(1)), S_OK);
  EXPECT_EQ(script.Get("getResultSetSize").raw().lVal, 1);
  EXPECT_EQ(script("generateStatistics"), S_OK);
  EXPECT_EQ(script("Open", Variant::String(dir), Variant::Guid(CLSID_VectorAObject)), S_OK);
  EXPECT_EQ(script.Get("getResultSetSize").raw().lVal, 0);
  EXPECT_EQ(script.Get("next").raw().lVal, 0);

  // Arguments of the wrong kind or number never reach the service.
  EXPECT_EQ(script("NNSearch", Variant::String("x"), Variant::Int32(1)), DISP_E_TYPEMISMATCH);
  EXPECT_EQ(script("Insert", Variant::UInt32(1)), DISP_E_BADPARAMCOUNT);
  EXPECT_EQ(script("Insert", Variant::UInt32(1), Variant::Object(nullptr)), E_POINTER);
}

TEST_F(SimdexModuleTest, DispatchCallersReadTheFailureText) {
  ComPtr<ISimdex> service = NewService();
  ASSERT_TRUE(service);
  std::vector<Variant> args;
  args.push_back(Variant::String(dir_ + "/no-such-directory"));
  args.push_back(Variant::Double(10.0));
  args.push_back(Variant::Guid(CLSID_VectorAObject));
  EXCEPINFO excep;
  std::memset(&excep, 0, sizeof excep);
  HRESULT hr = CallByDispatch(service.get(), 1, args, nullptr, &excep);
  EXPECT_TRUE(FAILED(hr));
  EXPECT_EQ(excep.scode, hr);
  ASSERT_NE(excep.bstrDescription, nullptr);
  const std::string text = excep.bstrDescription;
  EXPECT_EQ(text.rfind("ISimdex::Create failed: ", 0), 0u) << text;
  EXPECT_NE(text.find("no-such-directory"), std::string::npos) << text;
  ClearExcepInfo(&excep);

  Variant size;
  EXPECT_EQ(CallByDispatch(service.get(), 17, {}, &size, &excep), E_UNEXPECTED);
  ASSERT_NE(excep.bstrDescription, nullptr);
  EXPECT_NE(std::string(excep.bstrDescription).find("call Create or Open first"), std::string::npos)
      << excep.bstrDescription;
  ClearExcepInfo(&excep);
}

}  // namespace
}  // namespace simdex::testing
