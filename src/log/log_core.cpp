#include "log/log_core.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <new>
#include <vector>

#include "platform/alloc_hooks.h"
#include "platform/clock.h"
#include "platform/process_info.h"
#include "platform/recursive_lock.h"

namespace mau {

namespace {

// ---------------------------------------------------------------- categories

constexpr int kCategorySlots = 64;

struct CategoryTable {
  char tags[kCategorySlots][4];
  constexpr CategoryTable() : tags{} {
    const char* predefined[] = {"DBG", "GEN", "XTR", "PRF", "MEM", "DSK", "NET", "TST"};
    for (int i = 0; i < kCategorySlots; ++i) {
      const char* tag = i < 8 ? predefined[i] : "???";
      for (int c = 0; c < 4; ++c) tags[i][c] = tag[c];
    }
  }
};

constinit CategoryTable g_categories;
constinit std::atomic<int> g_lastCategory{7};

// ---------------------------------------------------------------- the core

class LogCore {
 public:
  LogCore() {
    targets.reserve(8);
    stdErr.ApplySettings(LogTargetSettings{kLogWarn, kLogDbg, kLogGen, "#E(#T): #L| #M"});
    stdOut.ApplySettings(LogTargetSettings{kLogWarn, kLogGen, kLogDbg, "#M"});
    debugger.ApplySettings(LogTargetSettings{kLogWarn, kLogDbg, 0, "#E(#T): #L| #M"});
  }

  // Runs once the core is published, so that registration finds it.
  void Start() {
    {
      std::lock_guard<RecursiveLock> guard(lock);
      if (ReadExecutablePath(executablePath, sizeof executablePath)) {
        executableName = FileNamePart(executablePath);
      }
    }
    stdErr.Register();
    debugger.Register();
  }

  // Unregisters every registered target, from the last to the first.
  void UnregisterAll() {
    std::lock_guard<RecursiveLock> guard(lock);
    while (!targets.empty()) {
      LogTargetInterface* target = targets.back();
      if (target->callbacks.isRegistered(target)) {
        target->callbacks.unregisterTarget(target);  // removes every occurrence
      } else {
        targets.pop_back();
      }
    }
  }

