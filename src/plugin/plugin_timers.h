// The plug-in's timers on top of the host's one-shot timers: one-shot timers with ids
// that are never reused, and named repeating timers whose chains are superseded by a
// restart of the same name (each start raises the name's generation).
//
// Threads: timers are started and fired on the host's thread. The one-shot table has its
// own lock because its entries are added and removed from timer callbacks; a timer's
// callable runs without that lock, so it may schedule further timers.
#pragma once

#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <unordered_map>

#include "mau/plugin_abi.h"

namespace mau {

class PluginTimers {
 public:
  // Hands a one-shot timer to the host (the host's StartTimer without its table).
  using StartHostTimer = std::function<void(const char* name, HostTimerCallback callback,
                                            void* userData, double delay)>;

  // displayName prefixes the timer warnings; it must outlive the timers.
  PluginTimers(StartHostTimer startHostTimer, const std::string& displayName);
  PluginTimers(const PluginTimers&) = delete;
  PluginTimers& operator=(const PluginTimers&) = delete;

  // Monotonic clock in nanoseconds.
  static int64_t Now();

  // Runs callable once at due (monotonic nanoseconds); a due time that has passed runs as
  // soon as the host gets to it. Returns the timer's id (1, 2, ...).
  uint64_t ScheduleOnce(const std::string& label, std::function<void()> callable, int64_t due);

  // Starts or restarts the named timer: callback runs every interval seconds, the first
  // time one interval from now. A restart supersedes the earlier chain of that name.
  void StartRepeatingTimer(const std::string& name, double interval,
                           std::function<void()> callback);

  // Drops every repeating timer; their pending ticks then find no timer and warn.
  void ClearRepeatingTimers() { repeatingTimers_.clear(); }

  size_t PendingOnceTimers() const;
  uint64_t Generation(const std::string& name) const;

 private:
  struct OwnerAndId {
    PluginTimers* owner;
    uint64_t id;
  };
  struct OnceTimer {
    OwnerAndId key;
    std::function<void()> callable;
  };
  struct RepeatingTimer {
    std::string name;
    std::function<void()> tick;
    int64_t nextDue = 0;
    double interval = 0;
    uint64_t generation = 0;
  };

  static void MAU_ABI Fire(void* userData);
  void Tick(const std::string& name, uint64_t generation, const std::function<void()>& callback);

  StartHostTimer startHostTimer_;
  const std::string& displayName_;
  std::unordered_map<std::string, RepeatingTimer> repeatingTimers_;
  std::unordered_map<uint64_t, OnceTimer> onceTimers_;
  uint64_t nextTimerId_ = 1;
  mutable std::mutex timerLock_;
};

}  // namespace mau
