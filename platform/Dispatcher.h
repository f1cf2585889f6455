#pragma once
// The dispatch side of a dual interface, answered from its registered type
// library: GetIDsOfNames maps names to the DISPIDs of the description, and
// Invoke unpacks the VARIANT arguments by the described parameter types and
// calls the real vtable method through a small per-method invoker.
//
// Usage in a component class that implements the dual interface IFoo:
//
//   static simdex::Dispatcher& FooDispatch() {
//     static constexpr simdex::MethodBinding kMethods[] = {
//         SIMDEX_DISPATCH_METHOD(IFoo, Create),
//         SIMDEX_DISPATCH_METHOD(IFoo, next),
//     };
//     static simdex::Dispatcher d(IID_IFoo, LIBID_FooLib, 1, 0, kMethods);
//     return d;
//   }
//   // inside the class:
//   SIMDEX_IMPLEMENT_DISPATCH(IFoo, FooDispatch())
//
// The library is loaded with LoadRegTypeLib on the first dispatch call, and
// every method it describes for the interface must have a binding whose C++
// parameter types fit the described ones (see TypeInfo.h); otherwise the
// dispatch calls fail with TYPE_E_ELEMENTNOTFOUND and the last-error text
// names the method. Methods are matched by name; the DISPID is the library's.
//
// Parameter passing (the one rule for all interfaces):
// - DISPPARAMS holds the parameters that are not [retval], last one first;
//   named arguments are not supported (DISP_E_NONAMEDARGS).
// - The [retval] parameter (a method's last out pointer) comes back in
//   Invoke's pVarResult: int -> VT_I4, unsigned -> VT_UI4, double -> VT_R8,
//   I** -> VT_UNKNOWN holding the new reference. A null pVarResult discards
//   it (an interface is released).
// - "bytes" and "doubles" parameters travel VT_BYREF: the caller's buffer,
//   which the method may fill (compress writes its bytes there).
// - Strings are copied before the call, so a method never writes into the
//   caller's BSTR.
// Statuses: an unknown DISPID -> DISP_E_MEMBERNOTFOUND; a wrong number of
// arguments -> DISP_E_BADPARAMCOUNT; an argument of the wrong type ->
// DISP_E_TYPEMISMATCH and *puArgErr = its index in rgvarg; a null pointer
// where a buffer or object is needed -> E_POINTER (and *puArgErr); a riid
// other than IID_NULL -> DISP_E_UNKNOWNINTERFACE. A method's own failure
// code is answered as it is, and also stored in the EXCEPINFO when given.
#include <cstdint>
#include <limits>
#include <mutex>
#include <span>
#include <string>
#include <tuple>
#include <type_traits>
#include <utility>
#include <vector>

#include "platform/ComPtr.h"
#include "platform/InterfaceId.h"
#include "platform/TypeInfo.h"
#include "platform/Variant.h"

inline constexpr IID IID_NULL = simdex::GuidLiteral("{00000000-0000-0000-0000-000000000000}");

