// The plug-in library's one export and the handshake behind it.
//
// A plug-in library defines its export with one line in one source file:
//
//   MAU_DEFINE_PLUGIN_EXPORT(DiscordPresencePlugin, "mau-discord-rp")
//
// which defines load_mau_discord_rp (C linkage, C calling convention, the library's only
// visible symbol). The host calls it once with its HostApi record: the plug-in object is
// created, the host's plug-in API version checked (an incompatible host ends the process
// after an assertion report), the plug-in named, the SDK's and the plug-in's types
// registered, and HostApi filled with the library's version, the entry points, the
// plug-in object as context, the short name and the exports record.
#pragma once

#include <new>
#include <type_traits>

#include "mau/abi_macros.h"
#include "mau/plugin_abi.h"
#include "plugin/plugin_base.h"

namespace mau {

// The handshake with a plug-in object that exists: checks the version (ending the process
// when it is refused), names the plug-in, registers the SDK's and the plug-in's types,
// builds the exports and writes back into api. A null api does nothing.
void LoadPlugin(PluginBase& plugin, HostApi* api, const char* shortName);

// What the export does: creates the plug-in with create and runs LoadPlugin. A plug-in
// that cannot be created, or whose loading throws, is logged and leaves api unchanged, so
// the host sees no entry points. Nothing is thrown.
void RunPluginExport(HostApi* api, const char* shortName, PluginBase* (*create)());

}  // namespace mau

// Defines the library's export for PluginClass (derived from mau::PluginBase, default
// constructible) with the plug-in's short name. Use once per library, at namespace scope.
#define MAU_DEFINE_PLUGIN_EXPORT(PluginClass, shortName)                                          \
  MAU_EXTERN_C MAU_EXPORT void MAU_ABI load_mau_discord_rp(HostApi* api) {                        \
    ::mau::RunPluginExport(                                                                       \
        api, shortName, []() -> ::mau::PluginBase* { return new (std::nothrow) PluginClass(); }); \
  }                                                                                               \
  static_assert(std::is_base_of_v<::mau::PluginBase, PluginClass>,                                \
                "the plug-in class derives from mau::PluginBase")
