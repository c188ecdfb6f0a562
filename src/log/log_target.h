// Log targets: where the log core delivers its records. Each target is an object of the
// LogTarget class tree and also carries a flat table of twelve callbacks, its target
// interface, through which the core and the log interface table drive it without
// knowing its class.
//
// Locks: every target has a lock of its own that serialises its output and settings.
// The core calls Write with the core's lock held, and Write takes the target's lock
// inside it; never take them the other way round. Do not log from inside Write.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

#include "log/log_record.h"
#include "platform/recursive_lock.h"

namespace mau {

struct LogTargetInterface;

// The twelve callbacks of a target, in table order. Each takes the interface first.
struct LogTargetCallbacks {
  int32_t (*interfaceVersion)(LogTargetInterface* self);
  void (*setLevel)(LogTargetInterface* self, LogLevel level);
  LogLevel (*getLevel)(LogTargetInterface* self);
  void (*setCategories)(LogTargetInterface* self, uint32_t acceptedLow, uint32_t acceptedHigh,
                        uint32_t suppressedLow, uint32_t suppressedHigh);
  uint64_t (*getAcceptedCategories)(LogTargetInterface* self);
  uint64_t (*getSuppressedCategories)(LogTargetInterface* self);
  const char* (*typeName)(LogTargetInterface* self);
  const char* (*pattern)(LogTargetInterface* self, const LogRecord* record);
  void (*registerTarget)(LogTargetInterface* self);
  void (*unregisterTarget)(LogTargetInterface* self);
  bool (*isRegistered)(LogTargetInterface* self);
  bool (*write)(LogTargetInterface* self, const LogRecord* record);
};

class LogTarget;

// The target interface as the core sees it: the callback table and its owner.
struct LogTargetInterface {
  LogTargetCallbacks callbacks;
  LogTarget* owner;
};

// Configures a target in one step (level, masks and line pattern).
struct LogTargetSettings {
  LogLevel level = kLogWarn;
  uint64_t acceptedCategories = 0;
  uint64_t suppressedCategories = 0;
  std::string pattern = "#D| #L| #G| #M";
};

class LogTarget {
 public:
  LogTarget();
  // Unregisters the target first.
  virtual ~LogTarget();
  LogTarget(const LogTarget&) = delete;
  LogTarget& operator=(const LogTarget&) = delete;

  // Removes the target from the core if it is registered, under the target's lock.
  virtual void Unregister();
  virtual const char* TypeName() const { return "LogTarget"; }
  virtual const char* GetPattern(const LogRecord& record) const;
  // Renders and delivers one record; called with the core's lock held.
  virtual bool Write(const LogRecord& record) = 0;

  LogTargetInterface* Interface() { return &interface_; }

  // The callback-table operations, for code that holds the object.
  void SetLevel(LogLevel level);
  LogLevel Level() const { return level_.load(std::memory_order_relaxed); }
  // Stores accepted AND NOT suppressed as the accepted mask, and the suppressed mask.
  void SetCategories(uint64_t accepted, uint64_t suppressed);
  uint64_t AcceptedCategories() const { return accepted_.load(std::memory_order_relaxed); }
  uint64_t SuppressedCategories() const { return suppressed_.load(std::memory_order_relaxed); }
  void Register();
  bool IsRegistered() const { return registered_.load(std::memory_order_relaxed); }
  // Unregisters, applies the settings and registers again, all under the target's lock.
  void Configure(const LogTargetSettings& settings);
  // Applies the settings without touching the registration.
  void ApplySettings(const LogTargetSettings& settings);

 protected:
  // Targets whose write callback should reach Write call this in their constructor;
  // the base interface's write callback returns false.
  void RouteWritesToWrite();
  // Renders the record with the target's pattern into buffer; returns the length.
  size_t Render(char* buffer, size_t size, const LogRecord& record) const;

  mutable RecursiveLock lock_;

 private:
  friend struct LogTargetAccess;
  void UnregisterUnlocked();

  LogTargetInterface interface_;
  std::atomic<bool> registered_{false};
  std::atomic<LogLevel> level_{kLogWarn};
  std::atomic<uint64_t> accepted_{0};
  std::atomic<uint64_t> suppressed_{0};
  std::string pattern_ = "#D| #L| #G| #M";
};

// The console targets' common base: adds Flush.
class BaseConsoleLogTarget : public LogTarget {
 public:
  const char* TypeName() const override { return "BaseConsoleLogTarget"; }
  virtual void Flush() = 0;
};

// Writes each rendered line to standard error with one fputs.
class StdErrLogTarget : public BaseConsoleLogTarget {
 public:
  StdErrLogTarget();
  ~StdErrLogTarget() override;
  const char* TypeName() const override { return "StdErrLogTarget"; }
  bool Write(const LogRecord& record) override;
  void Flush() override;
};

// Writes each rendered line to standard output; flushes after each line when asked to.
class StdOutLogTarget : public BaseConsoleLogTarget {
 public:
  StdOutLogTarget();
  ~StdOutLogTarget() override;
  const char* TypeName() const override { return "StdOutLogTarget"; }
  bool Write(const LogRecord& record) override;
  void Flush() override;
  void SetFlushEachLine(bool flush) { flushEachLine_ = flush ? 1 : 0; }

 private:
  int32_t flushEachLine_ = 0;
};

// Hands each rendered line to the debugger's output.
class DebuggerConsoleLogTarget : public BaseConsoleLogTarget {
 public:
  DebuggerConsoleLogTarget();
  ~DebuggerConsoleLogTarget() override;
  const char* TypeName() const override { return "DebuggerConsoleLogTarget"; }
  bool Write(const LogRecord& record) override;
  void Flush() override {}
};

}  // namespace mau