namespace simdex {

// Calls one method on `instance` (a pointer to the interface the binding was
// made for) with arguments converted by `desc`. Sets *called when the method
// itself ran.
using Invoker = HRESULT (*)(void* instance, const FUNCDESC& desc, const DISPPARAMS& params,
                            VARIANT* result, unsigned* argErr, bool* called);

struct MethodBinding {
  const char* name;
  Invoker invoke;
  // Whether the described parameters fit the C++ signature.
  bool (*accepts)(const FUNCDESC& desc);
};

namespace dispatch_detail {

bool IntegerOf(const VARIANT& v, std::int64_t* out);
bool DoubleOf(const VARIANT& v, double* out);

template <class T, class = void>
struct ArgTraits;  // no specialization: this C++ parameter type is not supported

struct NoStore {
  void Store(const PARAMDESC&, VARIANT*) {}
};

template <>
struct ArgTraits<int> {
  static bool Accepts(const PARAMDESC& d) { return d.kind == ParamKind::kInt32 && !d.retval; }
  struct Holder : NoStore {
    int value = 0;
    HRESULT Load(const PARAMDESC&, const VARIANT* v) {
      std::int64_t x;
      if (!IntegerOf(*v, &x) || x < std::numeric_limits<int>::min() ||
          x > std::numeric_limits<int>::max())
        return DISP_E_TYPEMISMATCH;
      value = static_cast<int>(x);
      return S_OK;
    }
    int Get() { return value; }
  };
};

template <>
struct ArgTraits<unsigned> {
  static bool Accepts(const PARAMDESC& d) { return d.kind == ParamKind::kUInt32 && !d.retval; }
  struct Holder : NoStore {
    unsigned value = 0;
    HRESULT Load(const PARAMDESC&, const VARIANT* v) {
      std::int64_t x;
      if (!IntegerOf(*v, &x) || x < 0 || x > std::numeric_limits<unsigned>::max())
        return DISP_E_TYPEMISMATCH;
      value = static_cast<unsigned>(x);
      return S_OK;
    }
    unsigned Get() { return value; }
  };
};

template <>
struct ArgTraits<double> {
  static bool Accepts(const PARAMDESC& d) { return d.kind == ParamKind::kDouble && !d.retval; }
  struct Holder : NoStore {
    double value = 0;
    HRESULT Load(const PARAMDESC&, const VARIANT* v) {
      return DoubleOf(*v, &value) ? S_OK : DISP_E_TYPEMISMATCH;
    }
    double Get() { return value; }
  };
};

template <>
struct ArgTraits<GUID> {
  static bool Accepts(const PARAMDESC& d) { return d.kind == ParamKind::kGuid && !d.retval; }
  struct Holder : NoStore {
    GUID value{};
    HRESULT Load(const PARAMDESC&, const VARIANT* v) {
      if (v->vt != VT_BSTR || !v->bstrVal) return DISP_E_TYPEMISMATCH;
      auto g = ParseGuid(v->bstrVal);
      if (!g) return DISP_E_TYPEMISMATCH;
      value = *g;
      return S_OK;
    }
    GUID Get() { return value; }
  };
};

// char* and unsigned char*: a string (copied) or the caller's byte buffer.
template <class C>
struct ArgTraits<C*, std::enable_if_t<std::is_same_v<std::remove_const_t<C>, char> ||
                                      std::is_same_v<std::remove_const_t<C>, unsigned char>>> {
  static bool Accepts(const PARAMDESC& d) {
    return !d.retval && (d.kind == ParamKind::kString || d.kind == ParamKind::kBytes);
  }
  struct Holder : NoStore {
    std::string text;
    C* pointer = nullptr;
    HRESULT Load(const PARAMDESC& d, const VARIANT* v) {
      if (d.kind == ParamKind::kString) {
        if (v->vt != VT_BSTR) return DISP_E_TYPEMISMATCH;
        text = v->bstrVal ? v->bstrVal : "";
        pointer = reinterpret_cast<C*>(text.data());
        return S_OK;
      }
      if (v->vt != (VT_BYREF | VT_UI1)) return DISP_E_TYPEMISMATCH;
      if (!v->pbVal) return E_POINTER;
      pointer = reinterpret_cast<C*>(v->pbVal);
      return S_OK;
    }
    C* Get() { return pointer; }
  };
};

// double*: the caller's array of doubles, or a [retval] double.
template <>
struct ArgTraits<double*> {
  static bool Accepts(const PARAMDESC& d) {
    return (d.kind == ParamKind::kDoubles && !d.retval) ||
           (d.kind == ParamKind::kDouble && d.retval);
  }
  struct Holder {
    double local = 0;
    double* pointer = &local;
    HRESULT Load(const PARAMDESC& d, const VARIANT* v) {
      if (d.retval) return S_OK;
      if (v->vt != (VT_BYREF | VT_R8)) return DISP_E_TYPEMISMATCH;
      if (!v->pdblVal) return E_POINTER;
      pointer = v->pdblVal;
      return S_OK;
    }
    double* Get() { return pointer; }
    void Store(const PARAMDESC& d, VARIANT* r) {
      if (!d.retval || !r) return;
      r->vt = VT_R8;
      r->dblVal = local;
    }
  };
};

// A [retval] integer.
template <class I, VARTYPE kVt, ParamKind kKind>
struct RetvalInteger {
  static bool Accepts(const PARAMDESC& d) { return d.kind == kKind && d.retval; }
  struct Holder {
    I value = 0;
    HRESULT Load(const PARAMDESC&, const VARIANT*) { return S_OK; }
    I* Get() { return &value; }
    void Store(const PARAMDESC&, VARIANT* r) {
      if (!r) return;
      r->vt = kVt;
      if constexpr (kVt == VT_I4)
        r->lVal = value;
      else
        r->ulVal = value;
    }
  };
};
template <>
struct ArgTraits<int*> : RetvalInteger<int, VT_I4, ParamKind::kInt32> {};
template <>
struct ArgTraits<unsigned*> : RetvalInteger<unsigned, VT_UI4, ParamKind::kUInt32> {};

// An interface pointer in: queried for the parameter's interface.
template <class I>
struct ArgTraits<I*, std::enable_if_t<std::is_base_of_v<IUnknown, I>>> {
  static bool Accepts(const PARAMDESC& d) { return d.kind == ParamKind::kObject && !d.retval; }
  struct Holder : NoStore {
    ComPtr<I> object;
    HRESULT Load(const PARAMDESC&, const VARIANT* v) {
      IUnknown* p = nullptr;
      if (v->vt == VT_UNKNOWN)
        p = v->punkVal;
      else if (v->vt == VT_DISPATCH)
        p = v->pdispVal;
      else
        return DISP_E_TYPEMISMATCH;
      if (!p) return E_POINTER;
      if (FAILED(p->QueryInterface(InterfaceId<I>::value, object.PutVoid())))
        return DISP_E_TYPEMISMATCH;
      return S_OK;
    }
    I* Get() { return object.get(); }
  };
};

// A [retval] interface: the new reference comes back as VT_UNKNOWN.
template <class I>
struct ArgTraits<I**, std::enable_if_t<std::is_base_of_v<IUnknown, I>>> {
  static bool Accepts(const PARAMDESC& d) { return d.kind == ParamKind::kObject && d.retval; }
  struct Holder {
    ComPtr<I> object;
    HRESULT Load(const PARAMDESC&, const VARIANT*) { return S_OK; }
    I** Get() { return object.Put(); }
    void Store(const PARAMDESC&, VARIANT* r) {
      if (!r) return;
      r->vt = VT_UNKNOWN;
      r->punkVal = object.Detach();
    }
  };
};

template <class F>
struct MethodOf;

template <class I, class... A>
struct MethodOf<HRESULT (I::*)(A...)> {
  template <std::size_t... Is>
  static bool AcceptsAll(const FUNCDESC& d, std::index_sequence<Is...>) {
    return d.cParams == sizeof...(A) && (ArgTraits<A>::Accepts(d.params[Is]) && ...);
  }
  static bool Accepts(const FUNCDESC& d) { return AcceptsAll(d, std::index_sequence_for<A...>{}); }

