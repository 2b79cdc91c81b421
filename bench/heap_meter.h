#pragma once
#include <cstdint>

// The heap as this program's own operator new and delete see it: bytes live
// now and the most that were live since the last reset. Only the benchmarks
// link it; it counts every allocation of the process, the simulation's
// included.
namespace fwup::bench {

std::int64_t heap_live_bytes();
std::int64_t heap_peak_bytes();
// Starts a new peak from what is live now.
void reset_heap_peak();

}  // namespace fwup::bench
