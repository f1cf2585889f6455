#include "platform/ClassFactory.h"

#include <gtest/gtest.h>

#include "platform/ComPtr.h"
#include "platform/Module.h"

namespace simdex {
namespace {

constexpr IID IID_IWidget = GuidLiteral("{0C3A5B8E-1D2F-4A6B-9C7D-8E9F0A1B2C3D}");
constexpr IID IID_IOther = GuidLiteral("{0C3A5B8E-1D2F-4A6B-9C7D-8E9F0A1B2C3E}");

struct IWidget : IUnknown {
  virtual HRESULT Value(int* v) = 0;

 protected:
  ~IWidget() = default;
};

class Widget : public IWidget {
 public:
  IUnknown* FindInterface(REFIID iid) {
    return iid == IID_IWidget ? static_cast<IWidget*>(this) : nullptr;
  }
  HRESULT Value(int* v) override {
    *v = 42;
    return S_OK;
  }
};

// An outer object that counts what its inner object delegates to it.
class Outer final : public IUnknown {
 public:
  HRESULT QueryInterface(REFIID iid, void** ppv) override {
    ++queries;
    if (iid == IID_IUnknown) {
      *ppv = static_cast<IUnknown*>(this);
      AddRef();
      return S_OK;
    }
    if (iid == IID_IWidget && inner) return inner->QueryInterface(iid, ppv);
    *ppv = nullptr;
    return E_NOINTERFACE;
  }
  ULONG AddRef() override { return ++refs; }
  ULONG Release() override { return --refs; }
  ULONG refs = 1;
  int queries = 0;
  IUnknown* inner = nullptr;
};

ULONG RefCount(IUnknown* p) {
  p->AddRef();
  return p->Release();
}

class ClassFactoryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    base_ = ModuleLockCount();
    factory_ = ClassFactory<Widget>::Create();  // as the module's own reference
  }
  void TearDown() override {
    factory_.Reset();
    EXPECT_EQ(ModuleLockCount(), base_);
  }
  long Locks() const { return ModuleLockCount() - base_; }

  long base_ = 0;
  ComPtr<IClassFactory> factory_;
};

TEST_F(ClassFactoryTest, CreateInstanceAnswersOnlyServedInterfaces) {
  struct Case {
    const char* name;
    bool outer;
    IID iid;
    HRESULT expected;
  };
  const Case cases[] = {
      {"plain, class interface", false, IID_IWidget, S_OK},
      {"plain, IUnknown", false, IID_IUnknown, S_OK},
      {"plain, refused interface", false, IID_IOther, E_NOINTERFACE},
      {"aggregate, class interface", true, IID_IWidget, CLASS_E_NOAGGREGATION},
      {"aggregate, IUnknown", true, IID_IUnknown, S_OK},
  };
  for (const auto& c : cases) {
    Outer outer;
    void* p = reinterpret_cast<void*>(1);
    EXPECT_EQ(factory_->CreateInstance(c.outer ? &outer : nullptr, c.iid, &p), c.expected)
        << c.name;
    if (FAILED(c.expected)) {
      EXPECT_EQ(p, nullptr) << c.name;
      EXPECT_EQ(Locks(), 0) << c.name << ": a refused object must be destroyed";
    } else {
      EXPECT_EQ(Locks(), 1) << c.name;
      static_cast<IUnknown*>(p)->Release();
      EXPECT_EQ(Locks(), 0) << c.name;
    }
  }
  EXPECT_EQ(factory_->CreateInstance(nullptr, IID_IWidget, nullptr), E_POINTER);
}

TEST_F(ClassFactoryTest, IdentityAndReferenceCounting) {
  ComPtr<IWidget> widget;
  ASSERT_EQ(factory_->CreateInstance(nullptr, IID_IWidget, widget.PutVoid()), S_OK);
  ComPtr<IUnknown> a, b;
  ASSERT_EQ(widget->QueryInterface(IID_IUnknown, a.PutVoid()), S_OK);
  ASSERT_EQ(a->QueryInterface(IID_IUnknown, b.PutVoid()), S_OK);
  EXPECT_EQ(a.get(), b.get());
  EXPECT_EQ(RefCount(widget.get()), 3u);
  EXPECT_EQ(widget->QueryInterface(IID_IWidget, nullptr), E_POINTER);
  void* p = reinterpret_cast<void*>(1);
  EXPECT_EQ(widget->QueryInterface(IID_IOther, &p), E_NOINTERFACE);
  EXPECT_EQ(p, nullptr);
}

TEST_F(ClassFactoryTest, AggregatedObjectDelegatesToItsOuterObject) {
  Outer outer;
  ComPtr<IUnknown> inner;
  ASSERT_EQ(factory_->CreateInstance(&outer, IID_IUnknown, inner.PutVoid()), S_OK);
  outer.inner = inner.get();
  EXPECT_EQ(outer.refs, 1u);  // the inner unknown counts on its own

  IWidget* widget = nullptr;
  ASSERT_EQ(inner->QueryInterface(IID_IWidget, reinterpret_cast<void**>(&widget)), S_OK);
  EXPECT_EQ(outer.refs, 2u);  // the interface's reference is the outer object's
  int v = 0;
  EXPECT_EQ(widget->Value(&v), S_OK);
  EXPECT_EQ(v, 42);
  ComPtr<IUnknown> identity;
  ASSERT_EQ(widget->QueryInterface(IID_IUnknown, identity.PutVoid()), S_OK);
  EXPECT_EQ(identity.get(), static_cast<IUnknown*>(&outer));
  EXPECT_EQ(outer.queries, 1);
  identity.Reset();
  widget->Release();
  EXPECT_EQ(outer.refs, 1u);
  EXPECT_EQ(Locks(), 1);
  inner.Reset();  // the outer object destroys its inner object
  EXPECT_EQ(Locks(), 0);
}

TEST_F(ClassFactoryTest, LockCountFollowsObjectsFactoryReferencesAndLockServer) {
  EXPECT_EQ(Locks(), 0);  // the module's own reference does not lock
  ComPtr<IClassFactory> client;
  ASSERT_EQ(factory_->QueryInterface(IID_IClassFactory, client.PutVoid()), S_OK);
  EXPECT_EQ(Locks(), 1);
  ComPtr<IWidget> widget;
  ASSERT_EQ(client->CreateInstance(nullptr, IID_IWidget, widget.PutVoid()), S_OK);
  EXPECT_EQ(Locks(), 2);
  client.Reset();
  EXPECT_EQ(Locks(), 1);
  EXPECT_EQ(factory_->LockServer(1), S_OK);
  EXPECT_EQ(Locks(), 2);
  widget.Reset();
  EXPECT_EQ(factory_->LockServer(0), S_OK);
  EXPECT_EQ(Locks(), 0);
  EXPECT_EQ(factory_->LockServer(0), E_UNEXPECTED);  // no lock of its own to release
  EXPECT_EQ(Locks(), 0);
}

}  // namespace
}  // namespace simdex