  template <HRESULT (I::*M)(A...), std::size_t... Is>
  static HRESULT CallAll(void* instance, [[maybe_unused]] const FUNCDESC& d,
                         [[maybe_unused]] const DISPPARAMS& p, [[maybe_unused]] VARIANT* result,
                         [[maybe_unused]] unsigned* argErr, bool* called,
                         std::index_sequence<Is...>) {
    std::tuple<typename ArgTraits<A>::Holder...> held;
    HRESULT hr = S_OK;
    unsigned passed = 0;
    [[maybe_unused]] auto load = [&](auto& holder, const PARAMDESC& pd) {
      if (FAILED(hr)) return;
      if (pd.retval) {
        hr = holder.Load(pd, nullptr);
        return;
      }
      unsigned index = p.cArgs - 1 - passed++;
      hr = holder.Load(pd, &p.rgvarg[index]);
      if (FAILED(hr) && argErr) *argErr = index;
    };
    (load(std::get<Is>(held), d.params[Is]), ...);
    if (FAILED(hr)) return hr;
    *called = true;
    hr = (static_cast<I*>(instance)->*M)(std::get<Is>(held).Get()...);
    if (SUCCEEDED(hr)) (std::get<Is>(held).Store(d.params[Is], result), ...);
    return hr;
  }

