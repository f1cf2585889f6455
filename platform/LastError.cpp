#include "platform/LastError.h"

#include <utility>

namespace simdex {
namespace {
thread_local std::string last_error;
}  // namespace

const std::string& LastErrorText() { return last_error; }
void SetLastErrorText(std::string text) { last_error = std::move(text); }
void ClearLastErrorText() { last_error.clear(); }

HRESULT FailWith(HRESULT hr, std::string text) {
  last_error = std::move(text);
  return hr;
}

}  // namespace simdex
