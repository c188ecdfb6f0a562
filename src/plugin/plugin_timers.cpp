#include "plugin/plugin_timers.h"

#include <chrono>
#include <exception>

#include "log/log_core.h"
#include "platform/format.h"

namespace mau {

PluginTimers::PluginTimers(StartHostTimer startHostTimer, const std::string& displayName)
    : startHostTimer_(std::move(startHostTimer)), displayName_(displayName) {}

int64_t PluginTimers::Now() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

uint64_t PluginTimers::ScheduleOnce(const std::string& label, std::function<void()> callable,
                                    int64_t due) {
  double delay = static_cast<double>(due - Now()) * 1e-9;
  if (!(delay > 0)) delay = 0;
  OwnerAndId* key = nullptr;
  uint64_t id = 0;
  {
    std::lock_guard<std::mutex> guard(timerLock_);
    id = nextTimerId_++;
    // Node-based: the entry, and the key the host holds, stay put until it is erased.
    OnceTimer& entry = onceTimers_[id];
    entry.key = OwnerAndId{this, id};
    entry.callable = std::move(callable);
    key = &entry.key;
  }
  startHostTimer_(label.c_str(), Fire, key, delay);
  return id;
}

void MAU_ABI PluginTimers::Fire(void* userData) {
  const auto* key = static_cast<const OwnerAndId*>(userData);
  if (key == nullptr) return;
  PluginTimers* self = key->owner;
  const uint64_t id = key->id;
  std::function<void()>* callable = nullptr;
  {
    std::lock_guard<std::mutex> guard(self->timerLock_);
    const auto it = self->onceTimers_.find(id);
    if (it == self->onceTimers_.end()) return;
    callable = &it->second.callable;
  }
  // Run without the lock, so that the callable may schedule further timers. Nothing may
  // unwind into the host.
  try {
    (*callable)();
  } catch (const std::exception& error) {
    Log(kLogError, static_cast<uint32_t>(kLogDbg | kLogNet), 0, "%s: A timer failed: %s",
        self->displayName_.c_str(), error.what());
  } catch (...) {
    Log(kLogError, static_cast<uint32_t>(kLogDbg | kLogNet), 0, "%s: A timer failed",
        self->displayName_.c_str());
  }
  std::lock_guard<std::mutex> guard(self->timerLock_);
  self->onceTimers_.erase(id);
}

void PluginTimers::StartRepeatingTimer(const std::string& name, double interval,
                                       std::function<void()> callback) {
  RepeatingTimer& timer = repeatingTimers_[name];
  timer.name = name;
  timer.interval = interval;
  timer.nextDue = Now() + static_cast<int64_t>(interval * 1e9);
  const uint64_t generation = ++timer.generation;
  timer.tick = [this, name, generation, callback = std::move(callback)] {
    Tick(name, generation, callback);
  };
  ScheduleOnce(FormatText("Timer: %1", name), timer.tick, timer.nextDue);
}

void PluginTimers::Tick(const std::string& name, uint64_t generation,
                        const std::function<void()>& callback) {
  auto it = repeatingTimers_.find(name);
  if (it == repeatingTimers_.end()) {
    Log(kLogWarn, static_cast<uint32_t>(kLogDbg | kLogNet), 0, "%s: Couldn't find timer named %s",
        displayName_.c_str(), name.c_str());
    return;
  }
  if (it->second.generation != generation) return;  // restarted: the newer chain goes on
  it->second.nextDue = Now() + static_cast<int64_t>(it->second.interval * 1e9);
  callback();
  it = repeatingTimers_.find(name);
  if (it != repeatingTimers_.end() && it->second.generation == generation) {
    ScheduleOnce(FormatText("Timer: %1", name), it->second.tick, it->second.nextDue);
  }
}

size_t PluginTimers::PendingOnceTimers() const {
  std::lock_guard<std::mutex> guard(timerLock_);
  return onceTimers_.size();
}

uint64_t PluginTimers::Generation(const std::string& name) const {
  const auto it = repeatingTimers_.find(name);
  return it == repeatingTimers_.end() ? 0 : it->second.generation;
}

}  // namespace mau
