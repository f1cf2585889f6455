#include "platform/Status.h"

namespace simdex {

std::string Status::ToString() const {
  const char* kind = "OK";
  switch (code_) {
    case Code::kOk:
      return "OK";
    case Code::kNotFound:
      kind = "Not found";
      break;
    case Code::kCorruption:
      kind = "Corruption";
      break;
    case Code::kIOError:
      kind = "IO error";
      break;
    case Code::kInvalidArgument:
      kind = "Invalid argument";
      break;
    case Code::kNotSupported:
      kind = "Not supported";
      break;
    case Code::kFailedPrecondition:
      kind = "Failed precondition";
      break;
    case Code::kAlreadyExists:
      kind = "Already exists";
      break;
  }
  return std::string(kind) + ": " + message_;
}

HRESULT Status::ToHResult() const {
  switch (code_) {
    case Code::kOk:
      return S_OK;
    case Code::kNotFound:
      return STG_E_FILENOTFOUND;
    case Code::kCorruption:
      return STG_E_DOCFILECORRUPT;
    case Code::kIOError:
      return STG_E_WRITEFAULT;
    case Code::kInvalidArgument:
      return E_INVALIDARG;
    case Code::kNotSupported:
      return E_NOTIMPL;
    case Code::kFailedPrecondition:
      return E_UNEXPECTED;
    case Code::kAlreadyExists:
      return STG_E_FILEALREADYEXISTS;
  }
  return E_FAIL;
}

}  // namespace simdex
