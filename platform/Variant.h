#pragma once
// The tagged value of the dispatch side (VARIANT), the argument block of
// Invoke (DISPPARAMS), its failure record (EXCEPINFO) and the string type
// (BSTR), with the platform's usual tag values. Strings are zero-terminated
// UTF-8 allocated by SysAllocString and freed by SysFreeString (malloc/free,
// so any module of the process may free them).
//
// Ownership: a VARIANT owns the string or interface reference it holds
// (VT_BSTR, VT_UNKNOWN, VT_DISPATCH): VariantClear frees or releases it.
// VT_BYREF values point at the caller's memory and own nothing.
#include <cstdint>
#include <string>
#include <string_view>

#include "platform/Dispatch.h"
#include "platform/Guid.h"

using VARTYPE = std::uint16_t;
using BSTR = char*;

inline constexpr VARTYPE VT_EMPTY = 0;
inline constexpr VARTYPE VT_NULL = 1;
inline constexpr VARTYPE VT_I2 = 2;
inline constexpr VARTYPE VT_I4 = 3;
inline constexpr VARTYPE VT_R4 = 4;
inline constexpr VARTYPE VT_R8 = 5;
inline constexpr VARTYPE VT_BSTR = 8;
inline constexpr VARTYPE VT_DISPATCH = 9;
inline constexpr VARTYPE VT_ERROR = 10;
inline constexpr VARTYPE VT_BOOL = 11;
inline constexpr VARTYPE VT_UNKNOWN = 13;
inline constexpr VARTYPE VT_I1 = 16;
inline constexpr VARTYPE VT_UI1 = 17;
inline constexpr VARTYPE VT_UI2 = 18;
inline constexpr VARTYPE VT_UI4 = 19;
inline constexpr VARTYPE VT_INT = 22;
inline constexpr VARTYPE VT_UINT = 23;
// Flag: the value is a pointer to the caller's memory of the base type.
inline constexpr VARTYPE VT_BYREF = 0x4000;

inline constexpr DISPID DISPID_UNKNOWN = -1;

struct VARIANT {
  VARTYPE vt;
  std::uint16_t reserved[3];
  union {
    std::int8_t cVal;       // VT_I1
    std::uint8_t bVal;      // VT_UI1
    std::int16_t iVal;      // VT_I2
    std::uint16_t uiVal;    // VT_UI2
    std::int32_t lVal;      // VT_I4
    std::uint32_t ulVal;    // VT_UI4
    std::int32_t intVal;    // VT_INT
    std::uint32_t uintVal;  // VT_UINT
    std::int16_t boolVal;   // VT_BOOL: -1 true, 0 false
    float fltVal;           // VT_R4
    double dblVal;          // VT_R8
    HRESULT scode;          // VT_ERROR
    BSTR bstrVal;           // VT_BSTR (null is the empty string)
    IUnknown* punkVal;      // VT_UNKNOWN
    IDispatch* pdispVal;    // VT_DISPATCH
    std::uint8_t* pbVal;    // VT_BYREF | VT_UI1
    std::int32_t* plVal;    // VT_BYREF | VT_I4
    double* pdblVal;        // VT_BYREF | VT_R8
    void* byref;            // any VT_BYREF
  };
};

struct DISPPARAMS {
  VARIANT* rgvarg;            // arguments, last parameter first
  DISPID* rgdispidNamedArgs;  // not supported: must be null
  unsigned cArgs;
  unsigned cNamedArgs;  // must be 0
};

struct EXCEPINFO {
  WORD wCode;
  WORD wReserved;
  BSTR bstrSource;       // owned: free with SysFreeString
  BSTR bstrDescription;  // owned: free with SysFreeString
  HRESULT scode;
};

// A new copy of `s`; null only when memory runs out.
BSTR SysAllocString(const char* s);
BSTR SysAllocStringLen(const char* s, unsigned length);
void SysFreeString(BSTR s);

void VariantInit(VARIANT* v);
// Frees or releases what `v` owns and leaves it VT_EMPTY.
HRESULT VariantClear(VARIANT* v);
// Deep copy (new string, added reference); clears `dest` first.
HRESULT VariantCopy(VARIANT* dest, const VARIANT* src);
// Frees the strings of `e` and zeroes it.
void ClearExcepInfo(EXCEPINFO* e);

namespace simdex {

// Owner of one VARIANT, with named factories for the argument kinds the
// dispatch side understands. Move-only.
class Variant {
 public:
  Variant() { VariantInit(&v_); }
  Variant(const Variant&) = delete;
  Variant& operator=(const Variant&) = delete;
  Variant(Variant&& o) noexcept : v_(o.v_) { VariantInit(&o.v_); }
  Variant& operator=(Variant&& o) noexcept;
  ~Variant() { VariantClear(&v_); }

  static Variant Int32(std::int32_t x);
  static Variant UInt32(std::uint32_t x);
  static Variant Double(double x);
  static Variant String(std::string_view s);
  // A GUID travels as its braced string.
  static Variant Guid(const GUID& g);
  // Holds a new reference to `p` (null stays null).
  static Variant Object(IUnknown* p);
  // References to the caller's memory (the Variant owns nothing).
  static Variant Bytes(unsigned char* p);
  static Variant Doubles(double* p);

  VARTYPE vt() const { return v_.vt; }
  const VARIANT& raw() const { return v_; }
  // For out values: clears and gives the VARIANT to fill.
  VARIANT* Put() {
    VariantClear(&v_);
    return &v_;
  }

 private:
  VARIANT v_;
};

}  // namespace simdex