  RecursiveLock lock;
  std::vector<LogTargetInterface*> targets;
  std::atomic<bool> muted{false};
  bool reserved = false;
  std::atomic<LogLevel> minLevel{kLogWarn};
  std::atomic<uint64_t> suppressedCategories{kLogXtr};
  char executablePath[1024] = {};
  const char* executableName = "<unknown>";
  StdErrLogTarget stdErr;
  StdOutLogTarget stdOut;
  DebuggerConsoleLogTarget debugger;
};

// Creation and destruction are serialised by g_lifecycle; LogV reads g_core without it.
constinit std::atomic<LogCore*> g_core{nullptr};
std::mutex g_lifecycle;
int g_users = 0;

LogCore* CreateCoreLocked() {
  LogCore* core = g_core.load();
  if (core != nullptr) return core;
  void* memory = HookAllocate(sizeof(LogCore));
  if (memory == nullptr) return nullptr;
  core = new (memory) LogCore();
  g_core.store(core);
  core->Start();
  return core;
}

LogCore* Core() { return g_core.load(std::memory_order_acquire); }

// The core, created when missing: for operations that change it.
LogCore* EnsureCore() {
  if (LogCore* core = Core()) return core;
  std::lock_guard<std::mutex> guard(g_lifecycle);
  return CreateCoreLocked();
}

void DestroyCoreLocked() {
  LogCore* core = g_core.load();
  if (core == nullptr) return;
  core->UnregisterAll();
  g_core.store(nullptr);
  core->~LogCore();
  HookRelease(core);
}

// The core also goes away when the library is unloaded.
struct UnloadCore {
  ~UnloadCore() {
    std::lock_guard<std::mutex> guard(g_lifecycle);
    DestroyCoreLocked();
  }
} g_unloadCore;

bool Accepts(LogTargetInterface* target, const LogRecord& record) {
  if (record.level < target->callbacks.getLevel(target)) return false;
  if (record.categories == 0) return true;
  if ((record.categories & target->callbacks.getSuppressedCategories(target)) != 0) return false;
  const uint64_t accepted = target->callbacks.getAcceptedCategories(target);
  return accepted == 0 || (record.categories & accepted) != 0;
}

// ---------------------------------------------------------------- line formatting

struct HighResolutionOrigin {
  int64_t frequency = ReadPerformanceFrequency();
  int64_t start = ReadPerformanceCounter();
};

double SecondsSinceFirstUse() {
  static const HighResolutionOrigin origin;
  const int64_t elapsed = ReadPerformanceCounter() - origin.start;
  return origin.frequency > 0 ? static_cast<double>(elapsed) / static_cast<double>(origin.frequency)
                              : 0.0;
}

// Appends text to [out, end), returning the new position.
char* Put(char* out, char* end, const char* text) {
  while (out < end && *text != '\0') *out++ = *text++;
  return out;
}

char* PutFormatted(char* out, char* end, const char* format, ...) MAU_PRINTF_FORMAT(3, 4);
char* PutFormatted(char* out, char* end, const char* format, ...) {
  char scratch[128];
  va_list args;
  va_start(args, format);
  const int n = std::vsnprintf(scratch, sizeof scratch, format, args);
  va_end(args);
  if (n <= 0) return out;
  return Put(out, end, scratch);
}

}  // namespace

// ---------------------------------------------------------------- logging

void LogV(LogLevel level, uint32_t categoriesLow, uint32_t categoriesHigh, const char* format,
          va_list args) {
  LogCore* core = EnsureCore();
  if (core == nullptr) return;
  const uint64_t categories = categoriesLow | (uint64_t{categoriesHigh} << 32);
  if (core->muted.load(std::memory_order_relaxed) ||
      level < core->minLevel.load(std::memory_order_relaxed) ||
      (categories & core->suppressedCategories.load(std::memory_order_relaxed)) != 0) {
    return;
  }

  char message[kLogMessageCapacity];
  if (std::vsnprintf(message, sizeof message, format != nullptr ? format : "", args) < 0) {
    message[0] = '\0';
  }
  LogRecord record;
  record.time = ReadLocalTime();
  record.level = level;
  record.categories = categories;
  record.message = message;

  std::lock_guard<RecursiveLock> guard(core->lock);
  // A target may unregister itself while writing; walk by index.
  for (size_t i = 0; i < core->targets.size(); ++i) {
    LogTargetInterface* target = core->targets[i];
    if (Accepts(target, record)) target->callbacks.write(target, &record);
  }
}

void Log(LogLevel level, uint32_t categoriesLow, uint32_t categoriesHigh, const char* format, ...) {
  va_list args;
  va_start(args, format);
  LogV(level, categoriesLow, categoriesHigh, format, args);
  va_end(args);
}

void LogInit() {
  std::lock_guard<std::mutex> guard(g_lifecycle);
  if (++g_users == 1) CreateCoreLocked();
}

void LogShutdown() {
  std::lock_guard<std::mutex> guard(g_lifecycle);
  if (g_users > 0 && --g_users == 0) DestroyCoreLocked();
}

bool LogCoreExists() { return Core() != nullptr; }

void EnsureLogCore() { EnsureCore(); }

// ---------------------------------------------------------------- settings

void SetLogMinLevel(LogLevel level) {
  if (LogCore* core = EnsureCore()) {
    std::lock_guard<RecursiveLock> guard(core->lock);
    core->minLevel.store(level);
  }
}

LogLevel GetLogMinLevel() {
  LogCore* core = Core();
  return core != nullptr ? core->minLevel.load() : kLogWarn;
}

void SetLogSuppressedCategories(uint64_t mask) {
  if (LogCore* core = EnsureCore()) {
    std::lock_guard<RecursiveLock> guard(core->lock);
    core->suppressedCategories.store(mask);
  }
}

uint64_t GetLogSuppressedCategories() {
  LogCore* core = Core();
  return core != nullptr ? core->suppressedCategories.load() : kLogXtr;
}

void MuteLog() {
  if (LogCore* core = EnsureCore()) core->muted.store(true);
}

void UnmuteLog() {
  if (LogCore* core = Core()) core->muted.store(false);
}

namespace {
void SetReserved(bool value) {
  if (LogCore* core = Core()) {
    std::lock_guard<RecursiveLock> guard(core->lock);
    core->reserved = value;
  }
}
}  // namespace

void AddLogTarget(LogTargetInterface* target) {
  if (target == nullptr) return;
  if (LogCore* core = EnsureCore()) {
    std::lock_guard<RecursiveLock> guard(core->lock);
    core->targets.push_back(target);
  }
}

void RemoveLogTarget(LogTargetInterface* target) {
  if (LogCore* core = Core()) {
    std::lock_guard<RecursiveLock> guard(core->lock);
    auto& list = core->targets;
    list.erase(std::remove(list.begin(), list.end(), target), list.end());
  }
}

LogTargetInterface* FindLogTarget(const char* typeName) {
  LogCore* core = Core();
  if (core == nullptr || typeName == nullptr) return nullptr;
  std::lock_guard<RecursiveLock> guard(core->lock);
  for (LogTargetInterface* target : core->targets) {
    if (target->callbacks.isRegistered(target) &&
        std::strcmp(target->callbacks.typeName(target), typeName) == 0) {
      return target;
    }
  }
  return nullptr;
}

LogTargetInterface* StdOutTarget() {
  LogCore* core = Core();
  return core != nullptr ? core->stdOut.Interface() : nullptr;
}

LogTargetInterface* StdErrTarget() {
  LogCore* core = Core();
  return core != nullptr ? core->stdErr.Interface() : nullptr;
}

LogTargetInterface* DebuggerTarget() {
  LogCore* core = Core();
  return core != nullptr ? core->debugger.Interface() : nullptr;
}

// ---------------------------------------------------------------- categories

uint64_t RegisterCategory(const char* tag) {
  if (tag == nullptr) return 0;
  char key[4] = {};
  for (int c = 0; c < 3 && tag[c] != '\0'; ++c) key[c] = tag[c];
  const int last = g_lastCategory.load();
  for (int i = 0; i <= last; ++i) {
    if (std::strncmp(g_categories.tags[i], key, 3) == 0) return uint64_t{1} << i;
  }
  // A full table has no bit left to give: the mask would be empty anyway.
  int slot = g_lastCategory.load();
  do {
    if (slot >= kCategorySlots - 1) return 0;
  } while (!g_lastCategory.compare_exchange_weak(slot, slot + 1));
  ++slot;
  std::memcpy(g_categories.tags[slot], key, 4);
  return uint64_t{1} << slot;
}

const char* FormatCategories(char* buffer, size_t size, uint64_t mask) {
  if (buffer == nullptr || size == 0) return buffer;
  char* out = buffer;
  char* const end = buffer + size - 1;
  bool first = true;
  for (int i = 0; i < kCategorySlots && out < end; ++i) {
    if ((mask & (uint64_t{1} << i)) == 0) continue;
    if (!first) out = Put(out, end, ";");
    out = Put(out, end, g_categories.tags[i]);
    first = false;
  }
  *out = '\0';
  return buffer;
}

// ---------------------------------------------------------------- line formatting

size_t FormatLogLine(char* buffer, size_t size, const char* pattern, const LogRecord& record) {
  if (buffer == nullptr || size == 0) return 0;
  if (size < 3) {
    // No room for text and its newline.
    buffer[0] = '\0';
    return 0;
  }
  char* out = buffer;
  char* const end = buffer + size - 2;  // the newline and the NUL are held back
  const char* p = pattern != nullptr ? pattern : "";
  while (*p != '\0' && out < end) {
    if (*p != '#') {
      *out++ = *p++;
      continue;
    }
    const char token = p[1];
    if (token == '\0') break;  // a lone '#' at the end is dropped
    p += 2;
    switch (token) {
      case 'D': {
        char time[64];
        out = Put(out, end, FormatLogTime(time, sizeof time, record.time));
        break;
      }
      case 'E':
        out = Put(out, end, LogExecutableName());
        break;
      case 'G': {
        char categories[kCategorySlots * 4 + 1];
        out = Put(out, end, FormatCategories(categories, sizeof categories, record.categories));
        break;
      }
      case 'H': {
        const double seconds = SecondsSinceFirstUse();
        const long long whole = static_cast<long long>(seconds);
        const int millis = static_cast<int>((seconds - static_cast<double>(whole)) * 1000.0);
        out = PutFormatted(out, end, "%06d.%03d", static_cast<int>(whole), millis);
        break;
      }
      case 'L':
        out = Put(out, end, LogLevelName(record.level));
        break;
      case 'M':
        out = Put(out, end, record.message != nullptr ? record.message : "");
        break;
      case 'T':
        out = PutFormatted(out, end, "%p", CurrentThreadTag());
        break;
      default:
        *out++ = token;
        break;
    }
  }
  if (out == buffer || out[-1] != '\n') *out++ = '\n';
  *out = '\0';
  return static_cast<size_t>(out - buffer);
}

const char* LogLevelName(LogLevel level) {
  static const char* const kNames[] = {"  OKAY", "  WARN", " ERROR", "ALWAYS"};
  return level >= 0 && level <= 3 ? kNames[level] : "";
}

const char* LogExecutableName() {
  LogCore* core = Core();
  return core != nullptr ? core->executableName : "<unknown>";
}

const char* FormatLogTime(char* buffer, size_t size, const LocalTime& t) {
  if (buffer != nullptr && size > 0) {
    std::snprintf(buffer, size, "%04d-%02d-%02dT%02d:%02d:%02d.%03d", t.year, t.month, t.day,
                  t.hour, t.minute, t.second, t.millisecond);
  }
  return buffer;
}

const char* FormatLogFileTime(char* buffer, size_t size, const LocalTime& t) {
  if (buffer != nullptr && size > 0) {
    std::snprintf(buffer, size, "%04d-%02d-%02dT%02d-%02d-%02d", t.year, t.month, t.day, t.hour,
                  t.minute, t.second);
  }
  return buffer;
}

// ---------------------------------------------------------------- the interface table

const LogInterface* GetLogInterface() {
  static const LogInterface table = {
      [] { return int32_t{1}; },
      LogInit,
      LogShutdown,
      SetLogMinLevel,
      GetLogMinLevel,
      [](uint32_t low, uint32_t high) { SetLogSuppressedCategories(low | (uint64_t{high} << 32)); },
      GetLogSuppressedCategories,
      MuteLog,
      UnmuteLog,
      [] { SetReserved(true); },
      [] { SetReserved(false); },
      AddLogTarget,
      RemoveLogTarget,
      FindLogTarget,
      StdOutTarget,
      StdErrTarget,
      DebuggerTarget,
      RegisterCategory,
      FormatCategories,
      [](char* buffer, size_t size, const char* pattern, const LogRecord* record) {
        return record != nullptr ? FormatLogLine(buffer, size, pattern, *record) : size_t{0};
      },
      LogLevelName,
      LogExecutableName,
      [](LocalTime* time) {
        if (time != nullptr) *time = ReadLocalTime();
      },
      [](char* buffer, size_t size, const LocalTime* time) {
        return time != nullptr ? FormatLogTime(buffer, size, *time) : buffer;
      },
      [](char* buffer, size_t size, const LocalTime* time) {
        return time != nullptr ? FormatLogFileTime(buffer, size, *time) : buffer;
      },
      LogV,
  };
  return &table;
}

}  // namespace mau
