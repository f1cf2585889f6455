#pragma once
// Base for test doubles of the object interface: counts its references and
// answers E_NOTIMPL everywhere else, so a double overrides only what its test
// looks at.
#include "platform/IMTobject.h"

namespace simdex {

class StubMTobject : public IMTobject {
 public:
  HRESULT QueryInterface(REFIID, void** ppv) override {
    *ppv = nullptr;
    return E_NOINTERFACE;
  }
  ULONG AddRef() override { return ++refs; }
  ULONG Release() override { return --refs; }
  HRESULT GetTypeInfoCount(unsigned*) override { return E_NOTIMPL; }
  HRESULT GetTypeInfo(unsigned, LCID, ITypeInfo**) override { return E_NOTIMPL; }
  HRESULT GetIDsOfNames(REFIID, const char* const*, unsigned, LCID, DISPID*) override {
    return E_NOTIMPL;
  }
  HRESULT Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*,
                 unsigned*) override {
    return E_NOTIMPL;
  }
  HRESULT distance(IMTobject*, double*) override { return E_NOTIMPL; }
  HRESULT compress(unsigned char*, int*) override { return E_NOTIMPL; }
  HRESULT compressedSize(int*) override { return E_NOTIMPL; }
  HRESULT initialize(unsigned char*) override { return E_NOTIMPL; }
  HRESULT equal(IMTobject*, int*) override { return E_NOTIMPL; }
  HRESULT XMLInitialize(char*) override { return E_NOTIMPL; }

  ULONG refs = 1;
};

}  // namespace simdex
