#pragma once
// Shared pieces of the platform tests: a temporary registry per test, the
// resource table embedded in the test executable, and a test interface that
// uses every parameter kind of the dispatch side.
#include <gtest/gtest.h>

#include <span>
#include <string>

#include "platform/Dispatch.h"
#include "platform/Guid.h"
#include "platform/IMTobject.h"

namespace simdex::testing {

// A temporary directory with SIMDEX_REGISTRY pointing at a file inside it;
// the previous value is restored and the directory removed afterwards.
class TempRegistry {
 public:
  TempRegistry();
  ~TempRegistry();
  const std::string& dir() const { return dir_; }
  const std::string& path() const { return path_; }

 private:
  std::string dir_;
  std::string path_;
  std::string saved_;
  bool hadSaved_ = false;
};

std::string ReadFileBytes(const std::string& path);
void WriteFileBytes(const std::string& path, const std::string& bytes);
// The absolute path of the running test executable.
std::string ExecutablePath();

// The resource table of the test executable.
std::span<const unsigned char> TestResourceTable();

inline constexpr GUID LIBID_TestCalcLib = GuidLiteral("{5E0F3B0A-9C55-4C1E-8E2B-1A7C0D2E4F61}");
inline constexpr GUID LIBID_MismatchLib = GuidLiteral("{5E0F3B0A-9C55-4C1E-8E2B-1A7C0D2E4F62}");
inline constexpr GUID LIBID_UnregisteredLib = GuidLiteral("{5E0F3B0A-9C55-4C1E-8E2B-1A7C0D2E4F63}");
inline constexpr IID IID_ITestCalc = GuidLiteral("{5E0F3B0A-9C55-4C1E-8E2B-1A7C0D2E4F70}");

// Mirrors the shapes the service interface needs: a path, doubles, a GUID by
// value, unsigned identifiers, objects in and out, caller buffers and arrays,
// [retval] outs, and a gap at DISPID 11.
struct ITestCalc : IDispatch {
  virtual HRESULT Create(unsigned char* directory, double maxDistance, GUID objectClass) = 0;
  virtual HRESULT Insert(unsigned oid, IMTobject* obj) = 0;
  virtual HRESULT next(int* b) = 0;
  virtual HRESULT getObject(IMTobject** obj) = 0;
  virtual HRESULT getObjectId(unsigned* oid) = 0;
  virtual HRESULT setThresholds(double* thresholds, int num) = 0;
  virtual HRESULT getDistance(double* d) = 0;
  virtual HRESULT fill(unsigned char* buff, int* size) = 0;
  virtual HRESULT fail() = 0;
  virtual HRESULT setMethod(int method) = 0;

 protected:
  ~ITestCalc() = default;
};

}  // namespace simdex::testing
