#include "plugin/plugin_base.h"

#include <cstring>
#include <exception>

#include "log/log_core.h"
#include "platform/alloc_hooks.h"
#include "plugin/telemetry_sink.h"

namespace mau {

namespace {

// What a request answers before the plug-in is started: there is no host to ask.
constexpr const char* kNotStarted = "The plug-in is not started.";

}  // namespace

PluginBase::PluginBase() : ownedRegistry_(std::make_unique<BindingTypeRegistry>()) {
  registry_ = ownedRegistry_.get();
  callbacks_.StartPlugin = &PluginBase::StartPlugin;
  callbacks_.StopPlugin = &PluginBase::StopPlugin;
  callbacks_.GetMemoryStats = &PluginBase::GetMemoryStats;
}

PluginBase::~PluginBase() = default;

void PluginBase::SendRequest(HostCallResponse* response, const HostCallRequest* request) {
  HostInterface* api = Api();
  if (api == nullptr || api->SendRequest == nullptr) {
    response->errorText = kNotStarted;
    response->hasError = 1;
    return;
  }
  api->SendRequest(api, response, request);
}

void PluginBase::HostOperation1(uint32_t first, uint32_t second) {
  if (HostInterface* api = Api(); api != nullptr && api->HostOperation1 != nullptr) {
    api->HostOperation1(api, first, second);
  }
}

void PluginBase::HostOperation2(uint32_t value) {
  if (HostInterface* api = Api(); api != nullptr && api->HostOperation2 != nullptr) {
    api->HostOperation2(api, value);
  }
}

void PluginBase::SubscribeEvent(const char* eventName, uint32_t hostHandle,
                                HostEventCallback callback, void* userData, int32_t flag) {
  if (HostInterface* api = Api(); api != nullptr && api->SubscribeEvent != nullptr) {
    api->SubscribeEvent(api, eventName, hostHandle, callback, userData, flag);
  }
}

void PluginBase::UnsubscribeEvent(const char* eventName, uint32_t hostHandle) {
  if (HostInterface* api = Api(); api != nullptr && api->UnsubscribeEvent != nullptr) {
    api->UnsubscribeEvent(api, eventName, hostHandle);
  }
}

void PluginBase::StartTimer(const char* name, HostTimerCallback callback, void* userData,
                            double delaySeconds, int32_t reserved) {
  if (HostInterface* api = Api(); api != nullptr && api->StartTimer != nullptr) {
    api->StartTimer(api, name, callback, userData, delaySeconds, reserved);
  }
}

void PluginBase::YieldToHost() {
  if (HostInterface* api = Api(); api != nullptr && api->YieldToHost != nullptr) {
    api->YieldToHost(api);
  }
}

void PluginBase::BeginWait(const std::string& label, int32_t reserved) {
  if (HostInterface* api = Api(); api != nullptr && api->BeginWait != nullptr) {
    api->BeginWait(api, label.c_str(), reserved);
  }
}

void PluginBase::EndWait() {
  if (HostInterface* api = Api(); api != nullptr && api->EndWait != nullptr) api->EndWait(api);
}

void PluginBase::WaitYield() {
  BeginWait("Wait: yield", 0);
  YieldToHost();
  EndWait();
}

uint8_t MAU_ABI PluginBase::StartPlugin(void* pluginContext, HostContext* context) {
  if (pluginContext == nullptr || context == nullptr) return 0;
  auto* self = static_cast<PluginBase*>(pluginContext);
  try {
    self->hostContext_ = context;
    InstallHostLogTarget(context->api, self->log_target);
    self->hostHandle_ = context->hostHandle;
    self->displayName_ = self->identity_.shortName;
    self->telemetry_ = std::make_unique<TelemetrySink>(*self);
    self->requester_ = self;
    self->InstallServiceProxyHandlers();
    return self->OnInitialize() ? 1 : 0;
  } catch (const std::exception& error) {
    Log(kLogError, static_cast<uint32_t>(kLogDbg), 0, "%s: Starting failed: %s",
        self->identity_.shortName.c_str(), error.what());
  } catch (...) {
    Log(kLogError, static_cast<uint32_t>(kLogDbg), 0, "%s: Starting failed",
        self->identity_.shortName.c_str());
  }
  return 0;
}

void MAU_ABI PluginBase::StopPlugin(void* pluginContext) {
  if (pluginContext == nullptr) return;
  auto* self = static_cast<PluginBase*>(pluginContext);
  try {
    self->OnShutdown();
  } catch (...) {
    Log(kLogError, static_cast<uint32_t>(kLogDbg), 0, "%s: Shutting down failed",
        self->identity_.shortName.c_str());
  }
  delete self;
}

void MAU_ABI PluginBase::GetMemoryStats(void* /*pluginContext*/, MemoryStats* stats) {
  if (stats == nullptr) return;
  const MemoryCounters counters = ReadMemoryCounters();
  MemoryStats local;
  local.peakBytesInUse = counters.peakBytesInUse;
  local.allocationsAtPeak = counters.blocksInUseAtPeak;
  local.bytesAllocated = counters.bytesAllocated;
  local.allocations = counters.allocationCount;
  local.bytesFreed = counters.bytesReleased;
  local.frees = counters.releaseCount;
  local.reserved = 0;
  std::memcpy(stats, &local, sizeof(local));
}

}  // namespace mau
