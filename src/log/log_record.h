// What the log core hands to its targets: one record per accepted log call, and the
// level and category vocabulary of the logging calls.
#pragma once

#include <cstdint>

#include "platform/clock.h"

namespace mau {

// Levels, from least to most severe. Records below the core's or a target's level are
// dropped.
using LogLevel = int32_t;
inline constexpr LogLevel kLogOkay = 0;
inline constexpr LogLevel kLogWarn = 1;
inline constexpr LogLevel kLogError = 2;
inline constexpr LogLevel kLogAlways = 3;

// Bits of the 64-bit category mask of the predefined categories.
inline constexpr uint64_t kLogDbg = 1u << 0;
inline constexpr uint64_t kLogGen = 1u << 1;
inline constexpr uint64_t kLogXtr = 1u << 2;
inline constexpr uint64_t kLogPrf = 1u << 3;
inline constexpr uint64_t kLogMem = 1u << 4;
inline constexpr uint64_t kLogDsk = 1u << 5;
inline constexpr uint64_t kLogNet = 1u << 6;
inline constexpr uint64_t kLogTst = 1u << 7;

// The longest message a record carries; longer ones are cut.
inline constexpr int kLogMessageCapacity = 4096;

// One log record. The message points into the logging call's own buffer and is valid
// only while the record is being delivered.
struct LogRecord {
  LocalTime time;
  LogLevel level = kLogOkay;
  uint64_t categories = 0;
  const char* message = "";
};

}  // namespace mau
