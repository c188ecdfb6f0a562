// PluginBase: the class every plug-in derives from. It holds the plug-in's identity, owns
// its binding type registry, log target and telemetry sink, forwards the host's function
// table as virtual operations and implements the three entry points of PluginCallbacks.
//
//   class ChatWatcher : public mau::PluginBase {
//    public:
//     void RegisterTypes() override { /* Registry().Record<...>(...) */ }
//     bool OnInitialize() override {
//       ObserveResource("/mau-chat/v1/me", [this](const mau::PluginResourceEvent& e) { ... });
//       StartRepeatingTimer("Poll", 1.0, [this] { ... });
//       return true;
//     }
//     void OnShutdown() override { ...; PluginBase::OnShutdown(); }
//   };
//   MAU_DEFINE_PLUGIN_EXPORT(ChatWatcher, "chat-watcher")   // plugin_entry.h
//
// Lifecycle: constructed by the export, loaded by LoadPlugin, started by StartPlugin
// (requests, subscriptions, timers and log forwarding work from here on), destroyed by
// StopPlugin after OnShutdown. Before the start the forwarding operations do nothing and
// requests fail.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "binding/type_registry.h"
#include "mau/plugin_abi.h"
#include "plugin/plugin_core.h"
#include "plugin/plugin_exports.h"
#include "plugin/plugin_log_target.h"
#include "plugin/plugin_version.h"

namespace mau {

struct PluginIdentity {
  std::string fullName;   // "hxp-be-" + shortName for a backend
  std::string shortName;  // the name the host shows
  PluginKind kind;
};

class PluginBase : public PluginCore {
 public:
  PluginBase();
  ~PluginBase() override;

  // ------------------------------------------------------------ the host's functions
  // Each passes the host's HostInterface first and its own arguments unchanged; the host's
  // return values are ignored.
  void SendRequest(HostCallResponse* response, const HostCallRequest* request) override;
  virtual void HostOperation1(uint32_t first, uint32_t second);
  virtual void HostOperation2(uint32_t value);
  void SubscribeEvent(const char* eventName, uint32_t hostHandle, HostEventCallback callback,
                      void* userData, int32_t flag) override;
  void UnsubscribeEvent(const char* eventName, uint32_t hostHandle) override;
  void StartTimer(const char* name, HostTimerCallback callback, void* userData, double delaySeconds,
                  int32_t reserved) override;
  virtual void YieldToHost();
  virtual void BeginWait(const std::string& label, int32_t reserved);
  virtual void EndWait();

  // ------------------------------------------------------------ what a plug-in overrides

  // Registers the plug-in's own types; runs during the handshake, after the SDK's types.
  virtual void RegisterTypes() {}
  // Runs at the end of StartPlugin; its result is the host's answer.
  virtual bool OnInitialize() { return true; }

  // Lets the host progress (a streamed body, for example): BeginWait ("Wait: yield"),
  // YieldToHost, EndWait.
  void WaitYield() override;

  // ------------------------------------------------------------ entry points
  static uint8_t MAU_ABI StartPlugin(void* pluginContext, HostContext* context);
  static void MAU_ABI StopPlugin(void* pluginContext);
  static void MAU_ABI GetMemoryStats(void* pluginContext, MemoryStats* stats);

  // ------------------------------------------------------------ state
  PluginApiVersion hostVersion;
  const PluginIdentity& Identity() const { return identity_; }
  const std::string& TypeNamePrefix() const { return typeNamePrefix_; }
  const std::vector<std::string>& TypeTags() const { return typeTags_; }
  HostContext* Host() const { return hostContext_; }
  PluginCallbacks* Callbacks() { return &callbacks_; }
  // The exposed functions and the exported type and event tables (see plugin_exports.h).
  PluginExportTables& ExportTables() { return exports_; }

 private:
  friend void LoadPlugin(PluginBase& plugin, HostApi* api, const char* shortName);

  HostInterface* Api() const { return hostContext_ != nullptr ? hostContext_->api : nullptr; }

  std::unique_ptr<PluginLogTarget> log_target;
  PluginIdentity identity_;
  std::string typeNamePrefix_;
  std::vector<std::string> typeTags_;
  std::unique_ptr<BindingTypeRegistry> ownedRegistry_;
  HostContext* hostContext_ = nullptr;
  PluginCallbacks callbacks_{};
  PluginExportTables exports_;
};

}  // namespace mau
