#pragma once
// The index service object: the component class behind ISimdex (use it as
// ComObject<Simdex>). It owns at most one metric tree and the result set of
// its last search.
//
// Every method clears this module's last-error text on entry and, when it
// fails, leaves there a readable text of the failure (dispatch callers get it
// in EXCEPINFO). Exceptions never leave a method.
//
// Threads: one service object is called by one thread at a time. Each method
// makes its own tree's parameter block the active one of the calling thread,
// so service objects used on different threads count and search apart.
#include <cstdint>
#include <memory>
#include <span>
#include <vector>

#include "SimdexDLL/ISimdex.h"
#include "SimdexDLL/ResultSet.h"
#include "platform/ComPtr.h"
#include "platform/Dispatcher.h"
#include "platform/IMTobject.h"
#include "platform/Status.h"

namespace simdex {

class MetricTree;

// The dispatcher of ISimdex, served from LIBID_SIMDEXDLLLib 1.0.
Dispatcher& SimdexDispatcher();

class Simdex : public ISimdex {
 public:
  Simdex();
  Simdex(const Simdex&) = delete;
  Simdex& operator=(const Simdex&) = delete;
  ~Simdex();

  // ISimdex and IDispatch; IUnknown itself is ComObject's.
  IUnknown* FindInterface(REFIID iid);

  SIMDEX_IMPLEMENT_DISPATCH(ISimdex, SimdexDispatcher())

  HRESULT Create(unsigned char* directory, double max_distance, GUID MTobject_guid) override;
  HRESULT Open(unsigned char* directory, GUID MTobject_guid) override;
  HRESULT NNSearch(IMTobject* queryObject, int k) override;
  HRESULT RangeSearch(IMTobject* queryObject, double radius) override;
  HRESULT Insert(std::uint32_t oid, IMTobject* obj) override;
  HRESULT next(std::int32_t* b) override;
  HRESULT getObject(IMTobject** obj) override;
  HRESULT getObjectId(std::uint32_t* oid) override;
  HRESULT getResultSetSize(int* n) override;
  HRESULT setMaxDistance(double d) override;
  HRESULT setApproximationMethod(int method) override;
  HRESULT setApproximationThresholds(double* thresholds, int num) override;
  HRESULT generateStatistics() override;
  HRESULT getObjectDistance(double* dist) override;
  HRESULT resetCounters() override;
  HRESULT getComputedDistances(int* num) override;
  HRESULT getIOReads(int* num) override;
  HRESULT getIOwrites(int* num) override;

  // The index this service works on, or null before a successful Create or
  // Open (in-process tests reach its parameter block through it).
  MetricTree* tree() const { return tree_.get(); }

 private:
  // Replaces the tree by a new one that creates (or opens) the index.
  Status CreateIndex(const unsigned char* directory, double maxDistance, const GUID& objectClass);
  Status OpenIndex(const unsigned char* directory, const GUID& objectClass);
  // FailedPrecondition unless a Create or Open succeeded.
  Status NeedTree() const;
  // FailedPrecondition unless the cursor designates a result.
  Status NeedCurrent() const;
  // Refuses an approximation method whose rules need a distance model that
  // the index has not loaded.
  Status CheckMethodUsable(std::int32_t method) const;
  // The object record of a client's object: its byte form followed by oid.
  // The object must report exactly the index's object size, and its compress
  // must write exactly that many bytes into the record.
  Status RecordOf(IMTobject* object, std::uint32_t oid, std::vector<std::byte>* record) const;
  // Runs a search with the query predicate built from queryObject and
  // replaces the result set with its answer; a failed search leaves an empty
  // result set.
  template <class RunSearch>
  Status Search(IMTobject* queryObject, RunSearch&& run);
  // A new object of the index's class, made for a client, holding source's
  // value.
  Status CopyForClient(IMTobject* source, ComPtr<IMTobject>* copy) const;

  std::unique_ptr<MetricTree> tree_;
  ResultSet results_;
};

}  // namespace simdex
