#pragma once
// Creating objects by class identifier.
//
// The class's module is found in the registry at
// CLSID\{clsid}\InprocServer32 (default value: the module's path), loaded
// once, and asked for its class factory through DllGetClassObject. Module
// and factory are cached per class for the life of the process, so after
// the first creation CoCreateInstance costs one lookup and the object's own
// allocation: no registry or file access. (A class registered again under
// another path meanwhile keeps its first module in this process.)
//
// Only in-process servers exist here: a class context without
// CLSCTX_INPROC_SERVER gives REGDB_E_CLASSNOTREG. ThreadingModel is
// recorded but not enforced; every object is used on the thread that calls
// it.
//
// Failures set the thread's LastErrorText():
//   REGDB_E_CLASSNOTREG  the class (or its InprocServer32 key) is not registered
//   REGDB_E_READREGDB    the registry file can't be read or is corrupt
//   CO_E_DLLNOTFOUND     the registered module file does not exist
//   CO_E_ERRORINDLL      it exists but can't be loaded or lacks DllGetClassObject
//   other codes          as answered by the module's DllGetClassObject or factory
#include <cstdint>

#include "platform/Guid.h"
#include "platform/HResult.h"
#include "platform/Unknown.h"

using DWORD = std::uint32_t;

inline constexpr DWORD CLSCTX_INPROC_SERVER = 0x1;
inline constexpr DWORD CLSCTX_INPROC_HANDLER = 0x2;
inline constexpr DWORD CLSCTX_LOCAL_SERVER = 0x4;
inline constexpr DWORD CLSCTX_REMOTE_SERVER = 0x10;
inline constexpr DWORD CLSCTX_INPROC = CLSCTX_INPROC_SERVER | CLSCTX_INPROC_HANDLER;  // 3
// In-process or local server: the context of objects the engine keeps.
inline constexpr DWORD CLSCTX_INPROC_OR_LOCAL = CLSCTX_INPROC_SERVER | CLSCTX_LOCAL_SERVER;  // 5
// Any server: the context of objects handed to clients.
inline constexpr DWORD CLSCTX_SERVER =
    CLSCTX_INPROC_SERVER | CLSCTX_LOCAL_SERVER | CLSCTX_REMOTE_SERVER;      // 21
inline constexpr DWORD CLSCTX_ALL = CLSCTX_SERVER | CLSCTX_INPROC_HANDLER;  // 23

// Stores in *ppv the interface `iid` of the class factory of `clsid`.
HRESULT CoGetClassObject(REFCLSID clsid, DWORD clsctx, void* reserved, REFIID iid, void** ppv);

// Creates a new object of class `clsid` (inside `outer` when not null: then
// only IID_IUnknown may be asked for) and stores its interface `iid` in *ppv.
// The object is fresh and referenced by the caller alone.
HRESULT CoCreateInstance(REFCLSID clsid, IUnknown* outer, DWORD clsctx, REFIID iid, void** ppv);

// The class identifier registered for `progid` (its CLSID subkey, or that of
// the ProgID its CurVer names). CO_E_CLASSSTRING for an unknown ProgID.
HRESULT CLSIDFromProgID(const char* progid, CLSID* clsid);
