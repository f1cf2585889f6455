#pragma once
// The metric tree of one index directory: an M-tree of MTnode pages in
// "index.M3", and beside it the text files of its statistics:
//   Density.dat       distance density over [0, maxDistance], 1000 intervals
//   Distribution.dat  its running sum, the distance distribution
//   T.dat             the creation-time density (read by the model only)
//   TreeStats.dat     one "level radius entries" line per non-root node, in
//                     depth-first pre-order
// Reals are written in the general format with 6 significant digits, so
// maxDistance comes back from the files rounded to 6 significant digits.
//
// The tree owns its parameter block. Every operation makes that block the
// active one first (MakeActive), so handles, nodes and the page file count
// into it and read its settings.
#include <cstdint>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "gist/GiST.h"
#include "gist/GiSTlist.h"
#include "gist/PageStore.h"
#include "m_trees/MTentry.h"
#include "m_trees/MTnode.h"
#include "m_trees/NearestQuery.h"
#include "m_trees/RangeQuery.h"
#include "m_trees/TreeParameters.h"
#include "platform/Guid.h"
#include "platform/Status.h"

namespace simdex {

class MetricTree : public GiST {
 public:
  // File names inside the index directory.
  static constexpr const char* kIndexFile = "index.M3";
  static constexpr const char* kDensityFile = "Density.dat";
  static constexpr const char* kDistributionFile = "Distribution.dat";
  static constexpr const char* kTFile = "T.dat";
  static constexpr const char* kTreeStatsFile = "TreeStats.dat";
  // Intervals of the density written at creation and by the statistics pass.
  static constexpr int kDensityIntervals = 1000;
  // Most objects the statistics pass samples.
  static constexpr int kMaxSamples = 3000;

  // A closed tree with a new parameter block, made active at once.
  MetricTree();
  // Destroys the parameter block, then closes the index file.
  ~MetricTree() override;

  // A new, closed PageFile.
  std::unique_ptr<PageStore> MakeStore() override;
  // A new, empty MTnode.
  std::unique_ptr<GiSTnode> MakeNode() override;

  // Builds a new, empty index in directory (which must exist and be
  // writable): deletes an old index.M3, writes a uniform density over
  // [0, maxDistance] to Density.dat and T.dat, its distribution, the single
  // unterminated TreeStats.dat record "0 maxDistance 0", loads the statistics
  // and creates index.M3 with an empty leaf root. Refused before anything is
  // touched when the tree is open (FailedPrecondition), maxDistance is not a
  // positive finite number (InvalidArgument), the directory is missing
  // (NotFound) or objectClass cannot be created. A failure after that removes
  // what this call wrote, so that no later Open accepts the directory.
  [[nodiscard]] Status Create(const std::string& directory, double maxDistance,
                              const GUID& objectClass);
  // Opens the index in directory: loads the statistics (the distance model
  // must load) and opens index.M3. Writes nothing.
  [[nodiscard]] Status Open(const std::string& directory, const GUID& objectClass);
  // Restarts the approximation tracker and inserts a clone of the leaf entry.
  // The entry's object must have the index's record size (InvalidArgument).
  [[nodiscard]] Status Insert(MTentry& entry);

  // The range search: every stored entry whose object lies within
  // query.radius of the query object (under method 0), as clones in
  // depth-first tree order, each with coverRadius set to its distance. The
  // caller keeps query; *results is replaced. A closed index and an
  // approximation method that needs a missing distance model are
  // FailedPrecondition; a damaged page met on the way is Corruption (and
  // *results stays empty).
  [[nodiscard]] Status SearchRange(const RangeQuery& query,
                                   GiSTlist<std::unique_ptr<MTentry>>* results);
  // The k-nearest-neighbour search: at most query.k() entries, nearest first,
  // one per object identifier (the identifier's nearest object), each with
  // coverRadius set to its distance and minRadius 0. A k below 1 gives an
  // empty result. Failures as for SearchRange.
  [[nodiscard]] Status SearchNearest(const NearestQuery& query,
                                     GiSTlist<std::unique_ptr<MTentry>>* results);

  // Sets maxDistance until the statistics are next loaded. A value that is not
  // positive and finite cannot serve as a distance bound and is ignored.
  void SetMaxDistance(double d);
  void SetApproximationMethod(std::int32_t method);
  void SetApproximationThresholds(std::vector<double> thresholds);

  // The statistics pass: writes TreeStats.dat from the tree, reloads the
  // statistics, measures the distance density on up to 3000 objects sampled
  // evenly from the non-root leaves (s * s distances, progress on standard
  // error), saves it to Density.dat, rewrites Distribution.dat and reloads the
  // statistics. T.dat keeps its content.
  [[nodiscard]] Status GenerateStatistics();
  // Makes this tree's parameter block the active one.
  void MakeActive();
  // Loads the distance model from the directory's three distribution files
  // (they must load and agree: NotFound or Corruption otherwise), creates a
  // prototype object of objectClass, and reads TreeStats.dat (a missing or
  // unreadable one holds no records). On success replaces directory,
  // objectClass, maxDistance (the model's upper end), the model, the
  // prototype, the statistics arrays and totalObjects; on failure leaves the
  // block as it was.
  [[nodiscard]] Status LoadStatistics(const std::string& directory, const GUID& objectClass);

  TreeParameters& parameters() { return *parameters_; }
  const TreeParameters& parameters() const { return *parameters_; }

  // LoadNode of path as a metric node (for the searches and the checker).
  [[nodiscard]] Status LoadMTnode(const NodePath& path, std::unique_ptr<MTnode>* node);
  // The root (page 1).
  [[nodiscard]] Status LoadRoot(std::unique_ptr<MTnode>* root);
  // The child that entry index of parent points to. A pointer that is not a
  // node page, or a child whose level is not one below parent's, is
  // Corruption, so walks always end.
  [[nodiscard]] Status LoadChild(const MTnode& parent, int index, std::unique_ptr<MTnode>* child);

  // directory + "/" + name.
  static std::string FileIn(const std::string& directory, const std::string& name);

  // The "level radius entries" records of TreeStats.dat, and the objects
  // their level-0 records count.
  struct TreeStatsRecords {
    std::vector<std::int32_t> levels;
    std::vector<double> radii;
    std::vector<std::int32_t> entries;
    std::int64_t objects = 0;
  };
  // Reads directory's TreeStats.dat. A missing or unreadable file holds no
  // records; a record cut short by the end of the file does not count, which
  // is what keeps the unterminated record of a new index out.
  static TreeStatsRecords ReadTreeStats(const std::string& directory);

 private:
  [[nodiscard]] Status WriteTreeStats();
  [[nodiscard]] Status VisitForStats(MTnode& node, std::ostream& out);
  [[nodiscard]] Status CollectSamples(MTnode& node, int step, int wanted, std::int64_t* count,
                                      std::vector<std::unique_ptr<MTobjectHandle>>* samples);
  [[nodiscard]] Status SampleDensity();

  std::unique_ptr<TreeParameters> parameters_;
};

}  // namespace simdex