  template <HRESULT (I::*M)(A...)>
  static HRESULT Call(void* instance, const FUNCDESC& d, const DISPPARAMS& p, VARIANT* result,
                      unsigned* argErr, bool* called) {
    return CallAll<M>(instance, d, p, result, argErr, called, std::index_sequence_for<A...>{});
  }
};

}  // namespace dispatch_detail

// The binding of one interface method, for a Dispatcher's method table.
template <auto M>
constexpr MethodBinding Bind(const char* name) {
  using Traits = dispatch_detail::MethodOf<decltype(M)>;
  return MethodBinding{name, &Traits::template Call<M>, &Traits::Accepts};
}

class Dispatcher {
 public:
  // Serves interface `iid` as described in library `libid` major.minor.
  // `methods` must outlive the dispatcher (a static table).
  Dispatcher(const IID& iid, const GUID& libid, WORD major, WORD minor,
             std::span<const MethodBinding> methods);
  Dispatcher(const Dispatcher&) = delete;
  Dispatcher& operator=(const Dispatcher&) = delete;

  // IDispatch, for the object that owns `instance` (see the class comment).
  HRESULT GetTypeInfoCount(unsigned* count);
  HRESULT GetTypeInfo(unsigned index, LCID lcid, ITypeInfo** info);
  HRESULT GetIDsOfNames(REFIID riid, const char* const* names, unsigned count, LCID lcid,
                        DISPID* ids);
  HRESULT Invoke(void* instance, DISPID id, REFIID riid, LCID lcid, WORD flags, DISPPARAMS* params,
                 VARIANT* result, EXCEPINFO* excep, unsigned* argErr);

 private:
  struct Bound {
    DISPID id;
    const FUNCDESC* desc;
    Invoker invoke;
    unsigned passedArgs;      // parameters that are not [retval]
    std::string description;  // for EXCEPINFO: made ahead, so a failure allocates nothing
  };

  // Loads and binds the description once; a failure is retried on the next
  // call (the registry may have been repaired meanwhile).
  HRESULT Load();
  HRESULT LoadOnce();

  IID iid_;
  GUID libid_;
  WORD major_;
  WORD minor_;
  std::span<const MethodBinding> methods_;
  std::mutex mu_;
  bool loaded_ = false;
  ComPtr<ITypeInfo> info_;
  std::string name_;
  std::vector<Bound> bound_;
};

// Client helper: calls method `id` of `target` with `args` in parameter
// order (the first parameter first, [retval] left out); the [retval] value,
// if any, is stored in *result.
HRESULT CallByDispatch(IDispatch* target, DISPID id, std::span<const Variant> args,
                       Variant* result = nullptr, EXCEPINFO* excep = nullptr,
                       unsigned* argErr = nullptr);

}  // namespace simdex

#define SIMDEX_DISPATCH_METHOD(Interface, method) ::simdex::Bind<&Interface::method>(#method)

// Defines the four IDispatch methods of a component class, served by the
// Dispatcher `dispatcher` for its interface `Interface`.
#define SIMDEX_IMPLEMENT_DISPATCH(Interface, dispatcher)                                       \
  HRESULT GetTypeInfoCount(unsigned* pctinfo) override {                                       \
    return (dispatcher).GetTypeInfoCount(pctinfo);                                             \
  }                                                                                            \
  HRESULT GetTypeInfo(unsigned iTInfo, LCID lcid, ITypeInfo** ppTInfo) override {              \
    return (dispatcher).GetTypeInfo(iTInfo, lcid, ppTInfo);                                    \
  }                                                                                            \
  HRESULT GetIDsOfNames(REFIID riid, const char* const* rgszNames, unsigned cNames, LCID lcid, \
                        DISPID* rgDispId) override {                                           \
    return (dispatcher).GetIDsOfNames(riid, rgszNames, cNames, lcid, rgDispId);                \
  }                                                                                            \
  HRESULT Invoke(DISPID dispIdMember, REFIID riid, LCID lcid, WORD wFlags,                     \
                 DISPPARAMS* pDispParams, VARIANT* pVarResult, EXCEPINFO* pExcepInfo,          \
                 unsigned* puArgErr) override {                                                \
    return (dispatcher)                                                                        \
        .Invoke(static_cast<Interface*>(this), dispIdMember, riid, lcid, wFlags, pDispParams,  \
                pVarResult, pExcepInfo, puArgErr);                                             \
  }
