#include "platform/CostCounters.h"

namespace simdex {
namespace {
thread_local CostCounters* active_counters = nullptr;
}  // namespace

CostCounters* ActiveCounters() { return active_counters; }
void SetActiveCounters(CostCounters* counters) { active_counters = counters; }

}  // namespace simdex
