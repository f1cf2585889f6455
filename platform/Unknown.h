#pragma once
// The unknown interface: every interface of the system starts with these three
// methods, in this order. Interfaces are plain abstract classes with no virtual
// destructor, so the vtable holds exactly the declared methods in order and
// objects are destroyed only through Release.
#include <cstdint>

#include "platform/Guid.h"
#include "platform/HResult.h"

using ULONG = std::uint32_t;

inline constexpr IID IID_IUnknown = simdex::GuidLiteral("{00000000-0000-0000-C000-000000000046}");

struct IUnknown {
  // Stores in *ppv a new reference to the interface `riid` of this object, or
  // null and E_NOINTERFACE. A null ppv gives E_POINTER.
  virtual HRESULT QueryInterface(REFIID riid, void** ppv) = 0;
  // Adds a reference; returns the new count (for diagnostics only).
  virtual ULONG AddRef() = 0;
  // Drops a reference; the object destroys itself at the last one.
  virtual ULONG Release() = 0;

 protected:
  ~IUnknown() = default;
};
