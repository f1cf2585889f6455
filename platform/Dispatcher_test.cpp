#include "platform/Dispatcher.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "platform/ClassFactory.h"
#include "platform/ComObject.h"
#include "platform/IMTobjectDispatch.h"
#include "platform/LastError.h"
#include "platform/Registry.h"
#include "platform/TestSupport_test.h"

namespace simdex {
namespace {

using testing::ExecutablePath;
using testing::ITestCalc;
using testing::TempRegistry;

Dispatcher& CalcDispatch(const GUID& libid) {
  static constexpr MethodBinding kMethods[] = {
      SIMDEX_DISPATCH_METHOD(ITestCalc, Create),
      SIMDEX_DISPATCH_METHOD(ITestCalc, Insert),
      SIMDEX_DISPATCH_METHOD(ITestCalc, next),
      SIMDEX_DISPATCH_METHOD(ITestCalc, getObject),
      SIMDEX_DISPATCH_METHOD(ITestCalc, getObjectId),
      SIMDEX_DISPATCH_METHOD(ITestCalc, setThresholds),
      SIMDEX_DISPATCH_METHOD(ITestCalc, getDistance),
      SIMDEX_DISPATCH_METHOD(ITestCalc, fill),
      SIMDEX_DISPATCH_METHOD(ITestCalc, fail),
      SIMDEX_DISPATCH_METHOD(ITestCalc, setMethod),
  };
  static Dispatcher good(testing::IID_ITestCalc, testing::LIBID_TestCalcLib, 1, 0, kMethods);
  static Dispatcher mismatch(testing::IID_ITestCalc, testing::LIBID_MismatchLib, 1, 0, kMethods);
  static Dispatcher missing(testing::IID_ITestCalc, testing::LIBID_UnregisteredLib, 1, 0, kMethods);
  if (libid == testing::LIBID_TestCalcLib) return good;
  return libid == testing::LIBID_MismatchLib ? mismatch : missing;
}

// Any IMTobject: only its identity matters here.
class Thing : public IMTobject {
 public:
  IUnknown* FindInterface(REFIID iid) {
    return iid == IID_IMTobject ? static_cast<IMTobject*>(this) : nullptr;
  }
  SIMDEX_IMPLEMENT_DISPATCH(IMTobject, IMTobjectDispatcher())
  HRESULT distance(IMTobject*, double*) override { return E_NOTIMPL; }
  HRESULT compress(unsigned char*, int*) override { return E_NOTIMPL; }
  HRESULT compressedSize(int*) override { return E_NOTIMPL; }
  HRESULT initialize(unsigned char*) override { return E_NOTIMPL; }
  HRESULT equal(IMTobject*, int*) override { return E_NOTIMPL; }
  HRESULT XMLInitialize(char*) override { return E_NOTIMPL; }
};

// Records what its methods received.
class Calc : public ITestCalc {
 public:
  IUnknown* FindInterface(REFIID iid) {
    return iid == testing::IID_ITestCalc ? static_cast<ITestCalc*>(this) : nullptr;
  }
  SIMDEX_IMPLEMENT_DISPATCH(ITestCalc, CalcDispatch(libid))

  HRESULT Create(unsigned char* path, double max, GUID cls) override {
    ++calls;
    directory = reinterpret_cast<char*>(path);
    path[0] = '#';  // must not reach the caller's string
    maxDistance = max;
    objectClass = cls;
    return S_OK;
  }
  HRESULT Insert(unsigned id, IMTobject* obj) override {
    ++calls;
    oid = id;
    object = ComPtr<IMTobject>::Share(obj);
    return S_OK;
  }
  HRESULT next(int* b) override {
    ++calls;
    *b = 1;
    return S_OK;
  }
  HRESULT getObject(IMTobject** obj) override {
    ++calls;
    *obj = object.get();
    if (*obj) (*obj)->AddRef();
    return S_OK;
  }
  HRESULT getObjectId(unsigned* id) override {
    ++calls;
    *id = 0xFFFFFFF0u;
    return S_OK;
  }
  HRESULT setThresholds(double* values, int num) override {
    ++calls;
    thresholds.assign(values, values + num);
    return S_OK;
  }
  HRESULT getDistance(double* d) override {
    ++calls;
    *d = -0.25;
    return S_OK;
  }
  HRESULT fill(unsigned char* buff, int* size) override {
    ++calls;
    std::memcpy(buff, "bytes", 5);
    *size = 5;
    return S_OK;
  }
  HRESULT fail() override {
    ++calls;
    return E_FAIL;
  }
  HRESULT setMethod(int m) override {
    ++calls;
    method = m;
    return S_OK;
  }

