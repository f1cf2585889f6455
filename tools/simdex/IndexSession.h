#pragma once
// One open index for the simdex command: the index service (ISimdex, in this
// process) plus what the command needs around it: the object class recorded
// in the directory, its dimension, building objects from rows of doubles, and
// searches that return their hits and their cost.
//
// The index files do not record the object class, so `create` writes it to
// "ObjectClass.txt" in the directory (the braced class identifier on the first
// line, the name the user gave on the second). Open reads it back unless a
// class is given; an index made by another client needs --class.
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "SimdexDLL/ISimdex.h"
#include "platform/ComPtr.h"
#include "platform/Guid.h"
#include "platform/Status.h"

namespace simdex {
class MetricTree;
}

namespace simdex::cli {

// "VectorA", "VectorB", a ProgID ("VectorA.VectorAObject") or a braced class
// identifier; NotFound names the text when nothing is registered under it.
Status ResolveClass(const std::string& text, GUID* clsid);

// A failed service call as a status: the kind from hr, the message from what
// and the text the service left for the failure.
Status ServiceStatus(const std::string& what, HRESULT hr);

struct SearchHit {
  std::uint32_t id;
  double distance;
};

// Counters of one operation (the service's counters after a reset).
struct SearchCost {
  std::int64_t distances = 0;
  std::int64_t reads = 0;
  std::int64_t writes = 0;
};

class IndexSession {
 public:
  static constexpr const char* kClassFile = "ObjectClass.txt";

  // Creates a new index in the existing directory dir.
  static Status Create(const std::string& dir, const std::string& objectClass, double maxDistance,
                       std::unique_ptr<IndexSession>* session);
  // Opens the index in dir; objectClass overrides ObjectClass.txt when not
  // empty.
  static Status Open(const std::string& dir, const std::string& objectClass,
                     std::unique_ptr<IndexSession>* session);

  const std::string& directory() const;
  const GUID& objectClass() const;
  // The name recorded at creation (or the braced identifier).
  const std::string& className() const;
  // Doubles per object (the class's compressed size / 8).
  int dimension() const;
  ISimdex* service() const;
  // The service's tree (for walks that the interface does not offer).
  MetricTree* tree() const;
  // The maximum distance of the index (from its distribution files).
  double maxDistance() const;
  // True once a statistics pass has measured the distance distribution
  // (Density.dat no longer equals the uniform creation density in T.dat).
  bool StatisticsMeasured() const;

  // A new object of the index's class holding values (exactly dimension()).
  Status MakeObject(std::span<const double> values, ComPtr<IMTobject>* object) const;
  Status Insert(std::uint32_t id, std::span<const double> values);
  // 0 = exact; 1-4 with a threshold (none: the method searches exactly).
  // Methods 1 and 3 read the measured distribution: FailedPrecondition
  // before a statistics pass.
  Status SetApproximation(int method, std::optional<double> threshold);
  Status Nearest(std::span<const double> query, int k, std::vector<SearchHit>* hits,
                 SearchCost* cost);
  Status Range(std::span<const double> query, double radius, std::vector<SearchHit>* hits,
               SearchCost* cost);
  Status GenerateStatistics(SearchCost* cost);
  // The counters since the last search, statistics pass or TakeCost (the
  // service counts in 32 bits: long insertions take them in parts), then
  // resets them.
  Status TakeCost(SearchCost* cost);

  ~IndexSession();

 private:
  IndexSession();
  // Runs one search of query through `search` (the service call) and
  // collects its hits and exactly its cost; `failure` names it in errors.
  Status Search(std::span<const double> query, const std::function<HRESULT(IMTobject*)>& search,
                const char* failure, std::vector<SearchHit>* hits, SearchCost* cost);

  struct Rep;
  std::unique_ptr<Rep> rep_;
};

}  // namespace simdex::cli
