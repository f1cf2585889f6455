#pragma once
// The index service interface and the identifiers of the SimdexDLL module.
// The identifiers never change once issued: registries and client code hold
// them. The vtable order and the dispatch identifiers below are fixed for
// every client, compiled or scripted; DISPID 11 belongs to no method.
#include <cstdint>

#include "platform/Dispatch.h"
#include "platform/Guid.h"
#include "platform/IMTobject.h"
#include "platform/InterfaceId.h"

// The braced texts also go into the module's registration script and type
// library, which are built from string literals.
#define SIMDEX_CLSID_SIMDEX_TEXT "{9932A647-D6D8-4362-AB01-068B00A27928}"
#define SIMDEX_IID_ISIMDEX_TEXT "{2DCF5FED-596E-4449-A271-9C616F846E03}"
#define SIMDEX_LIBID_SIMDEXDLL_TEXT "{BDA6897C-0D43-4783-BC2C-303D07A75AD6}"

inline constexpr CLSID CLSID_Simdex = simdex::GuidLiteral(SIMDEX_CLSID_SIMDEX_TEXT);
inline constexpr IID IID_ISimdex = simdex::GuidLiteral(SIMDEX_IID_ISIMDEX_TEXT);
inline constexpr GUID LIBID_SIMDEXDLLLib = simdex::GuidLiteral(SIMDEX_LIBID_SIMDEXDLL_TEXT);

// One index per service object: create or open it, insert objects, search,
// walk the last search's results, tune the approximate search and read the
// cost counters. Every method answers S_OK on success and a failure status
// otherwise (the service's own module keeps a readable text of the last
// failure, which dispatch callers receive in EXCEPINFO):
//   E_POINTER       a null object, path, array or out pointer
//   E_UNEXPECTED    a method that needs an index before a successful Create or
//                   Open; a result getter while the cursor designates no result;
//                   approximation method 1 or 3 without a loaded distance model
//   E_INVALIDARG    an object whose byte form is not the index's object size; a
//                   maximum distance that is not positive and finite
//   other codes     the index's own failures (missing directory or files,
//                   a damaged page file, write errors), see Status::ToHResult
// Objects are never kept: every object passed in is copied through its byte
// form, and every object handed out is a new one owned by the caller.
struct ISimdex : IDispatch {
  // DISPID 1. Builds a new, empty index in the existing `directory` (a
  // zero-terminated path) for objects of class MTobject_guid, with a uniform
  // distance distribution over [0, max_distance]. Replaces the current index.
  virtual HRESULT Create(unsigned char* directory, double max_distance, GUID MTobject_guid) = 0;
  // DISPID 2. Opens the index in `directory`; replaces the current index.
  virtual HRESULT Open(unsigned char* directory, GUID MTobject_guid) = 0;
  // DISPID 3. The k stored objects nearest to queryObject, nearest first
  // (k < 1: an empty result). Replaces the result set.
  virtual HRESULT NNSearch(IMTobject* queryObject, int k) = 0;
  // DISPID 4. Every stored object within `radius` of queryObject, in tree
  // order. Replaces the result set.
  virtual HRESULT RangeSearch(IMTobject* queryObject, double radius) = 0;
  // DISPID 5. Stores a copy of obj under oid (identifiers need not be unique).
  virtual HRESULT Insert(std::uint32_t oid, IMTobject* obj) = 0;
  // DISPID 6. Moves the cursor to the next result: *b = 1 when there is one,
  // else 0 (and the cursor stays past the end).
  virtual HRESULT next(std::int32_t* b) = 0;
  // DISPID 7. A new object holding the value of the current result.
  virtual HRESULT getObject(IMTobject** obj) = 0;
  // DISPID 8. The identifier of the current result.
  virtual HRESULT getObjectId(std::uint32_t* oid) = 0;
  // DISPID 9. The number of results of the last search (0 before any).
  virtual HRESULT getResultSetSize(int* n) = 0;
  // DISPID 10. The maximum distance until the statistics are next loaded
  // (Create, Open and generateStatistics reload it).
  virtual HRESULT setMaxDistance(double d) = 0;
  // DISPID 12. 0 = exact search, 1 to 4 = the approximation methods.
  virtual HRESULT setApproximationMethod(int method) = 0;
  // DISPID 13. Copies `num` thresholds (none when num <= 0); the methods read
  // the first.
  virtual HRESULT setApproximationThresholds(double* thresholds, int num) = 0;
  // DISPID 14. Measures the distance distribution of the stored objects and
  // rewrites the index's statistics files.
  virtual HRESULT generateStatistics() = 0;
  // DISPID 15. The distance between the query and the current result.
  virtual HRESULT getObjectDistance(double* dist) = 0;
  // DISPID 16. Sets the page-write, page-read and computed-distance counters
  // to 0.
  virtual HRESULT resetCounters() = 0;
  // DISPID 17-19. The counters of this service's index.
  virtual HRESULT getComputedDistances(int* num) = 0;
  virtual HRESULT getIOReads(int* num) = 0;
  virtual HRESULT getIOwrites(int* num) = 0;

 protected:
  ~ISimdex() = default;
};

template <>
struct simdex::InterfaceId<ISimdex> {
  static constexpr const IID& value = IID_ISimdex;
};