  GUID libid = testing::LIBID_TestCalcLib;
  int calls = 0;
  std::string directory;
  double maxDistance = 0;
  GUID objectClass{};
  unsigned oid = 0;
  ComPtr<IMTobject> object;
  std::vector<double> thresholds;
  int method = 0;
};

class DispatcherTest : public ::testing::Test {
 protected:
  void SetUp() override {
    Registry registry(temp_.path());
    ASSERT_TRUE(
        registry
            .Update([](RegistryKey& root) {
              for (const GUID& libid : {testing::LIBID_TestCalcLib, testing::LIBID_MismatchLib}) {
                TypeLibDescription desc;
                desc.libid = libid;
                desc.major = 1;
                desc.lcid = 0x409;
                SIMDEX_RETURN_IF_ERROR(RegisterTypeLib(desc, ExecutablePath(), root));
              }
              return Status::OK();
            })
            .ok());
    ASSERT_EQ(ComObject<Calc>::Create(nullptr, testing::IID_ITestCalc, calcItf_.PutVoid()), S_OK);
    calc_ = static_cast<Calc*>(calcItf_.get());
    ASSERT_EQ(ComObject<Thing>::Create(nullptr, IID_IMTobject, thing_.PutVoid()), S_OK);
  }

  HRESULT Call(DISPID id, std::vector<Variant> args, Variant* result = nullptr,
               unsigned* argErr = nullptr) {
    return CallByDispatch(calcItf_.get(), id, args, result, nullptr, argErr);
  }

