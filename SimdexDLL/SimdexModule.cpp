// The SimdexDLL module: the index service class Simdex, its registration
// script, its type library and its version information.
#include <string_view>

#include "SimdexDLL/ISimdex.h"
#include "SimdexDLL/Simdex.h"
#include "platform/IMTobjectDispatch.h"
#include "platform/ModuleEntryPoints.h"
#include "platform/ModuleResources.h"

namespace {

constexpr CLSID kClassId = CLSID_Simdex;

constexpr std::string_view kRegistrationScript =
    "key 'SimdexDLL.Simdex.1' = 'Simdex Class' {\n"
    "  key CLSID = '" SIMDEX_CLSID_SIMDEX_TEXT
    "'\n"
    "}\n"
    "key 'SimdexDLL.Simdex' = 'Simdex Class' {\n"
    "  key CLSID = '" SIMDEX_CLSID_SIMDEX_TEXT
    "'\n"
    "  key CurVer = 'SimdexDLL.Simdex.1'\n"
    "}\n"
    "keep key CLSID {\n"
    "  replace key '" SIMDEX_CLSID_SIMDEX_TEXT
    "' = 'Simdex Class' {\n"
    "    key ProgID = 'SimdexDLL.Simdex.1'\n"
    "    key VersionIndependentProgID = 'SimdexDLL.Simdex'\n"
    "    replace key Programmable\n"
    "    key InprocServer32 = '%MODULE%' {\n"
    "      value ThreadingModel = 'Apartment'\n"
    "    }\n"
    "    key TypeLib = '" SIMDEX_LIBID_SIMDEXDLL_TEXT
    "'\n"
    "  }\n"
    "}\n";

// ISimdex in vtable order; DISPID 11 belongs to no method. A method's last
// out pointer is its [retval].
constexpr std::string_view kTypeLibraryHead =
    "library SIMDEXDLLLib " SIMDEX_LIBID_SIMDEXDLL_TEXT
    " 1.0 409 \"SimdexDLL 1.0 Type Library\"\n"
    "interface ISimdex " SIMDEX_IID_ISIMDEX_TEXT
    " dual : IDispatch \"ISimdex Interface\"\n"
    "  1 Create(string directory, double max_distance, GUID MTobject_guid)\n"
    "  2 Open(string directory, GUID MTobject_guid)\n"
    "  3 NNSearch(IMTobject* queryObject, int k)\n"
    "  4 RangeSearch(IMTobject* queryObject, double radius)\n"
    "  5 Insert(unsigned oid, IMTobject* obj)\n"
    "  6 next([retval] int* b)\n"
    "  7 getObject([retval] IMTobject** obj)\n"
    "  8 getObjectId([retval] unsigned* oid)\n"
    "  9 getResultSetSize([retval] int* n)\n"
    "  10 setMaxDistance(double d)\n"
    "  12 setApproximationMethod(int method)\n"
    "  13 setApproximationThresholds(doubles thresholds, int num)\n"
    "  14 generateStatistics()\n"
    "  15 getObjectDistance([retval] double* dist)\n"
    "  16 resetCounters()\n"
    "  17 getComputedDistances([retval] int* num)\n"
    "  18 getIOReads([retval] int* num)\n"
    "  19 getIOwrites([retval] int* num)\n"
    "end\n";

constexpr std::string_view kTypeLibraryTail = "coclass Simdex " SIMDEX_CLSID_SIMDEX_TEXT
                                              " \"Simdex Class\"\n"
                                              "  default ISimdex\n"
                                              "end\n";

constexpr std::string_view kVersionInfo =
    "FileVersion=1.0.0.1\n"
    "ProductVersion=1.0.0.1\n"
    "FileDescription=SimdexDLL Module\n"
    "InternalName=SimdexDLL\n"
    "OriginalFilename=SimdexDLL.DLL\n";

SIMDEX_RESOURCE_TABLE(kResources,
                      {simdex::kRegistryResource, simdex::kRegistryScriptId, kRegistrationScript},
                      {simdex::kTypeLibResource, 1, kTypeLibraryHead,
                       simdex::kIMTobjectInterfaceText, kTypeLibraryTail},
                      {simdex::kVersionResource, 1, kVersionInfo},
                      {simdex::kStringResource, simdex::kModuleNameStringId, "SimdexDLL"});

}  // namespace

SIMDEX_MODULE(simdex::Simdex, kClassId, kResources)
