#include "plugin/plugin_entry.h"

#include <cstdlib>
#include <exception>

#include "binding/routing/identifier.h"
#include "log/log_core.h"
#include "platform/assertion_report.h"
#include "platform/format.h"
#include "plugin/plugin_records.h"

namespace mau {

void LoadPlugin(PluginBase& plugin, HostApi* api, const char* shortName) {
  if (api == nullptr) return;
  const std::string name = shortName != nullptr ? shortName : "";
  const PluginApiVersion libraryVersion = LibraryApiVersion();
  const PluginApiVersion hostVersion{api->apiMajor, api->apiMinor, api->apiPatch, "", ""};

  if (!CheckApiCompatible(libraryVersion, hostVersion)) {
    const std::string description =
        FormatText("%1 which supports plugin API %2 is not compatible with core's plugin API %3",
                   name, libraryVersion.ToText(), hostVersion.ToText());
    ReportAssertion("ALE-EECF0606", description.c_str(), "", 0, "");
    std::abort();
  }

  plugin.hostVersion = hostVersion;
  plugin.identity_.shortName = name;
  plugin.identity_.kind = BackendPluginKind();
  plugin.identity_.fullName = GetFullNameFromShortNameAndType(name, plugin.identity_.kind);
  plugin.typeTags_ = {"Plugins", "Plugin " + name};
  plugin.typeNamePrefix_ = ToIdentifier("", name);

  plugin.registry_ = plugin.ownedRegistry_.get();
  RegisterSdkTypes(*plugin.registry_);
  plugin.RegisterTypes();
  plugin.exports_.BuildFromRegistry(*plugin.registry_);

  api->apiMajor = libraryVersion.major;
  api->apiMinor = libraryVersion.minor;
  api->apiPatch = libraryVersion.patch;
  api->callbacks = &plugin.callbacks_;
  api->pluginContext = &plugin;
  api->pluginName = plugin.identity_.shortName.c_str();
  api->exports = plugin.exports_.exports();
}

void RunPluginExport(HostApi* api, const char* shortName, PluginBase* (*create)()) {
  if (api == nullptr) return;
  PluginBase* plugin = nullptr;
  try {
    plugin = create();
    if (plugin == nullptr) {
      Log(kLogError, static_cast<uint32_t>(kLogDbg), 0, "%s: Couldn't create the plug-in",
          shortName);
      return;
    }
    // Work on a copy: a failure half-way must not leave a half-filled record behind.
    HostApi filled = *api;
    LoadPlugin(*plugin, &filled, shortName);
    *api = filled;
  } catch (const std::exception& error) {
    Log(kLogError, static_cast<uint32_t>(kLogDbg), 0, "%s: Loading failed: %s", shortName,
        error.what());
    delete plugin;
  } catch (...) {
    Log(kLogError, static_cast<uint32_t>(kLogDbg), 0, "%s: Loading failed", shortName);
    delete plugin;
  }
}

}  // namespace mau
