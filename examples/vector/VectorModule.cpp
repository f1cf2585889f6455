// The vector object plug-in module, built twice: VectorA.so with
// SIMDEX_VECTOR_N=45 and VectorB.so with SIMDEX_VECTOR_N=144.
#include <string_view>

#include "examples/vector/VectorIds.h"
#include "examples/vector/VectorObject.h"
#include "platform/IMTobjectDispatch.h"
#include "platform/ModuleEntryPoints.h"
#include "platform/ModuleResources.h"

#if SIMDEX_VECTOR_N == 45
#define VECTOR_MODULE "VectorA"
#define VECTOR_CLASS "VectorAObject"
#define VECTOR_INTERFACE "IVectorAObject"
#define VECTOR_LIBRARY "VectorALib"
#define VECTOR_CLSID SIMDEX_CLSID_VECTORA_TEXT
#define VECTOR_IID SIMDEX_IID_IVECTORA_TEXT
#define VECTOR_LIBID SIMDEX_LIBID_VECTORA_TEXT
using ModuleClass = simdex::VectorAObject;
#elif SIMDEX_VECTOR_N == 144
#define VECTOR_MODULE "VectorB"
#define VECTOR_CLASS "VectorBObject"
#define VECTOR_INTERFACE "IVectorBObject"
#define VECTOR_LIBRARY "VECTORBLib"
#define VECTOR_CLSID SIMDEX_CLSID_VECTORB_TEXT
#define VECTOR_IID SIMDEX_IID_IVECTORB_TEXT
#define VECTOR_LIBID SIMDEX_LIBID_VECTORB_TEXT
using ModuleClass = simdex::VectorBObject;
#else
#error "build with SIMDEX_VECTOR_N=45 (VectorA) or SIMDEX_VECTOR_N=144 (VectorB)"
#endif

#define VECTOR_PROGID VECTOR_MODULE "." VECTOR_CLASS ".1"
#define VECTOR_INDEPENDENT_PROGID VECTOR_MODULE "." VECTOR_CLASS
#define VECTOR_DESCRIPTION VECTOR_CLASS " Class"

namespace {

constexpr CLSID kClassId = simdex::GuidLiteral(VECTOR_CLSID);

constexpr std::string_view kRegistrationScript =
    "key '" VECTOR_PROGID "' = '" VECTOR_DESCRIPTION
    "' {\n"
    "  key CLSID = '" VECTOR_CLSID
    "'\n"
    "}\n"
    "key '" VECTOR_INDEPENDENT_PROGID "' = '" VECTOR_DESCRIPTION
    "' {\n"
    "  key CLSID = '" VECTOR_CLSID
    "'\n"
    "  key CurVer = '" VECTOR_PROGID
    "'\n"
    "}\n"
    "keep key CLSID {\n"
    "  replace key '" VECTOR_CLSID "' = '" VECTOR_DESCRIPTION
    "' {\n"
    "    key ProgID = '" VECTOR_PROGID
    "'\n"
    "    key VersionIndependentProgID = '" VECTOR_INDEPENDENT_PROGID
    "'\n"
    "    replace key Programmable\n"
    "    key InprocServer32 = '%MODULE%' {\n"
    "      value ThreadingModel = 'Apartment'\n"
    "    }\n"
    "    key TypeLib = '" VECTOR_LIBID
    "'\n"
    "  }\n"
    "}\n";

constexpr std::string_view kTypeLibrary =
    "library " VECTOR_LIBRARY " " VECTOR_LIBID " 1.0 409 \"" VECTOR_MODULE
    " 1.0 Type Library\"\n"
    "interface " VECTOR_INTERFACE " " VECTOR_IID " dual : IDispatch \"" VECTOR_INTERFACE
    " Interface\"\n"
    "end\n"
    "coclass " VECTOR_CLASS " " VECTOR_CLSID " \"" VECTOR_DESCRIPTION
    "\"\n"
    "  default " VECTOR_INTERFACE
    "\n"
    "end\n";

constexpr std::string_view kVersionInfo =
    "FileVersion=1.0.0.1\n"
    "ProductVersion=1.0.0.1\n"
    "FileDescription=" VECTOR_MODULE
    " Module\n"
    "InternalName=" VECTOR_MODULE
    "\n"
    "OriginalFilename=" VECTOR_MODULE ".DLL\n";

SIMDEX_RESOURCE_TABLE(kResources,
                      {simdex::kRegistryResource, simdex::kRegistryScriptId, kRegistrationScript},
                      {simdex::kTypeLibResource, 1, kTypeLibrary},
                      // IMTobject's own library, for the dispatch side of IMTobject.
                      {simdex::kTypeLibResource, 2, simdex::kIMTobjectLibraryLine,
                       simdex::kIMTobjectInterfaceText},
                      {simdex::kVersionResource, 1, kVersionInfo},
                      {simdex::kStringResource, simdex::kModuleNameStringId, VECTOR_MODULE});

}  // namespace

SIMDEX_MODULE(ModuleClass, kClassId, kResources)
