#pragma once
// The parameter block of one metric tree: its settings, statistics and cost
// counters. Object handles, keys, nodes, the page file and the searches reach
// it through the active block of their thread, which every tree operation
// points at its own block before it starts.
#include <cstdint>
#include <limits>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "Proximity/ApproximationSettings.h"
#include "Proximity/approximation.h"
#include "platform/ComPtr.h"
#include "platform/CostCounters.h"
#include "platform/Guid.h"
#include "platform/IMTobject.h"

namespace simdex {

// The counters (computedDistances, pageReads, pageWrites) come from
// CostCounters; approximationMethod, thresholds and model from
// ApproximationSettings, which the approximation rules read.
class TreeParameters : public CostCounters, public ApproximationSettings {
 public:
  // The initial state: no directory, thresholds, model, statistics or
  // prototype; method 0, totalObjects 0, counters 0, maxDistance the largest
  // double, and approximation rules that read this block.
  TreeParameters();
  // Not copyable: the approximation rules refer back to this very block.
  TreeParameters(const TreeParameters&) = delete;
  TreeParameters& operator=(const TreeParameters&) = delete;
  // Releases everything the block owns. If this block is still the active one
  // of this thread, the thread is left with no active block rather than a
  // dangling one.
  virtual ~TreeParameters();

  // The index directory, kept from the last Create or Open.
  std::string directory;
  // The plug-in class of the index's objects.
  GUID objectClass{};
  // Upper end of the density range; the largest double until one is known.
  double maxDistance = std::numeric_limits<double>::max();
  // The rules object, reading approximationMethod, thresholds and model of
  // this block. Never null.
  std::unique_ptr<simdex::approximation> approximation;
  // One record per node of the last statistics pass: level, covering radius,
  // number of entries.
  std::vector<std::int32_t> statLevels;
  std::vector<double> statRadii;
  std::vector<std::int32_t> statEntries;
  // Objects in non-root leaves at the last statistics pass.
  std::int32_t totalObjects = 0;
  // One plug-in object of objectClass, asked for the byte count of the class.
  ComPtr<IMTobject> prototype;
  // The draws of the split policy's random promotion (splits of the root).
  // One generator per block with the fixed default seed: an index build
  // repeats exactly, whatever else the process does with random numbers.
  std::mt19937 promotionRandom;
};

// The active block of the calling thread, or null.
//
// Thread-local rather than process-wide: every single-threaded use behaves
// exactly as with one process-wide reference, and service objects living on
// different threads (each used from its own thread) no longer count into or
// read each other's block.
TreeParameters* ActiveParameters();
// Makes `parameters` (may be null) the active block of the calling thread,
// and its counters the active counters.
void SetActiveParameters(TreeParameters* parameters);

}  // namespace simdex
