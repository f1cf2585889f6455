#pragma once
// The three cost counters of an index (distance computations, page reads,
// page writes) and the accessor of the active ones. They live low in the stack
// because the page file counts into them; the metric tree's parameter block
// owns the real ones and makes them active with itself.
//
// The active reference is thread-local: every single-threaded use behaves as
// with one process-wide reference, and indexes used on different threads
// count apart.
#include <cstdint>

namespace simdex {

struct CostCounters {
  std::int32_t computedDistances = 0;
  std::int32_t pageReads = 0;
  std::int32_t pageWrites = 0;
};

// The counters of the active index on this thread, or null when none is.
CostCounters* ActiveCounters();
void SetActiveCounters(CostCounters* counters);

}  // namespace simdex
