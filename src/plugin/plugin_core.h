// PluginCore: the state of a plug-in's connection to the host and what works on it —
// resource subscriptions and their dispatch, host event handlers, timers, service-proxy
// messages and typed requests. PluginBase (plugin_base.h) derives from it and supplies the
// host's function table; plug-ins derive from PluginBase.
//
//   ObserveResource("/mau-chat/v1/me", [this](const PluginResourceEvent& event) { ... });
//   ObserveResource("/mau-chat/v1/*", ...);   // a pattern: no initial fetch
//   StartRepeatingTimer("UpdateDiscordCallbacks", 1.0, [this] { ... });
//   auto strings = RequestValue(RequestMethod::Get, "/mau-game-data/assets/v1/strings.json");
//
// Threads: the host calls the plug-in one call at a time; the subscription, handler and
// repeating-timer tables rely on that and have no lock. The one-shot timer table and the
// service-proxy tables have their own mutexes, since their entries are added and removed
// from callbacks. Service-proxy handlers run with the service-proxy mutex held.
#pragma once

#include <cstdint>
#include <functional>
#include <future>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <unordered_map>

#include "binding/binding_result.h"
#include "binding/field_converters.h"
#include "binding/host_value.h"
#include "binding/type_registry.h"
#include "mau/plugin_abi.h"
#include "plugin/host_requests.h"
#include "plugin/plugin_records.h"
#include "plugin/plugin_timers.h"

namespace mau {

class TelemetrySink;

// Something that watches host resources by URI.
class ResourceObserver {
 public:
  virtual ~ResourceObserver() = default;
  virtual void AddEventSubscription(const std::string& /*uri*/) {}
  virtual void RemoveEventSubscription(const std::string& /*uri*/) {}
};

// The host event name of a resource URI: "OnJsonApiEvent" and the URI's first three
// segments joined with '_' (five segments below "mau-platform-config"); empty segments are
// skipped.
std::string EventNameForUri(std::string_view uri);

// Whether uri fits pattern, where '*' stands for the rest of one path segment: /a/*/c fits
// /a/b/c; /a/* fits /a/bc but neither /a/b/c nor /a/. Byte-wise and case-sensitive.
bool WildcardMatch(std::string_view pattern, std::string_view uri);

// Receives one host event's payload, converted into the handler's record type.
class EventHandler {
 public:
  virtual ~EventHandler() = default;
  // Converts payload and calls the handler; a payload that does not convert is dropped.
  virtual void Handle(const HostValue& payload, const BindingTypeRegistry& registry) = 0;
};

template <typename Record>
class TypedEventHandler final : public EventHandler {
 public:
  explicit TypedEventHandler(std::function<void(const Record&)> handler)
      : handler_(std::move(handler)) {}

  void Handle(const HostValue& payload, const BindingTypeRegistry& registry) override {
    BindingResult value;
    if (!HostValueToBinding(value, payload, "<result>")) return;
    Record record;
    BindingResult status;
    AssignFromValue(status, record, value.value(), "<result>", registry);
    if (!status.ok()) return;
    handler_(record);
  }

 private:
  std::function<void(const Record&)> handler_;
};

class PluginCore : public ResourceObserver, public HostRequester {
 public:
  using ResourceHandler = std::function<void(const PluginResourceEvent&)>;
  using ServiceProxyHandler = std::function<void(const PluginServiceProxyResponse&)>;

  PluginCore();
  ~PluginCore() override;
  PluginCore(const PluginCore&) = delete;
  PluginCore& operator=(const PluginCore&) = delete;

  // ------------------------------------------------------------ lifecycle

  // Unsubscribes every host event and empties the handler, repeating-timer and
  // service-proxy tables. StopPlugin calls it before destroying the plug-in.
  virtual void OnShutdown();

  // ------------------------------------------------------------ host functions
  // Forwarded to the host's HostInterface by PluginBase. They do nothing before the plug-in
  // is started.
  virtual void SubscribeEvent(const char* eventName, uint32_t hostHandle,
                              HostEventCallback callback, void* userData, int32_t flag) = 0;
  virtual void UnsubscribeEvent(const char* eventName, uint32_t hostHandle) = 0;
  virtual void StartTimer(const char* name, HostTimerCallback callback, void* userData,
                          double delaySeconds, int32_t reserved) = 0;

  // ------------------------------------------------------------ resources and events

  // Runs handler for every event of the resource uri, or of every resource that fits
  // the pattern when uri contains '*'. A handler stored before under the same text is
  // replaced. For an exact URI the resource is fetched at once (GET) and, when that
  // succeeds, handed to handler as a Create event before this returns.
  void ObserveResource(const std::string& uri, ResourceHandler handler);

