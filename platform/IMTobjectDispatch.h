#pragma once
// The type description of IMTobject and its dispatcher, shared by every
// object plug-in (and by modules that describe IMTobject in a library of
// their own).
//
// Plug-ins embed kIMTobjectTypeLib as a "TYPELIB" resource, so that their
// registration registers LIBID_IMTobjectLib 1.0, and answer their dispatch
// side with
//   SIMDEX_IMPLEMENT_DISPATCH(IMTobject, simdex::IMTobjectDispatcher())
#include <string_view>

#include "platform/Dispatcher.h"
#include "platform/IMTobject.h"

namespace simdex {

// The interface block, for any library that describes IMTobject.
inline constexpr std::string_view kIMTobjectInterfaceText =
    "interface IMTobject {173A2A9D-2E0A-43DB-9654-CDC23EE751F7} dual : IDispatch "
    "\"IMTobject Interface\"\n"
    "  1 distance(IMTobject* o, [retval] double* d)\n"
    "  2 compress(bytes buff, [retval] int* size)\n"
    "  3 compressedSize([retval] int* size)\n"
    "  4 initialize(bytes buff)\n"
    "  5 equal(IMTobject* obj, [retval] int* res)\n"
    "  6 XMLInitialize(string buff)\n"
    "end\n";

// The library line of IMTobjectLib (LIBID_IMTobjectLib, version 1.0).
inline constexpr std::string_view kIMTobjectLibraryLine =
    "library IMTobjectLib {C4AE5A17-F407-483C-BD60-1F3C10D5249B} 1.0 409 "
    "\"IMTobject 1.0 Type Library\"\n";

// The dispatcher of IMTobject, served from LIBID_IMTobjectLib 1.0.
Dispatcher& IMTobjectDispatcher();

}  // namespace simdex
