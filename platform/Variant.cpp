#include "platform/Variant.h"

#include <cstdlib>
#include <cstring>

BSTR SysAllocStringLen(const char* s, unsigned length) {
  auto* p = static_cast<char*>(std::malloc(std::size_t{length} + 1));
  if (!p) return nullptr;
  if (length) std::memcpy(p, s, length);
  p[length] = '\0';
  return p;
}

BSTR SysAllocString(const char* s) {
  return SysAllocStringLen(s ? s : "", s ? static_cast<unsigned>(std::strlen(s)) : 0);
}

void SysFreeString(BSTR s) { std::free(s); }

void VariantInit(VARIANT* v) { std::memset(v, 0, sizeof *v); }

HRESULT VariantClear(VARIANT* v) {
  if (!v) return E_POINTER;
  switch (v->vt) {
    case VT_BSTR:
      SysFreeString(v->bstrVal);
      break;
    case VT_UNKNOWN:
      if (v->punkVal) v->punkVal->Release();
      break;
    case VT_DISPATCH:
      if (v->pdispVal) v->pdispVal->Release();
      break;
    default:
      break;
  }
  VariantInit(v);
  return S_OK;
}

HRESULT VariantCopy(VARIANT* dest, const VARIANT* src) {
  if (!dest || !src) return E_POINTER;
  if (dest == src) return S_OK;
  VariantClear(dest);
  VARIANT copy = *src;
  if (src->vt == VT_BSTR && src->bstrVal) {
    copy.bstrVal = SysAllocString(src->bstrVal);
    if (!copy.bstrVal) return E_OUTOFMEMORY;
  } else if (src->vt == VT_UNKNOWN && src->punkVal) {
    src->punkVal->AddRef();
  } else if (src->vt == VT_DISPATCH && src->pdispVal) {
    src->pdispVal->AddRef();
  }
  *dest = copy;
  return S_OK;
}

void ClearExcepInfo(EXCEPINFO* e) {
  if (!e) return;
  SysFreeString(e->bstrSource);
  SysFreeString(e->bstrDescription);
  std::memset(e, 0, sizeof *e);
}

namespace simdex {

Variant& Variant::operator=(Variant&& o) noexcept {
  if (this != &o) {
    VariantClear(&v_);
    v_ = o.v_;
    VariantInit(&o.v_);
  }
  return *this;
}

Variant Variant::Int32(std::int32_t x) {
  Variant r;
  r.v_.vt = VT_I4;
  r.v_.lVal = x;
  return r;
}

Variant Variant::UInt32(std::uint32_t x) {
  Variant r;
  r.v_.vt = VT_UI4;
  r.v_.ulVal = x;
  return r;
}

Variant Variant::Double(double x) {
  Variant r;
  r.v_.vt = VT_R8;
  r.v_.dblVal = x;
  return r;
}

Variant Variant::String(std::string_view s) {
  Variant r;
  r.v_.vt = VT_BSTR;
  r.v_.bstrVal = SysAllocStringLen(s.data(), static_cast<unsigned>(s.size()));
  return r;
}

Variant Variant::Guid(const GUID& g) { return String(FormatGuid(g)); }

Variant Variant::Object(IUnknown* p) {
  Variant r;
  r.v_.vt = VT_UNKNOWN;
  r.v_.punkVal = p;
  if (p) p->AddRef();
  return r;
}

Variant Variant::Bytes(unsigned char* p) {
  Variant r;
  r.v_.vt = VT_BYREF | VT_UI1;
  r.v_.pbVal = p;
  return r;
}

Variant Variant::Doubles(double* p) {
  Variant r;
  r.v_.vt = VT_BYREF | VT_R8;
  r.v_.pdblVal = p;
  return r;
}

}  // namespace simdex
