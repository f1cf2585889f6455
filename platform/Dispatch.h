#pragma once
// The dispatch interface: late-bound access to a dual interface by name and
// dispatch identifier, answered from a registered type-library description.
// The tagged variant, the parameter block, the exception record and the type
// information interface are declared in their own headers (Variant.h,
// TypeInfo.h); only pointers to them appear here.
#include <cstdint>

#include "platform/Unknown.h"

using DISPID = std::int32_t;
using LCID = std::uint32_t;
using WORD = std::uint16_t;

struct VARIANT;
struct DISPPARAMS;
struct EXCEPINFO;
struct ITypeInfo;

inline constexpr IID IID_IDispatch = simdex::GuidLiteral("{00020400-0000-0000-C000-000000000046}");

// Invoke flags.
inline constexpr WORD DISPATCH_METHOD = 0x1;
inline constexpr WORD DISPATCH_PROPERTYGET = 0x2;
inline constexpr WORD DISPATCH_PROPERTYPUT = 0x4;

struct IDispatch : IUnknown {
  // Number of type descriptions this object offers (0 or 1).
  virtual HRESULT GetTypeInfoCount(unsigned* pctinfo) = 0;
  // A new reference to the type description `iTInfo` (only 0 exists).
  virtual HRESULT GetTypeInfo(unsigned iTInfo, LCID lcid, ITypeInfo** ppTInfo) = 0;
  // Maps method names (case-insensitive) to dispatch identifiers;
  // DISP_E_UNKNOWNNAME for a name the interface does not have.
  virtual HRESULT GetIDsOfNames(REFIID riid, const char* const* rgszNames, unsigned cNames,
                                LCID lcid, DISPID* rgDispId) = 0;
  // Calls the method `dispIdMember` with the arguments in `pDispParams`
  // (last argument first, as the platform orders them). An identifier that no
  // method has gives DISP_E_MEMBERNOTFOUND.
  virtual HRESULT Invoke(DISPID dispIdMember, REFIID riid, LCID lcid, WORD wFlags,
                         DISPPARAMS* pDispParams, VARIANT* pVarResult, EXCEPINFO* pExcepInfo,
                         unsigned* puArgErr) = 0;

 protected:
  ~IDispatch() = default;
};
