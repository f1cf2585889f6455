#include "platform/IMTobjectDispatch.h"

namespace simdex {

Dispatcher& IMTobjectDispatcher() {
  static constexpr MethodBinding kMethods[] = {
      SIMDEX_DISPATCH_METHOD(IMTobject, distance),
      SIMDEX_DISPATCH_METHOD(IMTobject, compress),
      SIMDEX_DISPATCH_METHOD(IMTobject, compressedSize),
      SIMDEX_DISPATCH_METHOD(IMTobject, initialize),
      SIMDEX_DISPATCH_METHOD(IMTobject, equal),
      SIMDEX_DISPATCH_METHOD(IMTobject, XMLInitialize),
  };
  static Dispatcher dispatcher(IID_IMTobject, LIBID_IMTobjectLib, 1, 0, kMethods);
  return dispatcher;
}

}  // namespace simdex
