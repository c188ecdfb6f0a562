// Clocks of the operating system: local calendar time for log records, the
// high-resolution performance counter, and the wall clock in 100-nanosecond ticks.
#pragma once

#include <cstdint>

namespace mau {

// Local calendar time, as the log core stamps its records.
struct LocalTime {
  int32_t year = 0;
  int32_t month = 0;
  int32_t day = 0;
  int32_t hour = 0;
  int32_t minute = 0;
  int32_t second = 0;
  int32_t millisecond = 0;
};

// The current local time. [any-thread]
LocalTime ReadLocalTime();

// The high-resolution counter and its ticks per second. [any-thread]
int64_t ReadPerformanceCounter();
int64_t ReadPerformanceFrequency();

// Wall-clock time in 100-nanosecond ticks since 1970-01-01 UTC. [any-thread]
int64_t ReadSystemTimeTicks();

}  // namespace mau
