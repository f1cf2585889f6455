#pragma once
// The object interface shared by the engine and every object plug-in. The
// engine reaches plug-in objects only through these six methods (after the
// dispatch interface's seven), in this vtable order; plug-ins and the engine
// must agree on it byte for byte, so it is declared once, here.
#include "platform/Dispatch.h"

inline constexpr IID IID_IMTobject = simdex::GuidLiteral("{173A2A9D-2E0A-43DB-9654-CDC23EE751F7}");

struct IMTobject : IDispatch {
  // DISPID 1. Sets *d to the distance between this object and `o` (a metric).
  virtual HRESULT distance(IMTobject* o, double* d) = 0;
  // DISPID 2. Writes the compressed form into the caller's `buff` (room for at
  // least compressedSize bytes) and the number of bytes written into *size.
  virtual HRESULT compress(unsigned char* buff, int* size) = 0;
  // DISPID 3. Length in bytes of the compressed form; the same for every
  // object of one class.
  virtual HRESULT compressedSize(int* size) = 0;
  // DISPID 4. Replaces the value by the one encoded at `buff` (reads exactly
  // the compressed length; the caller keeps the buffer).
  virtual HRESULT initialize(unsigned char* buff) = 0;
  // DISPID 5. *res = 1 when `obj`'s compressed form equals this object's, byte
  // for byte; 0 otherwise.
  virtual HRESULT equal(IMTobject* obj, int* res) = 0;
  // DISPID 6. Not supported by the vector objects: E_NOTIMPL.
  virtual HRESULT XMLInitialize(char* buff) = 0;

 protected:
  ~IMTobject() = default;
};

// Type-library identifier under which plug-ins may describe IMTobject for
// their dispatch side; distinct from the libraries of the three modules.
inline constexpr GUID LIBID_IMTobjectLib =
    simdex::GuidLiteral("{C4AE5A17-F407-483C-BD60-1F3C10D5249B}");
