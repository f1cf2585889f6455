#pragma once
// Thread-local text of the last failure of a component-layer call.
//
// Status codes say what kind of failure happened; this text says which file
// or class it was ("cannot load module '/x/VectorA.so': ..."), so callers can
// show a useful message. Every public call of the activation, registry and
// type-library functions clears it on entry and sets it on failure.
//
// The text lives in the copy of the platform linked into the calling module:
// a failure inside another module is not visible here.
#include <new>
#include <string>

#include "platform/HResult.h"

namespace simdex {

// The text of the last failure on this thread, or "" after a success.
const std::string& LastErrorText();
void SetLastErrorText(std::string text);
void ClearLastErrorText();

// Sets the text and answers `hr`, for one-line failure returns.
HRESULT FailWith(HRESULT hr, std::string text);

// Runs `body` (which answers an HRESULT) so that no exception leaves it: out
// of memory gives E_OUTOFMEMORY, anything else E_UNEXPECTED. Entry points and
// interface methods that may allocate run their work inside it.
template <class F>
HRESULT GuardHResult(F&& body) noexcept {
  try {
    return body();
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  } catch (...) {
    return E_UNEXPECTED;
  }
}

}  // namespace simdex
