// The process-wide log core: one place that filters log calls by level and category,
// formats each message once, stamps it with the local time and hands it to every
// registered target. It is created on first use, with three console targets (standard
// error and the debugger registered, standard output not), and reachable both through
// the functions below and through the 26-entry log interface table.
//
//   mau::Log(mau::kLogWarn, 65, 0, "%s: Couldn't find timer named %s", name, timer);
//
// Thread safety: every function may be called from any thread (the Discord client's
// I/O thread logs too). The core's lock is recursive and is held while targets write,
// so a target must not wait for another thread that logs. Logging never fails and never
// allocates heap memory once the core exists.
#pragma once

#include <cstdarg>
#include <cstddef>
#include <cstdint>

#include "log/log_record.h"
#include "log/log_target.h"

namespace mau {

#if defined(__GNUC__)
#  define MAU_PRINTF_FORMAT(format_index, first_arg) \
    __attribute__((format(printf, format_index, first_arg)))
#else
#  define MAU_PRINTF_FORMAT(format_index, first_arg)
#endif

// The logging calls: level, category mask as low and high word, printf format.
void Log(LogLevel level, uint32_t categoriesLow, uint32_t categoriesHigh, const char* format, ...)
    MAU_PRINTF_FORMAT(4, 5);
void LogV(LogLevel level, uint32_t categoriesLow, uint32_t categoriesHigh, const char* format,
          va_list args) MAU_PRINTF_FORMAT(4, 0);

// Reference-counted users of the core: the first LogInit creates it, the last
// LogShutdown destroys it (unregistering every target). A LogV without a core creates
// one; the core is also destroyed when the library is unloaded.
void LogInit();
void LogShutdown();
bool LogCoreExists();
// Creates the core when there is none, as the first LogV would.
void EnsureLogCore();

// Core settings. Without a core they do nothing and report the defaults.
void SetLogMinLevel(LogLevel level);
LogLevel GetLogMinLevel();
void SetLogSuppressedCategories(uint64_t mask);
uint64_t GetLogSuppressedCategories();
void MuteLog();
void UnmuteLog();

// The target list. Adding does not check for duplicates; removing drops every
// occurrence. FindLogTarget returns the first registered target with exactly this type
// name, or nullptr.
void AddLogTarget(LogTargetInterface* target);
void RemoveLogTarget(LogTargetInterface* target);
LogTargetInterface* FindLogTarget(const char* typeName);

// The built-in targets of the core, or nullptr without a core.
LogTargetInterface* StdOutTarget();
LogTargetInterface* StdErrTarget();
LogTargetInterface* DebuggerTarget();

// Categories: RegisterCategory returns the bit of a three-character tag, adding it to
// the 64-slot table when new (0 when the table is full). FormatCategories writes the
// tags of the set bits joined by ';' (cut to the buffer) and returns buffer.
uint64_t RegisterCategory(const char* tag);
const char* FormatCategories(char* buffer, size_t size, uint64_t mask);

// Renders a record through a line pattern (#D time, #E executable, #G categories,
// #H seconds since first use, #L level, #M message, #T thread; #x gives x). The line
// always ends with one newline. Returns its length.
size_t FormatLogLine(char* buffer, size_t size, const char* pattern, const LogRecord& record);

// "  OKAY", "  WARN", " ERROR", "ALWAYS"; the empty text for other levels.
const char* LogLevelName(LogLevel level);
// The host executable's file name, "<unknown>" until it is read.
const char* LogExecutableName();
// Time stamps: "%04d-%02d-%02dT%02d:%02d:%02d.%03d" and, for file names, without
// milliseconds and with '-' between the time parts.
const char* FormatLogTime(char* buffer, size_t size, const LocalTime& time);
const char* FormatLogFileTime(char* buffer, size_t size, const LocalTime& time);

// The log interface table: 26 plain functions, in this order.
struct LogInterface {
  int32_t (*interfaceVersion)();
  void (*init)();
  void (*shutdown)();
  void (*setMinLevel)(LogLevel level);
  LogLevel (*getMinLevel)();
  void (*setSuppressedCategories)(uint32_t low, uint32_t high);
  uint64_t (*getSuppressedCategories)();
  void (*mute)();
  void (*unmute)();
  void (*setReserved)();
  void (*clearReserved)();
  void (*addTarget)(LogTargetInterface* target);
  void (*removeTarget)(LogTargetInterface* target);
  LogTargetInterface* (*findTarget)(const char* typeName);
  LogTargetInterface* (*stdOutTarget)();
  LogTargetInterface* (*stdErrTarget)();
  LogTargetInterface* (*debuggerTarget)();
  uint64_t (*registerCategory)(const char* tag);
  const char* (*formatCategories)(char* buffer, size_t size, uint64_t mask);
  size_t (*formatLogLine)(char* buffer, size_t size, const char* pattern, const LogRecord* record);
  const char* (*levelName)(LogLevel level);
  const char* (*executableName)();
  void (*currentLocalTime)(LocalTime* time);
  const char* (*formatTime)(char* buffer, size_t size, const LocalTime* time);
  const char* (*formatFileTime)(char* buffer, size_t size, const LocalTime* time);
  void (*logV)(LogLevel level, uint32_t categoriesLow, uint32_t categoriesHigh, const char* format,
               va_list args);
};

const LogInterface* GetLogInterface();

}  // namespace mau
