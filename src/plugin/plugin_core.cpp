#include "plugin/plugin_core.h"

#include "log/log_core.h"
#include "plugin/telemetry_sink.h"

namespace mau {

PluginCore::PluginCore()
    : timers_([this](const char* name, HostTimerCallback callback, void* userData,
                     double delay) { StartTimer(name, callback, userData, delay, 0); },
              displayName_) {}

PluginCore::~PluginCore() = default;

void PluginCore::OnShutdown() {
  for (const auto& entry : eventHandlers_) UnsubscribeEvent(entry.first.c_str(), hostHandle_);
  eventHandlers_.clear();
  {
    std::lock_guard<std::mutex> guard(serviceProxyLock_);
    pending_requests.clear();
    async_handlers.clear();
    received_responses.clear();
  }
  timers_.ClearRepeatingTimers();
  exactResourceHandlers_.clear();
  patternResourceHandlers_.clear();
}

uint64_t PluginCore::ScheduleOnce(const std::string& label, std::function<void()> callable,
                                  int64_t due) {
  return timers_.ScheduleOnce(label, std::move(callable), due);
}

void PluginCore::StartRepeatingTimer(const std::string& name, double interval,
                                     std::function<void()> callback) {
  timers_.StartRepeatingTimer(name, interval, std::move(callback));
}

void PluginCore::RegisterEventHandler(const std::string& eventName,
                                      std::shared_ptr<EventHandler> handler,
                                      HostEventCallback callback, int32_t flag) {
  eventHandlers_[eventName] = std::move(handler);
  SubscribeEvent(eventName.c_str(), hostHandle_, callback, static_cast<PluginCore*>(this), flag);
}

void PluginCore::HandleHostEvent(const HostEventMessage* message) {
  if (message == nullptr || message->userData == nullptr || message->eventName == nullptr) return;
  PluginCore* self = static_cast<PluginCore*>(message->userData);
  const auto it = self->eventHandlers_.find(message->eventName);
  if (it == self->eventHandlers_.end()) return;
  // The handler may unsubscribe its own event; the copy keeps it alive until it returns.
  const std::shared_ptr<EventHandler> handler = it->second;
  try {
    handler->Handle(message->payload, self->Registry());
  } catch (const std::exception& error) {
    Log(kLogError, static_cast<uint32_t>(kLogDbg), 0, "%s: Handling event %s failed: %s",
        self->displayName_.c_str(), message->eventName, error.what());
  } catch (...) {
    Log(kLogError, static_cast<uint32_t>(kLogDbg), 0, "%s: Handling event %s failed",
        self->displayName_.c_str(), message->eventName);
  }
}

void MAU_ABI PluginCore::OnHostResourceEvent(const HostEventMessage* message) {
  HandleHostEvent(message);
}

void MAU_ABI PluginCore::OnHostServiceProxyEvent(const HostEventMessage* message) {
  HandleHostEvent(message);
}

size_t PluginCore::EventSubscriptionCount(const std::string& eventName) const {
  const auto it = eventRefCounts_.find(eventName);
  return it == eventRefCounts_.end() || it->second < 0 ? 0 : static_cast<size_t>(it->second);
}

}  // namespace mau
