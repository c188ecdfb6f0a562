// A plug-in loaded and started against a TestHost, stopped (and destroyed) at scope end.
#pragma once

#include "plugin/plugin_base.h"
#include "plugin/plugin_entry.h"
#include "test_host.h"

namespace mau::test {

template <typename Plugin = PluginBase>
class StartedPlugin {
 public:
  explicit StartedPlugin(TestHost& host, const char* shortName = "mau-discord-rp")
      : plugin(new Plugin) {
    HostApi api{MAU_PLUGIN_API_MAJOR,
                MAU_PLUGIN_API_MINOR,
                MAU_PLUGIN_API_PATCH,
                nullptr,
                nullptr,
                nullptr,
                nullptr};
    LoadPlugin(*plugin, &api, shortName);
    started = PluginBase::StartPlugin(plugin, host.context()) != 0;
  }
  ~StartedPlugin() { Stop(); }
  StartedPlugin(const StartedPlugin&) = delete;
  StartedPlugin& operator=(const StartedPlugin&) = delete;

  void Stop() {
    if (plugin != nullptr) PluginBase::StopPlugin(plugin);
    plugin = nullptr;
  }
  Plugin* operator->() const { return plugin; }
  Plugin& operator*() const { return *plugin; }

  Plugin* plugin;
  bool started = false;
};

}  // namespace mau::test
