#pragma once
// Type libraries: the description of a module's dual interfaces (method
// names, dispatch identifiers, parameter types, vtable order) from which the
// dispatch side is answered, and of its component classes.
//
// A module embeds each of its type libraries as a "TYPELIB" resource in this
// text form ('#' starts a comment):
//
//   library VectorALib {B31DED05-60E3-4FD8-9916-A739B22CFA47} 1.0 409 "VectorA 1.0 Type Library"
//   interface IMTobject {173A2A9D-2E0A-43DB-9654-CDC23EE751F7} dual : IDispatch "IMTobject
//   Interface"
//     1 distance(IMTobject* o, [retval] double* d)
//     4 initialize(bytes buff)
//   end
//   coclass VectorAObject {EA421A0D-DE21-4151-8AB6-64682A72994E} "VectorAObject Class"
//     default IVectorAObject
//   end
//
// The library line gives name, identifier, version major.minor, locale (hex)
// and description. Methods are listed in vtable order, after the base's
// methods (7 for IDispatch, 3 for IUnknown), each as "DISPID name(params)".
// Parameter types and how they travel in a VARIANT:
//
//   int        VT_I4 (any integer tag that fits)   in, or [retval] int*
//   unsigned   VT_UI4 (any non-negative integer)   in, or [retval] unsigned*
//   double     VT_R8 (also R4 and integers)        in, or [retval] double*
//   GUID       VT_BSTR holding the braced form     in, by value
//   string     VT_BSTR, zero-terminated text       in (char* or unsigned char*)
//   bytes      VT_BYREF|VT_UI1, caller's buffer    in or filled by the method
//   doubles    VT_BYREF|VT_R8, caller's array      in
//   I*         VT_UNKNOWN or VT_DISPATCH           in; [retval] I** comes back as VT_UNKNOWN
//
// A [retval] parameter must be the last one; it is not passed in DISPPARAMS
// but comes back in Invoke's result.
//
// Registration (RegisterTypeLib) writes, below the registry root:
//   TypeLib\{LIBID}\1.0                = description
//   TypeLib\{LIBID}\1.0\409\linux64    = path of the module holding the library
//   TypeLib\{LIBID}\1.0\FLAGS          = 0
//   TypeLib\{LIBID}\1.0\HELPDIR        = the module's directory
// LoadRegTypeLib finds the module there and reads the library from its
// resources without loading it; loaded libraries are cached per module.
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/Dispatch.h"
#include "platform/RegistryKey.h"
#include "platform/Status.h"
#include "platform/Variant.h"

namespace simdex {
enum class ParamKind : std::uint8_t {
  kInt32,
  kUInt32,
  kDouble,
  kString,
  kGuid,
  kBytes,
  kDoubles,
  kObject
};
}  // namespace simdex

struct PARAMDESC {
  const char* name;
  simdex::ParamKind kind;
  bool retval;
  const char* interfaceName;  // kObject: the interface named in the library; else ""
};

struct FUNCDESC {
  DISPID memid;
  const char* name;
  unsigned cParams;
  const PARAMDESC* params;
  unsigned vtableIndex;  // slot in the vtable, counting the base's methods
};

inline constexpr IID IID_ITypeInfo = simdex::GuidLiteral("{00020401-0000-0000-C000-000000000046}");
inline constexpr IID IID_ITypeLib = simdex::GuidLiteral("{00020402-0000-0000-C000-000000000046}");

// The description of one interface.
struct ITypeInfo : IUnknown {
  // The interface identifier.
  virtual HRESULT GetGuid(GUID* guid) = 0;
  // New strings with the interface's name and description; either pointer
  // may be null to skip it. The caller frees them with SysFreeString.
  virtual HRESULT GetDocumentation(BSTR* name, BSTR* description) = 0;
  // Number of methods the interface adds to its base.
  virtual HRESULT GetFuncCount(unsigned* count) = 0;
  // Method `index` (vtable order). The description is owned by this object
  // and valid while the caller holds a reference to it.
  virtual HRESULT GetFuncDesc(unsigned index, const FUNCDESC** desc) = 0;
  // names[0] is a method name (case-insensitive), giving its DISPID; further
  // names are its parameters, giving their positions (0 for the first).
  // An unknown name gets DISPID_UNKNOWN and the call answers
  // DISP_E_UNKNOWNNAME.
  virtual HRESULT GetIDsOfNames(const char* const* names, unsigned count, DISPID* ids) = 0;

 protected:
  ~ITypeInfo() = default;
};

// One loaded type library.
struct ITypeLib : IUnknown {
  virtual HRESULT GetLibAttr(GUID* libid, WORD* major, WORD* minor, LCID* lcid) = 0;
  virtual HRESULT GetDocumentation(BSTR* name, BSTR* description) = 0;
  // Number of interfaces described.
  virtual HRESULT GetTypeInfoCount(unsigned* count) = 0;
  virtual HRESULT GetTypeInfo(unsigned index, ITypeInfo** info) = 0;
  // The interface with identifier `iid`; TYPE_E_ELEMENTNOTFOUND otherwise.
  virtual HRESULT GetTypeInfoOfGuid(REFIID iid, ITypeInfo** info) = 0;

 protected:
  ~ITypeLib() = default;
};

namespace simdex {

struct ParamDescription {
  std::string name;
  ParamKind kind = ParamKind::kInt32;
  bool retval = false;
  std::string interfaceName;
};

struct MethodDescription {
  DISPID id = 0;
  std::string name;
  std::vector<ParamDescription> params;
  unsigned vtableIndex = 0;
};

struct InterfaceDescription {
  std::string name;
  IID iid{};
  bool dual = false;
  std::string base;
  std::string doc;
  std::vector<MethodDescription> methods;
};

struct CoClassDescription {
  std::string name;
  CLSID clsid{};
  std::string doc;
  std::string defaultInterface;
  std::vector<std::string> interfaces;  // the default one included
};

struct TypeLibDescription {
  std::string name;
  GUID libid{};
  WORD major = 0;
  WORD minor = 0;
  LCID lcid = 0;
  std::string doc;
  std::vector<InterfaceDescription> interfaces;
  std::vector<CoClassDescription> coclasses;
};

// Parses the text form above; InvalidArgument naming the line on error.
Status ParseTypeLib(std::string_view text, TypeLibDescription* out);

// A type-library object serving `desc`.
HRESULT CreateTypeLib(std::shared_ptr<const TypeLibDescription> desc, ITypeLib** lib);

// Reads the type library `libid` from the "TYPELIB" resources of the module
// file at `modulePath`, without loading the module.
HRESULT LoadTypeLibFromModule(const std::string& modulePath, REFIID libid, ITypeLib** lib);

// Writes the registration of `desc`, held by the module at `modulePath`.
Status RegisterTypeLib(const TypeLibDescription& desc, const std::string& modulePath,
                       RegistryKey& root);
// Removes the registration of `desc` if it names `modulePath`, so that one
// module's unregistration never removes a library another module registered
// last. The library's key goes once no version is left.
Status UnRegisterTypeLib(const TypeLibDescription& desc, const std::string& modulePath,
                         RegistryKey& root);

}  // namespace simdex

// Loads the registered type library `libid` version major.minor (locale
// `lcid`, falling back to locale 0 and then to any registered locale).
// Cached after the first load. TYPE_E_LIBNOTREGISTERED when the registry has
// no such library, TYPE_E_CANTLOADLIBRARY when its module can't be read; the
// last-error text names the library and file.
HRESULT LoadRegTypeLib(REFIID libid, WORD major, WORD minor, LCID lcid, ITypeLib** lib);
