#pragma once
// Module helpers: what a component module needs besides its classes.
//
// Every module links its own copy of the platform with hidden symbols, so
// the lock count, the cached class factory and the last-error text below
// belong to the module that calls them.
//
// A module is a few lines (see examples/vector/VectorModule.cpp), with
// ModuleEntryPoints.h:
//
//   SIMDEX_RESOURCE_TABLE(kResources,
//       {"REGISTRY", 101, kRegistrationScript},
//       {"TYPELIB", 1, kTypeLibrary},
//       {"VERSION", 1, kVersionInfo},
//       {"STRING", 100, "MyModule"});
//   using MyClass = MyObject;               // a ComObject-ready class
//   SIMDEX_MODULE(MyClass, CLSID_MyClass, kResources)
//
// SIMDEX_MODULE defines the four exported entry points, with C linkage and
// default visibility; build the module with simdex_add_module
// (cmake/SimdexModule.cmake), which hides everything else, registers the
// module after each build and tests that it exports nothing more:
//   DllGetClassObject   the cached factory of the class (made once, under a
//                       lock); E_POINTER for a null result pointer,
//                       CLASS_E_CLASSNOTAVAILABLE for another class
//   DllCanUnloadNow     S_OK when the lock count is 0, else S_FALSE
//   DllRegisterServer   runs the "REGISTRY" 101 script with %MODULE% = the
//                       module's absolute path, then registers every
//                       "TYPELIB" resource, in one registry update
//   DllUnregisterServer the reverse
// Registration failures answer SELFREG_E_CLASS or SELFREG_E_TYPELIB and
// print one line naming the module and the cause on the standard error
// stream (the caller cannot see this module's last-error text).
#include <span>
#include <string>

#include "platform/Guid.h"
#include "platform/HResult.h"
#include "platform/Status.h"

namespace simdex {

// The module's lock count: live objects, LockServer(true) calls and client
// references to the class factory.
void ModuleLock();
void ModuleUnlock();
long ModuleLockCount();
// LockServer: true raises the count; false lowers it, but only below locks
// that LockServer itself took (E_UNEXPECTED otherwise).
HRESULT ModuleLockServer(bool lock);

// Absolute path (symbolic links resolved) of the module holding this code.
Status ThisModulePath(std::string* path);

HRESULT ModuleRegisterServer(std::span<const unsigned char> resources);
HRESULT ModuleUnregisterServer(std::span<const unsigned char> resources);

// The signatures of the entry points, for callers that look them up.
using DllGetClassObjectFn = HRESULT (*)(REFCLSID, REFIID, void**);
using DllCanUnloadNowFn = HRESULT (*)();
using DllRegisterServerFn = HRESULT (*)();
using DllUnregisterServerFn = HRESULT (*)();

}  // namespace simdex