  TempRegistry temp_;
  ComPtr<ITestCalc> calcItf_;
  Calc* calc_ = nullptr;
  ComPtr<IMTobject> thing_;
};

std::vector<Variant> Args(Variant a = Variant(), Variant b = Variant(), Variant c = Variant()) {
  std::vector<Variant> v;
  for (Variant* x : {&a, &b, &c})
    if (x->vt() != VT_EMPTY) v.push_back(std::move(*x));
  return v;
}

TEST_F(DispatcherTest, InvokeUnpacksArgumentsAndCallsTheMethod) {
  const GUID cls = GuidLiteral("{EA421A0D-DE21-4151-8AB6-64682A72994E}");
  std::vector<Variant> create;
  create.push_back(Variant::String("dir/it's"));
  create.push_back(Variant::Double(2.5));
  create.push_back(Variant::Guid(cls));
  ASSERT_EQ(Call(1, std::move(create)), S_OK);
  EXPECT_EQ(calc_->directory, "dir/it's");
  EXPECT_EQ(calc_->maxDistance, 2.5);
  EXPECT_EQ(calc_->objectClass, cls);

  ASSERT_EQ(Call(2, Args(Variant::Int32(7), Variant::Object(thing_.get()))), S_OK);
  EXPECT_EQ(calc_->oid, 7u);
  EXPECT_EQ(calc_->object.get(), thing_.get());

  Variant r;
  ASSERT_EQ(Call(3, {}, &r), S_OK);
  EXPECT_EQ(r.vt(), VT_I4);
  EXPECT_EQ(r.raw().lVal, 1);
  ASSERT_EQ(Call(4, {}, &r), S_OK);
  ASSERT_EQ(r.vt(), VT_UNKNOWN);
  EXPECT_EQ(r.raw().punkVal, static_cast<IUnknown*>(thing_.get()));
  ASSERT_EQ(Call(5, {}, &r), S_OK);
  EXPECT_EQ(r.vt(), VT_UI4);
  EXPECT_EQ(r.raw().ulVal, 0xFFFFFFF0u);
  ASSERT_EQ(Call(7, {}, &r), S_OK);
  EXPECT_EQ(r.vt(), VT_R8);
  EXPECT_EQ(r.raw().dblVal, -0.25);

  double thresholds[] = {0.5, 0.75};
  ASSERT_EQ(Call(6, Args(Variant::Doubles(thresholds), Variant::Int32(2))), S_OK);
  EXPECT_EQ(calc_->thresholds, (std::vector<double>{0.5, 0.75}));

  unsigned char buffer[8] = {};
  ASSERT_EQ(Call(8, Args(Variant::Bytes(buffer)), &r), S_OK);
  EXPECT_EQ(std::memcmp(buffer, "bytes", 5), 0);
  EXPECT_EQ(r.raw().lVal, 5);

  ASSERT_EQ(Call(12, Args(Variant::Int32(-3))), S_OK);
  EXPECT_EQ(calc_->method, -3);
  // A discarded [retval] object is released, not leaked.
  EXPECT_EQ(Call(4, {}), S_OK);
}

TEST_F(DispatcherTest, NamesAndTypeInfoComeFromTheLibrary) {
  const char* names[] = {"SETTHRESHOLDS", "num"};
  DISPID ids[2];
  ASSERT_EQ(calcItf_->GetIDsOfNames(IID_NULL, names, 2, 0, ids), S_OK);
  EXPECT_EQ(ids[0], 6);
  EXPECT_EQ(ids[1], 1);
  const char* unknown[] = {"setMaxDistance"};
  EXPECT_EQ(calcItf_->GetIDsOfNames(IID_NULL, unknown, 1, 0, ids), DISP_E_UNKNOWNNAME);
  EXPECT_EQ(ids[0], DISPID_UNKNOWN);
  EXPECT_EQ(calcItf_->GetIDsOfNames(IID_IMTobject, names, 1, 0, ids), DISP_E_UNKNOWNINTERFACE);

  unsigned count = 0;
  ASSERT_EQ(calcItf_->GetTypeInfoCount(&count), S_OK);
  EXPECT_EQ(count, 1u);
  ComPtr<ITypeInfo> info;
  ASSERT_EQ(calcItf_->GetTypeInfo(0, 0, info.Put()), S_OK);
  ASSERT_EQ(info->GetFuncCount(&count), S_OK);
  EXPECT_EQ(count, 10u);
  const FUNCDESC* f = nullptr;
  ASSERT_EQ(info->GetFuncDesc(9, &f), S_OK);
  EXPECT_STREQ(f->name, "setMethod");
  EXPECT_EQ(f->memid, 12);
  EXPECT_EQ(f->vtableIndex, 16u);
  EXPECT_EQ(calcItf_->GetTypeInfo(1, 0, info.Put()), DISP_E_BADINDEX);
}

TEST_F(DispatcherTest, BadCallsAreRefusedBeforeTheMethodRuns) {
  unsigned char* noBytes = nullptr;
  double* noDoubles = nullptr;
  struct Case {
    const char* name;
    DISPID id;
    std::vector<Variant> args;
    HRESULT expected;
    unsigned argErr;  // ~0u: not set
  };
  std::vector<Case> cases;
  auto add = [&](const char* name, DISPID id, std::vector<Variant> args, HRESULT hr,
                 unsigned argErr = ~0u) {
    cases.push_back({name, id, std::move(args), hr, argErr});
  };
  add("unassigned 11", 11, {}, DISP_E_MEMBERNOTFOUND);
  add("unknown 99", 99, {}, DISP_E_MEMBERNOTFOUND);
  add("too few", 12, {}, DISP_E_BADPARAMCOUNT);
  add("too many", 12, Args(Variant::Int32(1), Variant::Int32(2)), DISP_E_BADPARAMCOUNT);
  add("retval passed", 3, Args(Variant::Int32(1)), DISP_E_BADPARAMCOUNT);
  add("double for int", 12, Args(Variant::Double(1.5)), DISP_E_TYPEMISMATCH, 0);
  add("negative unsigned", 2, Args(Variant::Int32(-1), Variant::Object(thing_.get())),
      DISP_E_TYPEMISMATCH, 1);
  add("string for double", 1,
      Args(Variant::String("d"), Variant::String("2.5"), Variant::Guid(IID_IMTobject)),
      DISP_E_TYPEMISMATCH, 1);
  add("malformed GUID", 1,
      Args(Variant::String("d"), Variant::Double(1), Variant::String("{not-a-guid}")),
      DISP_E_TYPEMISMATCH, 0);
  add("int for path", 1, Args(Variant::Int32(3), Variant::Double(1), Variant::Guid(IID_IMTobject)),
      DISP_E_TYPEMISMATCH, 2);
  add("null object", 2, Args(Variant::UInt32(1), Variant::Object(nullptr)), E_POINTER, 0);
  add("object of another interface", 2, Args(Variant::UInt32(1), Variant::Object(calcItf_.get())),
      DISP_E_TYPEMISMATCH, 0);
  add("null buffer", 8, Args(Variant::Bytes(noBytes)), E_POINTER, 0);
  add("null array", 6, Args(Variant::Doubles(noDoubles), Variant::Int32(0)), E_POINTER, 1);
  add("bytes for array", 6,
      Args(Variant::Bytes(reinterpret_cast<unsigned char*>(&cases)), Variant::Int32(0)),
      DISP_E_TYPEMISMATCH, 1);
  for (auto& c : cases) {
    unsigned argErr = ~0u;
    EXPECT_EQ(Call(c.id, std::move(c.args), nullptr, &argErr), c.expected) << c.name;
    EXPECT_EQ(argErr, c.argErr) << c.name;
  }
  EXPECT_EQ(calc_->calls, 0);

  VARIANT arg;
  VariantInit(&arg);
  arg.vt = VT_I4;
  DISPID named = 0;
  DISPPARAMS withNames{&arg, &named, 1, 1};
  EXPECT_EQ(
      calcItf_->Invoke(12, IID_NULL, 0, DISPATCH_METHOD, &withNames, nullptr, nullptr, nullptr),
      DISP_E_NONAMEDARGS);
  DISPPARAMS plain{&arg, nullptr, 1, 0};
  EXPECT_EQ(
      calcItf_->Invoke(12, IID_IMTobject, 0, DISPATCH_METHOD, &plain, nullptr, nullptr, nullptr),
      DISP_E_UNKNOWNINTERFACE);
  EXPECT_EQ(
      calcItf_->Invoke(12, IID_NULL, 0, DISPATCH_PROPERTYPUT, &plain, nullptr, nullptr, nullptr),
      DISP_E_MEMBERNOTFOUND);
  EXPECT_EQ(calc_->calls, 0);
}

TEST_F(DispatcherTest, MethodFailureIsAnsweredWithItsOwnCode) {
  EXCEPINFO excep;
  std::memset(&excep, 0xAB, sizeof excep);  // callers may pass garbage
  EXPECT_EQ(CallByDispatch(calcItf_.get(), 9, {}, nullptr, &excep), E_FAIL);
  EXPECT_EQ(excep.scode, E_FAIL);
  EXPECT_STREQ(excep.bstrDescription, "ITestCalc::fail failed");
  ClearExcepInfo(&excep);
}

TEST_F(DispatcherTest, LibraryThatDoesNotFitTheCodeIsRefused) {
  calc_->libid = testing::LIBID_MismatchLib;
  EXPECT_EQ(Call(1, Args(Variant::Int32(1))), TYPE_E_ELEMENTNOTFOUND);
  EXPECT_NE(LastErrorText().find("ITestCalc::Create"), std::string::npos) << LastErrorText();
  calc_->libid = testing::LIBID_UnregisteredLib;
  EXPECT_EQ(Call(12, Args(Variant::Int32(1))), TYPE_E_LIBNOTREGISTERED);
  EXPECT_EQ(calc_->calls, 0);
}

TEST_F(DispatcherTest, VariantCopyOwnsItsStringAndReference) {
  ULONG before = (thing_->AddRef(), thing_->Release());
  Variant obj = Variant::Object(thing_.get());
  VARIANT copy;
  VariantInit(&copy);
  ASSERT_EQ(VariantCopy(&copy, &obj.raw()), S_OK);
  EXPECT_EQ((thing_->AddRef(), thing_->Release()), before + 2);
  Variant text = Variant::String("text");
  ASSERT_EQ(VariantCopy(&copy, &text.raw()), S_OK);  // releases the object first
  EXPECT_EQ((thing_->AddRef(), thing_->Release()), before + 1);
  EXPECT_NE(copy.bstrVal, text.raw().bstrVal);
  EXPECT_STREQ(copy.bstrVal, "text");
  VariantClear(&copy);
  EXPECT_EQ(copy.vt, VT_EMPTY);
}

}  // namespace
}  // namespace simdex
