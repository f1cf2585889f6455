#pragma once
// Identifiers and class interfaces of the vector object plug-ins. The
// identifiers never change once issued: registries and client code hold them.
#include "platform/Dispatch.h"
#include "platform/Guid.h"
#include "platform/InterfaceId.h"

// The braced texts also go into the modules' registration scripts and type
// libraries, which are built from string literals.
#define SIMDEX_CLSID_VECTORA_TEXT "{EA421A0D-DE21-4151-8AB6-64682A72994E}"
#define SIMDEX_IID_IVECTORA_TEXT "{AC4E4C7C-9A12-472D-8615-6B962511564E}"
#define SIMDEX_LIBID_VECTORA_TEXT "{B31DED05-60E3-4FD8-9916-A739B22CFA47}"
#define SIMDEX_CLSID_VECTORB_TEXT "{3267FD9C-FBC0-4A53-88F9-B8E44CB81AD7}"
#define SIMDEX_IID_IVECTORB_TEXT "{2EC3141B-8B4B-4436-A9EB-54F946A88326}"
#define SIMDEX_LIBID_VECTORB_TEXT "{BF4F2634-1A76-4B6B-8BCF-AB5A00FF258B}"

inline constexpr CLSID CLSID_VectorAObject = simdex::GuidLiteral(SIMDEX_CLSID_VECTORA_TEXT);
inline constexpr IID IID_IVectorAObject = simdex::GuidLiteral(SIMDEX_IID_IVECTORA_TEXT);
inline constexpr GUID LIBID_VectorALib = simdex::GuidLiteral(SIMDEX_LIBID_VECTORA_TEXT);
inline constexpr CLSID CLSID_VectorBObject = simdex::GuidLiteral(SIMDEX_CLSID_VECTORB_TEXT);
inline constexpr IID IID_IVectorBObject = simdex::GuidLiteral(SIMDEX_IID_IVECTORB_TEXT);
inline constexpr GUID LIBID_VECTORBLib = simdex::GuidLiteral(SIMDEX_LIBID_VECTORB_TEXT);

// The class interfaces: dual, adding no method to IDispatch.
struct IVectorAObject : IDispatch {
 protected:
  ~IVectorAObject() = default;
};
struct IVectorBObject : IDispatch {
 protected:
  ~IVectorBObject() = default;
};

template <>
struct simdex::InterfaceId<IVectorAObject> {
  static constexpr const IID& value = IID_IVectorAObject;
};
template <>
struct simdex::InterfaceId<IVectorBObject> {
  static constexpr const IID& value = IID_IVectorBObject;
};
