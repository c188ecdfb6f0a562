// The reference host: loads a plug-in, implements every function of the host's table for
// real (requests against a resource store, event subscriptions, one-shot timers on its
// own event loop, waits, log output) and publishes resource changes as events.
//
// Threads: everything runs on the thread that calls the runtime, like a real host's main
// thread; only WriteLog may arrive from the plug-in's own thread, and Post may be called
// from any thread to hand work to the loop.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <string_view>
#include <utility>

#include "mau/plugin_abi.h"
#include "plugin_library.h"
#include "resource_store.h"
#include "session_script.h"

namespace mau::host {

using Clock = std::chrono::steady_clock;

// The longest time ahead that the host schedules, in seconds (about 31 years): far beyond
// any session, and far within the clock's count of nanoseconds, which overflows at about
// 292 years.
inline constexpr double kMaxScheduleSeconds = 1e9;

// seconds as a clock duration. False, converting nothing, for a value that is not a number
// from 0 to kMaxScheduleSeconds.
bool ToClockDuration(double seconds, Clock::duration* out);

class HostRuntime {
 public:
  // Receives each log line of the plug-in (level 0..3, the text without a trailing
  // newline) and each notice of the host itself (level -1). May be called from any thread,
  // one call at a time.
  using OutputSink = std::function<void(int level, std::string_view text)>;

  HostRuntime(ResourceStore& store, OutputSink output);
  ~HostRuntime();
  HostRuntime(const HostRuntime&) = delete;
  HostRuntime& operator=(const HostRuntime&) = delete;

  // Loads the library and runs its export. False, with a reason, when it cannot.
  bool Load(const std::string& path, std::string* error);
  // StartPlugin; returns the plug-in's answer.
  bool Start();
  // StopPlugin, then unloads the library. Safe to call more than once.
  void Stop();
  MemoryStats Stats() const;
  bool Loaded() const { return api_.callbacks != nullptr; }

  // Sets or deletes the step's resource and publishes the change (Create when the
  // resource did not exist, else Update; Delete for a removal).
  void Apply(const SessionStep& step);

  // Runs the loop (posted work and due timers) until deadline or until stop() is true.
  void RunUntil(Clock::time_point deadline, const std::function<bool()>& stop = {});
  // Hands work to the loop from any thread.
  void Post(std::function<void()> work);

  // The host event name of a resource URI: "OnJsonApiEvent" and the URI's first three
  // segments (five below "mau-platform-config"), joined with '_'.
  static std::string EventNameForUri(const std::string& uri);

  // What the plug-in has asked for, for tests.
  bool Subscribed(const std::string& eventName) const {
    return subscriptions_.count(eventName) != 0;
  }
  size_t PendingTimers() const { return timers_.size(); }

 private:
  struct Table {
    HostInterface api;
    HostRuntime* runtime;
  };
  struct Subscription {
    HostEventCallback callback;
    void* userData;
  };
  struct Timer {
    std::string name;
    HostTimerCallback callback;
    void* userData;
  };

  static HostRuntime& Self(HostInterface* api) { return *reinterpret_cast<Table*>(api)->runtime; }
  static void MAU_ABI SendRequest(HostInterface* api, HostCallResponse* response,
                                  const HostCallRequest* request);
  static void MAU_ABI HostOperation1(HostInterface*, uint32_t, uint32_t) {}
  static void MAU_ABI HostOperation2(HostInterface*, uint32_t) {}
  static void MAU_ABI SubscribeEvent(HostInterface* api, const char* name, uint32_t handle,
                                     HostEventCallback callback, void* userData, int32_t flag);
  static void MAU_ABI UnsubscribeEvent(HostInterface* api, const char* name, uint32_t handle);
  static void MAU_ABI StartTimer(HostInterface* api, const char* name, HostTimerCallback callback,
                                 void* userData, double delay, int32_t reserved);
  static void MAU_ABI YieldToHost(HostInterface* api);
  static void MAU_ABI BeginWait(HostInterface* api, const char* label, int32_t reserved);
  static void MAU_ABI EndWait(HostInterface* api);
  static void MAU_ABI WriteLog(HostInterface* api, int32_t level, const char* message);

  void Answer(HostCallResponse* response, const HostCallRequest& request);
  void Publish(const std::string& uri, const char* eventType, const std::string& dataJson);
  void Notice(const std::string& text);
  void RunPosted();
  bool RunOneDueTimer();

  ResourceStore& store_;
  OutputSink output_;
  std::mutex outputLock_;
  PluginLibrary library_;
  Table table_{};
  HostContext context_{};
  HostApi api_{};
  bool started_ = false;
  std::map<std::string, Subscription> subscriptions_;
  std::multimap<std::pair<Clock::time_point, uint64_t>, Timer> timers_;
  uint64_t timerSequence_ = 0;
  int waitDepth_ = 0;

  std::mutex inboxLock_;
  std::condition_variable inboxSignal_;
  std::deque<std::function<void()>> inbox_;
};

}  // namespace mau::host
