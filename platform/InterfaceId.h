#pragma once
// Maps an interface type to its identifier, so that generic code (the
// dispatch invokers, typed queries) can ask an object for "the I interface".
// Each interface header that wants this adds a specialization:
//   template <> struct simdex::InterfaceId<ISimdex> {
//     static constexpr const IID& value = IID_ISimdex;
//   };
#include "platform/Dispatch.h"
#include "platform/IMTobject.h"
#include "platform/Unknown.h"

namespace simdex {

template <class I>
struct InterfaceId;

template <>
struct InterfaceId<IUnknown> {
  static constexpr const IID& value = IID_IUnknown;
};
template <>
struct InterfaceId<IDispatch> {
  static constexpr const IID& value = IID_IDispatch;
};
template <>
struct InterfaceId<IMTobject> {
  static constexpr const IID& value = IID_IMTobject;
};

}  // namespace simdex
