#pragma once
// Result of an engine operation that bad input or the environment can make
// fail (missing or corrupt files, I/O errors, bad arguments). Internal
// consistency checks use SIMDEX_ASSERT instead. Turned into an HRESULT at the
// component boundary.
#include <string>
#include <utility>

#include "platform/HResult.h"

namespace simdex {

class [[nodiscard]] Status {
 public:
  enum class Code {
    kOk,
    kNotFound,
    kCorruption,
    kIOError,
    kInvalidArgument,
    kNotSupported,
    kFailedPrecondition,
    kAlreadyExists
  };

  Status() = default;
  static Status OK() { return Status(); }
  static Status NotFound(std::string msg) { return {Code::kNotFound, std::move(msg)}; }
  static Status Corruption(std::string msg) { return {Code::kCorruption, std::move(msg)}; }
  static Status IOError(std::string msg) { return {Code::kIOError, std::move(msg)}; }
  static Status InvalidArgument(std::string msg) {
    return {Code::kInvalidArgument, std::move(msg)};
  }
  static Status NotSupported(std::string msg) { return {Code::kNotSupported, std::move(msg)}; }
  // The call came in the wrong order (for example a search before an index
  // was created or opened).
  static Status FailedPrecondition(std::string msg) {
    return {Code::kFailedPrecondition, std::move(msg)};
  }
  static Status AlreadyExists(std::string msg) { return {Code::kAlreadyExists, std::move(msg)}; }

  bool ok() const { return code_ == Code::kOk; }
  Code code() const { return code_; }
  const std::string& message() const { return message_; }
  bool IsNotFound() const { return code_ == Code::kNotFound; }
  bool IsCorruption() const { return code_ == Code::kCorruption; }
  bool IsIOError() const { return code_ == Code::kIOError; }
  bool IsInvalidArgument() const { return code_ == Code::kInvalidArgument; }

  // "OK" or "<kind>: <message>".
  std::string ToString() const;
  // The status code a component method answers for this status.
  HRESULT ToHResult() const;

 private:
  Status(Code c, std::string msg) : code_(c), message_(std::move(msg)) {}
  Code code_ = Code::kOk;
  std::string message_;
};

// Propagates a failed status to the caller.
#define SIMDEX_RETURN_IF_ERROR(expr) \
  do {                               \
    ::simdex::Status _s = (expr);    \
    if (!_s.ok()) return _s;         \
  } while (0)

}  // namespace simdex
