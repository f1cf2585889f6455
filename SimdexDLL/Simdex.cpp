#include "SimdexDLL/Simdex.h"

#include <cmath>
#include <cstring>
#include <string>
#include <utility>

#include "gist/GiSTlist.h"
#include "m_trees/MTentry.h"
#include "m_trees/MTnode.h"
#include "m_trees/MTobjectHandle.h"
#include "m_trees/MetricTree.h"
#include "m_trees/NearestQuery.h"
#include "m_trees/ObjectPredicate.h"
#include "m_trees/RangeQuery.h"
#include "m_trees/TreeParameters.h"
#include "platform/Coding.h"
#include "platform/LastError.h"

namespace simdex {
namespace {

// Class context of the objects handed to clients: any server.
constexpr std::uint32_t kClientClassContext = 21;

// Runs one interface method: clears the last-error text, turns a failed
// status into its code and text, and keeps exceptions inside.
template <class Body>
HRESULT Serve(Body&& body) noexcept {
  ClearLastErrorText();
  HRESULT hr = GuardHResult([&]() -> HRESULT {
    Status s = body();
    if (s.ok()) return S_OK;
    return FailWith(s.ToHResult(), s.ToString());
  });
  if (FAILED(hr) && LastErrorText().empty()) {
    SetLastErrorText(hr == E_OUTOFMEMORY ? "out of memory" : "unexpected failure");
  }
  return hr;
}

// For out pointers and object arguments that must not be null.
HRESULT NullPointer(const char* what) {
  return FailWith(E_POINTER, std::string(what) + " is a null pointer");
}

Status PluginFailure(const char* call, HRESULT hr) {
  return Status::IOError(std::string("the object's ") + call + " failed with status " +
                         std::to_string(hr));
}

}  // namespace

Dispatcher& SimdexDispatcher() {
  static constexpr MethodBinding kMethods[] = {
      SIMDEX_DISPATCH_METHOD(ISimdex, Create),
      SIMDEX_DISPATCH_METHOD(ISimdex, Open),
      SIMDEX_DISPATCH_METHOD(ISimdex, NNSearch),
      SIMDEX_DISPATCH_METHOD(ISimdex, RangeSearch),
      SIMDEX_DISPATCH_METHOD(ISimdex, Insert),
      SIMDEX_DISPATCH_METHOD(ISimdex, next),
      SIMDEX_DISPATCH_METHOD(ISimdex, getObject),
      SIMDEX_DISPATCH_METHOD(ISimdex, getObjectId),
      SIMDEX_DISPATCH_METHOD(ISimdex, getResultSetSize),
      SIMDEX_DISPATCH_METHOD(ISimdex, setMaxDistance),
      SIMDEX_DISPATCH_METHOD(ISimdex, setApproximationMethod),
      SIMDEX_DISPATCH_METHOD(ISimdex, setApproximationThresholds),
      SIMDEX_DISPATCH_METHOD(ISimdex, generateStatistics),
      SIMDEX_DISPATCH_METHOD(ISimdex, getObjectDistance),
      SIMDEX_DISPATCH_METHOD(ISimdex, resetCounters),
      SIMDEX_DISPATCH_METHOD(ISimdex, getComputedDistances),
      SIMDEX_DISPATCH_METHOD(ISimdex, getIOReads),
      SIMDEX_DISPATCH_METHOD(ISimdex, getIOwrites),
  };
  static Dispatcher d(IID_ISimdex, LIBID_SIMDEXDLLLib, 1, 0, kMethods);
  return d;
}

Simdex::Simdex() = default;

// The tree goes first: it closes its index file and releases its objects.
Simdex::~Simdex() { tree_.reset(); }

IUnknown* Simdex::FindInterface(REFIID iid) {
  if (iid == IID_ISimdex || iid == IID_IDispatch) return static_cast<ISimdex*>(this);
  return nullptr;
}

// ---- index lifecycle ----

Status Simdex::CreateIndex(const unsigned char* directory, double maxDistance,
                           const GUID& objectClass) {
  // The old tree closes its file before the new one may replace it.
  tree_.reset();
  results_ = ResultSet();
  auto tree = std::make_unique<MetricTree>();
  SIMDEX_RETURN_IF_ERROR(
      tree->Create(reinterpret_cast<const char*>(directory), maxDistance, objectClass));
  tree_ = std::move(tree);
  return Status::OK();
}

Status Simdex::OpenIndex(const unsigned char* directory, const GUID& objectClass) {
  tree_.reset();
  results_ = ResultSet();
  auto tree = std::make_unique<MetricTree>();
  SIMDEX_RETURN_IF_ERROR(tree->Open(reinterpret_cast<const char*>(directory), objectClass));
  // The root must load now: a page file cut short, a damaged root or an
  // index of another object class fail the Open instead of the first
  // search. Opening counts no page transfer, so neither does this check.
  CostCounters& counters = tree->parameters();
  const CostCounters before = counters;
  std::unique_ptr<MTnode> root;
  Status loaded = tree->LoadRoot(&root);
  counters = before;
  SIMDEX_RETURN_IF_ERROR(loaded);
  tree_ = std::move(tree);
  return Status::OK();
}

HRESULT Simdex::Create(unsigned char* directory, double max_distance, GUID MTobject_guid) {
  if (!directory) return NullPointer("the directory");
  return Serve([&] { return CreateIndex(directory, max_distance, MTobject_guid); });
}

HRESULT Simdex::Open(unsigned char* directory, GUID MTobject_guid) {
  if (!directory) return NullPointer("the directory");
  return Serve([&] { return OpenIndex(directory, MTobject_guid); });
}

Status Simdex::NeedTree() const {
  if (!tree_) return Status::FailedPrecondition("no index is open: call Create or Open first");
  return Status::OK();
}

Status Simdex::NeedCurrent() const {
  if (!results_.HasCurrent()) {
    return Status::FailedPrecondition(
        "the cursor designates no result: call next until it answers 1");
  }
  return Status::OK();
}

Status Simdex::CheckMethodUsable(std::int32_t method) const {
  if (approximation::RequiresModel(method) && !tree_->parameters().approximation->ModelReady()) {
    return Status::FailedPrecondition("approximation method " + std::to_string(method) +
                                      " needs the distance distribution of the index, which "
                                      "is not loaded");
  }
  return Status::OK();
}

// ---- objects in ----

Status Simdex::RecordOf(IMTobject* object, std::uint32_t oid,
                        std::vector<std::byte>* record) const {
  IMTobject* prototype = tree_->parameters().prototype.get();
  int expected = -1;
  if (!prototype || FAILED(prototype->compressedSize(&expected)) || expected < 0) {
    return Status::FailedPrecondition("the index has no prototype object");
  }
  // Asked first, so that a larger object is refused before it writes.
  int size = -1;
  HRESULT hr = object->compressedSize(&size);
  if (FAILED(hr)) return PluginFailure("compressedSize", hr);
  if (size != expected) {
    return Status::InvalidArgument("the object's byte form has " + std::to_string(size) +
                                   " bytes; objects of this index have " +
                                   std::to_string(expected));
  }
  record->assign(static_cast<std::size_t>(expected) + MTobjectHandle::kOidSize, std::byte{0});
  auto* bytes = reinterpret_cast<unsigned char*>(record->data());
  int written = -1;
  hr = object->compress(bytes, &written);
  if (FAILED(hr)) return PluginFailure("compress", hr);
  if (written != expected) {
    return Status::InvalidArgument("the object wrote " + std::to_string(written) +
                                   " bytes of its byte form; objects of this index have " +
                                   std::to_string(expected));
  }
  EncodeFixed32(bytes + expected, oid);
  return Status::OK();
}

HRESULT Simdex::Insert(std::uint32_t oid, IMTobject* obj) {
  if (!obj) return NullPointer("the object");
  return Serve([&]() -> Status {
    SIMDEX_RETURN_IF_ERROR(NeedTree());
    tree_->MakeActive();
    std::vector<std::byte> record;
    SIMDEX_RETURN_IF_ERROR(RecordOf(obj, oid, &record));
    std::unique_ptr<MTobjectHandle> handle;
    SIMDEX_RETURN_IF_ERROR(MTobjectHandle::FromRecord(record, &handle));
    // A leaf entry: radii 0, parent distance not measured yet; the pointer
    // of a leaf entry is the object identifier.
    auto ball =
        std::make_unique<MTball>(std::move(handle), 0.0, 0.0, -MTobjectHandle::MaxDistance(), 0, 0);
    MTentry entry(std::move(ball), static_cast<std::int32_t>(oid));
    entry.SetLevel(0);
    return tree_->Insert(entry);
  });
}

// ---- searches ----

Status Simdex::CopyForClient(IMTobject* source, ComPtr<IMTobject>* copy) const {
  ComPtr<IMTobject> object;
  SIMDEX_RETURN_IF_ERROR(MTobjectHandle::CreatePluginObject(tree_->parameters().objectClass,
                                                            kClientClassContext, &object));
  int size = -1;
  HRESULT hr = source->compressedSize(&size);
  if (FAILED(hr) || size < 0) return PluginFailure("compressedSize", hr);
  // One spare byte keeps data() valid for a class whose form is empty.
  std::vector<unsigned char> buffer(static_cast<std::size_t>(size) + 1);
  int written = -1;
  hr = source->compress(buffer.data(), &written);
  if (FAILED(hr)) return PluginFailure("compress", hr);
  if (written != size) return Status::Corruption("an object's byte form changed its length");
  hr = object->initialize(buffer.data());
  if (FAILED(hr)) return PluginFailure("initialize", hr);
  *copy = std::move(object);
  return Status::OK();
}

template <class RunSearch>
Status Simdex::Search(IMTobject* queryObject, RunSearch&& run) {
  SIMDEX_RETURN_IF_ERROR(NeedTree());
  // Whatever happens below, the previous results are gone: a failed search
  // must not leave them to be read as its answer.
  results_ = ResultSet();
  tree_->MakeActive();
  SIMDEX_RETURN_IF_ERROR(CheckMethodUsable(tree_->parameters().approximationMethod));
  std::vector<std::byte> record;
  // Nothing reads the identifier of a query.
  SIMDEX_RETURN_IF_ERROR(RecordOf(queryObject, 0, &record));
  std::unique_ptr<MTobjectHandle> query;
  SIMDEX_RETURN_IF_ERROR(MTobjectHandle::FromRecord(record, &query));

  GiSTlist<std::unique_ptr<MTentry>> found;
  SIMDEX_RETURN_IF_ERROR(run(std::make_unique<ObjectPredicate>(*query), &found));

  ResultSet results = ResultSet::Empty();
  while (!found.IsEmpty()) {
    std::unique_ptr<MTentry> entry = found.PopFront();
    const MTball& ball = entry->Ball();
    ComPtr<IMTobject> copy;
    SIMDEX_RETURN_IF_ERROR(CopyForClient(ball.Object().Plugin(), &copy));
    results.Add(std::move(copy), ball.Object().Oid(), ball.coverRadius);
  }
  results_ = std::move(results);
  return Status::OK();
}

HRESULT Simdex::NNSearch(IMTobject* queryObject, int k) {
  if (!queryObject) return NullPointer("the query object");
  return Serve([&] {
    return Search(queryObject,
                  [&](std::unique_ptr<DistancePredicate> predicate,
                      GiSTlist<std::unique_ptr<MTentry>>* found) -> Status {
                    // No k-th distance exists for k < 1: the answer is empty.
                    if (k < 1) return Status::OK();
                    NearestQuery query(k, std::move(predicate));
                    return tree_->SearchNearest(query, found);
                  });
  });
}

HRESULT Simdex::RangeSearch(IMTobject* queryObject, double radius) {
  if (!queryObject) return NullPointer("the query object");
  return Serve([&] {
    return Search(queryObject,
                  [&](std::unique_ptr<DistancePredicate> predicate,
                      GiSTlist<std::unique_ptr<MTentry>>* found) -> Status {
                    RangeQuery query(0.0, std::move(predicate), radius);
                    return tree_->SearchRange(query, found);
                  });
  });
}

// ---- the result set ----

HRESULT Simdex::next(std::int32_t* b) {
  if (!b) return NullPointer("the out pointer");
  ClearLastErrorText();
  *b = results_.Next();
  return S_OK;
}

HRESULT Simdex::getObject(IMTobject** obj) {
  if (!obj) return NullPointer("the out pointer");
  *obj = nullptr;
  return Serve([&]() -> Status {
    SIMDEX_RETURN_IF_ERROR(NeedCurrent());
    ComPtr<IMTobject> copy;
    SIMDEX_RETURN_IF_ERROR(CopyForClient(results_.CurrentObject(), &copy));
    *obj = copy.Detach();
    return Status::OK();
  });
}

HRESULT Simdex::getObjectId(std::uint32_t* oid) {
  if (!oid) return NullPointer("the out pointer");
  return Serve([&]() -> Status {
    SIMDEX_RETURN_IF_ERROR(NeedCurrent());
    *oid = results_.CurrentOid();
    return Status::OK();
  });
}

HRESULT Simdex::getObjectDistance(double* dist) {
  if (!dist) return NullPointer("the out pointer");
  return Serve([&]() -> Status {
    SIMDEX_RETURN_IF_ERROR(NeedCurrent());
    *dist = results_.CurrentDistance();
    return Status::OK();
  });
}

HRESULT Simdex::getResultSetSize(int* n) {
  if (!n) return NullPointer("the out pointer");
  ClearLastErrorText();
  *n = results_.Size();
  return S_OK;
}

// ---- settings ----

HRESULT Simdex::setMaxDistance(double d) {
  return Serve([&]() -> Status {
    SIMDEX_RETURN_IF_ERROR(NeedTree());
    // It bounds every distance and marks unmeasured ones by its negation.
    if (!(d > 0) || !std::isfinite(d)) {
      return Status::InvalidArgument("the maximum distance must be a positive finite number");
    }
    tree_->SetMaxDistance(d);
    return Status::OK();
  });
}

HRESULT Simdex::setApproximationMethod(int method) {
  return Serve([&]() -> Status {
    SIMDEX_RETURN_IF_ERROR(NeedTree());
    SIMDEX_RETURN_IF_ERROR(CheckMethodUsable(method));
    tree_->SetApproximationMethod(method);
    return Status::OK();
  });
}

HRESULT Simdex::setApproximationThresholds(double* thresholds, int num) {
  if (!thresholds && num > 0) return NullPointer("the thresholds");
  return Serve([&]() -> Status {
    SIMDEX_RETURN_IF_ERROR(NeedTree());
    std::vector<double> copy;
    if (num > 0) copy.assign(thresholds, thresholds + num);
    tree_->SetApproximationThresholds(std::move(copy));
    return Status::OK();
  });
}

HRESULT Simdex::generateStatistics() {
  return Serve([&]() -> Status {
    SIMDEX_RETURN_IF_ERROR(NeedTree());
    return tree_->GenerateStatistics();
  });
}

// ---- costs ----

HRESULT Simdex::resetCounters() {
  return Serve([&]() -> Status {
    SIMDEX_RETURN_IF_ERROR(NeedTree());
    TreeParameters& p = tree_->parameters();
    p.pageWrites = 0;
    p.pageReads = 0;
    p.computedDistances = 0;
    return Status::OK();
  });
}

HRESULT Simdex::getComputedDistances(int* num) {
  if (!num) return NullPointer("the out pointer");
  return Serve([&]() -> Status {
    SIMDEX_RETURN_IF_ERROR(NeedTree());
    *num = tree_->parameters().computedDistances;
    return Status::OK();
  });
}

HRESULT Simdex::getIOReads(int* num) {
  if (!num) return NullPointer("the out pointer");
  return Serve([&]() -> Status {
    SIMDEX_RETURN_IF_ERROR(NeedTree());
    *num = tree_->parameters().pageReads;
    return Status::OK();
  });
}

HRESULT Simdex::getIOwrites(int* num) {
  if (!num) return NullPointer("the out pointer");
  return Serve([&]() -> Status {
    SIMDEX_RETURN_IF_ERROR(NeedTree());
    *num = tree_->parameters().pageWrites;
    return Status::OK();
  });
}

}  // namespace simdex
