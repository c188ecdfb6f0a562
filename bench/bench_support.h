// Helpers shared by the benchmarks.
#pragma once

#include <benchmark/benchmark.h>
#include <cstdint>

#include "platform/alloc_hooks.h"

namespace mau::bench {

// Reports the heap blocks and bytes allocated per iteration as the counters "blocks"
// and "bytes", from the allocation counters. Construct before the timed loop and call
// Report(state) after it.
class AllocationCounters {
 public:
  AllocationCounters() : start_(ReadMemoryCounters()) {}
  void Report(benchmark::State& state) const {
    const MemoryCounters now = ReadMemoryCounters();
    const double iterations = state.iterations() > 0 ? static_cast<double>(state.iterations()) : 1;
    state.counters["blocks"] =
        static_cast<double>(now.allocationCount - start_.allocationCount) / iterations;
    state.counters["bytes"] =
        static_cast<double>(now.bytesAllocated - start_.bytesAllocated) / iterations;
  }

 private:
  MemoryCounters start_;
};

}  // namespace mau::bench
