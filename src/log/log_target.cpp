#include "log/log_target.h"

#include <cstdio>
#include <mutex>

#include "log/log_core.h"
#include "platform/process_info.h"

namespace mau {

namespace {

LogTarget& Owner(LogTargetInterface* self) { return *self->owner; }

int32_t CbInterfaceVersion(LogTargetInterface*) { return 1; }
void CbSetLevel(LogTargetInterface* self, LogLevel level) { Owner(self).SetLevel(level); }
LogLevel CbGetLevel(LogTargetInterface* self) { return Owner(self).Level(); }
void CbSetCategories(LogTargetInterface* self, uint32_t acceptedLow, uint32_t acceptedHigh,
                     uint32_t suppressedLow, uint32_t suppressedHigh) {
  Owner(self).SetCategories(acceptedLow | (uint64_t{acceptedHigh} << 32),
                            suppressedLow | (uint64_t{suppressedHigh} << 32));
}
uint64_t CbGetAccepted(LogTargetInterface* self) { return Owner(self).AcceptedCategories(); }
uint64_t CbGetSuppressed(LogTargetInterface* self) { return Owner(self).SuppressedCategories(); }
const char* CbTypeName(LogTargetInterface* self) { return Owner(self).TypeName(); }
const char* CbPattern(LogTargetInterface* self, const LogRecord* record) {
  return Owner(self).GetPattern(*record);
}
void CbRegister(LogTargetInterface* self) { Owner(self).Register(); }
bool CbIsRegistered(LogTargetInterface* self) { return Owner(self).IsRegistered(); }
bool CbWriteNothing(LogTargetInterface*, const LogRecord*) { return false; }
bool CbWrite(LogTargetInterface* self, const LogRecord* record) {
  return Owner(self).Write(*record);
}

}  // namespace

// Gives the unregister callback access to the lock-free unregistration.
struct LogTargetAccess {
  static void Unregister(LogTargetInterface* self) { Owner(self).UnregisterUnlocked(); }
};

LogTarget::LogTarget() {
  interface_.callbacks = LogTargetCallbacks{
      CbInterfaceVersion, CbSetLevel,    CbGetLevel, CbSetCategories, CbGetAccepted,
      CbGetSuppressed,    CbTypeName,    CbPattern,  CbRegister,      LogTargetAccess::Unregister,
      CbIsRegistered,     CbWriteNothing};
  interface_.owner = this;
}

LogTarget::~LogTarget() { Unregister(); }

void LogTarget::RouteWritesToWrite() { interface_.callbacks.write = CbWrite; }

void LogTarget::Unregister() {
  std::lock_guard<RecursiveLock> guard(lock_);
  UnregisterUnlocked();
}

void LogTarget::UnregisterUnlocked() {
  if (registered_.exchange(false)) RemoveLogTarget(&interface_);
}

void LogTarget::Register() {
  if (!registered_.exchange(true)) AddLogTarget(&interface_);
}

const char* LogTarget::GetPattern(const LogRecord&) const { return pattern_.c_str(); }

void LogTarget::SetLevel(LogLevel level) {
  std::lock_guard<RecursiveLock> guard(lock_);
  level_.store(level, std::memory_order_relaxed);
}

void LogTarget::SetCategories(uint64_t accepted, uint64_t suppressed) {
  std::lock_guard<RecursiveLock> guard(lock_);
  accepted_.store(accepted & ~suppressed, std::memory_order_relaxed);
  suppressed_.store(suppressed, std::memory_order_relaxed);
}

void LogTarget::Configure(const LogTargetSettings& settings) {
  std::lock_guard<RecursiveLock> guard(lock_);
  UnregisterUnlocked();
  level_.store(settings.level, std::memory_order_relaxed);
  accepted_.store(settings.acceptedCategories, std::memory_order_relaxed);
  suppressed_.store(settings.suppressedCategories, std::memory_order_relaxed);
  pattern_ = settings.pattern;
  Register();
  SetLevel(settings.level);
  SetCategories(settings.acceptedCategories, settings.suppressedCategories);
}

void LogTarget::ApplySettings(const LogTargetSettings& settings) {
  std::lock_guard<RecursiveLock> guard(lock_);
  level_.store(settings.level, std::memory_order_relaxed);
  pattern_ = settings.pattern;
  SetCategories(settings.acceptedCategories, settings.suppressedCategories);
}

size_t LogTarget::Render(char* buffer, size_t size, const LogRecord& record) const {
  return FormatLogLine(buffer, size, GetPattern(record), record);
}

// ---------------------------------------------------------------- console targets

StdErrLogTarget::StdErrLogTarget() { RouteWritesToWrite(); }
StdErrLogTarget::~StdErrLogTarget() { Unregister(); }

bool StdErrLogTarget::Write(const LogRecord& record) {
  std::lock_guard<RecursiveLock> guard(lock_);
  char line[kLogMessageCapacity];
  Render(line, sizeof line, record);
  std::fputs(line, stderr);
  return true;
}

void StdErrLogTarget::Flush() { std::fflush(stderr); }

StdOutLogTarget::StdOutLogTarget() { RouteWritesToWrite(); }
StdOutLogTarget::~StdOutLogTarget() { Unregister(); }

bool StdOutLogTarget::Write(const LogRecord& record) {
  std::lock_guard<RecursiveLock> guard(lock_);
  char line[kLogMessageCapacity];
  Render(line, sizeof line, record);
  std::fputs(line, stdout);
  if (flushEachLine_ == 1) std::fflush(stdout);
  return true;
}

void StdOutLogTarget::Flush() { std::fflush(stdout); }

DebuggerConsoleLogTarget::DebuggerConsoleLogTarget() { RouteWritesToWrite(); }
DebuggerConsoleLogTarget::~DebuggerConsoleLogTarget() { Unregister(); }

bool DebuggerConsoleLogTarget::Write(const LogRecord& record) {
  std::lock_guard<RecursiveLock> guard(lock_);
  char line[kLogMessageCapacity];
  Render(line, sizeof line, record);
  WriteDebuggerOutput(line);
  return true;
}

}  // namespace mau