  // One more observer of uri's host event; the first one subscribes with the host.
  void AddEventSubscription(const std::string& uri) override;
  // One observer less; the last one unsubscribes. The URI handler tables stay unchanged.
  void RemoveEventSubscription(const std::string& uri) override;

  // Stores handler for the host event name (replacing an earlier one) and subscribes with
  // the host, with callback as the C callback and flag as the subscription flag.
  void RegisterEventHandler(const std::string& eventName, std::shared_ptr<EventHandler> handler,
                            HostEventCallback callback, int32_t flag);

  // Runs the handler of the event's URI, then every pattern handler that fits it. A URI
  // without a leading '/' is matched as if it had one.
  void DispatchResourceEvent(const PluginResourceEvent& event);

  // The C callbacks given to the host; userData of the message is the plug-in.
  static void MAU_ABI OnHostResourceEvent(const HostEventMessage* message);
  static void MAU_ABI OnHostServiceProxyEvent(const HostEventMessage* message);

  // ------------------------------------------------------------ timers

  // Runs callable once at due (monotonic nanoseconds); returns the timer's id.
  uint64_t ScheduleOnce(const std::string& label, std::function<void()> callable, int64_t due);
  // Starts or restarts the named timer: callback runs every interval seconds, the first
  // time one interval from now. A restart supersedes the earlier chain of that name.
  void StartRepeatingTimer(const std::string& name, double interval,
                           std::function<void()> callback);
  PluginTimers& Timers() { return timers_; }

  // ------------------------------------------------------------ requests

  RequestResult<BindingValue> RequestValue(RequestMethod method, std::string_view url) {
    return mau::RequestValue(*this, method, url);
  }
  template <typename T>
  RequestResult<T> RequestRecord(RequestMethod method, std::string_view url) {
    return mau::RequestRecord<T>(*this, method, url);
  }
  RequestResult<NoValue> RequestWithArguments(RequestMethod method, std::string_view url,
                                              const RequestArguments& arguments) {
    return mau::RequestWithArguments(*this, method, url, arguments);
  }

  uint32_t HostHandle() const override { return hostHandle_; }
  const BindingTypeRegistry& Registry() const override { return *registry_; }
  BindingTypeRegistry& Registry() { return *registry_; }

  // ------------------------------------------------------------ service proxy

  // Subscribes the three service-proxy events (flag 1).
  void InstallServiceProxyHandlers();
  void OnServiceProxyUuidMessage(const PluginServiceProxyResponse& response);
  void OnServiceProxyMethodMessage(const PluginServiceProxyResponse& response);
  void OnServiceProxyAsyncMessage(const PluginServiceProxyResponse& response);
  // Fulfils at most one pending request whose key has a received message.
  void FulfilPendingRequests();
  // Waits for the message keyed key (a uuid, or "service.method"): handler runs, with the
  // service-proxy mutex held, when it arrives or at once if it has arrived already.
  void AddPendingServiceProxyRequest(const std::string& key, ServiceProxyHandler handler);
  // Runs handler, with the service-proxy mutex held, for each asynchronous message keyed
  // "service.method".
  void SetAsyncServiceProxyHandler(const std::string& key, ServiceProxyHandler handler);
  size_t StoredServiceProxyResponses() const;

  // ------------------------------------------------------------ state

  const std::string& DisplayName() const { return displayName_; }
  TelemetrySink* Telemetry() { return telemetry_.get(); }
  size_t EventSubscriptionCount(const std::string& eventName) const;
  bool HasEventHandler(const std::string& eventName) const {
    return eventHandlers_.count(eventName) != 0;
  }

 protected:
  std::unordered_map<std::string, ResourceHandler> exactResourceHandlers_;
  std::unordered_map<std::string, ResourceHandler> patternResourceHandlers_;
  HostRequester* requester_ = nullptr;
  BindingTypeRegistry* registry_ = nullptr;
  uint32_t hostHandle_ = 0;
  std::string displayName_;
  std::unique_ptr<TelemetrySink> telemetry_;
  std::unordered_map<std::string, std::shared_ptr<EventHandler>> eventHandlers_;
  std::unordered_map<std::string, int32_t> eventRefCounts_;

  std::unordered_map<std::string, ServiceProxyHandler> pending_requests;
  std::unordered_map<std::string, ServiceProxyHandler> async_handlers;
  std::unordered_map<std::string, PluginServiceProxyResponse> received_responses;
  mutable std::mutex serviceProxyLock_;

  PluginTimers timers_;

 private:
  static void HandleHostEvent(const HostEventMessage* message);
  void StoreServiceProxyResponse(const std::string& key,
                                 const PluginServiceProxyResponse& response);
};

}  // namespace mau
