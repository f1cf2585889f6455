#include "platform/Dispatcher.h"

#include <cstring>
#include <new>

#include "platform/LastError.h"

namespace simdex {
namespace dispatch_detail {

bool IntegerOf(const VARIANT& v, std::int64_t* out) {
  switch (v.vt) {
    case VT_I1:
      *out = v.cVal;
      return true;
    case VT_UI1:
      *out = v.bVal;
      return true;
    case VT_I2:
      *out = v.iVal;
      return true;
    case VT_UI2:
      *out = v.uiVal;
      return true;
    case VT_I4:
      *out = v.lVal;
      return true;
    case VT_INT:
      *out = v.intVal;
      return true;
    case VT_UI4:
      *out = v.ulVal;
      return true;
    case VT_UINT:
      *out = v.uintVal;
      return true;
    default:
      return false;
  }
}

bool DoubleOf(const VARIANT& v, double* out) {
  std::int64_t i;
  if (v.vt == VT_R8) {
    *out = v.dblVal;
  } else if (v.vt == VT_R4) {
    *out = v.fltVal;
  } else if (IntegerOf(v, &i)) {
    *out = static_cast<double>(i);
  } else {
    return false;
  }
  return true;
}

}  // namespace dispatch_detail

Dispatcher::Dispatcher(const IID& iid, const GUID& libid, WORD major, WORD minor,
                       std::span<const MethodBinding> methods)
    : iid_(iid), libid_(libid), major_(major), minor_(minor), methods_(methods) {}

HRESULT Dispatcher::Load() {
  return GuardHResult([&] { return LoadOnce(); });
}

HRESULT Dispatcher::LoadOnce() {
  std::lock_guard<std::mutex> lock(mu_);
  if (loaded_) return S_OK;
  ComPtr<ITypeLib> lib;
  // Locale 0x409: the libraries are registered under it.
  HRESULT hr = LoadRegTypeLib(libid_, major_, minor_, 0x409, lib.Put());
  if (FAILED(hr)) return hr;
  ComPtr<ITypeInfo> info;
  hr = lib->GetTypeInfoOfGuid(iid_, info.Put());
  if (FAILED(hr))
    return FailWith(hr, "type library " + FormatGuid(libid_) + " does not describe interface " +
                            FormatGuid(iid_));
  BSTR name = nullptr;
  info->GetDocumentation(&name, nullptr);
  std::string itfName = name ? name : "";
  SysFreeString(name);
  unsigned count = 0;
  info->GetFuncCount(&count);
  std::vector<Bound> bound;
  for (unsigned i = 0; i < count; ++i) {
    const FUNCDESC* desc = nullptr;
    info->GetFuncDesc(i, &desc);
    const MethodBinding* binding = nullptr;
    for (const auto& m : methods_)
      if (std::strcmp(m.name, desc->name) == 0) binding = &m;
    if (!binding)
      return FailWith(TYPE_E_ELEMENTNOTFOUND, "method " + itfName + "::" + desc->name +
                                                  " of the type library has no implementation");
    if (!binding->accepts(*desc))
      return FailWith(TYPE_E_ELEMENTNOTFOUND, "the parameters of " + itfName + "::" + desc->name +
                                                  " in the type library do not match the code");
    unsigned passed = 0;
    for (unsigned k = 0; k < desc->cParams; ++k)
      if (!desc->params[k].retval) ++passed;
    bound.push_back(
        {desc->memid, desc, binding->invoke, passed, itfName + "::" + desc->name + " failed"});
  }
  info_ = std::move(info);
  name_ = std::move(itfName);
  bound_ = std::move(bound);
  loaded_ = true;
  return S_OK;
}

HRESULT Dispatcher::GetTypeInfoCount(unsigned* count) {
  if (!count) return E_POINTER;
  *count = 1;
  return S_OK;
}

HRESULT Dispatcher::GetTypeInfo(unsigned index, LCID, ITypeInfo** info) {
  if (!info) return E_POINTER;
  *info = nullptr;
  if (index != 0) return DISP_E_BADINDEX;
  HRESULT hr = Load();
  if (FAILED(hr)) return hr;
  info_->AddRef();
  *info = info_.get();
  return S_OK;
}

HRESULT Dispatcher::GetIDsOfNames(REFIID riid, const char* const* names, unsigned count, LCID,
                                  DISPID* ids) {
  if (riid != IID_NULL) return DISP_E_UNKNOWNINTERFACE;
  HRESULT hr = Load();
  if (FAILED(hr)) return hr;
  return info_->GetIDsOfNames(names, count, ids);
}

HRESULT Dispatcher::Invoke(void* instance, DISPID id, REFIID riid, LCID, WORD flags,
                           DISPPARAMS* params, VARIANT* result, EXCEPINFO* excep,
                           unsigned* argErr) {
  if (riid != IID_NULL) return DISP_E_UNKNOWNINTERFACE;
  HRESULT hr = Load();
  if (FAILED(hr)) return hr;
  const Bound* method = nullptr;
  for (const auto& b : bound_)
    if (b.id == id) method = &b;
  // Every member is a method; a property-get of one is answered the same way.
  if (!method || !(flags & (DISPATCH_METHOD | DISPATCH_PROPERTYGET))) return DISP_E_MEMBERNOTFOUND;
  DISPPARAMS none{nullptr, nullptr, 0, 0};
  const DISPPARAMS& p = params ? *params : none;
  if (p.cNamedArgs != 0) return DISP_E_NONAMEDARGS;
  if (p.cArgs != method->passedArgs) return DISP_E_BADPARAMCOUNT;
  if (p.cArgs != 0 && !p.rgvarg) return E_POINTER;
  if (result) VariantInit(result);
  bool called = false;
  hr = GuardHResult(
      [&] { return method->invoke(instance, *method->desc, p, result, argErr, &called); });
  if (called && FAILED(hr) && excep) {
    // The caller's record is filled, not freed: it may hold garbage.
    std::memset(excep, 0, sizeof *excep);
    excep->scode = hr;
    excep->bstrSource = SysAllocString(name_.c_str());
    excep->bstrDescription = SysAllocString(method->description.c_str());
  }
  return hr;
}

HRESULT CallByDispatch(IDispatch* target, DISPID id, std::span<const Variant> args, Variant* result,
                       EXCEPINFO* excep, unsigned* argErr) {
  if (!target) return E_POINTER;
  // Invoke wants the last argument first; the copies are shallow, ownership
  // stays with `args`.
  std::vector<VARIANT> reversed;
  reversed.reserve(args.size());
  for (auto it = args.rbegin(); it != args.rend(); ++it) reversed.push_back(it->raw());
  DISPPARAMS p{reversed.data(), nullptr, static_cast<unsigned>(reversed.size()), 0};
  return target->Invoke(id, IID_NULL, 0, DISPATCH_METHOD, &p, result ? result->Put() : nullptr,
                        excep, argErr);
}

}  // namespace simdex
